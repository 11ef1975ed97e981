// Volume arrival and removal tracking: which events connect and disconnect the panel, which
// records are left alone, and the registration for device notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "host/device_records.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "tests/support/panel_fixture.h"

namespace {

using zqtest::Concat;
using zqtest::ConnectionLines;
using zqtest::DisconnectionLines;
using zqtest::DriveBit;
using zqtest::Hex;
using zqtest::Lines;
using zqtest::VolumeRecord;

constexpr std::uint32_t kArrival = 0x8000;
constexpr std::uint32_t kRemoval = 0x8004;

// GUID_DEVINTERFACE_USB_DEVICE as it lies in memory.
const std::vector<std::uint8_t> kUsbDeviceClass = {0x10, 0xBF, 0xDC, 0xA5, 0x30, 0x65, 0xD2, 0x11,
                                                   0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};

// A record of another kind: the header with `type`, then `body`; dbch_size is the whole size.
std::vector<std::uint8_t> Record(std::uint32_t type, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> record(12, 0);
    record.insert(record.end(), body.begin(), body.end());
    const auto size = static_cast<std::uint32_t>(record.size());
    for (std::size_t i = 0; i < 4; ++i) {
        record[i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
        record[4 + i] = static_cast<std::uint8_t>((type >> (8 * i)) & 0xFFu);
    }
    return record;
}

// A DEV_BROADCAST_DEVICEINTERFACE_W of the USB device class with a device name.
std::vector<std::uint8_t> UsbInterfaceRecord() {
    std::vector<std::uint8_t> body = kUsbDeviceClass;
    for (const char c : std::string("\\\\?\\USB#VID_1234&PID_5678#0001")) {
        body.push_back(static_cast<std::uint8_t>(c));
        body.push_back(0);
    }
    body.push_back(0);
    body.push_back(0);
    return Record(5, body);
}

class DeviceChangeTest : public zqtest::PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        Lay();
    }

    // A fixed disk C, a memory stick F (no SCSI device behind it) and the camera on E when
    // `camera` is set.
    void Lay(bool withCamera = true) {
        world.AddDisk('C');
        world.AddDrive('F', os::kDriveRemovable);
        if (withCamera) {
            world.PlugCamera('E');
        }
    }

    int Send(std::uint32_t type, const std::vector<std::uint8_t>& record) {
        return OnDeviceChange(window, type, record.data());
    }
};

// Discovery passing the memory stick on F and finding no camera.
const Lines kNoCameraFound = {"create F", "inquiry F failed", "close F"};

