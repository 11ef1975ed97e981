// The camera volume lookup against simulated drives: which volumes are examined and how, which
// vendor identifications match, and what a failure on the way leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/volume.h"
#include "os/os.h"
#include "tests/support/sim_test.h"

namespace {

using zqtest::Hex;

// A removable volume whose storage device reports `vendor` (untrimmed) as its identification.
sim::Drive& Stick(sim::World& world, char letter, std::string_view vendor) {
    sim::Drive& drive = world.AddDrive(letter, os::kDriveRemovable);
    drive.descriptor = sim::DescriptorWithVendor(vendor);
    return drive;
}

class VolumeTest : public zqtest::SimTest {
  protected:
    sim::Drive& Stick(char letter, std::string_view vendor) {
        return ::Stick(world, letter, vendor);
    }

    // The letters of the storage queries made, in order.
    std::string QueriedLetters() const {
        std::string letters;
        for (const sim::Event& query : world.StorageQueries()) {
            letters.push_back(query.letter);
        }
        return letters;
    }

    // The letters CreateFileW was called on, in order.
    std::string OpenedLetters() const {
        const std::vector<char> opened = world.OpenedLetters();
        return {opened.begin(), opened.end()};
    }

    void ExpectEveryHandleClosed() const {
        EXPECT_EQ(world.OpenHandleCount(), 0u);
        EXPECT_EQ(world.BadCloses(), 0u);
        EXPECT_EQ(world.TotalClosed(), world.TotalOpened());
    }
};

// A table's row: its name and the volumes it lays out.
struct Layout {
    const char* name;
    std::function<void(sim::World&)> arrange;
    std::wstring result;
    std::string queried;
};

void PrintTo(const Layout& row, std::ostream* out) {
    *out << row.name;
}

class VolumeLayoutTest : public VolumeTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(VolumeLayoutTest, ResultIsTheLastListedRemovableVolumeReportingKMZ) {
    const Layout& c = GetParam();
    c.arrange(world);

    EXPECT_EQ(FindCameraVolume(), c.result);

