// The connection sequence with each of its camera requests failing in turn - the INQUIRY and the
// commands 14, 26, 27, 28, 2, 1 and 11, each failing at the platform call, answering short and
// ending with a check condition - and with the camera vanishing between any two of them. The
// camera answers loop recording 1, resolution 1, time-stamp display 1. Where the order of the
// window's steps and the camera's requests shows the fault, a row also gives the whole journal.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "tests/faults/panel_faults.h"

namespace faults {
namespace {

using zqtest::Concat;
using zqtest::Lines;

const Selections kAllRead = {1, 1, 1};

struct ConnectFault {
    const char* name;
    int code;  // the vendor code, or kInquiry
    sim::Fault fault;
    Look look;
    std::size_t openHandles;
    std::int32_t linkError;
    const char* codes;   // the vendor codes the camera received
    Lines journal = {};  // window steps and camera requests in order; empty: not compared
};

void PrintTo(const ConnectFault& row, std::ostream* out) {
    *out << row.name;
}

const char* const kWholeSequence = "14 26 27 28 2 1 11";

// The journal of one connection attempt on this computer: the disk on D: asked and passed over,
// the camera on E: opened and asked, then `rest`.
Lines AttemptOnE(std::initializer_list<Lines> rest) {
    return Concat({{"create D", "inquiry D", "close D", "create E", "inquiry E"}, Concat(rest)});
}

const Lines kFirmwareRead = {"get 26", "get 27", "get 28",
                             "status Firmware Version:   V1.1.0720240101"};
const Lines kFirmwareError = {"status Firware Version Error: 8"};
// The three settings read, each shown as 1.
const Lines kSettingsRead = {"pause 200", "get 2",  "select IDC_OVERWRITE 1",
                             "pause 200", "get 1",  "select IDC_RESOLUTION 1",
                             "pause 200", "get 11", "select IDC_TIMESTAMP 1"};
const Lines kEnabled = {"enable IDC_SYNC_TIME 1", "enable IDC_OPEN_FOLDER 1",
                        "enable IDC_OVERWRITE 1", "enable IDC_RESOLUTION 1",
                        "enable IDC_TIMESTAMP 1"};

// clang-format off
const ConnectFault kConnectFaults[] = {
    // Discovery: without byte 3 = 1 the camera is skipped like any other device.
    {"InquiryCallFails", kInquiry, sim::Fault::CallFails(), NotConnected(), 0, 2, ""},
    {"InquiryShortOfByte3", kInquiry, sim::Fault::ShortAnswer(3), NotConnected(), 0, 2, ""},
    {"InquiryJustReachingByte3", kInquiry, sim::Fault::ShortAnswer(4), Connected(kAllRead), 1, 0,
     kWholeSequence},
    {"InquiryCheckConditionWithoutData", kInquiry, sim::Fault::CheckCondition(0), NotConnected(),
     0, 2, ""},
    {"InquiryCheckConditionWithData", kInquiry, sim::Fault::CheckCondition(36),
     Connected(kAllRead), 1, 0, kWholeSequence},
    // The state: a failed query or a state other than 2 and 3 stops with nothing shown.
    {"StateCallFails", 14, sim::Fault::CallFails(), NotConnected(), 0, 0, "14",
     AttemptOnE({{"get 14 failed", "close E"}})},
    {"StateWithoutData", 14, sim::Fault::ShortAnswer(0), NotConnected(), 0, 0, "14"},
    {"StateInOneByte", 14, sim::Fault::ShortAnswer(1), Connected(kAllRead), 1, 0, kWholeSequence},
    // A refused query delivers no data: the state reads as 0.
    {"StateCheckConditionWithoutData", 14, sim::Fault::CheckCondition(0), NotConnected(), 0, 0,
     "14", AttemptOnE({{"get 14 refused", "close E"}})},
    {"StateCheckConditionWithData", 14, sim::Fault::CheckCondition(8), Connected(kAllRead), 1, 0,
     kWholeSequence},
    // The firmware pieces: a failure shows the error line, a short piece shows what arrived.
    {"Firmware26CallFails", 26, sim::Fault::CallFails(),
     Connected(kAllRead, kFirmwareErrorLine), 1, 8, "14 26 2 1 11",
     AttemptOnE({{"get 14", "get 26 failed"}, kFirmwareError, kSettingsRead, kEnabled})},
    {"Firmware26Short", 26, sim::Fault::ShortAnswer(2),
     Connected(kAllRead, kPrefix + L"V1.0720240101"), 1, 0, kWholeSequence},
    {"Firmware26CheckCondition", 26, sim::Fault::CheckCondition(0),
     Connected(kAllRead, kPrefix + L".0720240101"), 1, 0, kWholeSequence},
    {"Firmware27CallFails", 27, sim::Fault::CallFails(),
     Connected(kAllRead, kFirmwareErrorLine), 1, 8, "14 26 27 2 1 11",
     AttemptOnE({{"get 14", "get 26", "get 27 failed"}, kFirmwareError, kSettingsRead, kEnabled})},
    {"Firmware27Short", 27, sim::Fault::ShortAnswer(1),
     Connected(kAllRead, kPrefix + L"V1.1.20240101"), 1, 0, kWholeSequence},
    {"Firmware27CheckCondition", 27, sim::Fault::CheckCondition(0),
     Connected(kAllRead, kPrefix + L"V1.120240101"), 1, 0, kWholeSequence},
    {"Firmware28CallFails", 28, sim::Fault::CallFails(),
     Connected(kAllRead, kFirmwareErrorLine), 1, 8, kWholeSequence,
     AttemptOnE({{"get 14", "get 26", "get 27", "get 28 failed"}, kFirmwareError, kSettingsRead,
                 kEnabled})},
    {"Firmware28Short", 28, sim::Fault::ShortAnswer(3),
     Connected(kAllRead, kPrefix + L"V1.1.07202"), 1, 0, kWholeSequence},
    {"Firmware28CheckCondition", 28, sim::Fault::CheckCondition(0),
     Connected(kAllRead, kPrefix + L"V1.1.07"), 1, 0, kWholeSequence},
    // The settings: a failed read leaves its combo alone, a short answer reads as 0.
    {"LoopCallFails", 2, sim::Fault::CallFails(), Connected({kNone, 1, 1}), 1, 0, kWholeSequence,
     AttemptOnE({{"get 14"}, kFirmwareRead,
                 {"pause 200", "get 2 failed",
                  "pause 200", "get 1", "select IDC_RESOLUTION 1",
                  "pause 200", "get 11", "select IDC_TIMESTAMP 1"},
                 kEnabled})},
    {"LoopWithoutData", 2, sim::Fault::ShortAnswer(0), Connected({0, 1, 1}), 1, 0, kWholeSequence},
    {"LoopCheckConditionWithoutData", 2, sim::Fault::CheckCondition(0), Connected({0, 1, 1}), 1, 0,
     kWholeSequence},
    {"LoopCheckConditionWithData", 2, sim::Fault::CheckCondition(8), Connected(kAllRead), 1, 0,
     kWholeSequence},
    {"ResolutionCallFails", 1, sim::Fault::CallFails(), Connected({1, kNone, 1}), 1, 0,
     kWholeSequence,
     AttemptOnE({{"get 14"}, kFirmwareRead,
                 {"pause 200", "get 2", "select IDC_OVERWRITE 1",
                  "pause 200", "get 1 failed",
                  "pause 200", "get 11", "select IDC_TIMESTAMP 1"},
                 kEnabled})},
    {"ResolutionWithoutData", 1, sim::Fault::ShortAnswer(0), Connected({1, 0, 1}), 1, 0,
     kWholeSequence},
    {"ResolutionCheckCondition", 1, sim::Fault::CheckCondition(0), Connected({1, 0, 1}), 1, 0,
     kWholeSequence},
    {"TimestampCallFails", 11, sim::Fault::CallFails(), Connected({1, 1, kNone}), 1, 0,
     kWholeSequence,
     AttemptOnE({{"get 14"}, kFirmwareRead,
                 {"pause 200", "get 2", "select IDC_OVERWRITE 1",
                  "pause 200", "get 1", "select IDC_RESOLUTION 1",
                  "pause 200", "get 11 failed"},
                 kEnabled})},
    {"TimestampWithoutData", 11, sim::Fault::ShortAnswer(0), Connected({1, 1, 0}), 1, 0,
     kWholeSequence},
    {"TimestampCheckCondition", 11, sim::Fault::CheckCondition(0), Connected({1, 1, 0}), 1, 0,
     kWholeSequence},
};
// clang-format on

class ConnectFaultTest : public PanelFaultTest,
                         public ::testing::WithParamInterface<ConnectFault> {};

TEST_P(ConnectFaultTest, LeavesTheStateTheTableGivesAndRecoversOnTheNextAttempt) {
    const ConnectFault& c = GetParam();
    Inject(world, c.code, c.fault);

    ConnectCamera(window);

    ExpectPanel(c.look, c.openHandles);
    EXPECT_EQ(g_nLinkError, c.linkError);
    EXPECT_EQ(Codes(world.VendorCodes()), c.codes);
    EXPECT_TRUE(window.Lines("box ").empty()) << "connecting never shows a message box";
    if (!c.journal.empty()) {
        EXPECT_EQ(journal.lines, c.journal);
    }
    // No handle is held behind a panel that did not connect, and a stopped connection leaves
    // the status text as it was; a completed one shows it.
    EXPECT_EQ(g_hCamera != nullptr, c.look.connected == 1);
    EXPECT_EQ(g_strStatus, c.look.connected == 1 ? c.look.status : std::wstring());

    // The fault was used up: a stopped connection is tried again in full, a completed one is
    // not repeated, and either way the camera ends connected with one handle.
    world.ClearTrace();
    ConnectCamera(window);
    EXPECT_EQ(Codes(world.VendorCodes()), c.look.connected == 1 ? "" : kWholeSequence);
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
    EXPECT_EQ(world.BadCloses(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachRequest, ConnectFaultTest, ::testing::ValuesIn(kConnectFaults),
                         zqtest::ByName());

// The camera is unplugged right after the k-th thing that happened to it during the sequence:
// 0 its open, 1 the INQUIRY, 2 command 14, 3-5 the firmware commands, 6-8 the settings.
struct Vanish {
    const char* name;
    int after;
    Look look;
    std::size_t openHandles;
    std::int32_t linkError;
    const char* codes;
};

void PrintTo(const Vanish& row, std::ostream* out) {
    *out << row.name;
}

// clang-format off
const Vanish kVanishes[] = {
    {"BeforeTheInquiry", 0, NotConnected(), 0, 2, ""},
    {"BeforeTheState", 1, NotConnected(), 0, 0, "14"},
    {"BeforeTheFirmware", 2, Connected({kNone, kNone, kNone}, kFirmwareErrorLine), 1, 8,
     "14 26 2 1 11"},
    {"BetweenFirmware26And27", 3, Connected({kNone, kNone, kNone}, kFirmwareErrorLine), 1, 8,
     "14 26 27 2 1 11"},
    {"BetweenFirmware27And28", 4, Connected({kNone, kNone, kNone}, kFirmwareErrorLine), 1, 8,
     kWholeSequence},
    {"BeforeTheSettings", 5, Connected({kNone, kNone, kNone}), 1, 0, kWholeSequence},
    {"AfterLoopRecording", 6, Connected({1, kNone, kNone}), 1, 0, kWholeSequence},
    {"AfterResolution", 7, Connected({1, 1, kNone}), 1, 0, kWholeSequence},
    {"AfterTheLastCommand", 8, Connected(kAllRead), 1, 0, kWholeSequence},
};
// clang-format on

class VanishDuringConnectTest : public PanelFaultTest,
                                public ::testing::WithParamInterface<Vanish> {};

TEST_P(VanishDuringConnectTest, EndsAsFarAsTheCameraGotAndDisconnectsCleanly) {
    const Vanish& c = GetParam();
    int seen = 0;
    world.SetObserver([&](const sim::Event& event) {
        if (event.letter == 'E' &&
            (event.call == sim::Call::kCreateFile || event.IsPassThrough()) && seen++ == c.after) {
            world.VanishCamera();
        }
    });

    ConnectCamera(window);
    world.SetObserver(nullptr);

    ExpectPanel(c.look, c.openHandles);
    EXPECT_EQ(g_nLinkError, c.linkError);
    EXPECT_EQ(Codes(world.VendorCodes()), c.codes);
    EXPECT_TRUE(window.Lines("box ").empty());

    // The removal of the drive then closes the dead handle once.
    const auto removal = zqtest::VolumeRecord(zqtest::DriveBit('E'));
    EXPECT_EQ(OnDeviceChange(window, os::dbt::kDeviceRemoveComplete, removal.data()), 1);
    ExpectPanel(NotConnected(), 0);
}

INSTANTIATE_TEST_SUITE_P(BetweenRequests, VanishDuringConnectTest, ::testing::ValuesIn(kVanishes),
                         zqtest::ByName());

}  // namespace
}  // namespace faults
