// A world kept in step with its world file: the first reading, the notes in the trace, a file that
// is missing, wrong, fixed, gone or back, and where the trace goes.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "os/os.h"
#include "sim/live_world_file.h"

#include "temp_folder.h"
#include "tests/support/sim_test.h"

namespace {

TEST(TracePath, TheOverrideThenTheWorldFilesLineThenTheDefault) {
    struct Case {
        const char* name;
        std::optional<std::wstring> override;
        std::optional<std::string> traceLine;
        std::wstring path;
    };
    const Case cases[] = {
        {"nothing named", std::nullopt, std::nullopt, L"C:\\exe\\zelquin-sim-trace.txt"},
        {"a relative trace line", std::nullopt, "t\\trace.txt", L"D:\\sim\\t\\trace.txt"},
        {"an absolute trace line", std::nullopt, "E:\\t.txt", L"E:\\t.txt"},
        {"a trace line from the root", std::nullopt, "/tmp/t.txt", L"/tmp/t.txt"},
        {"a trace line in UTF-8", std::nullopt, "caf\xC3\xA9.txt", L"D:\\sim\\caf\u00E9.txt"},
        {"the override wins", L"F:\\o.txt", "t.txt", L"F:\\o.txt"},
    };
    for (const Case& c : cases) {
        const sim::WorldFilePlaces places = {L"D:\\sim\\world.txt", c.override,
                                             L"C:\\exe\\zelquin-sim-trace.txt"};
        EXPECT_EQ(sim::TracePath(places, c.traceLine), c.path) << c.name;
    }
    EXPECT_EQ(sim::TracePath({L"world.txt", std::nullopt, L"d.txt"}, "t.txt"), L"t.txt")
        << "a world file named without a folder";
}

class LiveWorldFileTest : public zqtest::SimTest {
  protected:
    sim::LiveWorldFile& Live(std::optional<std::wstring> traceOverride = std::nullopt) {
        live_.emplace(world, trace_,
                      sim::WorldFilePlaces{folder_.Wide("world.txt"), std::move(traceOverride),
                                           folder_.Wide("default-trace.txt")},
                      "Zelquin-sim");
        return *live_;
    }

    std::string WorldPath() const { return folder_.Path("world.txt").string(); }

    // The notes written since the last call, from the trace file `name`.
    std::vector<std::string> NewLines(const std::string& name = "default-trace.txt") {
        const std::vector<std::string> lines = folder_.Lines(name);
        std::size_t& seen = seen_[name];
        std::vector<std::string> fresh(lines.begin() + static_cast<std::ptrdiff_t>(seen),
                                       lines.end());
        seen = lines.size();
        return fresh;
    }

    bool CameraFound() {
        std::int32_t err = 0;
        return FindCamera(err);
    }

    simtest::TempFolder folder_;
    sim::TraceWriter trace_;
    std::optional<sim::LiveWorldFile> live_;
    std::map<std::string, std::size_t> seen_;
};

TEST_F(LiveWorldFileTest, WithoutAFileTheComputerIsEmptyUntilOneAppears) {
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    EXPECT_EQ(NewLines(),
              std::vector<std::string>{"# Zelquin-sim: no world file at " + WorldPath() +
                                       "; an empty computer, no drives and no camera"});
    EXPECT_EQ(live.applied(), nullptr);
    EXPECT_FALSE(CameraFound());

    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{}) << "nothing changed, nothing said";

    folder_.Write("world.txt", "drive C fixed\ncamera E\n");
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    ASSERT_NE(live.applied(), nullptr);
    EXPECT_EQ(live.applied()->cameras.size(), 1u);
    EXPECT_TRUE(world.drive('C').present);
    EXPECT_TRUE(CameraFound());
}

TEST_F(LiveWorldFileTest, ReadsTheFileOnceAndAgainOnlyWhenItChanged) {
    folder_.Write("world.txt", "camera E overwrite=0\n");
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read: " + WorldPath()});
    ASSERT_TRUE(CameraFound());
    std::int32_t err = 0;
    ASSERT_TRUE(SetLoopRecording(1, err));

    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{});
    EXPECT_EQ(world.camera().loopRecording, 1) << "an unchanged file is not laid out again";

    // Same size, later time of writing: read again, the camera's own setting kept.
    folder_.Write("world.txt", "camera E overwrite=0\n");
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    EXPECT_EQ(world.camera().loopRecording, 1);

    folder_.Write("world.txt", "camera E overwrite=0 state=3\n");
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    EXPECT_EQ(world.camera().state, 3);
}