    // Every removable volume is queried, also after a match.
    EXPECT_EQ(QueriedLetters(), c.queried);
    ExpectEveryHandleClosed();
}

INSTANTIATE_TEST_SUITE_P(Volumes, VolumeLayoutTest,
                         ::testing::Values(Layout{"NoDrivesAtAll", [](sim::World&) {}, L" ", ""},
                                           Layout{"NoRemovableVolume",
                                                  [](sim::World& world) {
                                                      world.AddDisk('C');
                                                      world.AddDrive('D', os::kDriveCdrom);
                                                  },
                                                  L" ", ""},
                                           Layout{"CameraOnF",
                                                  [](sim::World& world) {
                                                      world.AddDisk('C');
                                                      Stick(world, 'E', "SanDisk ");
                                                      Stick(world, 'F', "KMZ     ");
                                                  },
                                                  L"F:\\", "EF"},
                                           Layout{"CameraVolumesOnEAndG",
                                                  [](sim::World& world) {
                                                      Stick(world, 'E', "KMZ     ");
                                                      Stick(world, 'F', "Generic ");
                                                      Stick(world, 'G', "KMZ     ");
                                                      Stick(world, 'H', "Generic ");
                                                  },
                                                  L"G:\\", "EFGH"},
                                           Layout{"RemovableVolumesNoneOfThemTheCameras",
                                                  [](sim::World& world) {
                                                      Stick(world, 'E', "SanDisk ");
                                                      // reports no vendor identification
                                                      world.AddDrive('F', os::kDriveRemovable);
                                                  },
                                                  L" ", "EF"}),
                         zqtest::ByName());

// The device's vendor identification bytes (code page 1252), one volume on E:.
struct Vendor {
    const char* name;
    std::string_view vendor;
    bool matches;
};

void PrintTo(const Vendor& row, std::ostream* out) {
    *out << row.name << " (" << Hex(row.vendor) << ")";
}

class VendorMatchTest : public VolumeTest, public ::testing::WithParamInterface<Vendor> {};

TEST_P(VendorMatchTest, VendorIdentificationMatchesOnlyKMZWithinWhiteSpace) {
    const Vendor& c = GetParam();
    Stick('E', c.vendor);

    EXPECT_EQ(FindCameraVolume(), c.matches ? L"E:\\" : L" ");
}

INSTANTIATE_TEST_SUITE_P(
    Vendors, VendorMatchTest,
    ::testing::Values(Vendor{"Bare", "KMZ", true}, Vendor{"TrailingSpaces", "KMZ     ", true},
                      Vendor{"LeadingSpaces", "   KMZ", true}, Vendor{"LeadingTab", "\tKMZ", true},
                      Vendor{"AsciiWhiteSpaceAround", "\r\n\v\f KMZ\t", true},
                      // U+00A0, no-break space
                      Vendor{"TrailingNoBreakSpace", "KMZ\xA0", true},
                      Vendor{"NoBreakSpacesAround", "\xA0 KMZ \xA0", true},
                      Vendor{"LowerCase", "kmz", false}, Vendor{"MixedCase", "Kmz", false},
                      Vendor{"DigitAfter", "KMZ1", false}, Vendor{"LetterAfter", "KMZX", false},
                      Vendor{"SpaceInside", "KM Z", false}, Vendor{"DotAfter", "KMZ.", false},
                      Vendor{"LetterBefore", "XKMZ", false},
                      // U+2026, an ellipsis
                      Vendor{"EllipsisAfter", "KMZ\x85", false},
                      // U+0081, an undefined byte: a control character
                      Vendor{"UndefinedByteAfter", "KMZ\x81", false},
                      Vendor{"UnitSeparatorAfter", "KMZ\x1F", false},
                      Vendor{"OnlyASpace", " ", false}, Vendor{"Empty", "", false}),
    zqtest::ByName());

struct VendorText {
    const char* name;
    std::string_view vendor;
    std::wstring text;
};

void PrintTo(const VendorText& row, std::ostream* out) {
    *out << row.name << " (" << Hex(row.vendor) << ")";
}

class VendorTextTest : public VolumeTest, public ::testing::WithParamInterface<VendorText> {};

TEST_P(VendorTextTest, VendorIdentificationIsReturnedUntrimmedAndConverted) {
    const VendorText& c = GetParam();
    Stick('E', c.vendor);
    EXPECT_EQ(QueryVolumeVendorId(L"E:\\"), c.text);
    ExpectEveryHandleClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Vendors, VendorTextTest,
    ::testing::Values(VendorText{"Padded", "KMZ     ", L"KMZ     "},
                      VendorText{"WhiteSpaceKept", "\t KMZ\xA0", L"\t KMZ\u00A0"},
                      VendorText{"CodePage1252", "Caf\xE9\x80", L"Caf\u00E9\u20AC"}),
    zqtest::ByName());

TEST_F(VolumeTest, OpensTheVolumeForReadingAndAsksForTheDeviceDescriptor) {
    Stick('E', "KMZ     ");

    EXPECT_EQ(FindCameraVolume(), L"E:\\");

    const auto opens = world.Calls(sim::Call::kCreateFile);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].path, L"\\\\.\\E:");
    EXPECT_EQ(opens[0].access, 0x80000000u);  // GENERIC_READ
    EXPECT_EQ(opens[0].share, 0x3u);          // FILE_SHARE_READ | FILE_SHARE_WRITE
    EXPECT_EQ(opens[0].disposition, 3u);      // OPEN_EXISTING
    EXPECT_EQ(opens[0].flags, 0u);

    const auto queries = world.StorageQueries();
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].handle, opens[0].handle);
    EXPECT_EQ(queries[0].ioctl, 0x2D1400u);
    EXPECT_EQ(queries[0].inSize, 12u);
    EXPECT_EQ(Hex(queries[0].query), "00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(queries[0].outSize, 551u);

    // Open, query, close, one after the other.
    const auto& events = world.events();
    const auto at = std::find_if(events.begin(), events.end(), [](const sim::Event& e) {
        return e.call == sim::Call::kCreateFile;
    });
    ASSERT_GE(events.end() - at, 3);
    EXPECT_TRUE((at + 1)->IsStorageQuery());
    EXPECT_EQ((at + 2)->call, sim::Call::kCloseHandle);
    EXPECT_EQ((at + 2)->handle, opens[0].handle);
    ExpectEveryHandleClosed();
}

TEST_F(VolumeTest, ListsTheDrivesWithTheLengthTheFirstCallAsksFor) {
    world.AddDisk('C');
    Stick('E', "KMZ");

    FindCameraVolume();

    const auto lists = world.Calls(sim::Call::kGetLogicalDriveStrings);
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0].inSize, 0u);
    EXPECT_EQ(lists[0].value, 9u);  // "C:\", "E:\" and the list's terminator
    EXPECT_EQ(lists[1].inSize, 9u);
    const auto types = world.Calls(sim::Call::kGetDriveType);
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0].path, L"C:\\");
    EXPECT_EQ(types[1].path, L"E:\\");
}

struct DriveType {
    const char* name;
    std::uint32_t type;
};

