// The Linux device layer (os/linux), read as the tool reads it, against a real kernel: usb-storage,
// sd and sg of the guest, with simulated cameras plugged in over USB/IP. Run inside the guest only
// (guest/run-guest.sh; ctest runs it as the guest.* tests).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "os/linux/scsi_generic.h"
#include "tests/guest/guest_fixture.h"
#include "tests/guest/scenario.h"
#include "tests/support/wire.h"

namespace {

using guest::Cameras;
using guest::Command;
using guest::Describe;
using guest::Good;
using guest::GuestBench;
using guest::kNobody;
using guest::kNogroup;
using guest::Read;
using guest::Scenario;
using guest::Seen;
using guest::Served;
using guest::WaitFor;
using zqtest::Hex;

// One vendor command: FA 55 66 FE, the get (60) or set (06) form, 00 00, the code, arguments.
struct Answer {
    sg::Outcome outcome;
    std::array<std::uint8_t, 8> data = {};
    std::string Bytes() const { return Hex(data.data(), data.size()); }
};

Answer Vendor(int fd, bool get, std::uint8_t code, std::initializer_list<std::uint8_t> args = {}) {
    std::uint8_t block[16] = {0xFA, 0x55, 0x66, 0xFE, static_cast<std::uint8_t>(get ? 0x60 : 0x06),
                              0,    0,    code};
    std::size_t at = 8;
    for (const std::uint8_t arg : args) {
        block[at++] = arg;
    }
    Answer answer;
    answer.outcome = sg::Execute(fd, block, sizeof block, answer.data.data(), 8);
    return answer;
}

// ---- discovery ----

struct Found {
    char letter;         // the world's letter, seen in the USB serial number ("ZQE-...")
    const char* vendor;  // as sysfs shows it
};

struct DiscoveryCase {
    const char* name;
    std::vector<std::string> worlds;  // one server each
    std::size_t nodes;
    std::vector<Found> cameras;  // what discovery must take for the camera, in node order
};

void PrintTo(const DiscoveryCase& c, std::ostream* out) {
    *out << c.name;
}

class Discovery : public Scenario, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(Discovery, FindsTheCamerasByTheirMark) {
    const DiscoveryCase& c = GetParam();
    for (const std::string& world : c.worlds) {
        bench->Serve(world);
    }
    if (!c.worlds.empty()) {
        bench->Attach();
    }
    ASSERT_TRUE(bench->WaitForNodes(c.nodes));

