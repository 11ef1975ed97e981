// Commands over every camera: the cameras are worked on at the same time, each with a handle of its
// own, and still reported in drive order with the exit code of the first camera that failed,
// however long each camera takes to answer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "link/camera.h"
#include "os/os.h"
#include "tests/cli/cli_fixture.h"

namespace {

using zqtest::Json;

// What happens to a camera while the command works on it.
enum class Fate {
    kFine,
    kNotReady,      // its state is 0
    kKeepsNothing,  // it accepts the set of the time stamp and keeps the old value
    kGoesAway,      // it is unplugged right after its state query
};

struct CameraSetUp {
    char letter;
    std::uint32_t delayMs;  // how long it takes over each command
    Fate fate;
};

struct Row {
    const char* name;
    std::vector<CameraSetUp> cameras;
    std::vector<std::string> args;
    int exit;
    std::string errorDrive;             // the drive of the deciding failure; empty: none
    std::vector<std::string> reported;  // per camera in the report: "E: ok", "G: not-ready"
    std::string outDrives;              // the drives of standard output's lines, in order
    std::string errDrives;              // the drives of standard error's lines, in order
};

const std::vector<Row> kRows = {
    {.name = "ListSlowestFirst",
     .cameras = {{'E', 8, Fate::kFine},
                 {'G', 4, Fate::kFine},
                 {'H', 0, Fate::kFine},
                 {'J', 2, Fate::kFine}},
     .args = {"list"},
     .exit = 0,
     .errorDrive = "",
     .reported = {"E: ok", "G: ok", "H: ok", "J: ok"},
     .outDrives = "EGHJ",
     .errDrives = ""},
    {.name = "ListOfAFastCameraThatGoesAway",
     .cameras = {{'E', 6, Fate::kFine}, {'G', 0, Fate::kGoesAway}, {'H', 0, Fate::kNotReady}},
     .args = {"list"},
     .exit = 5,
     .errorDrive = "G:",
     .reported = {"E: ok", "G: system-error", "H: ok"},
     .outDrives = "EGH",
     .errDrives = "G"},
    {.name = "SetDecidedByTheSlowFirstCamera",
     .cameras = {{'E', 8, Fate::kKeepsNothing}, {'G', 0, Fate::kNotReady}, {'H', 1, Fate::kFine}},
     .args = {"set", "--all", "timestamp=on"},
     .exit = 7,
     .errorDrive = "E:",
     .reported = {"E: mismatch", "G: not-ready", "H: ok"},
     .outDrives = "EH",
     .errDrives = "EG"},
    {.name = "SetDecidedByAFastLaterCamera",
     .cameras = {{'E', 8, Fate::kFine}, {'G', 3, Fate::kNotReady}, {'H', 0, Fate::kKeepsNothing}},
     .args = {"set", "--all", "timestamp=on"},
     .exit = 4,
     .errorDrive = "G:",
     .reported = {"E: ok", "G: not-ready", "H: mismatch"},
     .outDrives = "EH",
     .errDrives = "GH"},
    {.name = "StatusWhereACameraGoesAway",
     .cameras = {{'E', 0, Fate::kFine}, {'G', 6, Fate::kGoesAway}, {'H', 0, Fate::kNotReady}},
     .args = {"status", "--all"},
     .exit = 5,
     .errorDrive = "G:",
     .reported = {"E: ok", "G: system-error", "H: not-ready"},
     .outDrives = "EGH",
     .errDrives = "GH"},
    {.name = "SyncTimeOverEveryCamera",
     .cameras = {{'E', 5, Fate::kFine}, {'G', 0, Fate::kFine}, {'H', 2, Fate::kNotReady}},
     .args = {"sync-time", "--all"},
     .exit = 4,
     .errorDrive = "H:",
     .reported = {"E: ok", "G: ok", "H: not-ready"},
     .outDrives = "EG",
     .errDrives = "H"},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// The drives named at the start of each line ("E: ...", "zelquin-cli: E: ...", "Camera on E:"),
// one letter per run of lines on the same drive.
std::string DrivesOfLines(const std::string& text) {
    std::string drives;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, end - at);
        for (const std::string prefix : {"zelquin-cli: ", "Camera on "}) {
            if (line.rfind(prefix, 0) == 0) {
                line = line.substr(prefix.size());
            }
        }
        if (line.size() >= 2 && line[1] == ':' && line[0] >= 'A' && line[0] <= 'Z' &&
            (drives.empty() || drives.back() != line[0])) {
            drives += line[0];
        }
        at = end + 1;
    }
    return drives;
}

class ManyCamerasTest : public zqtest::CliTest, public ::testing::WithParamInterface<Row> {
  protected:
    // A disk on D:, a drive on F: that cannot be opened, and the cameras with their fates.
    void LayOut(const std::vector<CameraSetUp>& cameras) {
        world.AddDisk('D');
        world.AddDrive('F', os::kDriveRemovable).opens = false;
        std::map<char, Fate> fates;
        for (const CameraSetUp& setUp : cameras) {
            sim::Camera& camera = world.PlugCamera(setUp.letter);
            camera.answerDelayMs = setUp.delayMs;
            camera.state = setUp.fate == Fate::kNotReady ? 0 : 2;
            fates[setUp.letter] = setUp.fate;
        }
        // Under the world's lock, like every call: the fates take effect between two calls.
        world.SetObserver([this, fates](const sim::Event& event) {
            const auto found = fates.find(event.letter);
            if (found == fates.end()) {
                return;
            }
            if (found->second == Fate::kKeepsNothing &&
                event.VendorCode() == kCmdTimestampDisplay && event.cdb[4] == 0x06) {
                world.CameraOn(event.letter)->timestampDisplay = 0;
            }
            if (found->second == Fate::kGoesAway && event.VendorCode() == kCmdCameraState) {
                world.RemoveDrive(event.letter);
            }
        });
    }
};