TEST_F(LiveWorldFileTest, AFileWithErrorsIsNotTakenAndTheWorldStaysAsItWas) {
    folder_.Write("world.txt", "drive C fixed\ncamera E\n");
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    ASSERT_TRUE(CameraFound());
    const os::Handle camera = g_hCamera;
    NewLines();

    folder_.Write("world.txt", "drive C fixed\ncamera E colour=red\n\nplug F\n");
    live.Refresh();
    EXPECT_EQ(NewLines(),
              (std::vector<std::string>{
                  "# world file " + WorldPath() + " not taken, the world stays as it is:",
                  "#   line 2: unknown key \"colour\" in a camera line",
                  "#   line 4: unknown statement \"plug\" (drive, camera, storage, fault, trace, "
                  "notify, hostile)"}));
    EXPECT_TRUE(world.IsOpenHandle(camera));
    ASSERT_NE(live.applied(), nullptr);
    EXPECT_EQ(live.applied()->cameras.size(), 1u)
        << "the description applied is still the last good one";

    // Fixed: taken as the change from the last good one.
    folder_.Write("world.txt", "drive C fixed\n");
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    EXPECT_FALSE(world.drive('E').present);
}

TEST_F(LiveWorldFileTest, AWrongFileAtTheStartLeavesTheComputerEmpty) {
    folder_.Write("world.txt", "drive C fixed\ncamera E state=x\n");
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    EXPECT_EQ(NewLines(),
              (std::vector<std::string>{
                  "# world file " + WorldPath() + " not taken, the world stays as it is:",
                  "#   line 2: state must be a number from 0 to 255, not \"x\""}));
    EXPECT_EQ(live.applied(), nullptr);
    EXPECT_FALSE(world.drive('C').present);
}

TEST_F(LiveWorldFileTest, AFileThatGoesLeavesTheWorldAndOneThatComesBackIsRead) {
    folder_.Write("world.txt", "camera E\n");
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    NewLines();

    std::filesystem::remove(folder_.Path("world.txt"));
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file " + WorldPath() +
                                                   " is gone; the world stays as it is"});
    EXPECT_TRUE(CameraFound());
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{});

    folder_.Write("world.txt", "drive C fixed\n");
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    EXPECT_FALSE(CameraFound());
}

// What the demo's instructions suggest with the example world: remove the camera line to unplug the
// camera, put it back to plug it in again.
TEST_F(LiveWorldFileTest, TheExampleWorldUnplugsAndPlugsTheCameraByItsCameraLine) {
    std::ifstream file(ZQ_EXAMPLE_WORLD, std::ios::binary);
    ASSERT_TRUE(file) << ZQ_EXAMPLE_WORLD;
    const std::string example{std::istreambuf_iterator<char>(file), {}};
    const std::size_t at = example.find("\ncamera ");
    ASSERT_NE(at, std::string::npos);
    const std::string withoutCamera =
        example.substr(0, at + 1) + example.substr(example.find('\n', at + 1) + 1);
    ASSERT_NE(withoutCamera.find("\nstorage "), std::string::npos);

    folder_.Write("world.txt", example);
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read: " + WorldPath()});
    ASSERT_TRUE(CameraFound());
    const char cameraLetter = static_cast<char>(g_szDevicePath[4]);

    folder_.Write("world.txt", withoutCamera);
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    EXPECT_FALSE(world.drive(cameraLetter).present);
    EXPECT_FALSE(CameraFound());

    folder_.Write("world.txt", example);
    live.Refresh();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"# world file read again: " + WorldPath()});
    ASSERT_TRUE(CameraFound());
    std::int32_t err = 0;
    ASSERT_TRUE(ReleaseCamera(err));
    EXPECT_EQ(world.camera().storageLetter, live.applied()->StorageOf(cameraLetter).letter);
    EXPECT_NE(world.camera().storageLetter, 0) << "the example's storage line names a letter";
    EXPECT_TRUE(world.drive(world.camera().storageLetter).present);
}

TEST_F(LiveWorldFileTest, TheTraceGoesWhereTheFileSaysUnlessOverridden) {
    folder_.Write("world.txt", "trace mine.txt\ncamera E\n");
    sim::LiveWorldFile& live = Live();
    live.Refresh();
    EXPECT_EQ(NewLines("mine.txt"), std::vector<std::string>{"# world file read: " + WorldPath()});

    // A wrong file: its notes go where the trace went before it.
    folder_.Write("world.txt", "trace other.txt\ncamera\n");
    live.Refresh();
    EXPECT_EQ(NewLines("mine.txt").size(), 2u);
    EXPECT_EQ(NewLines("other.txt"), std::vector<std::string>{});

    folder_.Write("world.txt", "trace other.txt\ncamera E\n");
    live.Refresh();
    EXPECT_EQ(NewLines("other.txt"),
              std::vector<std::string>{"# world file read again: " + WorldPath()});

    sim::LiveWorldFile& overridden = Live(folder_.Wide("forced.txt"));
    overridden.Refresh();
    EXPECT_EQ(NewLines("forced.txt"),
              std::vector<std::string>{"# world file read: " + WorldPath()});
    EXPECT_EQ(NewLines("other.txt"), std::vector<std::string>{});
}

}  // namespace
