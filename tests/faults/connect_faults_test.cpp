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

const ConnectFault kConnectFaults[] = {
    // Discovery: without byte 3 = 1 the camera is skipped like any other device.
    {.name = "InquiryCallFails",
     .code = kInquiry,
     .fault = sim::Fault::CallFails(),
     .look = NotConnected(),
     .openHandles = 0,
     .linkError = 2,
     .codes = ""},
    {.name = "InquiryShortOfByte3",
     .code = kInquiry,
     .fault = sim::Fault::ShortAnswer(3),
     .look = NotConnected(),
     .openHandles = 0,
     .linkError = 2,
     .codes = ""},
    {.name = "InquiryJustReachingByte3",
     .code = kInquiry,
     .fault = sim::Fault::ShortAnswer(4),
     .look = Connected(kAllRead),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "InquiryCheckConditionWithoutData",
     .code = kInquiry,
     .fault = sim::Fault::CheckCondition(0),
     .look = NotConnected(),
     .openHandles = 0,
     .linkError = 2,
     .codes = ""},
    {.name = "InquiryCheckConditionWithData",
     .code = kInquiry,
     .fault = sim::Fault::CheckCondition(36),
     .look = Connected(kAllRead),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    // The state: a failed query or a state other than 2 and 3 stops with nothing shown.
    {.name = "StateCallFails",
     .code = 14,
     .fault = sim::Fault::CallFails(),
     .look = NotConnected(),
     .openHandles = 0,
     .linkError = 0,
     .codes = "14",
     .journal = AttemptOnE({{"get 14 failed", "close E"}})},
    {.name = "StateWithoutData",
     .code = 14,
     .fault = sim::Fault::ShortAnswer(0),
     .look = NotConnected(),
     .openHandles = 0,
     .linkError = 0,
     .codes = "14"},
    {.name = "StateInOneByte",
     .code = 14,
     .fault = sim::Fault::ShortAnswer(1),
     .look = Connected(kAllRead),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    // A refused query delivers no data: the state reads as 0.
    {.name = "StateCheckConditionWithoutData",
     .code = 14,
     .fault = sim::Fault::CheckCondition(0),
     .look = NotConnected(),
     .openHandles = 0,
     .linkError = 0,
     .codes = "14",
     .journal = AttemptOnE({{"get 14 refused", "close E"}})},
    {.name = "StateCheckConditionWithData",
     .code = 14,
     .fault = sim::Fault::CheckCondition(8),
     .look = Connected(kAllRead),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    // The firmware pieces: a failure shows the error line, a short piece shows what arrived.
    {.name = "Firmware26CallFails",
     .code = 26,
     .fault = sim::Fault::CallFails(),
     .look = Connected(kAllRead, kFirmwareErrorLine),
     .openHandles = 1,
     .linkError = 8,
     .codes = "14 26 2 1 11",
     .journal = AttemptOnE({{"get 14", "get 26 failed"}, kFirmwareError, kSettingsRead, kEnabled})},
    {.name = "Firmware26Short",
     .code = 26,
     .fault = sim::Fault::ShortAnswer(2),
     .look = Connected(kAllRead, kPrefix + L"V1.0720240101"),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "Firmware26CheckCondition",
     .code = 26,
     .fault = sim::Fault::CheckCondition(0),
     .look = Connected(kAllRead, kPrefix + L".0720240101"),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "Firmware27CallFails",
     .code = 27,
     .fault = sim::Fault::CallFails(),
     .look = Connected(kAllRead, kFirmwareErrorLine),
     .openHandles = 1,
     .linkError = 8,
     .codes = "14 26 27 2 1 11",
     .journal = AttemptOnE(
         {{"get 14", "get 26", "get 27 failed"}, kFirmwareError, kSettingsRead, kEnabled})},
    {.name = "Firmware27Short",
     .code = 27,
     .fault = sim::Fault::ShortAnswer(1),
     .look = Connected(kAllRead, kPrefix + L"V1.1.20240101"),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "Firmware27CheckCondition",
     .code = 27,
     .fault = sim::Fault::CheckCondition(0),
     .look = Connected(kAllRead, kPrefix + L"V1.120240101"),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "Firmware28CallFails",
     .code = 28,
     .fault = sim::Fault::CallFails(),
     .look = Connected(kAllRead, kFirmwareErrorLine),
     .openHandles = 1,
     .linkError = 8,
     .codes = kWholeSequence,
     .journal = AttemptOnE({{"get 14", "get 26", "get 27", "get 28 failed"},
                            kFirmwareError,
                            kSettingsRead,
                            kEnabled})},
    {.name = "Firmware28Short",
     .code = 28,
     .fault = sim::Fault::ShortAnswer(3),
     .look = Connected(kAllRead, kPrefix + L"V1.1.07202"),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "Firmware28CheckCondition",
     .code = 28,
     .fault = sim::Fault::CheckCondition(0),
     .look = Connected(kAllRead, kPrefix + L"V1.1.07"),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    // The settings: a failed read leaves its combo alone, a short answer reads as 0.
    {.name = "LoopCallFails",
     .code = 2,
     .fault = sim::Fault::CallFails(),
     .look = Connected({kNone, 1, 1}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence,
     .journal =
         AttemptOnE({{"get 14"},
                     kFirmwareRead,
                     {"pause 200", "get 2 failed", "pause 200", "get 1", "select IDC_RESOLUTION 1",
                      "pause 200", "get 11", "select IDC_TIMESTAMP 1"},
                     kEnabled})},
    {.name = "LoopWithoutData",
     .code = 2,
     .fault = sim::Fault::ShortAnswer(0),
     .look = Connected({0, 1, 1}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "LoopCheckConditionWithoutData",
     .code = 2,
     .fault = sim::Fault::CheckCondition(0),
     .look = Connected({0, 1, 1}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "LoopCheckConditionWithData",
     .code = 2,
     .fault = sim::Fault::CheckCondition(8),
     .look = Connected(kAllRead),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "ResolutionCallFails",
     .code = 1,
     .fault = sim::Fault::CallFails(),
     .look = Connected({1, kNone, 1}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence,
     .journal = AttemptOnE({{"get 14"},
                            kFirmwareRead,
                            {"pause 200", "get 2", "select IDC_OVERWRITE 1", "pause 200",
                             "get 1 failed", "pause 200", "get 11", "select IDC_TIMESTAMP 1"},
                            kEnabled})},
    {.name = "ResolutionWithoutData",
     .code = 1,
     .fault = sim::Fault::ShortAnswer(0),
     .look = Connected({1, 0, 1}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "ResolutionCheckCondition",
     .code = 1,
     .fault = sim::Fault::CheckCondition(0),
     .look = Connected({1, 0, 1}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "TimestampCallFails",
     .code = 11,
     .fault = sim::Fault::CallFails(),
     .look = Connected({1, 1, kNone}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence,
     .journal = AttemptOnE({{"get 14"},
                            kFirmwareRead,
                            {"pause 200", "get 2", "select IDC_OVERWRITE 1", "pause 200", "get 1",
                             "select IDC_RESOLUTION 1", "pause 200", "get 11 failed"},
                            kEnabled})},
    {.name = "TimestampWithoutData",
     .code = 11,
     .fault = sim::Fault::ShortAnswer(0),
     .look = Connected({1, 1, 0}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
    {.name = "TimestampCheckCondition",
     .code = 11,
     .fault = sim::Fault::CheckCondition(0),
     .look = Connected({1, 1, 0}),
     .openHandles = 1,
     .linkError = 0,
     .codes = kWholeSequence},
};

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
            world.UnplugCamera('E');
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
