// Laying a world file out on the simulated computer: on an empty world, and as the change from
// the file applied before while the program runs; the before-call hook that lets the program
// read the file again.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "os/os.h"
#include "sim/world_file_apply.h"
#include "sim/world_file_parse.h"
#include "tests/support/sim_test.h"

namespace {

class WorldFileApply : public zqtest::SimTest {
  protected:
    // Parses `text` (which must be valid) and applies it as the change from the last one.
    void Load(const std::string& text) {
        sim::ParsedWorld parsed = sim::ParseWorldFile(text);
        ASSERT_TRUE(parsed.ok()) << text << "\n" << sim::Describe(parsed.errors.front());
        sim::ApplyWorldFile(world, parsed.world, loaded_ ? &*loaded_ : nullptr);
        loaded_ = std::move(parsed.world);
    }

    // The camera's firmware line as the link reads it.
    std::string Firmware() {
        char text[kFirmwareTextSize] = {};
        std::int32_t err = 0;
        return GetFirmwareVersion(text, err) ? std::string(text) : "(failed)";
    }

    static std::int32_t Read(bool (*read)(std::int32_t&, std::int32_t&)) {
        std::int32_t value = -1;
        std::int32_t err = 0;
        return read(value, err) ? value : -1;
    }

    // Takes the camera on `letter` as the link's camera (found as discovery finds one, by its
    // mark); false when the letter holds none.
    bool Take(char letter) {
        CloseCamera(err_);
        const LetterProbe probe = ProbeDriveLetter(static_cast<wchar_t>(letter));
        if (probe.result != LetterProbeResult::kCamera) {
            return false;
        }
        g_hCamera = probe.handle;
        return true;
    }

    // What the camera on `letter` answers, through the link: "state=2 overwrite=1 timestamp=0
    // resolution=1", or "none".
    std::string Answers(char letter) {
        if (!Take(letter)) {
            return "none";
        }
        return "state=" + std::to_string(Read(GetCameraState)) +
               " overwrite=" + std::to_string(Read(GetLoopRecording)) +
               " timestamp=" + std::to_string(Read(GetTimestampDisplay)) +
               " resolution=" + std::to_string(Read(GetResolution));
    }

    // The letters present, "CEG".
    std::string Letters() const {
        std::string letters;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (world.drive(letter).present) {
                letters += letter;
            }
        }
        return letters;
    }

    std::optional<sim::WorldDescription> loaded_;
    std::int32_t err_ = 0;
};

TEST_F(WorldFileApply, LaysOutDrivesCameraAndFaults) {
    Load(
        "drive C fixed\n"
        "drive D cdrom inquiry=5\n"
        "drive G removable vendor=\"KMZ     \"\n"
        "camera E state=3 overwrite=1 timestamp=1 resolution=1 firmware=V1.0,2024,B7\n"
        "camera H delay=3\n"
        "fault 2 fails\n");
    EXPECT_TRUE(world.drive('C').present);
    EXPECT_EQ(world.camera().answerDelayMs, 0u);
    ASSERT_NE(world.CameraOn('H'), nullptr);
    EXPECT_EQ(world.CameraOn('H')->answerDelayMs, 3u);
    EXPECT_EQ(world.drive('C').type, os::kDriveFixed);
    EXPECT_EQ(world.drive('D').scsi, sim::ScsiDevice::kDisk);
    EXPECT_EQ(world.drive('D').inquiryByte3, 5);
    EXPECT_EQ(world.drive('G').type, os::kDriveRemovable);
    EXPECT_FALSE(world.drive('F').present);

    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\E:");
    EXPECT_EQ(Read(GetCameraState), 3);
    EXPECT_EQ(Firmware(), "Firmware Version:   V1.02024B7");
    EXPECT_EQ(Read(GetLoopRecording), -1) << "the fault hits the first command 2";
    EXPECT_EQ(Read(GetLoopRecording), 1);
    EXPECT_EQ(Read(GetTimestampDisplay), 1);
    EXPECT_EQ(Read(GetResolution), 1);
}