    // The tool's own rule: every node asked the INQUIRY, a camera by its mark.
    const std::vector<Seen> all = guest::Look();
    ASSERT_EQ(all.size(), c.nodes);
    std::vector<const Seen*> cameras;
    for (const Seen& candidate : all) {
        SCOPED_TRACE(candidate.node.path);
        EXPECT_EQ(candidate.probe.systemError, 0u) << candidate.probe.systemText;
        EXPECT_TRUE(candidate.probe.inquiry.Good())
            << cli::DescribeOutcome(candidate.probe.inquiry, 36);
        EXPECT_EQ(candidate.probe.inquiry.dataBytes, 36u);
        EXPECT_EQ(candidate.camera(), candidate.probe.inquiryData[3] == 1);
        // Identity from sysfs: the disk at the same address and the USB device under it.
        EXPECT_TRUE(std::regex_match(candidate.node.blockDevice, std::regex("sd[a-z]+")))
            << candidate.node.blockDevice;
        EXPECT_TRUE(std::regex_match(candidate.node.usbDevice, std::regex("[0-9]+-[0-9.]+")))
            << candidate.node.usbDevice;
        EXPECT_EQ(candidate.node.type, 0);
        if (candidate.camera()) {
            cameras.push_back(&candidate);
        }
    }
    ASSERT_EQ(cameras.size(), c.cameras.size());
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        // "ZQE-1-2": the letter and the bus of the world that served it.
        EXPECT_EQ(cameras[i]->node.usbSerial.substr(0, 3), std::string("ZQ") + c.cameras[i].letter)
            << cameras[i]->node.usbSerial;
        EXPECT_EQ(cameras[i]->node.vendor, c.cameras[i].vendor);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kernel, Discovery,
    ::testing::Values(
        DiscoveryCase{"NoDevice", {}, 0, {}},
        DiscoveryCase{"PlainDiskOnly", {"drive G removable scsi=disk\n"}, 1, {}},
        DiscoveryCase{"OneCamera", {"camera E\n"}, 1, {{'E', "KMZ"}}},
        DiscoveryCase{"CameraBesideADisk",
                      {"drive D removable scsi=disk inquiry=2\ncamera F\n"},
                      2,
                      {{'F', "KMZ"}}},
        DiscoveryCase{"TwoCameras", {"camera E\n", "camera H\n"}, 2, {{'E', "KMZ"}, {'H', "KMZ"}}},
        DiscoveryCase{"DiskWithTheMarkCountsAsACamera",
                      {"drive D removable scsi=disk inquiry=1\n"},
                      1,
                      {{'D', "ZQSIM"}}}),
    [](const ::testing::TestParamInfo<DiscoveryCase>& param) { return param.param.name; });

// ---- vendor commands ----

using Camera = Scenario;

TEST_F(Camera, StateIsReadWhateverItsValue) {
    Served& served = Plug("camera E state=1\n");
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    for (const int state : {1, 3, 0xFF}) {
        SCOPED_TRACE(state);
        served.Rewrite("camera E state=" + std::to_string(state) + "\n");
        ASSERT_TRUE(WaitFor([&] { return served.State()["state"] == std::to_string(state); }));
        const Answer answer = Vendor(fd, true, 14);
        ASSERT_TRUE(Good(answer.outcome)) << Describe(answer.outcome);
        EXPECT_EQ(answer.outcome.delivered, 8u);
        EXPECT_EQ(answer.data[0], state);
    }
    sg::CloseNode(fd);
}

TEST_F(Camera, EachSettingIsWrittenAndReadBack) {
    Served& served = Plug("camera E overwrite=0 timestamp=0 resolution=0\n");
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    struct Case {
        std::uint8_t code;
        const char* key;
    };
    for (const Case& c : {Case{1, "resolution"}, Case{2, "overwrite"}, Case{11, "timestamp"}}) {
        for (const std::uint8_t value : {std::uint8_t{1}, std::uint8_t{0}}) {
            SCOPED_TRACE(std::string(c.key) + "=" + std::to_string(value));
            const Answer set = Vendor(fd, false, c.code, {value});
            ASSERT_TRUE(Good(set.outcome)) << Describe(set.outcome);
            EXPECT_EQ(served.State()[c.key], std::to_string(value));
            const Answer get = Vendor(fd, true, c.code);
            ASSERT_TRUE(Good(get.outcome)) << Describe(get.outcome);
            EXPECT_EQ(get.Bytes(), Hex(&value, 1) + " 00 00 00 00 00 00 00");
        }
    }
    sg::CloseNode(fd);
}

TEST_F(Camera, FirmwarePiecesArriveWithAllEightBytes) {
    Plug("camera E firmware=V1.0,.2024,20240101\n");
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    const std::vector<std::string> expected = {"56 31 2E 30 00 00 00 00", "2E 32 30 32 34 00 00 00",
                                               "32 30 32 34 30 31 30 31"};
    for (std::uint8_t code = 26; code <= 28; ++code) {
        SCOPED_TRACE(code);
        const Answer answer = Vendor(fd, true, code);
        ASSERT_TRUE(Good(answer.outcome)) << Describe(answer.outcome);
        EXPECT_EQ(answer.outcome.delivered, 8u);
        EXPECT_EQ(answer.Bytes(), expected[static_cast<std::size_t>(code - 26)]);
    }
    sg::CloseNode(fd);
}

// A camera that sends fewer bytes than asked: the count comes from the kernel's residue, and the
// bytes that did not come read as zeros.
TEST_F(Camera, ShortAnswerIsCountedAndTheRestIsZero) {
    Plug("camera E firmware=V1.0,.2024,20240101\nfault 28 short=3\n");
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    const Answer shortAnswer = Vendor(fd, true, 28);
    ASSERT_TRUE(Good(shortAnswer.outcome)) << Describe(shortAnswer.outcome);
    EXPECT_EQ(shortAnswer.outcome.delivered, 3u);
    EXPECT_EQ(shortAnswer.Bytes(), "32 30 32 00 00 00 00 00");
    const Answer whole = Vendor(fd, true, 28);
    EXPECT_EQ(whole.outcome.delivered, 8u);
    EXPECT_EQ(whole.Bytes(), "32 30 32 34 30 31 30 31");
    sg::CloseNode(fd);
}

TEST_F(Camera, DateThenTimeReachTheCameraClock) {
    Served& served = Plug("camera E\n");
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    // 2024-03-05 14:07:09
    ASSERT_TRUE(Good(Vendor(fd, false, 4, {0x18, 0x03, 0x05}).outcome));
    ASSERT_TRUE(Good(Vendor(fd, false, 3, {0x0E, 0x07, 0x09}).outcome));
    const auto state = served.State();
    EXPECT_EQ(state.at("dateset"), "1");
    EXPECT_EQ(state.at("date"), "18,03,05");
    EXPECT_EQ(state.at("timeset"), "1");
    EXPECT_EQ(state.at("time"), "0E,07,09");
    sg::CloseNode(fd);
}

// A command the camera refuses comes back with its status and the sense data the kernel fetched;
// one it cannot carry out at all is a transport error, not a refusal.
TEST_F(Camera, RefusedCommandsCarryStatusAndSense) {
    Served& served = Plug("camera E\nfault 2 check=0\nfault 11 fails\n");
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> cdb;
        bool checkCondition;
        std::uint8_t key;
        std::uint8_t asc;
    };
    std::vector<std::uint8_t> unknownCode = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 99};
    std::vector<std::uint8_t> loopSet = {0xFA, 0x55, 0x66, 0xFE, 0x06, 0, 0, 2, 1};
    std::vector<std::uint8_t> stampGet = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 11};
    std::vector<std::uint8_t> badBlock = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 14, 7};
    unknownCode.resize(16);
    loopSet.resize(16);
    stampGet.resize(16);
    badBlock.resize(16);
    const std::vector<Case> cases = {
        {"unknown vendor code", unknownCode, true, 0x05, 0x20},
        {"argument byte the command does not use", badBlock, true, 0x05, 0x24},
        {"unknown operation code", {0xC1, 0, 0, 0, 0, 0}, true, 0x05, 0x20},
        {"refused by the camera (fault check=0)", loopSet, true, 0x0B, 0x00},
        {"camera cannot answer (fault fails)", stampGet, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t data[8];
        const sg::Outcome outcome =
            sg::Execute(fd, c.cdb.data(), static_cast<std::uint8_t>(c.cdb.size()), data, 8);
        ASSERT_TRUE(outcome.callOk) << Describe(outcome);
        EXPECT_FALSE(Good(outcome));
        EXPECT_EQ(Categorize(Read(outcome), 0) == OutcomeCategory::kCheckCondition,
                  c.checkCondition)
            << Describe(outcome);
        if (c.checkCondition) {
            EXPECT_EQ(outcome.hostStatus, 0);
            EXPECT_GE(outcome.senseLength, 14);
            const SenseFields sense = DecodeSense(Read(outcome).Sense());
            EXPECT_EQ(sense.key, c.key);
            EXPECT_EQ(sense.asc, c.asc);
        } else {
            EXPECT_NE(outcome.hostStatus, 0) << Describe(outcome);
        }
    }
    // The refused set changed nothing; the camera answers normally afterwards.
    EXPECT_EQ(served.State()["overwrite"], "0");
    const Answer after = Vendor(fd, true, 11);
    EXPECT_TRUE(Good(after.outcome)) << Describe(after.outcome);
    sg::CloseNode(fd);
}