void PrintTo(const DriveType& row, std::ostream* out) {
    *out << row.name;
}

class NotRemovableTest : public VolumeTest, public ::testing::WithParamInterface<DriveType> {};

TEST_P(NotRemovableTest, VolumesThatAreNotRemovableAreNeverOpened) {
    world.AddDrive('F', GetParam().type).descriptor = sim::DescriptorWithVendor("KMZ");

    EXPECT_EQ(FindCameraVolume(), L" ");

    EXPECT_EQ(world.Calls(sim::Call::kGetDriveType).size(), 1u);
    EXPECT_TRUE(world.Calls(sim::Call::kCreateFile).empty());
    EXPECT_TRUE(world.StorageQueries().empty());
}

INSTANTIATE_TEST_SUITE_P(DriveTypes, NotRemovableTest,
                         ::testing::Values(DriveType{"Unknown", os::kDriveUnknown},
                                           DriveType{"Fixed", os::kDriveFixed},
                                           DriveType{"Remote", os::kDriveRemote},
                                           DriveType{"Cdrom", os::kDriveCdrom},
                                           DriveType{"Ramdisk", os::kDriveRamdisk}),
                         zqtest::ByName());

TEST_F(VolumeTest, VolumeThatCannotBeOpenedIsSkippedAndTheRestExamined) {
    Stick('E', "KMZ").opens = false;
    Stick('F', "KMZ");
    Stick('G', "KMZ").opens = false;
    Stick('H', "Generic");

    EXPECT_EQ(FindCameraVolume(), L"F:\\");

    EXPECT_EQ(OpenedLetters(), "EFGH");
    EXPECT_EQ(QueriedLetters(), "FH");
    ExpectEveryHandleClosed();
}

struct Descriptor {
    const char* name;
    sim::StorageDescriptor descriptor;
    bool matches;
};

void PrintTo(const Descriptor& row, std::ostream* out) {
    *out << row.name;
}

sim::StorageDescriptor Returning(sim::StorageDescriptor d, std::uint32_t returned) {
    d.returned = returned;
    return d;
}

sim::StorageDescriptor WithOffsetField(sim::StorageDescriptor d, std::uint32_t offset) {
    for (std::size_t i = 0; i < 4; ++i) {
        d.bytes[12 + i] = static_cast<std::uint8_t>((offset >> (8 * i)) & 0xFFu);
    }
    return d;
}

sim::StorageDescriptor Failing(sim::StorageDescriptor d) {
    d.fails = true;
    return d;
}

// Made when the tests are registered, after the simulator's own start-up.
std::vector<Descriptor> Descriptors() {
    return {
        {"Plain", sim::DescriptorWithVendor("KMZ"), true},
        {"NoVendorIdentificationOffset0", sim::DescriptorWithoutVendor(), false},
        {"TheQueryFails", Failing(sim::DescriptorWithVendor("KMZ")), false},
        {"OffsetAtTheFirstByteNotReturned", Returning(sim::DescriptorWithVendor("KMZ"), 40), false},
        {"OffsetFieldItselfNotReturned", Returning(sim::DescriptorWithVendor("KMZ"), 12), false},
        {"ReturnedBytesEndRightAfterTheZ", Returning(sim::DescriptorWithVendor("KMZ"), 43), true},
        {"ReturnedBytesEndInsideTheText", Returning(sim::DescriptorWithVendor("KMZ"), 42), false},
        {"OffsetPastTheDescriptorArea", sim::DescriptorWithVendor("KMZ", 551), false},
        {"OffsetFarOutside", WithOffsetField(sim::DescriptorWithVendor("KMZ"), 0xFFFFFFF0u), false},
        // No terminator inside the area: the text ends with the area's last byte.
        {"UnterminatedTextEndingAtTheAreasEnd", sim::DescriptorWithVendor("KMZ", 548, false), true},
        {"LongerTextCutByTheAreasEnd", sim::DescriptorWithVendor("KMZXYZ", 548, false), true},
        {"UnterminatedTextEndingAtTheReturnedBytes",
         Returning(sim::DescriptorWithVendor("KMZ", 100, false), 103), true},
    };
}

class DescriptorTest : public VolumeTest, public ::testing::WithParamInterface<Descriptor> {};

TEST_P(DescriptorTest, DescriptorDecidesWhatTheVendorIdentificationIs) {
    const Descriptor& c = GetParam();
    world.AddDrive('E', os::kDriveRemovable).descriptor = c.descriptor;

    EXPECT_EQ(FindCameraVolume(), c.matches ? L"E:\\" : L" ");

    ExpectEveryHandleClosed();
}