TEST_F(DeviceChangeTest, RemovalActsByConnectedStateAndRememberedLetter) {
    struct Case {
        const char* name;
        bool connected;
        std::wstring arrival;
        char removed;
        Lines lines;
        bool connectedAfter;
    };
    const std::vector<Case> cases = {
        {"disconnected: camera's letter", false, L"E", 'E', {}, false},
        {"disconnected: no letter on record", false, L"0", 'F', {}, false},
        {"disconnected: another letter", false, L"F", 'G', {}, false},
        {"connected: the remembered letter", true, L"E", 'E', DisconnectionLines('E'), false},
        {"connected: another letter", true, L"E", 'F', {}, true},
        {"connected, stick remembered: the camera's letter", true, L"F", 'E',
         DisconnectionLines('E'), false},
        {"connected, stick remembered: the stick's letter, camera still there", true, L"F", 'F',
         Concat({DisconnectionLines('E'), ConnectionLines('E', 1, 1, 1)}), true},
        {"connected, stick remembered: a third letter", true, L"F", 'G', {}, true},
        {"connected, no letter on record: the stick, camera still there", true, L"0", 'F',
         Concat({DisconnectionLines('E'), ConnectionLines('E', 1, 1, 1)}), true},
        {"connected, no letter on record: the camera itself", true, L"0", 'E',
         Concat({DisconnectionLines('E'), kNoCameraFound}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        Lay();
        if (c.connected) {
            ConnectTo('E');
        }
        // Values that a fresh connection would show.
        camera().loopRecording = camera().resolution = camera().timestampDisplay = 1;
        g_strArrivalDrive = c.arrival;
        world.RemoveDrive(c.removed);

        EXPECT_EQ(Send(kRemoval, VolumeRecord(DriveBit(c.removed))), 1);

        EXPECT_EQ(journal.lines, c.lines);
        EXPECT_EQ(g_bConnected, c.connectedAfter ? 1 : 0);
        EXPECT_EQ(g_strArrivalDrive, c.arrival);  // a removal never changes it
        EXPECT_EQ(world.OpenHandleCount(), c.connectedAfter ? 1u : 0u);
        if (c.connected && !c.connectedAfter) {
            EXPECT_EQ(window.status, L"Device not connected.");
        }
    }
}

TEST_F(DeviceChangeTest, ArrivalConnectsAndRemembersTheLowestLetter) {
    struct Case {
        const char* name;
        bool camera;
        bool connected;
        std::uint32_t mask;
        Lines lines;
        std::wstring arrival;
    };
    const std::vector<Case> cases = {
        {"camera arrives", true, false, DriveBit('E'), ConnectionLines('E', 0, 0, 0), L"E"},
        {"stick arrives, no camera", false, false, DriveBit('F'), kNoCameraFound, L"F"},
        {"stick arrives while connected", true, true, DriveBit('F'), {}, L"F"},
        {"two volumes in one event", true, false, DriveBit('E') | DriveBit('G'),
         ConnectionLines('E', 0, 0, 0), L"E"},
        {"lowest of many", true, true, DriveBit('Z') | DriveBit('K') | DriveBit('H'), {}, L"H"},
        {"drive A", true, false, DriveBit('A'), ConnectionLines('E', 0, 0, 0), L"A"},
        {"drive Z", true, true, DriveBit('Z'), {}, L"Z"},
        {"bits past Z are not letters", true, true, 0xFC000000u | DriveBit('G'), {}, L"G"},
        {"every bit set", true, true, 0xFFFFFFFFu, {}, L"A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        Lay(c.camera);
        if (c.connected) {
            ConnectTo('E');
        }

        EXPECT_EQ(Send(kArrival, VolumeRecord(c.mask)), 1);

        EXPECT_EQ(journal.lines, c.lines);
        EXPECT_EQ(g_strArrivalDrive, c.arrival);
        EXPECT_EQ(g_bConnected, c.camera ? 1 : 0);
    }
}

// A memory stick arrives while the camera is connected, so the stick's letter is remembered;
// then the camera is unplugged and plugged in again. The panel follows the camera throughout.
TEST_F(DeviceChangeTest, CameraUnpluggedAfterAStickArrivedDisconnectsAndReconnects) {
    ConnectTo('E');  // connected at start-up: no letter on record
    Send(kArrival, VolumeRecord(DriveBit('F')));
    ASSERT_EQ(g_strArrivalDrive, L"F");

    world.RemoveDrive('E');
    Send(kRemoval, VolumeRecord(DriveBit('E')));

    EXPECT_EQ(journal.lines, DisconnectionLines('E'));
    EXPECT_EQ(g_bConnected, 0);
    EXPECT_EQ(world.OpenHandleCount(), 0u);
    EXPECT_EQ(window.status, L"Device not connected.");

    journal.Clear();
    world.PlugCamera('E').resolution = 1;
    Send(kArrival, VolumeRecord(DriveBit('E')));

    EXPECT_EQ(journal.lines, ConnectionLines('E', 0, 1, 0));
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(g_strArrivalDrive, L"E");
}

// Same start; then the stick goes while the camera stays. The panel ends connected to it, its
// values read afresh.
TEST_F(DeviceChangeTest, StickRemovedAfterItArrivedReconnectsTheCameraThatStayed) {
    ConnectTo('E');
    Send(kArrival, VolumeRecord(DriveBit('F')));
    camera().loopRecording = 1;

    world.RemoveDrive('F');
    Send(kRemoval, VolumeRecord(DriveBit('F')));

    EXPECT_EQ(journal.lines, Concat({DisconnectionLines('E'), ConnectionLines('E', 1, 0, 0)}));
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
    EXPECT_EQ(g_strArrivalDrive, L"F");
}

TEST_F(DeviceChangeTest, RecordsThatAreNotVolumeComingsAndGoingsAreLeftAlone) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> record;
    };
    const std::vector<Case> records = {
        {"medium changed (DBTF_MEDIA)", VolumeRecord(DriveBit('E'), 0x0001)},
        {"network volume (DBTF_NET)", VolumeRecord(DriveBit('E'), 0x0002)},
        {"both flags", VolumeRecord(DriveBit('E'), 0x0003)},
        {"a flag in the high byte", VolumeRecord(DriveBit('E'), 0x0100)},
        {"no drive bits", VolumeRecord(0)},
        {"only bits past Z", VolumeRecord(0xFC000000u)},
        {"USB device interface", UsbInterfaceRecord()},
        {"port", Record(3, {'C', 0, 'O', 0, 'M', 0, '1', 0, 0, 0})},
        {"OEM", Record(0, {0, 0, 0, 0, 0, 0, 0, 0})},
        {"handle", Record(6, std::vector<std::uint8_t>(28, 0))},
        // Records whose size does not reach the fields that would be read; each lies in a
        // buffer of exactly that size.
        {"size 4", VolumeRecord(DriveBit('E'), 0, 4)},
        {"size 8", VolumeRecord(DriveBit('E'), 0, 8)},
        {"size 11", VolumeRecord(DriveBit('E'), 0, 11)},
        {"size 12", VolumeRecord(DriveBit('E'), 0, 12)},
        {"size 16", VolumeRecord(DriveBit('E'), 0, 16)},
        {"size 17", VolumeRecord(DriveBit('E'), 0, 17)},
    };
    for (const std::uint32_t type : {kArrival, kRemoval}) {
        for (const Case& c : records) {
            SCOPED_TRACE(std::string(type == kArrival ? "arrival, " : "removal, ") + c.name);
            Restart();
            Lay();
            ConnectTo('E');  // no letter on record: a handled removal would reconnect

            EXPECT_EQ(Send(type, c.record), 1);

            EXPECT_TRUE(journal.lines.empty());
            EXPECT_EQ(g_strArrivalDrive, L"0");
            EXPECT_EQ(g_bConnected, 1);
        }
    }
}

TEST_F(DeviceChangeTest, VolumeEventWithoutARecordIsLeftAlone) {
    for (const std::uint32_t type : {kArrival, kRemoval}) {
        SCOPED_TRACE(type);
        Restart();
        Lay();
        ConnectTo('E');

        EXPECT_EQ(OnDeviceChange(window, type, nullptr), 1);

        EXPECT_TRUE(journal.lines.empty());
        EXPECT_EQ(g_strArrivalDrive, L"0");
    }
}

TEST_F(DeviceChangeTest, RecordOfEighteenBytesHoldsEveryFieldRead) {
    EXPECT_EQ(Send(kArrival, VolumeRecord(DriveBit('E'), 0, 18)), 1);

    EXPECT_EQ(journal.lines, ConnectionLines('E', 0, 0, 0));
    EXPECT_EQ(g_strArrivalDrive, L"E");
}

TEST_F(DeviceChangeTest, OtherEventTypesAreLeftAloneAndGranted) {
    struct Case {
        std::uint32_t type;
        std::vector<std::uint8_t> record;  // empty: no record (null)
    };
    const std::vector<Case> cases = {
        {0x0007, {}},                           // DBT_DEVNODES_CHANGED
        {0x0007, {0xAA}},                       // a record address that must not be read
        {0x0017, {}},                           // DBT_CONFIGCHANGED
        {0x0018, {}},                           // DBT_CONFIGCHANGECANCELED
        {0x8001, VolumeRecord(DriveBit('E'))},  // DBT_DEVICEQUERYREMOVE
        {0x8002, VolumeRecord(DriveBit('E'))},  // DBT_DEVICEQUERYREMOVEFAILED
        {0x8003, VolumeRecord(DriveBit('E'))},  // DBT_DEVICEREMOVEPENDING
        {0x8005, VolumeRecord(DriveBit('E'))},  // DBT_DEVICETYPESPECIFIC
        {0x8006, VolumeRecord(DriveBit('E'))},  // DBT_CUSTOMEVENT
        {0xFFFF, VolumeRecord(DriveBit('E'))},  // DBT_USERDEFINED
    };
    for (const bool connected : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.type) + (connected ? " connected" : " disconnected"));
            Restart();
            Lay();
            if (connected) {
                ConnectTo('E');
            }

            EXPECT_EQ(OnDeviceChange(window, c.type, c.record.empty() ? nullptr : c.record.data()),
                      1);

            EXPECT_TRUE(journal.lines.empty());
            EXPECT_EQ(g_strArrivalDrive, L"0");
            EXPECT_EQ(g_bConnected, connected ? 1 : 0);
        }
    }
}

