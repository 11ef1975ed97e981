// Camera discovery against simulated drives: which letters are opened, in which order, with what
// request, which answer is accepted, and what happens to the handles.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "os/os.h"
#include "tests/support/sim_test.h"

namespace {

using zqtest::Hex;

std::vector<char> Letters(char first, char last) {
    std::vector<char> letters;
    for (char c = first; c <= last; ++c) {
        letters.push_back(c);
    }
    return letters;
}

class DiscoveryTest : public zqtest::SimTest {};

TEST_F(DiscoveryTest, WithNoDrivesTriesDToZAndSendsNoInquiry) {
    std::int32_t err = 0;

    EXPECT_FALSE(FindCamera(err));

    EXPECT_EQ(err, LINK_ERR_NOT_OPEN);
    EXPECT_EQ(world.OpenedLetters(), Letters('D', 'Z'));
    EXPECT_EQ(world.Calls(sim::Call::kCreateFile).size(), 23u);
    EXPECT_EQ(world.Calls(sim::Call::kDeviceIoControl).size(), 0u);
    EXPECT_EQ(world.Calls(sim::Call::kCloseHandle).size(), 0u);
    EXPECT_EQ(g_hCamera, nullptr);
}

TEST_F(DiscoveryTest, OpensEachLetterByItsDevicePathForSharedReadWrite) {
    std::int32_t err = 0;
    FindCamera(err);

    const auto opens = world.Calls(sim::Call::kCreateFile);
    ASSERT_EQ(opens.size(), 23u);
    for (const sim::Event& open : opens) {
        SCOPED_TRACE(open.letter);
        const std::wstring path =
            std::wstring(L"\\\\.\\") + static_cast<wchar_t>(open.letter) + L":";
        EXPECT_EQ(open.path, path);
        EXPECT_EQ(open.access, 0xC0000000u);  // GENERIC_READ | GENERIC_WRITE
        EXPECT_EQ(open.share, 0x3u);          // FILE_SHARE_READ | FILE_SHARE_WRITE
        EXPECT_EQ(open.disposition, 3u);      // OPEN_EXISTING
        EXPECT_EQ(open.flags, 0u);
    }
}

TEST_F(DiscoveryTest, NeverOpensAToCEvenWhenTheyAnswerAsTheCamera) {
    for (const char letter : {'A', 'B', 'C'}) {
        world.AddDisk(letter, 1, os::kDriveRemovable);
    }
    std::int32_t err = 0;

    EXPECT_FALSE(FindCamera(err));

    EXPECT_EQ(world.OpenedLetters(), Letters('D', 'Z'));
    EXPECT_EQ(err, LINK_ERR_NOT_OPEN);
}

TEST_F(DiscoveryTest, SendsTheStandardInquiryForThirtySixBytes) {
    world.PlugCamera('D');
    std::int32_t err = 0;

    ASSERT_TRUE(FindCamera(err));

    const auto requests = world.PassThroughRequests();
    ASSERT_EQ(requests.size(), 1u);
    const sim::Event& inquiry = requests[0];
    EXPECT_EQ(inquiry.ioctl, 0x4D004u);
    EXPECT_EQ(inquiry.inSize, 44u);
    EXPECT_EQ(inquiry.outSize, 116u);
    // CdbLength 6 and DataTransferLength 36; everything else as for vendor commands.
    EXPECT_EQ(Hex(inquiry.head.data(), 28), zqtest::kInquiryHead);
    EXPECT_EQ(Hex(inquiry.cdb), zqtest::kInquiryCdb);
    EXPECT_EQ(inquiry.dataBytes, 36u);
}

// One device on E: (and nothing else); is it taken for the camera?
struct MarkCase {
    const char* name;
    std::function<void(sim::World&)> place;
    bool accepted;
};

void PrintTo(const MarkCase& row, std::ostream* out) {
    *out << row.name;
}

class DiscoveryMarkTest : public DiscoveryTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(DiscoveryMarkTest, AcceptsOnlyInquiryByte3EqualToOne) {
    const MarkCase& c = GetParam();
    c.place(world);
    std::int32_t err = 0;

    EXPECT_EQ(FindCamera(err), c.accepted);