TEST_F(WorldFileApply, SettingsTheProgramChangedSurviveAReloadUnlessTheFileChangesThem) {
    Load("camera E overwrite=0 timestamp=0 resolution=0");
    ASSERT_TRUE(FindCamera(err_));
    ASSERT_TRUE(SetLoopRecording(1, err_));
    ASSERT_TRUE(SetResolution(1, err_));

    Load("camera E overwrite=0 timestamp=1 resolution=0\ndrive C fixed");
    EXPECT_EQ(Read(GetLoopRecording), 1);
    EXPECT_EQ(Read(GetResolution), 1);
    EXPECT_EQ(Read(GetTimestampDisplay), 1) << "the file changed this one";
    EXPECT_TRUE(world.IsOpenHandle(g_hCamera));

    Load("camera E overwrite=0 timestamp=1 resolution=0 state=7 firmware=X,Y,Z\ndrive C fixed");
    EXPECT_EQ(Read(GetLoopRecording), 1);
    EXPECT_EQ(Read(GetCameraState), 7);
    EXPECT_EQ(Firmware(), "Firmware Version:   XYZ");

    Load("camera E overwrite=1 timestamp=1 resolution=0 state=7 firmware=X,Y,Z\ndrive C fixed");
    EXPECT_EQ(Read(GetLoopRecording), 1) << "changed in the file to the value it had";
}

TEST_F(WorldFileApply, RemovingAndAddingTheCameraLineUnplugsAndPlugsAFreshCamera) {
    Load("drive C fixed\ncamera E overwrite=1");
    ASSERT_TRUE(FindCamera(err_));
    const os::Handle before = g_hCamera;
    ASSERT_TRUE(SetResolution(1, err_));

    Load("drive C fixed");
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_EQ(Read(GetResolution), -1) << "a call on the handle of an unplugged camera fails";
    EXPECT_TRUE(world.drive('C').present);
    EXPECT_FALSE(FindCamera(err_));

    Load("drive C fixed\ncamera E overwrite=1");
    g_hCamera = before;
    EXPECT_EQ(Read(GetResolution), -1) << "the handle from before the unplug stays dead";
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(Read(GetResolution), 0) << "a fresh camera has the file's settings";
    EXPECT_EQ(Read(GetLoopRecording), 1);

    Load("drive C fixed\ncamera G overwrite=1");
    EXPECT_FALSE(world.drive('E').present) << "moved to another letter";
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\G:");
}

TEST_F(WorldFileApply, AChangedDriveLineReplugsThatDriveOnly) {
    Load("drive D removable\ndrive F removable\ncamera E");
    const os::Handle d = os::CreateFileW(L"\\\\.\\D:", 0, 3, os::kOpenExisting, 0);
    const os::Handle f = os::CreateFileW(L"\\\\.\\F:", 0, 3, os::kOpenExisting, 0);
    ASSERT_TRUE(FindCamera(err_));
    std::uint8_t query[12] = {};
    std::uint8_t descriptor[64] = {};
    std::uint32_t returned = 0;
    ASSERT_TRUE(os::DeviceIoControl(f, os::kIoctlStorageQueryProperty, query, 12, descriptor, 64,
                                    &returned));

    Load("drive D removable\ndrive F removable vendor=KMZ\ncamera E");
    EXPECT_FALSE(os::DeviceIoControl(f, os::kIoctlStorageQueryProperty, query, 12, descriptor, 64,
                                     &returned));
    EXPECT_TRUE(os::DeviceIoControl(d, os::kIoctlStorageQueryProperty, query, 12, descriptor, 64,
                                    &returned));
    EXPECT_EQ(Read(GetCameraState), 2) << "the camera was not touched";

    Load("drive F removable vendor=KMZ\ncamera E");
    EXPECT_FALSE(world.drive('D').present);
    EXPECT_TRUE(world.drive('F').present);
}

TEST_F(WorldFileApply, AChangedFaultListReplacesTheFaultsLeft) {
    Load("camera E\nfault 14 fails times=1");
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(Read(GetCameraState), -1);
    EXPECT_EQ(Read(GetCameraState), 2);

    Load("camera E\nfault 14 fails times=1\ndrive C fixed");
    EXPECT_EQ(Read(GetCameraState), 2) << "an unchanged fault list does not arm its faults again";

    Load("camera E\nfault 14 fails times=2\ndrive C fixed");
    EXPECT_EQ(Read(GetCameraState), -1);
    EXPECT_EQ(Read(GetCameraState), -1);
    EXPECT_EQ(Read(GetCameraState), 2);

    Load("camera E\nfault 2 fails times=always\nfault 14 fails times=always\ndrive C fixed");
    Load("camera E\nfault 2 fails times=always\ndrive C fixed");
    EXPECT_EQ(Read(GetCameraState), 2) << "a fault line that went takes its fault along";
    EXPECT_EQ(Read(GetLoopRecording), -1);
}

