// The storage device descriptor behind QueryVolumeVendorId against any bytes, any returned length
// and any vendor offset: the vendor identification is never taken from outside the bytes the
// query returned (compared with a reference written separately from the program's parser), and
// FindCameraVolume answers " " or the root path of a listed removable volume, the last one whose
// identification trims to "KMZ", leaving no volume handle open.
//
// Input: the parser on its own first - returned length (4), descriptor length (2) and bytes -
// then a byte whose bit 0 makes the drive list fail, then for each letter from A on: flags (bit 0
// present, bits 1-3 drive type, bit 4 opens, bit 5 the query fails, bit 6 the returned count is
// given, bit 7 the descriptor is built around a vendor text), the returned count (2, when given),
// and the descriptor: either its length (2) and raw bytes, or the vendor text's length, the text,
// the offset (2) and whether a zero byte follows the text.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/volume.h"
#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/process_state.h"

namespace {

constexpr std::size_t kArea = 551;
constexpr std::uint8_t kPoison = 0xAB;

// What the vendor identification must be, given the descriptor area and the count returned:
// the returned bytes are all there is; the offset field must be among them, and the text ends at
// its first zero byte or at the end of what was returned.
std::string ReferenceVendor(const std::uint8_t* area, std::uint64_t returned) {
    const std::string_view got(reinterpret_cast<const char*>(area),
                               static_cast<std::size_t>(std::min<std::uint64_t>(returned, kArea)));
    if (got.size() < 16) {
        return {};
    }
    std::uint32_t offset = 0;
    for (int i = 3; i >= 0; --i) {
        offset = (offset << 8) | static_cast<std::uint8_t>(got[12 + static_cast<std::size_t>(i)]);
    }
    if (offset == 0 || offset >= got.size()) {
        return {};
    }
    const std::string_view text = got.substr(offset);
    return std::string(text.substr(0, text.find('\0')));
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (const char c : text) {
        wide.push_back(sim::Cp1252ToWide(static_cast<unsigned char>(c)));
    }
    return wide;
}

bool Blank(wchar_t c) {
    const auto code = static_cast<std::uint32_t>(c);
    return (code >= 0x09 && code <= 0x0D) || code == 0x20 || code == 0xA0 ||
           (code >= 0x100 && sim::IsUnicodeSpace(code));
}

bool IsCameraVendor(std::wstring text) {
    while (!text.empty() && Blank(text.back())) {
        text.pop_back();
    }
    std::size_t begin = 0;
    while (begin < text.size() && Blank(text[begin])) {
        ++begin;
    }
    return text.substr(begin) == L"KMZ";
}

// The parser alone, on a descriptor area of exactly 551 bytes whose bytes past the returned count
// are poison, so that any byte taken from there shows.
void CheckParser(fuzzinput::Reader& in) {
    const std::uint32_t returned = in.U32();
    const auto bytes = in.Bytes(in.U16());
    const std::size_t valid = std::min<std::size_t>(returned, kArea);
    auto area = std::make_unique<std::uint8_t[]>(kArea);
    std::memset(area.get(), kPoison, kArea);
    for (std::size_t i = 0; i < valid; ++i) {
        area[i] = i < bytes.size() ? bytes[i] : 0;
    }
    FUZZ_CHECK(VendorIdBytes(area.get(), returned) == ReferenceVendor(area.get(), returned));
}

// The descriptor area after a query that wrote `descriptor` and reported its count.
std::string ExpectedVendorOf(const sim::StorageDescriptor& descriptor) {
    if (descriptor.fails) {
        return {};
    }
    std::vector<std::uint8_t> area(kArea, 0);
    area[4] = static_cast<std::uint8_t>(kArea & 0xFF);
    area[5] = static_cast<std::uint8_t>(kArea >> 8);
    std::copy_n(descriptor.bytes.begin(), std::min(descriptor.bytes.size(), kArea), area.begin());
    const std::uint64_t returned =
        descriptor.returned.value_or(static_cast<std::uint32_t>(descriptor.bytes.size()));
    return ReferenceVendor(area.data(), returned);
}

sim::StorageDescriptor ReadDescriptor(fuzzinput::Reader& in, std::uint8_t flags) {
    std::optional<std::uint32_t> returned;
    if ((flags & 0x40) != 0) {
        returned = in.U16();
    }
    sim::StorageDescriptor descriptor;
    if ((flags & 0x80) != 0) {
        const auto vendor = in.Bytes(in.Byte());
        const std::uint16_t offset = in.U16();
        const bool terminate = in.Bit();
        descriptor = sim::DescriptorWithVendor(
            std::string_view(reinterpret_cast<const char*>(vendor.data()), vendor.size()),
            offset % 600u, terminate);
    } else {
        descriptor.bytes = in.Bytes(in.U16() % 700u);
    }
    descriptor.returned = returned;
    descriptor.fails = (flags & 0x20) != 0;
    return descriptor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::Reader in(data, size);
    CheckParser(in);

    zqtest::ResetProcessState();
    sim::World& world = sim::TheWorld();
    const bool listFails = in.Bit();
    if (listFails) {
        world.FailDriveList();
    }

    std::wstring expected = L" ";
    std::vector<std::wstring> listed;
    std::vector<std::wstring> vendors(26);
    for (int i = 0; i < 26; ++i) {
        const char letter = static_cast<char>('A' + i);
        const std::uint8_t flags = in.Byte();
        if ((flags & 1) == 0) {
            continue;
        }
        sim::Drive& drive = world.AddDrive(letter, (flags >> 1) & 7u);
        drive.opens = (flags & 0x10) != 0;
        drive.descriptor = ReadDescriptor(in, flags);
        const std::wstring root = {static_cast<wchar_t>(letter), L':', L'\\'};
        listed.push_back(root);
        if (drive.type == os::kDriveRemovable && drive.opens) {
            vendors[static_cast<std::size_t>(i)] = Widen(ExpectedVendorOf(drive.descriptor));
            if (IsCameraVendor(vendors[static_cast<std::size_t>(i)])) {
                expected = root;
            }
        }
    }
    if (listFails) {
        expected = L" ";
    }

    const std::wstring found = FindCameraVolume();
    FUZZ_CHECK(found == expected);
    FUZZ_CHECK(found == L" " || std::find(listed.begin(), listed.end(), found) != listed.end());

    // Only removable volumes are opened, each for reading with the query of the device descriptor.
    for (const sim::Event& open : world.Calls(sim::Call::kCreateFile)) {
        FUZZ_CHECK(open.letter != 0 && world.drive(open.letter).type == os::kDriveRemovable);
        FUZZ_CHECK(open.access == os::kGenericRead);
    }
    for (const sim::Event& query : world.StorageQueries()) {
        FUZZ_CHECK(query.inSize == 12 && query.outSize == kArea);
        FUZZ_CHECK(std::all_of(query.query.begin(), query.query.begin() + 8,
                               [](std::uint8_t b) { return b == 0; }));
    }
    FUZZ_CHECK(world.OpenHandleCount() == 0 && world.BadCloses() == 0);

    // Each volume's identification on its own, untrimmed.
    for (int i = 0; i < 26; ++i) {
        const char letter = static_cast<char>('A' + i);
        const sim::Drive& drive = world.drive(letter);
        if (drive.present && drive.type == os::kDriveRemovable && drive.opens) {
            const std::wstring root = {static_cast<wchar_t>(letter), L':', L'\\'};
            FUZZ_CHECK(QueryVolumeVendorId(root) == vendors[static_cast<std::size_t>(i)]);
        }
    }
    FUZZ_CHECK(world.OpenHandleCount() == 0 && world.BadCloses() == 0);
    return 0;
}