TEST_P(ManyCamerasTest, ReportInDriveOrderAndExitWithTheFirstFailure) {
    const Row& row = GetParam();

    LayOut(row.cameras);
    const zqtest::ToolRun text = Run(row.args);
    EXPECT_EQ(text.exit, row.exit) << text.err;
    EXPECT_EQ(DrivesOfLines(text.out), row.outDrives) << text.out;
    // F: could not be opened: told after the cameras, whatever the command.
    EXPECT_EQ(DrivesOfLines(text.err), row.errDrives + "F") << text.err;

    world.Reset();
    LayOut(row.cameras);
    const Json document = RunJson(row.args, row.exit);
    std::vector<std::string> reported;
    for (const Json& camera : document["cameras"]) {
        reported.push_back(camera["drive"].get<std::string>() + " " +
                           (camera["error"].is_null()
                                ? std::string("ok")
                                : camera["error"]["kind"].get<std::string>()));
    }
    EXPECT_EQ(reported, row.reported);
    EXPECT_EQ(document["error"].is_null() ? "" : document["error"]["drive"].get<std::string>(),
              row.errorDrive);
    ASSERT_EQ(document["drives"].size(), 2u);
    EXPECT_EQ(document["drives"][0]["drive"], "D:");
    EXPECT_EQ(document["drives"][1]["drive"], "F:");
    EXPECT_EQ(document["drives"][1]["result"], "open-failed");
}

INSTANTIATE_TEST_SUITE_P(Cameras, ManyCamerasTest, ::testing::ValuesIn(kRows), zqtest::ByName());

class ManyCamerasHandlesTest : public zqtest::CliTest {};

// Every camera is opened once, on a handle of its own, which carries all its commands and is
// closed once; the disk is opened and closed again by its probe.
TEST_F(ManyCamerasHandlesTest, EachCameraHasItsOwnHandleOpenedAndClosedOnce) {
    world.AddDisk('D');
    world.PlugCamera('E').answerDelayMs = 3;
    world.PlugCamera('G');
    world.PlugCamera('K').answerDelayMs = 1;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                                 {"status", "--all"},
                                                 {"set", "--all", "overwrite=on"},
                                                 {"sync-time", "--all"}}) {
        SCOPED_TRACE(args[0]);
        world.ClearTrace();
        const std::size_t openedBefore = world.TotalOpened();

        const zqtest::ToolRun run = Run(args);

        ASSERT_EQ(run.exit, 0) << run.err;
        std::map<char, std::set<os::Handle>> opened;
        std::map<os::Handle, int> closes;
        std::map<char, std::set<os::Handle>> used;
        for (const sim::Event& event : world.events()) {
            if (event.call == sim::Call::kCreateFile && event.result) {
                opened[event.letter].insert(event.handle);
            } else if (event.call == sim::Call::kCloseHandle && event.result) {
                ++closes[event.handle];
            } else if (event.IsPassThrough()) {
                used[event.letter].insert(event.handle);
            }
        }
        std::set<os::Handle> handles;
        for (const char letter : {'D', 'E', 'G', 'K'}) {
            SCOPED_TRACE(letter);
            ASSERT_EQ(opened[letter].size(), 1u) << "opened once";
            const os::Handle handle = *opened[letter].begin();
            EXPECT_EQ(used[letter], std::set<os::Handle>{handle}) << "every command on it";
            EXPECT_EQ(closes[handle], 1) << "closed once";
            handles.insert(handle);
        }
        EXPECT_EQ(handles.size(), 4u) << "no two drives share a handle";
        EXPECT_EQ(world.TotalOpened() - openedBefore, 4u);
        EXPECT_EQ(world.OpenHandleCount(), 0u);
    }
}

// The cameras are worked on at the same time: each camera's first pause waits here until every
// camera has come to its own. Were they worked on one after the other, the first would wait in
// vain (the wait gives up after a while, so that such a fault fails the test and does not hang).
TEST_F(ManyCamerasHandlesTest, CamerasAreWorkedOnAtTheSameTime) {
    constexpr int kCameras = 5;
    world.AddDisk('D');
    world.PlugCamera('E');
    for (const char letter : {'G', 'H', 'K', 'M'}) {
        world.PlugCamera(letter);
    }
    std::mutex mutex;
    std::condition_variable allThere;
    int arrived = 0;
    int waitedInVain = 0;
    sim::TheSystem().SetObserver([&](const sim::SystemEvent& event) {
        if (event.call != sim::SystemCall::kSleep) {
            return;
        }
        std::unique_lock lock(mutex);
        if (arrived >= kCameras) {
            return;  // a later pause
        }
        ++arrived;
        allThere.notify_all();
        if (!allThere.wait_for(lock, std::chrono::seconds(10),
                               [&arrived, kCameras] { return arrived >= kCameras; })) {
            ++waitedInVain;
        }
    });

    const zqtest::ToolRun run = Run({"list"});

    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(arrived, kCameras);
    EXPECT_EQ(waitedInVain, 0);
    EXPECT_EQ(DrivesOfLines(run.out), "EGHKM");
}

}  // namespace
