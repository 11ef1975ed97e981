// The JSON output, field by field: the document of each command, a camera, an error of each
// kind, and the drives that are not cameras.
#include <gtest/gtest.h>

#include <string>

#include "link/camera.h"
#include "os/os.h"
#include "tests/cli/cli_fixture.h"

namespace {

using zqtest::Json;

class JsonTest : public zqtest::CliTest {
  protected:
    void CameraOnE() {
        world.AddDisk('D');
        world.PlugCamera('E');
    }

    static void ExpectHead(const Json& document, const std::string& command, int exit) {
        EXPECT_EQ(document.at("schema"), "zelquin-cli/1");
        EXPECT_EQ(document.at("command"), command);
        EXPECT_EQ(document.at("exit_code"), exit);
    }

    static void ExpectSetting(const Json& value, int number, const char* name) {
        ASSERT_TRUE(value.is_object()) << value.dump();
        EXPECT_EQ(value.at("value"), number);
        EXPECT_EQ(value.at("name"), name);
    }
};

TEST_F(JsonTest, ListOfTwoCameras) {
    world.AddDisk('D');
    world.PlugCamera('E').loopRecording = 1;
    sim::Camera& second = world.PlugCamera('G');
    second.state = 3;
    second.resolution = 1;
    second.timestampDisplay = 1;
    second.firmware = {sim::MakeFirmwarePiece("AB"), sim::MakeFirmwarePiece("CD"),
                       sim::MakeFirmwarePiece("EFGHIJKL")};

    const Json document = RunJson({"list"}, 0);

    ExpectHead(document, "list", 0);
    EXPECT_TRUE(document.at("error").is_null());
    const Json& cameras = document.at("cameras");
    ASSERT_EQ(cameras.size(), 2u);

    const Json& e = cameras[0];
    EXPECT_EQ(e.at("drive"), "E:");
    EXPECT_EQ(e.at("inquiry"),
              Json({{"vendor", "KMZ"}, {"product", "DV CAMERA"}, {"revision", "1.00"}}));
    EXPECT_EQ(e.at("state"), 2);
    EXPECT_EQ(e.at("ready"), true);
    EXPECT_EQ(e.at("firmware"), "V1.1.0720240101");
    ExpectSetting(e.at("settings").at("overwrite"), 1, "on");
    ExpectSetting(e.at("settings").at("timestamp"), 0, "off");
    ExpectSetting(e.at("settings").at("resolution"), 0, "1080p");
    EXPECT_TRUE(e.at("error").is_null());
    EXPECT_EQ(e.at("notes"), Json::array());
    EXPECT_FALSE(e.contains("changes"));
    EXPECT_FALSE(e.contains("clock"));
    EXPECT_FALSE(e.contains("volume"));

    const Json& g = cameras[1];
    EXPECT_EQ(g.at("drive"), "G:");
    EXPECT_EQ(g.at("state"), 3);
    EXPECT_EQ(g.at("ready"), true);
    EXPECT_EQ(g.at("firmware"), "ABCDEFGHIJKL");
    ExpectSetting(g.at("settings").at("timestamp"), 1, "on");
    ExpectSetting(g.at("settings").at("resolution"), 1, "720p");

    ASSERT_EQ(document.at("drives").size(), 1u);
    EXPECT_EQ(document.at("drives")[0], Json({{"drive", "D:"},
                                              {"result", "not-camera"},
                                              {"system_error", nullptr},
                                              {"inquiry_byte3", 2}}));
}

TEST_F(JsonTest, ListWithACameraNotReadyLeavesWhatWasNotReadNull) {
    world.PlugCamera('E').state = 0;

    const Json document = RunJson({"list"}, 0);

    const Json& e = document.at("cameras").at(0);
    EXPECT_EQ(e.at("state"), 0);
    EXPECT_EQ(e.at("ready"), false);
    EXPECT_TRUE(e.at("firmware").is_null());
    for (const char* name : {"overwrite", "timestamp", "resolution"}) {
        EXPECT_TRUE(e.at("settings").at(name).is_null()) << name;
    }
    EXPECT_TRUE(e.at("error").is_null());
}

TEST_F(JsonTest, NoCameraTellsEveryDriveThatWasThereAndWhy) {
    world.AddDisk('D');
    world.AddDrive('F', os::kDriveRemovable).opens = false;
    world.AddDrive('G', os::kDriveRemovable);

    const Json document = RunJson({"list"}, 3);

    ExpectHead(document, "list", 3);
    EXPECT_EQ(document.at("cameras"), Json::array());
    const Json& error = document.at("error");
    EXPECT_EQ(error.at("kind"), "no-camera");
    EXPECT_EQ(error.at("exit_code"), 3);
    EXPECT_TRUE(error.at("drive").is_null());
    EXPECT_EQ(error.at("message"),
              "no camera found on D: to Z:; one drive could not be opened and may hold one");
    const Json& drives = document.at("drives");
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].at("drive"), "F:");
    EXPECT_EQ(drives[1].at("result"), "open-failed");
    EXPECT_EQ(drives[1].at("system_error"), Json({{"code", 5}, {"text", "Access is denied."}}));
    EXPECT_EQ(drives[2].at("result"), "inquiry-failed");
    EXPECT_EQ(drives[2].at("system_error").at("code"), 31);
    EXPECT_TRUE(drives[2].at("inquiry_byte3").is_null());
}

