// zelquin-cli, the real Linux program, against the guest's kernel: cameras served over USB/IP
// become /dev/sgN and /dev/sdX through usb-storage, sd and sg, and the tool finds, reads, sets,
// releases and watches them through SG_IO. Each row of the table is one run of the tool with its
// expected exit code, output and the camera's values afterwards (from the server's model); the
// scenarios below the table need steps in between (plugging during a watch, a held node).
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/guest/guest_fixture.h"
#include "tests/guest/scenario.h"
#include "tests/support/clock_bytes.h"

namespace {

using guest::Background;
using guest::Command;
using guest::CommandScenario;
using guest::GuestBench;
using guest::JsonLines;
using guest::Scenario;
using guest::Served;
using guest::WaitFor;
using guest::Watching;
using Json = nlohmann::json;

std::vector<std::string> Cli(std::vector<std::string> args) {
    args.insert(args.begin(), ZELQUIN_CLI);
    return args;
}

// The list's columns OVERWRITE, TIMESTAMP and RESOLUTION of one camera.
std::string Columns(const char* overwrite, const char* timestamp, const char* resolution) {
    char text[64];
    std::snprintf(text, sizeof text, "%-9s  %-9s  %s\n", overwrite, timestamp, resolution);
    return text;
}

const char kRefusedSense[] = "SCSI status 0x02 (CHECK CONDITION), sense key 0xB (ABORTED COMMAND)";

INSTANTIATE_TEST_SUITE_P(
    Cli, Command,
    ::testing::Values(
        // ---- finding cameras ----
        CommandScenario{
            .name = "NoCamera",
            .argv = Cli({"list"}),
            .exitCode = 3,
            .errContains = {"zelquin-cli: no camera found on /dev/sg*\nzelquin-cli:   there is no "
                            "SCSI generic device at all: is the camera plugged in and switched "
                            "on?\n"}},
        CommandScenario{.name = "NoCameraJson",
                        .argv = Cli({"status", "--json"}),
                        .exitCode = 3,
                        .outContains = {R"("kind":"no-camera")", R"("cameras":[],"drives":[])"}},
        CommandScenario{
            .name = "OnlyADiskIsNoCamera",
            .worlds = {"drive G removable scsi=disk\n"},
            .nodes = 1,
            .argv = Cli({"list", "-v"}),
            .exitCode = 3,
            .errContains = {"zelquin-cli: /dev/sg0 is not a camera (INQUIRY byte 3 is 2; a camera "
                            "answers 1)\n",
                            "no camera found"}},
        CommandScenario{
            .name = "CameraBesideADisk",
            .worlds = {"drive D removable scsi=disk\n"
                       "camera E overwrite=1 resolution=1 firmware=V1.0,.2024,B7\n"},
            .nodes = 2,
            .argv = Cli({"list"}),
            .outContains =
                {"DRIVE     STATE  READY  FIRMWARE     OVERWRITE  TIMESTAMP  RESOLUTION\n",
                 "  2      yes    V1.0.2024B7  " + Columns("on", "off", "720p")},
            .stateAfter = {{"mode", "command"}}},
        CommandScenario{
            .name = "CameraOfAnotherVendorBesideADisk",
            .worlds = {"drive D removable scsi=disk inquiry=2\ncamera E inquiry-vendor=ACME\n"},
            .nodes = 2,
            .argv = Cli({"list", "--json"}),
            .outContains = {R"("inquiry":{"vendor":"ACME","product":"DV CAMERA")",
                            R"("result":"not-camera","system_error":null,"inquiry_byte3":2)"}},
        CommandScenario{
            .name = "ListTwoCameras",
            .worlds = {"camera E resolution=1\n", "camera H overwrite=1 state=3\n"},
            .nodes = 2,
            .argv = Cli({"list"}),
            .outContains = {"/dev/sg0  ", "/dev/sg1  ",
                            "  2      yes    V1.1.0720240101  " + Columns("off", "off", "720p"),
                            "  3      yes    V1.1.0720240101  " + Columns("on", "off", "1080p")}},
        CommandScenario{
            .name = "ListTwoCamerasJson",
            .worlds = {"camera E\n", "camera H state=1\n"},
            .nodes = 2,
            .argv = Cli({"list", "--json"}),
            .outContains = {R"("drive":"/dev/sg0","inquiry":{"vendor":"KMZ","product":"DV CAMERA")",
                            R"("drive":"/dev/sg1")", R"("state":1,"ready":false)",
                            R"("state":2,"ready":true)"}},
        CommandScenario{
            .name = "StatusOfANamedCamera",
            .worlds = {"camera E timestamp=1\n"},
            .nodes = 1,
            .argv = Cli({"status", "--device", "sg0"}),
            .outContains = {"Camera on /dev/sg0\n  Identity:   KMZ DV CAMERA 1.00\n  State:      2 "
                            "(ready)\n  Firmware:   V1.1.0720240101\n  Overwrite:  off\n  Time "
                            "stamp: on\n  Resolution: 1080p\n"}},
        CommandScenario{.name = "CameraNamedByItsDisk",
                        .worlds = {"camera E\n"},
                        .nodes = 1,
                        .argv = Cli({"status", "--drive", "/dev/sda"}),
                        .outContains = {"Camera on /dev/sg0\n"}},
        CommandScenario{.name = "NamedNodeThatIsNotThere",
                        .worlds = {"camera E\n"},
                        .nodes = 1,
                        .argv = Cli({"status", "--device", "/dev/sg7"}),
                        .exitCode = 3,
                        .errContains = {"zelquin-cli: /dev/sg7: there is no such drive\n"}},
        CommandScenario{
            .name = "NamedDeviceThatCannotHoldACamera",
            .argv = Cli({"status", "--device", "/dev/tty1"}),
            .exitCode = 2,
            .errContains = {"'/dev/tty1' is not a drive that can hold a camera (/dev/sgN or sgN, "
                            "or a SCSI disk /dev/sdX)"}},
        // ---- a camera that is not ready ----
        CommandScenario{
            .name = "StatusOfACameraNotReady",
            .worlds = {"camera E state=1\n"},
            .nodes = 1,
            .argv = Cli({"status"}),
            .exitCode = 4,
            .errContains = {"zelquin-cli: /dev/sg0: the camera is not ready: its state is 1 (ready "
                            "is 2 or 3)\n"}},
        CommandScenario{.name = "SetOnACameraNotReadySendsNothing",
                        .worlds = {"camera E state=0 overwrite=0\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "overwrite=on", "--json"}),
                        .exitCode = 4,
                        .outContains = {R"("kind":"not-ready")", R"("state":0)"},
                        .stateAfter = {{"overwrite", "0"}}},
        // ---- each setting, read back ----
        CommandScenario{.name = "SetOverwriteOn",
                        .worlds = {"camera E overwrite=0\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "overwrite=on"}),
                        .outContains = {"/dev/sg0 overwrite=on confirmed\n"},
                        .stateAfter = {{"overwrite", "1"}}},
        CommandScenario{.name = "SetOverwriteOff",
                        .worlds = {"camera E overwrite=1\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "overwrite=off"}),
                        .outContains = {"/dev/sg0 overwrite=off confirmed\n"},
                        .stateAfter = {{"overwrite", "0"}}},
        CommandScenario{.name = "SetTimestampOn",
                        .worlds = {"camera E timestamp=0\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "timestamp=on"}),
                        .outContains = {"/dev/sg0 timestamp=on confirmed\n"},
                        .stateAfter = {{"timestamp", "1"}}},
        CommandScenario{.name = "SetTimestampOff",
                        .worlds = {"camera E timestamp=1\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "timestamp=off"}),
                        .outContains = {"/dev/sg0 timestamp=off confirmed\n"},
                        .stateAfter = {{"timestamp", "0"}}},
        CommandScenario{.name = "SetResolution720p",
                        .worlds = {"camera E resolution=0\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "resolution=720p"}),
                        .outContains = {"/dev/sg0 resolution=720p confirmed\n"},
                        .stateAfter = {{"resolution", "1"}}},
        CommandScenario{.name = "SetResolution1080p",
                        .worlds = {"camera E resolution=1\n"},
                        .nodes = 1,
                        .argv = Cli({"set", "resolution=1080p"}),
                        .outContains = {"/dev/sg0 resolution=1080p confirmed\n"},
                        .stateAfter = {{"resolution", "0"}}},
        CommandScenario{
            .name = "SetAllThreeJson",
            .worlds = {"camera E\n"},
            .nodes = 1,
            .argv = Cli({"set", "--device", "/dev/sda", "overwrite=on", "timestamp=on",
                         "resolution=720p", "--json"}),
            .outContains =
                {R"("setting":"overwrite","requested":{"value":1,"name":"on"},"read_back":{"value":1,"name":"on"},"confirmed":true)",
                 R"("setting":"timestamp","requested":{"value":1,"name":"on"},"read_back":{"value":1,"name":"on"},"confirmed":true)",
                 R"("setting":"resolution","requested":{"value":1,"name":"720p"},"read_back":{"value":1,"name":"720p"},"confirmed":true)"},
            .stateAfter = {{"overwrite", "1"}, {"timestamp", "1"}, {"resolution", "1"}}},
        // ---- the clock ----
        CommandScenario{.name = "SyncTime",
                        .worlds = {"camera E\n"},
                        .nodes = 1,
                        .argv = Cli({"sync-time"}),
                        .outContains = {"/dev/sg0 clock set to "},
                        .stateAfter = {{"dateset", "1"}, {"timeset", "1"}}},
        // ---- commands the camera refuses or cannot carry out ----
        CommandScenario{
            .name = "RefusedSetting",
            .worlds = {"camera E overwrite=0\nfault 2 check=0\n"},
            .nodes = 1,
            .argv = Cli({"set", "overwrite=on", "timestamp=on"}),
            .exitCode = 6,
            .outContains = {"/dev/sg0 overwrite=on FAILED\n", "/dev/sg0 timestamp=on confirmed\n"},
            .errContains = {std::string("zelquin-cli: /dev/sg0: the camera refused set loop "
                                        "recording (command 2): ") +
                            kRefusedSense},
            .stateAfter = {{"overwrite", "0"}, {"timestamp", "1"}}},
        CommandScenario{
            .name = "RefusedSettingJson",
            .worlds = {"camera E\nfault 2 check=0\n"},
            .nodes = 1,
            .argv = Cli({"set", "overwrite=on", "--json"}),
            .exitCode = 6,
            .outContains =
                {R"("kind":"refused","exit_code":6,"drive":"/dev/sg0")",
                 R"j("command":{"name":"set loop recording (command 2)","code":2,"form":"set"})j",
                 R"("status":2,"status_name":"CHECK CONDITION")",
                 R"("sense_key":11,"sense_key_name":"ABORTED COMMAND","asc":0,"ascq":0)"},
            .stateAfter = {{"overwrite", "0"}}},
        CommandScenario{.name = "RefusedClock",
                        .worlds = {"camera E\nfault 4 check=0\n"},
                        .nodes = 1,
                        .argv = Cli({"sync-time"}),
                        .exitCode = 6,
                        .errContains = {"the camera refused set date (command 4)"},
                        .stateAfter = {{"dateset", "0"}, {"timeset", "0"}}},
        CommandScenario{
            .name = "ShortAnswer",
            .worlds = {"camera E\nfault 14 short=0\n"},
            .nodes = 1,
            .argv = Cli({"status"}),
            .exitCode = 6,
            .errContains = {"the camera answered get camera state (command 14) with 0 of the 8 "
                            "bytes it must send"}},
        // The clock command carried out, but its answer cut short: no confirmation.
        CommandScenario{
            .name = "ClockAnsweredWithoutItsData",
            .worlds = {"camera E\nfault 3 short=0\n"},
            .nodes = 1,
            .argv = Cli({"sync-time"}),
            .exitCode = 6,
            .errContains = {"the camera answered set time (command 3) with 0 of the 8 bytes it "
                            "must send"}},
        CommandScenario{
            .name = "CommandThatFailsOnTheBus",
            .worlds = {"camera E\nfault 11 fails\n"},
            .nodes = 1,
            .argv = Cli({"status", "--json"}),
            .exitCode = 5,
            .outContains = {R"("kind":"system-error")",
                            R"j("command":{"name":"get time-stamp display (command 11)")j",
                            R"("system_error":{"code":5,"text":"Input/output error"})"}},
        // ---- storage mode ----
        CommandScenario{
            .name = "ReleaseOnItsOwnDisk",
            .worlds = {"camera E\n"},
            .nodes = 1,
            .argv = Cli({"release"}),
            .outContains = {"/dev/sda\n"},
            .errContains = {"zelquin-cli: /dev/sg0: the volume is not mounted; its block device is "
                            "/dev/sda\n"},
            .stateAfter = {{"mode", "storage"}, {"releases", "1"}}},
        CommandScenario{
            .name = "ReleaseAsANewDevice",
            .worlds = {"camera E\nstorage letter=F\n"},
            .nodes = 1,
            .argv = Cli({"release", "--json"}),
            .outContains = {R"("volume":"/dev/sd)", R"("opened":null)",
                            R"("notes":["the volume is not mounted; its block device is /dev/sd)"},
            .stateAfter = {{"mode", "storage"}, {"releases", "1"}}},
        CommandScenario{.name = "ReleaseOfACameraNotReady",
                        .worlds = {"camera E state=1\n"},
                        .nodes = 1,
                        .argv = Cli({"release"}),
                        .exitCode = 4,
                        .errContains = {"the camera is not ready"},
                        .stateAfter = {{"mode", "command"}, {"releases", "0"}}},
        CommandScenario{.name = "ReleaseOpenWithNothingMounted",
                        .worlds = {"camera E\n"},
                        .nodes = 1,
                        .argv = Cli({"release", "--open"}),
                        .exitCode = 5,
                        .outContains = {"/dev/sda\n"},
                        .errContains = {"the volume is not mounted; its block device is /dev/sda",
                                        "the file manager could not be started on /dev/sda"},
                        .stateAfter = {{"mode", "storage"}}},
        // ---- the watch ----
        CommandScenario{
            .name = "WatchTimesOutWithoutACamera",
            .argv = Cli({"watch", "--timeout", "2", "--json"}),
            .exitCode = 3,
            .outContains = {R"("event":"stopped","reason":"timeout","cameras":0,"exit_code":3)"}},
        // ---- access ----
        CommandScenario{
            .name = "UnprivilegedList",
            .worlds = {"camera E\n"},
            .nodes = 1,
            .argv = Cli({"list"}),
            .unprivileged = true,
            .exitCode = 3,
            .errContains =
                {"zelquin-cli: /dev/sg0 could not be opened: permission denied on "
                 "/dev/sg0 (owner root, group root, mode 0600): only root may open it; "
                 "install the camera's udev rule",
                 "(system error 13)\n",
                 "no camera found on /dev/sg*; one drive could not be opened and may hold "
                 "one\n"}},
        CommandScenario{
            .name = "UnprivilegedNamedCameraJson",
            .worlds = {"camera E\n"},
            .nodes = 1,
            .argv = Cli({"status", "--device", "/dev/sg0", "--json"}),
            .unprivileged = true,
            .exitCode = 5,
            .outContains = {R"("kind":"system-error")",
                            R"("system_error":{"code":13,"text":"permission denied on /dev/sg0)"}},
        // A disk the user may not open is told apart by the kernel's copy of its INQUIRY answer:
        // it is no camera, not a failure.
        CommandScenario{
            .name = "UnprivilegedDiskIsPassedOver",
            .worlds = {"drive G removable scsi=disk\n"},
            .nodes = 1,
            .argv = Cli({"list", "--json"}),
            .unprivileged = true,
            .exitCode = 3,
            .outContains =
                {R"("drives":[{"drive":"/dev/sg0","result":"not-camera","system_error":null,"inquiry_byte3":2}])",
                 R"("message":"no camera found on /dev/sg*")"}}),
    [](const ::testing::TestParamInfo<CommandScenario>& param) {
        return std::string(param.param.name);
    });

// ---- steps in between ----

using Tool = Scenario;

// The camera is unplugged while the watch runs and plugged in again: the unplugging is no
// arrival, and the camera that comes back has its clock set and its setting applied.
TEST_F(Tool, WatchSetsUpTheCameraPluggedInAgain) {
    const std::string world = "camera E resolution=0\n";
    Served& camera = Plug(world);
    Background watch(Cli(
        {"watch", "--sync-time", "--set", "resolution=720p", "--count", "1", "--timeout", "120"}));
    ASSERT_TRUE(WaitFor([&] { return Watching(watch.pid()); })) << "the watch did not start";

    camera.Rewrite("");
    ASSERT_TRUE(WaitFor([] { return GuestBench::NodeCount() == 0; })) << "not unplugged";
    EXPECT_EQ(watch.OutSoFar(), "") << "the unplugging was taken for an arrival";
    camera.Rewrite(world);

    const guest::CommandResult run = watch.Wait(std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::tm now{};
    const std::time_t seconds = std::time(nullptr);
    localtime_r(&seconds, &now);
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d", &now);
    EXPECT_NE(run.out.find(" arrived: state 2 (ready); clock set to " + std::string(today)),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("); resolution=720p confirmed\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.rfind("/dev/sg", 0), 0u) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    const auto state = camera.State();
    EXPECT_EQ(state.at("dateset"), "1");
    EXPECT_EQ(state.at("timeset"), "1");
    EXPECT_EQ(state.at("resolution"), "1");
}

// Two cameras plugged in together (two devices on the bus at once): the watch sets up both,
// each once, with its clock set and its setting applied.
TEST_F(Tool, WatchSetsUpTwoCamerasPluggedInTogether) {
    Background watch(
        Cli({"watch", "--sync-time", "--set", "overwrite=on", "--count", "2", "--timeout", "120"}));
    ASSERT_TRUE(WaitFor([&] { return Watching(watch.pid()); })) << "the watch did not start";
    Served& first = bench->Serve("camera E overwrite=0\n");
    Served& second = bench->Serve("camera H overwrite=0 state=3\n");
    bench->Attach();

    const guest::CommandResult run = watch.Wait(std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    for (const std::string node : {"/dev/sg0", "/dev/sg1"}) {
        EXPECT_NE(run.out.find(node + " arrived: state "), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("state 2 (ready); clock set to "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("state 3 (ready); clock set to "), std::string::npos) << run.out;
    for (Served* camera : {&first, &second}) {
        const auto state = camera->State();
        EXPECT_EQ(state.at("dateset"), "1");
        EXPECT_EQ(state.at("timeset"), "1");
        EXPECT_EQ(state.at("overwrite"), "1");
    }
}

// A camera that leaves the bus after the release command and comes back a few seconds later as
// its storage disk: the attach client is stopped, so the storage disk is imported only when the
// scenario starts it again. The tool waits through the time without a disk and takes the new one.
TEST_F(Tool, ReleaseWaitsForTheStorageDiskThatComesBackLater) {
    Served& camera = Plug("camera E\nstorage letter=F\n");
    bench->StopAttach();
    Background release(Cli({"release", "--timeout", "60"}));
    ASSERT_TRUE(WaitFor([] { return GuestBench::NodeCount() == 0; })) << "the camera stayed";
    EXPECT_EQ(camera.State().at("mode"), "storage");
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the camera takes its time
    EXPECT_EQ(release.OutSoFar(), "") << "a volume was told while the camera was away";
    bench->Attach();

    const guest::CommandResult run = release.Wait(std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("/dev/sd", 0), 0u) << run.out;
    EXPECT_NE(run.err.find("the volume is not mounted; its block device is /dev/sd"),
              std::string::npos)
        << run.err;
}

// JSON lines as cameras arrive, then Ctrl+C: the watch stops cleanly with its last line.
TEST_F(Tool, WatchInJsonEndsCleanlyOnCtrlC) {
    Background watch(Cli({"watch", "--json", "--set", "overwrite=on"}));
    ASSERT_TRUE(WaitFor([&] { return Watching(watch.pid()); })) << "the watch did not start";
    Served& camera = Plug("camera E overwrite=0\n");
    ASSERT_TRUE(WaitFor([&] { return watch.OutSoFar().find('\n') != std::string::npos; }))
        << "no arrival line";
    watch.Signal(SIGINT);
    const guest::CommandResult run = watch.Wait(std::chrono::seconds(30));
    // Kept before any check, so that the schema check sees what the tool wrote whatever this
    // scenario's own verdict.
    guest::KeepJson(Name(), run.out);

    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<Json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0]["event"], "arrival");
    EXPECT_EQ(lines[0]["exit_code"], 0);
    EXPECT_EQ(lines[0]["camera"]["drive"], "/dev/sg0");
    EXPECT_EQ(lines[0]["camera"]["changes"][0]["confirmed"], true);
    EXPECT_EQ(lines[1]["event"], "stopped");
    EXPECT_EQ(lines[1]["reason"], "interrupted");
    EXPECT_EQ(lines[1]["cameras"], 1);
    EXPECT_EQ(camera.State()["overwrite"], "1");
}

// A camera the watching user may not open: the arrival is told as a failure with what grants
// access, and decides the exit code.
TEST_F(Tool, WatchTellsACameraTheUserMayNotOpen) {
    Background watch(Cli({"watch", "--count", "1", "--timeout", "120"}), guest::kNobody,
                     guest::kNogroup);
    ASSERT_TRUE(WaitFor([&] { return Watching(watch.pid()); })) << "the watch did not start";
    Plug("camera E\n");
    const guest::CommandResult run = watch.Wait(std::chrono::seconds(60));

    EXPECT_EQ(run.exitCode, 5) << run.out << run.err;
    EXPECT_NE(run.out.find("/dev/sg0 arrived: FAILED (system-error)\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("permission denied on /dev/sg0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("udev rule"), std::string::npos) << run.err;
}

// The bytes the clock commands carried are the local time the tool reports, and they reached
// the camera.
TEST_F(Tool, SyncTimeSendsTheLocalTime) {
    Served& camera = Plug("camera E\n");
    const std::time_t before = std::time(nullptr);
    const guest::CommandResult run = guest::RunCommand(Cli({"sync-time", "--json"}));
    guest::KeepJson(Name(), run.out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json document = Json::parse(run.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.out;
    const Json& clock = document["cameras"][0]["clock"];
    ASSERT_TRUE(clock.is_object()) << run.out;

    char sent[40];
    std::snprintf(sent, sizeof sent, "%02X,%02X,%02X", clock["date"][0].get<int>(),
                  clock["date"][1].get<int>(), clock["date"][2].get<int>());
    EXPECT_EQ(camera.State()["date"], sent);
    std::snprintf(sent, sizeof sent, "%02X,%02X,%02X", clock["time"][0].get<int>(),
                  clock["time"][1].get<int>(), clock["time"][2].get<int>());
    EXPECT_EQ(camera.State()["time"], sent);

    std::tm local{};
    localtime_r(&before, &local);
    std::tm told{};
    ASSERT_NE(strptime(clock["local_time"].get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%S", &told),
              nullptr);
    // The bytes of that local time (the clock table's rule, tests/support/clock_bytes.h).
    const zqtest::LocalClock toldClock = {told.tm_year + 1900, told.tm_mon + 1, told.tm_mday,
                                          told.tm_hour,        told.tm_min,     told.tm_sec};
    EXPECT_EQ(clock["date"], Json(zqtest::ClockDateArgs(toldClock)));
    EXPECT_EQ(clock["time"], Json(zqtest::ClockTimeArgs(toldClock)));
    // The guest's own clock, not some other: the same day as the scenario's.
    EXPECT_EQ(told.tm_year, local.tm_year);
    EXPECT_EQ(told.tm_yday, local.tm_yday);
}

// The vendor commands the server's log shows, each with when it came (t=, milliseconds).
struct LoggedCommand {
    long long ms;
    int code;
};

std::vector<LoggedCommand> VendorCommands(const std::string& logPath) {
    std::vector<LoggedCommand> commands;
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line)) {
        const std::size_t t = line.find(" t=");
        const std::size_t cdb = line.find(" cdb=FA 55 66 FE ");
        if (t == std::string::npos || cdb == std::string::npos) {
            continue;
        }
        // The code is byte 7 of the block.
        const std::string code = line.substr(cdb + 5 + 7 * 3, 2);
        commands.push_back({std::stoll(line.substr(t + 3)), std::stoi(code, nullptr, 16)});
    }
    return commands;
}

// On the guest's kernel the camera gets the panel's order and its pauses: every operation after
// the state query waits the pace, and the firmware pieces follow the state query at once.
TEST_F(Tool, CommandsComeInThePanelsOrderWithItsPauses) {
    Served& camera = Plug("camera E\n");
    const guest::CommandResult status = guest::RunCommand(Cli({"status"}));
    ASSERT_EQ(status.exitCode, 0) << status.err;
    const guest::CommandResult set =
        guest::RunCommand(Cli({"--pace", "700", "set", "timestamp=on"}));
    ASSERT_EQ(set.exitCode, 0) << set.err;

    const std::vector<LoggedCommand> commands = VendorCommands(camera.logPath());
    std::vector<int> codes;
    for (const LoggedCommand& command : commands) {
        codes.push_back(command.code);
    }
    ASSERT_EQ(codes, (std::vector<int>{14, 26, 27, 28, 2, 1, 11, 14, 11, 11}));
    // status: a pause of 200 ms before each setting read.
    for (std::size_t i = 4; i < 7; ++i) {
        EXPECT_GE(commands[i].ms - commands[i - 1].ms, 200) << "before command " << codes[i];
    }
    // set with --pace 700: before the set and before its read-back.
    for (std::size_t i = 8; i < 10; ++i) {
        EXPECT_GE(commands[i].ms - commands[i - 1].ms, 700) << "before command " << codes[i];
    }
    EXPECT_EQ(camera.State()["timestamp"], "1");
}

// A node another program holds exclusively is busy, which is neither "not there" nor "not
// allowed".
TEST_F(Tool, BusyNodeIsToldApart) {
    Plug("camera E\n");
    const int holder = open("/dev/sg0", O_RDWR | O_EXCL | O_NONBLOCK);
    ASSERT_GE(holder, 0) << std::strerror(errno);
    const guest::CommandResult named = guest::RunCommand(Cli({"status", "--device", "/dev/sg0"}));
    const guest::CommandResult any = guest::RunCommand(Cli({"status"}));
    close(holder);
    const guest::CommandResult free = guest::RunCommand(Cli({"status"}));

    EXPECT_EQ(named.exitCode, 5);
    EXPECT_NE(named.err.find("zelquin-cli: /dev/sg0: could not be opened: device busy: /dev/sg0 "
                             "is held open exclusively by another program; close it and try "
                             "again (system error 16)\n"),
              std::string::npos)
        << named.err;
    EXPECT_EQ(any.exitCode, 3);
    EXPECT_NE(any.err.find("one drive could not be opened and may hold one"), std::string::npos)
        << any.err;
    EXPECT_EQ(free.exitCode, 0) << free.err;
}

// ---- the udev rule ----

using Udev = Scenario;

struct UdevVerdict {
    bool uaccess = false;  // TAGS holds "uaccess"
    std::string group;     // the GROUP our rule assigned ("" when it assigned none)
    std::string mode;      // the MODE our rule assigned
};

// What udev's own rule engine makes of the device at `syspath`, with the camera's rule installed
// beside the system's rules (udevadm test needs no udev daemon).
UdevVerdict UdevTest(const std::string& syspath) {
    const guest::CommandResult run =
        guest::RunCommand({"udevadm", "test", "--action=add", syspath}, std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << syspath << ":\n" << run.out << run.err;
    UdevVerdict verdict;
    std::istringstream lines(run.out + run.err);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("TAGS=", 0) == 0) {
            verdict.uaccess = line.find(":uaccess:") != std::string::npos;
        }
        const std::size_t rule = line.find("70-zelquin-camera.rules:");
        if (rule == std::string::npos) {
            continue;
        }
        std::istringstream words(line.substr(rule));
        std::string where, key, value;
        words >> where >> key >> value;
        if (key == "GROUP") {
            verdict.group = value;
        } else if (key == "MODE") {
            verdict.mode = value;
        }
    }
    return verdict;
}

// Byte 3 of the INQUIRY data the kernel keeps of the SCSI device behind `syspath`; -1 without.
int KernelMark(const std::string& syspath) {
    std::ifstream in(syspath + "/device/inquiry", std::ios::binary);
    char bytes[4] = {};
    return in.read(bytes, sizeof bytes) ? static_cast<unsigned char>(bytes[3]) : -1;
}

// The rule as udev applies it to the nodes the kernel made for a camera whose vendor name is not
// KMZ and a memory stick whose INQUIRY byte 3 is 2: the camera's SCSI generic node and disk are
// the seat user's (and the SCSI generic node the group plugdev's), the stick's nodes are left
// alone. The rule's helper is taken from the source tree (this system's /usr/lib/udev is not
// ours to write), named by its path in the copy of the rule.
TEST_F(Udev, RuleGivesTheCameraAloneToTheUserAtTheSeat) {
    Plug("drive D removable scsi=disk inquiry=2\ncamera E inquiry-vendor=ACME\n", 2);
    const std::string installed = "/run/udev/rules.d/70-zelquin-camera.rules";
    std::filesystem::create_directories("/run/udev/rules.d");
    std::string rule;
    {
        std::ifstream in(ZQ_UDEV_RULE);
        rule.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string helper = "\"zelquin-camera-mark ";
    const std::size_t at = rule.find(helper);
    ASSERT_NE(at, std::string::npos) << "the rule names no helper";
    rule.replace(
        at + 1, helper.size() - 2,
        (std::filesystem::path(ZQ_UDEV_RULE).parent_path() / "zelquin-camera-mark").string());
    std::ofstream(installed) << rule;
    const group* plugdev = getgrnam("plugdev");
    ASSERT_NE(plugdev, nullptr) << "no group plugdev on this system";
    const std::string plugdevGid = std::to_string(plugdev->gr_gid);

    int cameraNodes = 0;
    int otherNodes = 0;
    std::vector<std::string> syspaths;
    for (const char* folder : {"/sys/class/scsi_generic", "/sys/block"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            syspaths.push_back(entry.path().string());
        }
    }
    for (const std::string& syspath : syspaths) {
        std::ifstream in(syspath + "/device/vendor");
        std::string vendor;
        in >> vendor;
        const int mark = KernelMark(syspath);
        SCOPED_TRACE(syspath + " " + vendor + " byte 3 " + std::to_string(mark));
        const bool camera = mark == 1;
        EXPECT_EQ(camera, vendor == "ACME") << "the world's devices are not as planned";
        const bool generic = syspath.find("scsi_generic") != std::string::npos;
        const UdevVerdict verdict = UdevTest(syspath);
        EXPECT_EQ(verdict.uaccess, camera);
        EXPECT_EQ(verdict.group, camera && generic ? plugdevGid : "");
        EXPECT_EQ(verdict.mode, camera && generic ? "0660" : "");
        ++(camera ? cameraNodes : otherNodes);
    }
    std::filesystem::remove(installed);
    EXPECT_EQ(cameraNodes, 2) << "the camera's SCSI generic node and disk";
    EXPECT_EQ(otherNodes, 2) << "the stick's SCSI generic node and disk";
}

}  // namespace