    if (c.accepted) {
        EXPECT_EQ(world.OpenHandleCount(), 1u);
        EXPECT_TRUE(world.IsOpenHandle(g_hCamera));
        EXPECT_EQ(err, 0);
    } else {
        EXPECT_EQ(g_hCamera, nullptr);
        EXPECT_EQ(err, LINK_ERR_NOT_OPEN);
        // The rejected letter was opened, asked and closed; the scan went on to Z.
        EXPECT_EQ(world.OpenHandleCount(), 0u);
        EXPECT_EQ(world.TotalClosed(), world.TotalOpened());
        EXPECT_EQ(world.OpenedLetters(), Letters('D', 'Z'));
    }
    EXPECT_EQ(world.BadCloses(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DiscoveryMarkTest,
    ::testing::Values(
        MarkCase{"Camera", [](sim::World& w) { w.PlugCamera('E'); }, true},
        MarkCase{"DeviceWithByte3One", [](sim::World& w) { w.AddDisk('E', 0x01); }, true},
        MarkCase{"CurrentScsiDevice02", [](sim::World& w) { w.AddDisk('E', 0x02); }, false},
        MarkCase{"Byte3x11", [](sim::World& w) { w.AddDisk('E', 0x11); }, false},
        MarkCase{"Byte3x21", [](sim::World& w) { w.AddDisk('E', 0x21); }, false},
        MarkCase{"Byte3x81", [](sim::World& w) { w.AddDisk('E', 0x81); }, false},
        MarkCase{"Byte3Zero", [](sim::World& w) { w.AddDisk('E', 0x00); }, false},
        MarkCase{
            "RefusesInquiry",
            [](sim::World& w) { w.AddDisk('E', 0x01).scsi = sim::ScsiDevice::kRefusesInquiry; },
            false},
        MarkCase{"NoScsiDevice",
                 [](sim::World& w) { w.AddDisk('E', 0x01).scsi = sim::ScsiDevice::kNone; }, false},
        MarkCase{"CameraInquiryCallFails",
                 [](sim::World& w) {
                     w.PlugCamera('E');
                     w.InjectInquiryFault(sim::Fault::CallFails());
                 },
                 false},
        MarkCase{"CameraAnswersThreeBytes",
                 [](sim::World& w) {
                     w.PlugCamera('E');
                     w.InjectInquiryFault(sim::Fault::ShortAnswer(3));
                 },
                 false},
        MarkCase{"CameraCheckConditionAfterFourBytes",
                 [](sim::World& w) {
                     w.PlugCamera('E');
                     w.InjectInquiryFault(sim::Fault::CheckCondition(4));
                 },
                 true},
        MarkCase{"CameraDoesNotOpen",
                 [](sim::World& w) {
                     w.PlugCamera('E');
                     w.drive('E').opens = false;
                 },
                 false},
        MarkCase{"CameraGoneAfterTheOpen",
                 [](sim::World& w) {
                     w.PlugCamera('E');
                     w.SetObserver([&w](const sim::Event& e) {
                         if (e.call == sim::Call::kCreateFile && e.letter == 'E') {
                             w.UnplugCamera('E');
                         }
                     });
                 },
                 false}),
    zqtest::ByName());

TEST_F(DiscoveryTest, FirstMatchWinsAndLaterLettersAreNeverOpened) {
    world.AddDisk('D', 0x02);
    world.PlugCamera('E');
    world.AddDisk('G', 0x01);
    std::int32_t err = 0;

    ASSERT_TRUE(FindCamera(err));

    EXPECT_EQ(world.OpenedLetters(), (std::vector<char>{'D', 'E'}));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\E:");
    const auto opens = world.Calls(sim::Call::kCreateFile);
    EXPECT_EQ(g_hCamera, opens[1].handle);
    // D: was asked and closed before E: was opened.
    const auto closes = world.Calls(sim::Call::kCloseHandle);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].letter, 'D');
    EXPECT_LT(closes[0].index, opens[1].index);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
}

TEST_F(DiscoveryTest, LetterThatCannotBeOpenedIsSkippedWithoutAClose) {
    world.AddDisk('D', 0x01).opens = false;
    world.PlugCamera('F');
    std::int32_t err = 0;

    ASSERT_TRUE(FindCamera(err));

    EXPECT_EQ(world.OpenedLetters(), (std::vector<char>{'D', 'E', 'F'}));
    EXPECT_EQ(world.InquiryCount(), 1u);
    EXPECT_EQ(world.Calls(sim::Call::kCloseHandle).size(), 0u);
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\F:");
}

TEST_F(DiscoveryTest, DevicePathOutlivesTheHandleAndAFailedSearch) {
    world.PlugCamera('K');
    std::int32_t err = 0;
    ASSERT_TRUE(FindCamera(err));

    EXPECT_TRUE(CloseCamera(err));
    EXPECT_EQ(g_hCamera, nullptr);
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\K:");

    world.UnplugCamera('K');
    EXPECT_FALSE(FindCamera(err));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\K:");
}

TEST_F(DiscoveryTest, SuccessWhileAHandleIsHeldClosesTheEarlierHandle) {
    world.PlugCamera('E');
    std::int32_t err = 0;
    ASSERT_TRUE(FindCamera(err));
    const os::Handle first = g_hCamera;

    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_TRUE(FindCamera(err));
    }

    EXPECT_NE(g_hCamera, first);
    EXPECT_TRUE(world.IsOpenHandle(g_hCamera));
    EXPECT_FALSE(world.IsOpenHandle(first));
    EXPECT_EQ(world.OpenHandleCount(), 1u);
    EXPECT_EQ(world.TotalOpened(), 4u);
    EXPECT_EQ(world.BadCloses(), 0u);
}

TEST_F(DiscoveryTest, FailureWhileAHandleIsHeldKeepsIt) {
    world.PlugCamera('E');
    std::int32_t err = 0;
    ASSERT_TRUE(FindCamera(err));
    const os::Handle held = g_hCamera;
    world.UnplugCamera('E');

    EXPECT_FALSE(FindCamera(err));

    EXPECT_EQ(err, LINK_ERR_NOT_OPEN);
    EXPECT_EQ(g_hCamera, held);
    EXPECT_TRUE(world.IsOpenHandle(held));
    EXPECT_EQ(world.Calls(sim::Call::kCloseHandle).size(), 0u);
}

TEST_F(DiscoveryTest, CloseCameraClosesOnceAndNeverWritesTheErrorCode) {
    world.PlugCamera('E');
    std::int32_t err = 0;
    ASSERT_TRUE(FindCamera(err));
    const os::Handle held = g_hCamera;
    err = 77;

    EXPECT_TRUE(CloseCamera(err));
    EXPECT_TRUE(CloseCamera(err));

    const auto closes = world.Calls(sim::Call::kCloseHandle);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, held);
    EXPECT_TRUE(closes[0].result);
    EXPECT_EQ(g_hCamera, nullptr);
    EXPECT_EQ(world.OpenHandleCount(), 0u);
    EXPECT_EQ(err, 77);
}

TEST_F(DiscoveryTest, CloseCameraWithNothingOpenDoesNothing) {
    std::int32_t err = 77;

    EXPECT_TRUE(CloseCamera(err));

    EXPECT_TRUE(world.events().empty());
    EXPECT_EQ(err, 77);
}

}  // namespace