// ---- release ----

struct ReleaseCase {
    const char* name;
    const char* world;
    bool sameDevice;  // the medium appears on the camera's own disk; otherwise the camera
                      // leaves the bus and comes back as a new device in storage mode
};

void PrintTo(const ReleaseCase& c, std::ostream* out) {
    *out << c.name;
}

class Release : public Scenario, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(Release, VolumeAppears) {
    const ReleaseCase& c = GetParam();
    Served& served = Plug(c.world);
    const std::vector<Seen> before = Cameras();
    ASSERT_EQ(before.size(), 1u);
    const std::string disk = before[0].node.blockDevice;
    // In command mode the camera's disk has no medium.
    const auto sizeOf = [](const std::string& name) -> std::uint64_t {
        for (const sg::BlockDevice& device : sg::ListBlockDevices()) {
            if (device.name == name) {
                return device.sectors;
            }
        }
        return 0;
    };
    EXPECT_EQ(sizeOf(disk), 0u);

    const sg::OpenResult opened = sg::OpenNode(before[0].node.path);
    ASSERT_TRUE(opened.ok()) << cli::OpenErrorText(before[0].node.path, opened.errnum);
    const Answer release = Vendor(opened.fd, true, 15);
    EXPECT_TRUE(Good(release.outcome)) << Describe(release.outcome);
    sg::CloseNode(opened.fd);
    EXPECT_EQ(served.State()["mode"], "storage");