TEST_F(WorldFileApply, TheCameraStaysOnItsStorageVolumeAcrossAnUnchangedReload) {
    Load("camera E\nstorage letter=F answers=plaindisk");
    ASSERT_TRUE(FindCamera(err_));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_TRUE(world.drive('F').present);
    EXPECT_EQ(world.drive('F').type, os::kDriveRemovable);

    Load("camera E\nstorage letter=F answers=plaindisk\ndrive C fixed");
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_EQ(world.camera().mode, sim::CameraMode::kStorage);
    EXPECT_FALSE(FindCamera(err_)) << "a plain disk does not carry the camera's mark";

    Load("drive C fixed");
    EXPECT_FALSE(world.drive('F').present) << "unplugging takes the storage volume along";
    Load("drive C fixed\ncamera E\nstorage letter=F answers=plaindisk");
    EXPECT_TRUE(FindCamera(err_)) << "plugged in again, in command mode";
}

TEST_F(WorldFileApply, TheStorageLineShapesTheVolumeAfterTheRelease) {
    Load("camera E\nstorage letter=F vendor=none type=fixed");
    ASSERT_TRUE(FindCamera(err_));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_EQ(world.drive('F').type, os::kDriveFixed);
    EXPECT_EQ(world.drive('F').descriptor.bytes, sim::DescriptorWithoutVendor().bytes);
}

TEST_F(WorldFileApply, AStorageLineWithoutACameraShapesTheCameraThatComesBack) {
    Load("drive C fixed\ncamera E\nstorage letter=F");
    ASSERT_TRUE(FindCamera(err_));

    // The camera line removed, the storage line changed meanwhile: nothing to apply it to yet.
    Load("drive C fixed\nstorage letter=G type=fixed vendor=none answers=plaindisk");
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_FALSE(world.drive('G').present);
    EXPECT_FALSE(FindCamera(err_));

    Load("drive C fixed\ncamera E\nstorage letter=G type=fixed vendor=none answers=plaindisk");
    ASSERT_TRUE(FindCamera(err_)) << "the camera is back, in command mode";
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\E:");
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_FALSE(world.drive('E').present);
    EXPECT_TRUE(world.drive('G').present);
    EXPECT_EQ(world.drive('G').type, os::kDriveFixed);
    EXPECT_EQ(world.drive('G').descriptor.bytes, sim::DescriptorWithoutVendor().bytes);
    EXPECT_FALSE(FindCamera(err_)) << "answers=plaindisk: the volume is a plain disk";
}

// ---- several cameras ----

TEST_F(WorldFileApply, EachCameraLinePlugsACameraWithItsOwnSettings) {
    Load(
        "drive C fixed\n"
        "camera G resolution=1 firmware=G1,,\n"
        "camera E state=3 overwrite=1 firmware=E1,,\n");
    EXPECT_EQ(Letters(), "CEG");
    EXPECT_EQ(Answers('E'), "state=3 overwrite=1 timestamp=0 resolution=0");
    EXPECT_EQ(Firmware(), "Firmware Version:   E1");
    EXPECT_EQ(Answers('G'), "state=2 overwrite=0 timestamp=0 resolution=1");
    EXPECT_EQ(Firmware(), "Firmware Version:   G1");
    ASSERT_TRUE(FindCamera(err_));
    EXPECT_EQ(std::wstring(g_szDevicePath), L"\\\\.\\E:") << "discovery takes the first letter";
}

TEST_F(WorldFileApply, EachCameraLineIsFollowedOnItsOwn) {
    struct Step {
        const char* file;
        std::string letters;
        std::string e;  // what the camera on E answers afterwards
        std::string g;
        std::string h;
    };
    // Before each step the program sets overwrite=1 on every camera there is, so that a camera
    // that stays keeps it and a fresh one has the file's value.
    const Step steps[] = {
        {"camera E\ncamera G timestamp=1", "EG", "state=2 overwrite=0 timestamp=0 resolution=0",
         "state=2 overwrite=0 timestamp=1 resolution=0", "none"},
        {"camera G timestamp=1  # E unplugged", "G", "none",
         "state=2 overwrite=1 timestamp=1 resolution=0", "none"},
        {"camera G timestamp=1 state=3\ncamera E  # E fresh, G takes the state", "EG",
         "state=2 overwrite=0 timestamp=0 resolution=0",
         "state=3 overwrite=1 timestamp=1 resolution=0", "none"},
        {"camera E\ncamera H  # G gone, H comes", "EH",
         "state=2 overwrite=1 timestamp=0 resolution=0", "none",
         "state=2 overwrite=0 timestamp=0 resolution=0"},
        {"camera E\ncamera H\ndrive G removable  # a drive where G was", "EGH",
         "state=2 overwrite=1 timestamp=0 resolution=0", "none",
         "state=2 overwrite=1 timestamp=0 resolution=0"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.file);
        for (const char letter : std::string("EGH")) {
            if (Take(letter)) {
                ASSERT_TRUE(SetLoopRecording(1, err_));
            }
        }
        Load(step.file);
        EXPECT_EQ(Letters(), step.letters);
        EXPECT_EQ(Answers('E'), step.e);
        EXPECT_EQ(Answers('G'), step.g);
        EXPECT_EQ(Answers('H'), step.h);
    }
}