// ---- registration ----

TEST_F(DeviceChangeTest, RegistrationAsksForEveryInterfaceClassOnTheWindow) {
    void* const hwnd = reinterpret_cast<void*>(std::uintptr_t{0x000A0B0C});

    RegisterDeviceNotifications(hwnd);

    const auto& registrations = sim::TheSystem().registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].recipient, hwnd);
    EXPECT_EQ(Hex(registrations[0].filter),
              "20 00 00 00 05 00 00 00 00 00 00 00 10 BF DC A5 30 65 D2 11 90 1F 00 C0 4F B9 51 "
              "ED 00 00 00 00");
    EXPECT_EQ(registrations[0].flags, 4u);
    EXPECT_EQ(g_hDevNotify, reinterpret_cast<void*>(std::uintptr_t{0x0D0E}));
}

TEST_F(DeviceChangeTest, FailedRegistrationIsStoredAndVolumeEventsStillWork) {
    g_hDevNotify = reinterpret_cast<void*>(std::uintptr_t{0x5555});
    sim::TheSystem().SetNotificationHandle(nullptr);

    RegisterDeviceNotifications(reinterpret_cast<void*>(std::uintptr_t{0x000A0B0C}));

    EXPECT_EQ(g_hDevNotify, nullptr);
    Send(kArrival, VolumeRecord(DriveBit('E')));
    EXPECT_EQ(g_bConnected, 1);
    Send(kRemoval, VolumeRecord(DriveBit('E')));
    EXPECT_EQ(g_bConnected, 0);
    EXPECT_EQ(journal.lines, Concat({ConnectionLines('E', 0, 0, 0), DisconnectionLines('E')}));
}

TEST_F(DeviceChangeTest, FilterRecordIsBuiltOverWhateverTheBufferHeld) {
    std::uint8_t record[os::dbt::kInterfaceFilterSize];
    std::fill(std::begin(record), std::end(record), std::uint8_t{0xCC});

    BuildInterfaceFilter(record);

    EXPECT_EQ(Hex(record, sizeof record),
              "20 00 00 00 05 00 00 00 00 00 00 00 10 BF DC A5 30 65 D2 11 90 1F 00 C0 4F B9 51 "
              "ED 00 00 00 00");
}

}  // namespace