    // The volume: a KMZ disk with its medium, found by vendor as a person's tool would.
    sg::BlockDevice volume;
    ASSERT_TRUE(WaitFor([&] {
        for (const sg::BlockDevice& device : sg::ListBlockDevices()) {
            if (device.vendor != "KMZ") {
                continue;
            }
            if (const std::uint64_t sectors = sg::MediumSectors(device); sectors > 0) {
                volume = device;
                volume.sectors = sectors;
                return true;
            }
        }
        return false;
    })) << "no KMZ disk with a medium appeared";
    EXPECT_EQ(volume.sectors, 2048u);
    EXPECT_TRUE(volume.removable);
    EXPECT_EQ(volume.mountPoint, "");
    EXPECT_FALSE(volume.usbDevice.empty());
    if (c.sameDevice) {
        EXPECT_EQ(volume.name, disk);
    } else {
        // The command-mode device has gone; one device is left, the camera in storage mode.
        EXPECT_TRUE(bench->WaitForNodes(1));
        const std::vector<sg::Node> nodes = sg::ListNodes();
        ASSERT_EQ(nodes.size(), 1u);
        EXPECT_EQ(nodes[0].blockDevice, volume.name);
        EXPECT_EQ(nodes[0].usbSerial.substr(0, 3), "ZQF");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kernel, Release,
    ::testing::Values(ReleaseCase{"OnItsOwnDisk", "camera E\n", true},
                      ReleaseCase{"AsANewDevice", "camera E\nstorage letter=F\n", false}),
    [](const ::testing::TestParamInfo<ReleaseCase>& param) { return param.param.name; });

// ---- unplug and plug ----

TEST_F(Camera, UnplugFailsTheOpenNodeAndPlugBringsAFreshCamera) {
    const std::string world = "camera E resolution=0\n";
    Served& served = Plug(world);
    const int fd = OpenCamera();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Good(Vendor(fd, false, 1, {1}).outcome));

    served.Rewrite("");
    ASSERT_TRUE(WaitFor([] { return GuestBench::NodeCount() == 0; }))
        << "the node did not go with the device";
    const Answer gone = Vendor(fd, true, 14);
    EXPECT_FALSE(Good(gone.outcome));
    EXPECT_TRUE(!gone.outcome.callOk || gone.outcome.hostStatus != 0) << Describe(gone.outcome);
    sg::CloseNode(fd);
    EXPECT_TRUE(Cameras().empty());

    served.Rewrite(world);
    ASSERT_TRUE(bench->WaitForNodes(1)) << "the camera did not come back";
    const int again = OpenCamera();
    ASSERT_GE(again, 0);
    // A camera plugged in again starts from its world: the setting made before is gone.
    const Answer resolution = Vendor(again, true, 1);
    ASSERT_TRUE(Good(resolution.outcome)) << Describe(resolution.outcome);
    EXPECT_EQ(resolution.data[0], 0);
    EXPECT_TRUE(Good(Vendor(again, true, 14).outcome));
    sg::CloseNode(again);
}

// ---- opening the node ----

using Access = Scenario;