TEST_F(WorldFileApply, EachCameraIsReleasedToTheVolumeOfItsStorageLine) {
    const std::string file =
        "camera E\ncamera G\nstorage letter=F\nstorage camera=G letter=H answers=plaindisk\n";
    Load(file);
    ASSERT_TRUE(Take('E'));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_EQ(Letters(), "FG");
    ASSERT_TRUE(Take('G'));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_EQ(Letters(), "FH");
    EXPECT_EQ(Answers('F'), "state=2 overwrite=0 timestamp=0 resolution=0")
        << "E's volume: the camera keeps answering";
    EXPECT_EQ(Answers('H'), "none") << "G's volume: a plain disk";

    Load(file + "drive C fixed\n");
    EXPECT_EQ(Letters(), "CFH") << "both stay released across a reload";

    Load("camera E\nstorage letter=F\ndrive C fixed\n");
    EXPECT_EQ(Letters(), "CF") << "G's line went, its volume with it";
    Load("camera E\ncamera G\nstorage letter=F\ndrive C fixed\n");
    EXPECT_EQ(Letters(), "CFG") << "G back, fresh, in command mode";
    ASSERT_TRUE(Take('G'));
    ASSERT_TRUE(ReleaseCamera(err_));
    EXPECT_EQ(Letters(), "CFG") << "no storage line of its own: its volume is its own letter";
    EXPECT_EQ(world.CameraOn('G')->mode, sim::CameraMode::kStorage);
}

TEST_F(WorldFileApply, AFaultHitsTheNextMatchingRequestOfAnyCamera) {
    Load("camera E\ncamera G\nfault 14 fails\nfault 2 ignored\n");
    ASSERT_TRUE(Take('G'));
    EXPECT_EQ(Read(GetCameraState), -1) << "G asked first";
    EXPECT_EQ(Read(GetCameraState), 2);
    ASSERT_TRUE(Take('E'));
    EXPECT_EQ(Read(GetCameraState), 2) << "used up on G";

    // An ignored set is answered as done, and not kept.
    EXPECT_TRUE(SetLoopRecording(1, err_));
    EXPECT_EQ(Read(GetLoopRecording), 0);
    EXPECT_TRUE(SetLoopRecording(1, err_));
    EXPECT_EQ(Read(GetLoopRecording), 1);
}

// ---- the before-call hook ----

TEST_F(WorldFileApply, TheHookRunsBeforeEveryDeviceCallAndCanChangeWhatItFinds) {
    Load("drive C fixed\ncamera E");
    std::vector<std::size_t> eventsSeen;
    world.SetBeforeCall([&] { eventsSeen.push_back(world.events().size()); });
    wchar_t list[64];
    os::GetLogicalDriveStringsW(64, list);
    os::GetDriveTypeW(L"C:\\");
    const os::Handle handle = os::CreateFileW(L"\\\\.\\E:", 0, 3, os::kOpenExisting, 0);
    std::uint32_t returned = 0;
    os::DeviceIoControl(handle, os::kIoctlStorageQueryProperty, nullptr, 0, nullptr, 0, &returned);
    os::CloseHandle(handle);
    os::ShellExecuteW(nullptr, L"explorer", L"E:\\", nullptr, 5);
    EXPECT_EQ(eventsSeen, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));

    // A hook that unplugs the camera: the very call that triggered it no longer finds it.
    world.SetBeforeCall([&] { Load("drive C fixed"); });
    EXPECT_FALSE(FindCamera(err_));
    world.SetBeforeCall(nullptr);
}

TEST_F(WorldFileApply, ResetRemovesTheHook) {
    int calls = 0;
    world.SetBeforeCall([&] { ++calls; });
    world.Reset();
    os::GetDriveTypeW(L"C:\\");
    EXPECT_EQ(calls, 0);
}

}  // namespace