TEST_F(JsonTest, RefusedCommandCarriesTheStatusAndTheDecodedSense) {
    CameraOnE();
    world.InjectVendorFault(kCmdLoopRecording, sim::Fault::CheckCondition(0));

    const Json document = RunJson({"set", "overwrite=on"}, 6);

    const Json& error = document.at("error");
    EXPECT_EQ(error.at("kind"), "refused");
    EXPECT_EQ(error.at("exit_code"), 6);
    EXPECT_EQ(error.at("drive"), "E:");
    EXPECT_EQ(error.at("command"),
              Json({{"name", "set loop recording (command 2)"}, {"code", 2}, {"form", "set"}}));
    EXPECT_TRUE(error.at("system_error").is_null());
    const Json& scsi = error.at("scsi");
    EXPECT_EQ(scsi.at("status"), 2);
    EXPECT_EQ(scsi.at("status_name"), "CHECK CONDITION");
    EXPECT_EQ(scsi.at("sense"), "70 00 0B 00 00 00 00 0A 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(scsi.at("sense_key"), 11);
    EXPECT_EQ(scsi.at("sense_key_name"), "ABORTED COMMAND");
    EXPECT_EQ(scsi.at("asc"), 0);
    EXPECT_EQ(scsi.at("ascq"), 0);
    EXPECT_EQ(scsi.at("data_bytes"), 0);
    EXPECT_EQ(scsi.at("expected_bytes"), 8);

    const Json& change = document.at("cameras").at(0).at("changes").at(0);
    EXPECT_EQ(change.at("setting"), "overwrite");
    EXPECT_EQ(change.at("confirmed"), false);
    EXPECT_TRUE(change.at("read_back").is_null());
    EXPECT_EQ(change.at("error"), error);
}

TEST_F(JsonTest, FailedCallCarriesTheSystemErrorAndItsText) {
    CameraOnE();
    world.InjectVendorFault(kCmdCameraState, sim::Fault::CallFails());

    const Json document = RunJson({"status"}, 5);

    const Json& error = document.at("error");
    EXPECT_EQ(error.at("kind"), "system-error");
    EXPECT_EQ(error.at("command").at("code"), 14);
    EXPECT_EQ(error.at("command").at("form"), "get");
    EXPECT_EQ(
        error.at("system_error"),
        Json({{"code", 31}, {"text", "A device attached to the system is not functioning."}}));
    EXPECT_TRUE(error.at("scsi").is_null());
    EXPECT_TRUE(document.at("cameras").at(0).at("state").is_null());
    EXPECT_TRUE(document.at("cameras").at(0).at("ready").is_null());
}

TEST_F(JsonTest, SettingThatDoesNotStickNamesSentAndReadBack) {
    CameraOnE();
    world.InjectVendorFault(kCmdTimestampDisplay, sim::Fault::Ignored());

    const Json document = RunJson({"set", "timestamp=on", "resolution=720p"}, 7);

    const Json& error = document.at("error");
    EXPECT_EQ(error.at("kind"), "mismatch");
    EXPECT_EQ(error.at("message"), "timestamp was set to on but reads back off");
    EXPECT_EQ(error.at("setting").at("name"), "timestamp");
    ExpectSetting(error.at("setting").at("sent"), 1, "on");
    ExpectSetting(error.at("setting").at("read_back"), 0, "off");
    const Json& changes = document.at("cameras").at(0).at("changes");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].at("confirmed"), false);
    EXPECT_EQ(changes[1].at("setting"), "resolution");
    ExpectSetting(changes[1].at("requested"), 1, "720p");
    ExpectSetting(changes[1].at("read_back"), 1, "720p");
    EXPECT_EQ(changes[1].at("confirmed"), true);
    EXPECT_TRUE(changes[1].at("error").is_null());
}

