// OnDeviceChange against any event type and any record: it acts only on an arrival or removal
// whose record is a volume record (type 2, flags 0) naming a drive among bits 0-25, reads nothing
// beyond the size the record claims, remembers "0" or one letter A-Z, follows the removal table
// (the camera's own letter disconnects; the remembered letter, or any letter while none is on
// record, disconnects and looks for the camera afresh), and returns TRUE every time.
//
// Input: the setup - flags (bits 0-1 where the camera is: none, or on the letter of the next byte;
// bit 2 the camera is not ready; bit 3 the panel connects first; bit 4 an arrival drive is on
// record, its letter the next byte) - then the event (a selector byte: 0 arrival, 1 removal-
// complete, 2 DBT_DEVNODES_CHANGED, 3 the type from the next 4 bytes), a byte whose bit 0 passes
// no record at all, the claimed dbch_size (4), and the record's bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/device_records.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "panel/control_ids.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "sim/little_endian.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/fake_window.h"
#include "tests/support/process_state.h"

namespace {

constexpr std::uint32_t kDriveBits = 0x03FFFFFFu;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    FakeWindow window;

    // The computer and the panel before the event.
    const std::uint8_t setup = in.Byte();
    const bool cameraPresent = (setup & 3) != 0;
    char cameraLetter = 0;
    if (cameraPresent) {
        cameraLetter = static_cast<char>('D' + in.Byte() % 23);
        world.PlugCamera(cameraLetter).state = (setup & 4) != 0 ? 1 : 2;
    }
    if ((setup & 8) != 0) {
        ConnectCamera(window);
    }
    if ((setup & 16) != 0) {
        g_strArrivalDrive = std::wstring(1, static_cast<wchar_t>(L'A' + in.Byte() % 26));
    }
    const bool cameraReady = cameraPresent && (setup & 4) == 0;
    const std::uint8_t connectedBefore = g_bConnected;
    const std::wstring arrivalBefore = g_strArrivalDrive;
    world.ClearTrace();
    window.calls.clear();

    // The event and its record: the buffer is exactly as long as the size the record claims
    // (never shorter than the size field itself), so that reading past the claim is caught.
    std::uint32_t eventType = 0;
    switch (in.Byte() % 4) {
        case 0:
            eventType = os::dbt::kDeviceArrival;
            break;
        case 1:
            eventType = os::dbt::kDeviceRemoveComplete;
            break;
        case 2:
            eventType = 0x0007;  // DBT_DEVNODES_CHANGED
            break;
        default:
            eventType = in.U32();
            break;
    }
    const bool noRecord = in.Bit();
    std::uint32_t claimed = in.U32();
    std::vector<std::uint8_t> bytes = in.Rest();
    if (bytes.size() < 4) {
        bytes.resize(4, 0);
    }
    if (claimed > bytes.size()) {
        claimed %= static_cast<std::uint32_t>(bytes.size()) + 1;
    }
    const std::size_t length = std::max<std::size_t>(claimed, 4);
    auto record = std::make_unique<std::uint8_t[]>(length);
    std::memcpy(record.get(), bytes.data(), length);
    for (std::size_t i = 0; i < 4; ++i) {
        record[i] = static_cast<std::uint8_t>((claimed >> (8 * i)) & 0xFFu);
    }

    // Whether the event must be acted on, read from the record independently.
    const bool volumeEvent =
        eventType == os::dbt::kDeviceArrival || eventType == os::dbt::kDeviceRemoveComplete;
    const bool handled = volumeEvent && !noRecord && claimed >= 18 &&
                         sim::Le32(record.get(), 4) == os::dbt::kDevtypVolume && record[16] == 0 &&
                         record[17] == 0 && (sim::Le32(record.get(), 12) & kDriveBits) != 0;
    std::wstring letter;
    if (handled) {
        const std::uint32_t mask = sim::Le32(record.get(), 12) & kDriveBits;
        int bit = 0;
        while ((mask & (1u << bit)) == 0) {
            ++bit;
        }
        letter = std::wstring(1, static_cast<wchar_t>(L'A' + bit));
    }

    const int result = OnDeviceChange(window, eventType, noRecord ? nullptr : record.get());

    FUZZ_CHECK(result == 1);
    FUZZ_CHECK(window.Lines("box ").empty());
    FUZZ_CHECK(g_strArrivalDrive == L"0" ||
               (g_strArrivalDrive.size() == 1 && g_strArrivalDrive[0] >= L'A' &&
                g_strArrivalDrive[0] <= L'Z'));
    if (!handled) {
        FUZZ_CHECK(world.events().empty() && window.calls.empty());
        FUZZ_CHECK(g_bConnected == connectedBefore && g_strArrivalDrive == arrivalBefore);
    } else if (eventType == os::dbt::kDeviceArrival) {
        FUZZ_CHECK(g_strArrivalDrive == letter);
        // Connected already: nothing is asked of any device. Otherwise discovery runs.
        FUZZ_CHECK(world.events().empty() == (connectedBefore == 1));
        FUZZ_CHECK(g_bConnected == (connectedBefore == 1 || cameraReady ? 1 : 0));
    } else {
        FUZZ_CHECK(g_strArrivalDrive == arrivalBefore);
        // Connected means the camera was found on its letter; the event itself unplugs nothing.
        const bool camerasLetter =
            connectedBefore == 1 && letter == std::wstring(1, static_cast<wchar_t>(cameraLetter));
        if (connectedBefore == 0 ||
            (arrivalBefore != L"0" && !camerasLetter && arrivalBefore != letter)) {
            FUZZ_CHECK(world.events().empty() && window.calls.empty());
            FUZZ_CHECK(g_bConnected == connectedBefore);
        } else if (arrivalBefore != L"0" && camerasLetter) {
            // The camera's own drive went: disconnect.
            FUZZ_CHECK(g_bConnected == 0 && window.status == kNotConnectedText);
            FUZZ_CHECK(world.InquiryCount() == 0);
        } else {
            // No arrival on record, or the remembered drive that is not the camera's went:
            // disconnect, then look for the camera afresh.
            FUZZ_CHECK(g_bConnected == (cameraReady ? 1 : 0));
            FUZZ_CHECK(!window.Lines("status Device not connected.").empty());
        }
    }

    // The camera is open exactly while the panel is connected; nothing else stays open.
    FUZZ_CHECK(g_bConnected == 0 || world.IsOpenHandle(g_hCamera));
    FUZZ_CHECK(world.OpenHandleCount() == g_bConnected);
    FUZZ_CHECK(world.BadCloses() == 0);
    return 0;
}
