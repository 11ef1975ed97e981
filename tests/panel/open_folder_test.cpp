// "Open File Folder": the release into storage mode, the volume lookup, the file manager and the
// reconnection, as the simulated camera, drives and window see them.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/discovery.h"
#include "panel/control_ids.h"
#include "panel/panel.h"
#include "tests/support/panel_fixture.h"

namespace {

using zqtest::Concat;
using zqtest::ConnectionLines;
using zqtest::Lines;

using zqtest::kCommandControls;

class OpenFolderTest : public zqtest::PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        world.AddDisk('C');  // a fixed disk: never examined by the lookup
    }

    // The connected flag as it was when the window was told to open a folder.
    void WatchFlagAtOpen() {
        const auto inner = window.journal;
        window.journal = [this, inner](const std::string& line) {
            if (line.rfind("open ", 0) == 0) {
                flagAtOpen = g_bConnected;
            }
            inner(line);
        };
    }

    int flagAtOpen = -1;
};

TEST_F(OpenFolderTest, ReleasesOpensTheCameraVolumeAndConnectsAgain) {
    sim::Camera& cam = world.PlugCamera('E');
    cam.loopRecording = 1;
    cam.resolution = 1;
    ConnectTo('E');
    WatchFlagAtOpen();

    OnOpenFolder(window);

    EXPECT_EQ(journal.lines,
              Concat({{"get 15", "close E", "create E", "query E", "close E", "open E:\\"},
                      ConnectionLines('E', 1, 1, 0)}));
    EXPECT_EQ(flagAtOpen, 0);
    EXPECT_EQ(cam.releases, 1);
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_EQ(world.OpenHandleCount(), 1u);
    EXPECT_EQ(world.BadCloses(), 0u);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(OpenFolderTest, CameraVolumeOnAnotherLetterIsOpenedAndTheCameraFoundThere) {
    world.PlugCamera('E').storageLetter = 'G';
    ConnectTo('E');

    OnOpenFolder(window);

    EXPECT_EQ(journal.lines,
              Concat({{"get 15", "close E", "create G", "query G", "close G", "open G:\\"},
                      ConnectionLines('G', 0, 0, 0)}));
    EXPECT_EQ(g_bConnected, 1);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(OpenFolderTest, WithoutACameraVolumeNothingIsOpenedAndTheReconnectionIsTried) {
    struct Case {
        const char* name;
        std::function<void(sim::Camera&)> arrange;
        Lines lines;
        bool connected;
    };
    const std::vector<Case> cases = {
        {"storage volume is not removable",
         [](sim::Camera& cam) { cam.storageDriveType = os::kDriveFixed; },
         Concat({{"get 15", "close E"}, ConnectionLines('E', 0, 0, 0)}), true},
        {"storage device names no vendor",
         [](sim::Camera& cam) { cam.storageDescriptor = sim::DescriptorWithoutVendor(); },
         Concat({{"get 15", "close E", "create E", "query E", "close E"},
                 ConnectionLines('E', 0, 0, 0)}),
         true},
        {"storage device reports another vendor",
         [](sim::Camera& cam) { cam.storageDescriptor = sim::DescriptorWithVendor("KMZX"); },
         Concat({{"get 15", "close E", "create E", "query E", "close E"},
                 ConnectionLines('E', 0, 0, 0)}),
         true},
        {"storage volume cannot be opened",
         [this](sim::Camera&) {
             journal.afterCall = [this](const sim::Event& e) {
                 if (e.VendorCode() == 15) {
                     world.drive('E').opens = false;  // e.g. no medium
                 }
             };
         },
         {"get 15", "close E"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        world.AddDisk('C');
        ConnectTo('E');
        c.arrange(camera());

        OnOpenFolder(window);

        EXPECT_EQ(journal.lines, c.lines);
        EXPECT_TRUE(window.Lines("open ").empty());
        EXPECT_TRUE(window.boxes.empty());
        EXPECT_EQ(g_bConnected, c.connected ? 1 : 0);
        EXPECT_EQ(world.OpenHandleCount(), c.connected ? 1u : 0u);
    }
}

TEST_F(OpenFolderTest, CameraThatNoLongerAnswersLeavesTheControlsEnabledButDisconnected) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        Lines lines;
    };
    const std::vector<Case> cases = {
        // In storage mode the camera is a plain disk: its volume opens, discovery rejects it.
        {"camera is a plain disk",
         [this] { camera().storageAnswers = sim::StorageAnswers::kPlainDisk; },
         {"get 15", "close E", "create E", "query E", "close E", "open E:\\", "create E",
          "inquiry E", "close E"}},
        // The camera is unplugged as soon as it was released.
        {"camera unplugged",
         [this] {
             journal.afterCall = [this](const sim::Event& e) {
                 if (e.VendorCode() == 15) {
                     world.UnplugCamera('E');
                 }
             };
         },
         {"get 15", "close E"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        ConnectTo('E');
        c.arrange();

        OnOpenFolder(window);

        EXPECT_EQ(journal.lines, c.lines);
        EXPECT_EQ(g_bConnected, 0);
        EXPECT_EQ(world.OpenHandleCount(), 0u);
        EXPECT_TRUE(window.boxes.empty());
        // Released: the controls, the combos and the status line stay as they were.
        for (const int id : kCommandControls) {
            EXPECT_TRUE(window.IsEnabled(id)) << zqtest::ControlName(id);
        }
        EXPECT_EQ(window.status, L"Firmware Version:   V1.1.0720240101");
        EXPECT_EQ(window.Selected(IDC_OVERWRITE), 0);

        // The user then changes a setting: refused, and the pick stays.
        Forget();
        window.Pick(IDC_OVERWRITE, 1);

        OnOverwriteChange(window);

        EXPECT_EQ(journal.lines, (Lines{"box Device not connected."}));
        EXPECT_EQ(window.Selected(IDC_OVERWRITE), 1);
        EXPECT_TRUE(world.events().empty());
    }
}

}  // namespace