TEST_F(JsonTest, NotReadyCarriesTheState) {
    world.PlugCamera('E').state = 1;

    const Json document = RunJson({"sync-time"}, 4);

    EXPECT_EQ(document.at("error").at("kind"), "not-ready");
    EXPECT_EQ(document.at("error").at("state"), 1);
    EXPECT_TRUE(document.at("cameras").at(0).at("clock").is_null());
}

TEST_F(JsonTest, SyncTimeTellsTheLocalTimeAndTheBytesSent) {
    CameraOnE();

    const Json document = RunJson({"sync-time", "--drive", "E:"}, 0);

    const Json& clock = document.at("cameras").at(0).at("clock");
    const zqtest::ClockRow& row = zqtest::kClock;
    std::string localTime = row.text;
    localTime[10] = 'T';
    EXPECT_EQ(clock.at("local_time"), localTime);
    EXPECT_EQ(clock.at("date"), Json(row.date));
    EXPECT_EQ(clock.at("time"), Json(row.time));
}

TEST_F(JsonTest, ReleaseTellsTheVolumeAndWhetherItWasOpened) {
    CameraOnE();
    world.camera().storageLetter = 'F';

    const Json opened = RunJson({"release", "--open"}, 0);
    EXPECT_EQ(opened.at("cameras").at(0).at("volume"), "F:\\");
    EXPECT_EQ(opened.at("cameras").at(0).at("opened"), true);

    world.Reset();
    CameraOnE();
    world.camera().storageDescriptor = sim::DescriptorWithoutVendor();
    const Json none = RunJson({"release", "--timeout", "1"}, 8);
    EXPECT_TRUE(none.at("cameras").at(0).at("volume").is_null());
    EXPECT_TRUE(none.at("cameras").at(0).at("opened").is_null());
    EXPECT_EQ(none.at("error").at("kind"), "no-volume");
}

TEST_F(JsonTest, NamedDriveThatIsNotThereIsNoCamera) {
    const Json document = RunJson({"status", "--drive", "K:"}, 3);

    EXPECT_EQ(document.at("error").at("kind"), "no-camera");
    EXPECT_EQ(document.at("error").at("drive"), "K:");
    EXPECT_EQ(document.at("error").at("system_error").at("code"), 2);
    EXPECT_EQ(document.at("cameras"), Json::array());
    EXPECT_EQ(document.at("drives"), Json::array());
}

TEST_F(JsonTest, DeviceTextBecomesUtf8) {
    world.PlugCamera('E').firmware = {sim::MakeFirmwarePiece("\x80\x01"),
                                      sim::MakeFirmwarePiece(""), sim::MakeFirmwarePiece("")};

    const Json document = RunJson({"status"}, 0);

    // Byte 0x80 of the ANSI code page (1252 in the simulator) is the euro sign.
    EXPECT_EQ(document.at("cameras").at(0).at("firmware"), "\xE2\x82\xAC\x01");
}

}  // namespace