INSTANTIATE_TEST_SUITE_P(Descriptors, DescriptorTest, ::testing::ValuesIn(Descriptors()),
                         zqtest::ByName());

struct DriveListFailure {
    const char* name;
    std::function<void(sim::World&)> arrange;
    std::size_t listCalls;
};

void PrintTo(const DriveListFailure& row, std::ostream* out) {
    *out << row.name;
}

class DriveListTest : public VolumeTest, public ::testing::WithParamInterface<DriveListFailure> {};

TEST_P(DriveListTest, DriveListThatCannotBeHadWholeExaminesNothing) {
    const DriveListFailure& c = GetParam();
    Stick('E', "KMZ");
    c.arrange(world);

    EXPECT_EQ(FindCameraVolume(), L" ");

    EXPECT_EQ(world.Calls(sim::Call::kGetLogicalDriveStrings).size(), c.listCalls);
    EXPECT_TRUE(world.Calls(sim::Call::kGetDriveType).empty());
    EXPECT_TRUE(world.Calls(sim::Call::kCreateFile).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DriveListTest,
    ::testing::Values(DriveListFailure{"TheFirstCallFails",
                                       [](sim::World& world) { world.FailDriveList(); }, 1},
                      DriveListFailure{"TheSecondCallFails",
                                       [](sim::World& world) {
                                           world.SetObserver([&world](const sim::Event& e) {
                                               if (e.call == sim::Call::kGetLogicalDriveStrings &&
                                                   e.inSize == 0) {
                                                   world.FailDriveList();
                                               }
                                           });
                                       },
                                       2},
                      DriveListFailure{"ADriveIsAddedBetweenTheTwoCalls",
                                       [](sim::World& world) {
                                           sim::Drive added;
                                           added.type = os::kDriveRemovable;
                                           added.descriptor = sim::DescriptorWithVendor("KMZ");
                                           world.AddDriveDuringDriveList('D', added);
                                       },
                                       2}),
    zqtest::ByName());

TEST_F(VolumeTest, EveryLookupAsksAfresh) {
    Stick('E', "KMZ");
    EXPECT_EQ(FindCameraVolume(), L"E:\\");

    world.RemoveDrive('E');
    Stick('F', "KMZ");

    EXPECT_EQ(FindCameraVolume(), L"F:\\");
    EXPECT_EQ(QueriedLetters(), "EF");
}

TEST_F(VolumeTest, WhiteSpaceIsWhatTheTrimmingRemoves) {
    struct Case {
        wchar_t c;
        bool space;
    };
    const Case cases[] = {
        {0x09, true},
        {0x0A, true},
        {0x0B, true},
        {0x0C, true},
        {0x0D, true},
        {0x20, true},
        {0xA0, true},
        {0x1680, true},
        {0x2000, true},
        {0x200A, true},
        {0x2028, true},
        {0x202F, true},
        {0x205F, true},
        {0x3000, true},
        // Below U+0100 only the listed ones, although U+0085 is Unicode white space.
        {0x85, false},
        {0x00, false},
        {0x08, false},
        {0x0E, false},
        {0x1F, false},
        {L'K', false},
        {0x2026, false},
        {0x200B, false},
        {0xFEFF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.c));
        EXPECT_EQ(IsVendorIdSpace(c.c), c.space);
    }
}

TEST_F(VolumeTest, VendorBytesNeverReachPastTheReturnedBytes) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> descriptor;  // exactly the returned bytes
        std::string vendor;
    };
    auto with = [](std::size_t size, std::uint32_t offset, std::string_view text) {
        std::vector<std::uint8_t> d(size, 0);
        for (std::size_t i = 0; i < 4 && 12 + i < size; ++i) {
            d[12 + i] = static_cast<std::uint8_t>((offset >> (8 * i)) & 0xFFu);
        }
        for (std::size_t i = 0; i < text.size() && offset + i < size; ++i) {
            d[offset + i] = static_cast<std::uint8_t>(text[i]);
        }
        return d;
    };
    const std::vector<Case> cases = {
        {"shorter than the offset field", with(14, 0, ""), ""},
        {"offset field only", with(16, 16, ""), ""},
        {"text to the last byte", with(20, 16, "KMZX"), "KMZX"},
        {"terminated text", with(24, 16, "KMZ"), "KMZ"},
        {"offset at the end", with(20, 20, ""), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // On the heap and exactly as long as the returned bytes, so that a read past them shows.
        const std::vector<std::uint8_t> bytes = c.descriptor;

        EXPECT_EQ(VendorIdBytes(bytes.data(), bytes.size()), c.vendor);
    }
}

}  // namespace