TEST_F(Access, OpenErrorsAreNamedWithWhatToDo) {
    Plug("camera E\n");
    const std::vector<Seen> cameras = Cameras();
    ASSERT_EQ(cameras.size(), 1u);
    const std::string node = cameras[0].node.path;

    struct Case {
        const char* name;
        mode_t mode;
        gid_t group;
        bool holdExclusive;
        std::string path;
        sg::OpenError error;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {"root only",
         0600,
         0,
         false,
         node,
         sg::OpenError::kPermissionDenied,
         {"permission denied on " + node, "mode 0600", "only root", "udev rule"}},
        {"group disk",
         0660,
         6,
         false,
         node,
         sg::OpenError::kPermissionDenied,
         {"group disk", "usermod -aG disk", "udev rule"}},
        {"no such node",
         0600,
         0,
         false,
         "/dev/sg99",
         sg::OpenError::kNoDevice,
         {"no such device: /dev/sg99"}},
        {"held exclusively", 0666, 0, true, node, sg::OpenError::kBusy, {"device busy: " + node}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(chown(node.c_str(), 0, c.group), 0);
        ASSERT_EQ(chmod(node.c_str(), c.mode), 0);
        int holder = -1;
        if (c.holdExclusive) {
            holder = open(node.c_str(), O_RDWR | O_EXCL | O_NONBLOCK);
            ASSERT_GE(holder, 0) << std::strerror(errno);
        }
        // Opened as an unprivileged user; the child reports the reason and whether the text
        // holds every expected phrase.
        const int reported = guest::RunAs(kNobody, kNogroup, [&] {
            const sg::OpenResult result = sg::OpenNode(c.path);
            if (result.ok()) {
                return 100;
            }
            // What the tool tells of it.
            const std::string message = cli::OpenErrorText(c.path, result.errnum);
            for (const std::string& text : c.texts) {
                if (message.find(text) == std::string::npos) {
                    std::fprintf(stderr, "missing \"%s\" in: %s\n", text.c_str(), message.c_str());
                    return 101;
                }
            }
            return static_cast<int>(result.error);
        });
        EXPECT_EQ(reported, static_cast<int>(c.error));
        if (holder >= 0) {
            close(holder);
        }
    }
    // Root, with the node back as the kernel made it, opens it.
    ASSERT_EQ(chown(node.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(node.c_str(), 0600), 0);
    const sg::OpenResult root = sg::OpenNode(node);
    EXPECT_TRUE(root.ok()) << cli::OpenErrorText(node, root.errnum);
    sg::CloseNode(root.fd);
}

// ---- commands ----

TEST_P(Command, AnswersAsExpected) {
    const guest::CommandScenario& c = GetParam();
    std::vector<Served*> served;
    for (const std::string& world : c.worlds) {
        served.push_back(&bench->Serve(world));
    }
    if (!served.empty()) {
        bench->Attach();
    }
    ASSERT_TRUE(bench->WaitForNodes(c.nodes));
    const uid_t user = c.unprivileged ? kNobody : static_cast<uid_t>(-1);
    const gid_t group = c.unprivileged ? kNogroup : static_cast<gid_t>(-1);
    const guest::CommandResult run =
        guest::RunCommand(c.argv, std::chrono::seconds(30), user, group);
    EXPECT_EQ(run.exitCode, c.exitCode) << "out:\n" << run.out << "err:\n" << run.err;
    for (const std::string& text : c.outContains) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << " not in:\n" << run.out;
    }
    for (const std::string& text : c.errContains) {
        EXPECT_NE(run.err.find(text), std::string::npos) << text << " not in:\n" << run.err;
    }
    for (const auto& [key, value] : c.stateAfter) {
        ASSERT_FALSE(served.empty());
        EXPECT_EQ(served[0]->State()[key], value) << key;
    }
    // JSON output: one document a line, each telling the exit code the process ended with; kept
    // for the check against the schema that follows the guest's run.
    if (std::find(c.argv.begin(), c.argv.end(), "--json") != c.argv.end()) {
        guest::KeepJson(Name(), run.out);
        EXPECT_EQ(run.err, "") << "JSON mode writes nothing else";
        std::istringstream lines(run.out);
        std::string line;
        int last = -1;
        while (std::getline(lines, line)) {
            const nlohmann::json document = nlohmann::json::parse(line, nullptr, false);
            ASSERT_FALSE(document.is_discarded()) << "not JSON: " << line;
            last = document.value("exit_code", -1);
        }
        EXPECT_EQ(last, c.exitCode) << run.out;
    }
}

// The probe of the Linux layer as the command; the command-line tool's scenarios take its place.
INSTANTIATE_TEST_SUITE_P(
    Probe, Command,
    ::testing::Values(
        guest::CommandScenario{.name = "NoCamera", .argv = {ZQ_SG_PROBE}, .exitCode = 1},
        guest::CommandScenario{.name = "CameraAndDisk",
                               .worlds = {"drive D removable scsi=disk\ncamera E\n"},
                               .nodes = 2,
                               .argv = {ZQ_SG_PROBE},
                               .outContains = {" camera vendor=\"KMZ\" model=\"DV CAMERA\" disk=sd",
                                               " other vendor=\"ZQSIM\" model=\"SIMULATED DISK\""},
                               .stateAfter = {{"mode", "command"}}},
        guest::CommandScenario{.name = "Unprivileged",
                               .worlds = {"camera E\n"},
                               .nodes = 1,
                               .argv = {ZQ_SG_PROBE},
                               .unprivileged = true,
                               .exitCode = 3,
                               .outContains = {" unopened vendor=\"KMZ\""},
                               .errContains = {"permission denied on /dev/sg", "udev rule"}}),
    [](const ::testing::TestParamInfo<guest::CommandScenario>& param) {
        return std::string(param.param.name);
    });

}  // namespace
