// The Linux backend where it needs no kernel: device names, the probe's verdicts on nodes that
// cannot be asked (a made-up sysfs tree and /dev), the kernel's outcome as the link's outcome,
// the camera's volume among the disks, the opener, and device text. Against a real kernel it is
// run in the guest (tests/guest/cli_scenarios_test.cpp).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/arrivals_linux.h"
#include "cli/backend_linux.h"
#include "cli/tool.h"
#include "tests/support/sim_test.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// INQUIRY data as the kernel keeps it: peripheral type 0, removable, byte 3 as given, "KMZ".
std::string InquiryData(std::uint8_t byte3) {
    std::string data(36, '\0');
    data[1] = static_cast<char>(0x80);
    data[2] = 2;
    data[3] = static_cast<char>(byte3);
    data.replace(8, 24, "KMZ     DV CAMERA       ");
    return data;
}

// A sysfs tree, /dev and a mount table of their own. Devices on USB, each a SCSI device with its
// SCSI generic node and (with a name) its disk:
//   sg0  sda  KMZ      removable, 2048 sectors, mounted at "/media/me/CAM CARD"
//   sg1  sdb  Generic  removable, a card reader
//   sg2  sdc  KMZ      fixed (not removable)
//   sg3  sdd  " KMZ  " removable, 100 sectors, not mounted
//   sg4  sde  kmz      removable
//   sg5  sdf  KMZX     removable
//   sg6  sdg  KMZ      removable, no medium
//   sg7  -    a tape drive without disk
// and a disk sdz with no SCSI generic node.
class LinuxBackendTest : public ::testing::Test {
  public:
    struct Disk {
        const char* node;
        const char* disk;
        const char* vendor;
        bool removable;
        int sectors;
    };

    void SetUp() override {
        char pattern[] = "/tmp/zq-linux-backend.XXXXXX";
        root = mkdtemp(pattern);
        settings.roots.sys = (root / "sys").string();
        settings.roots.dev = (root / "dev").string();
        settings.roots.mounts = (root / "mounts").string();
        settings.mountWaitMs = 0;
        fs::create_directories(root / "dev");
        const Disk disks[] = {
            {"sg0", "sda", "KMZ     ", true, 2048},  {"sg1", "sdb", "Generic ", true, 0},
            {"sg2", "sdc", "KMZ     ", false, 2048}, {"sg3", "sdd", " KMZ    ", true, 100},
            {"sg4", "sde", "kmz     ", true, 2048},  {"sg5", "sdf", "KMZX    ", true, 2048},
            {"sg6", "sdg", "KMZ     ", true, 0},     {"sg7", "", "HP      ", false, 0},
        };
        int port = 1;
        for (const Disk& disk : disks) {
            AddDevice(disk, port++);
        }
        Write(root / "sys/block/sdz/size", "64\n");
        Write(root / "mounts", "sysfs /sys sysfs rw 0 0\n" + Dev("sda") +
                                   "1 /media/me/CAM\\040CARD vfat rw,nosuid 0 0\n");
    }

    void TearDown() override { fs::remove_all(root); }

    std::string Dev(const std::string& name) const { return (root / "dev" / name).string(); }

    void AddDevice(const Disk& disk, int port) {
        const std::string usb = "1-" + std::to_string(port);
        const fs::path device = root / "sys/devices/platform/vhci_hcd.0/usb1" / usb /
                                (usb + ":1.0") / "host0/target0:0:0" /
                                ("0:0:0:" + std::to_string(port));
        Write(device / "vendor", std::string(disk.vendor) + "\n");
        Write(device / "model", "DV CAMERA       \n");
        Write(device / "rev", "1.00\n");
        Write(device / "type", std::string(*disk.disk != 0 ? "0" : "1") + "\n");
        const fs::path node = root / "sys/class/scsi_generic" / disk.node;
        fs::create_directories(node);
        fs::create_directory_symlink(device, node / "device");
        Write(root / "dev" / disk.node, "");
        if (*disk.disk == 0) {
            return;
        }
        const fs::path block = device / "block" / disk.disk;
        Write(block / "size", std::to_string(disk.sectors) + "\n");
        Write(block / "removable", disk.removable ? "1\n" : "0\n");
        fs::create_directory_symlink(device, block / "device");
        fs::create_directories(root / "sys/block");
        fs::create_directory_symlink(block, root / "sys/block" / disk.disk);
        Write(root / "dev" / disk.disk, "");
    }

    // Makes the node `name` one that cannot be opened (a folder: EISDIR), with the kernel's
    // INQUIRY data `inquiry` (none when empty).
    void Unopenable(const std::string& name, const std::string& inquiry) {
        fs::remove(root / "dev" / name);
        fs::create_directories(root / "dev" / name);
        if (!inquiry.empty()) {
            Write(root / "sys/class/scsi_generic" / name / "device" / "inquiry", inquiry);
        }
    }

    fs::path root;
    cli::LinuxSettings settings;
};

struct NameCase {
    const char* name;
    const char* text;
    const char* device;  // relative to the test's /dev; nullptr: not a device name
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.name;
}

class DeviceNames : public LinuxBackendTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DeviceNames, AreTheNodesAUserTypes) {
    const NameCase& c = GetParam();
    cli::LinuxBackend backend(settings);
    const std::optional<std::string> device = backend.ParseDevice(c.text);
    if (c.device == nullptr) {
        EXPECT_FALSE(device.has_value()) << *device;
    } else {
        ASSERT_TRUE(device.has_value());
        EXPECT_EQ(*device, Dev(c.device));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Linux, DeviceNames,
    ::testing::Values(NameCase{"FullPath", "/dev/sg1", "sg1"}, NameCase{"NodeName", "sg12", "sg12"},
                      NameCase{"AbsentNodeIsStillAName", "/dev/sg99", "sg99"},
                      NameCase{"DiskNamesItsNode", "/dev/sda", "sg0"},
                      NameCase{"PartitionNamesItsDisksNode", "sdd1", "sg3"},
                      NameCase{"DiskWithoutNodeStaysADisk", "/dev/sdz", "sdz"},
                      NameCase{"DriveLetter", "E:", nullptr}, NameCase{"Empty", "", nullptr},
                      NameCase{"NoNumber", "sg", nullptr}, NameCase{"Trailing", "sg1a", nullptr},
                      NameCase{"OtherDevice", "/dev/tty0", nullptr},
                      NameCase{"OtherFolder", "/tmp/sg1", nullptr},
                      NameCase{"NvmeDisk", "/dev/nvme0n1", nullptr}),
    zqtest::ByName{});

TEST_F(LinuxBackendTest, CandidatesAreTheNodesInNumberOrder) {
    cli::LinuxBackend backend(settings);
    Write(root / "sys/class/scsi_generic/sg10/device/vendor", "X\n");
    const std::vector<std::string> expected = {Dev("sg0"), Dev("sg1"), Dev("sg2"),
                                               Dev("sg3"), Dev("sg4"), Dev("sg5"),
                                               Dev("sg6"), Dev("sg7"), Dev("sg10")};
    EXPECT_EQ(backend.Candidates(), expected);
}

// What the probe makes of a node it cannot ask itself. A node that opens but is no SCSI device
// (a plain file here) fails its INQUIRY's call.
struct ProbeCase {
    const char* name;
    const char* device;  // relative to the test's /dev
    bool unopenable;
    int kernelByte3;  // the kernel's INQUIRY byte 3; -1: no INQUIRY data in sysfs
    cli::ProbeResult result;
    int systemError;
    const char* text;  // in Probe::systemText
};

void PrintTo(const ProbeCase& c, std::ostream* out) {
    *out << c.name;
}

class Probes : public LinuxBackendTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(Probes, TellWhatTheNodeIs) {
    const ProbeCase& c = GetParam();
    if (c.unopenable) {
        Unopenable(c.device, c.kernelByte3 < 0
                                 ? std::string()
                                 : InquiryData(static_cast<std::uint8_t>(c.kernelByte3)));
    }
    cli::LinuxBackend backend(settings);
    const std::size_t descriptors = OpenDescriptors();
    const cli::Probe probe = backend.ProbeDevice(Dev(c.device));
    EXPECT_EQ(probe.device, Dev(c.device));
    EXPECT_EQ(probe.result, c.result);
    EXPECT_EQ(probe.systemError, static_cast<std::uint32_t>(c.systemError));
    EXPECT_NE(probe.systemText.find(c.text), std::string::npos) << probe.systemText;
    if (c.result == cli::ProbeResult::kNotCamera) {
        EXPECT_EQ(probe.inquiryData[3], c.kernelByte3);
        EXPECT_EQ(std::string(probe.inquiryData.begin() + 8, probe.inquiryData.begin() + 11),
                  "KMZ");
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the probe left a node open";
}

INSTANTIATE_TEST_SUITE_P(
    Linux, Probes,
    ::testing::Values(
        ProbeCase{"NodeNotThere", "sg9", false, -1, cli::ProbeResult::kAbsent, ENOENT,
                  "no such device: "},
        ProbeCase{"UnopenableDiskIsNoCamera", "sg1", true, 2, cli::ProbeResult::kNotCamera, 0, ""},
        ProbeCase{"UnopenableCameraIsAFailure", "sg0", true, 1, cli::ProbeResult::kOpenFailed,
                  EISDIR, "Is a directory"},
        ProbeCase{"UnopenableWithoutKernelDataIsAFailure", "sg0", true, -1,
                  cli::ProbeResult::kOpenFailed, EISDIR, "cannot open "},
        ProbeCase{"NotASCSIDevice", "sg0", false, -1, cli::ProbeResult::kInquiryFailed, ENOTTY, ""},
        ProbeCase{"DiskWithoutNode", "sdz", false, -1, cli::ProbeResult::kOpenFailed, ENODEV,
                  "has no SCSI generic node (the SCSI generic driver is not loaded"},
        ProbeCase{"DiskNotThere", "sdq", false, -1, cli::ProbeResult::kAbsent, ENOENT,
                  "no such device: "}),
    zqtest::ByName{});

// The mark without USB is no camera, as the udev rule has it: a SATA disk the user may not open
// that happens to answer byte 3 = 1 is passed over, not reported as a camera it cannot open.
TEST_F(LinuxBackendTest, UnopenableMarkedNodeOffUsbIsNoCamera) {
    const fs::path device =
        root / "sys/devices/pci0000:00/0000:00:1f.2/ata1/host5/target5:0:0" / "5:0:0:0";
    Write(device / "vendor", "ATA     \n");
    Write(device / "inquiry", InquiryData(1));
    fs::create_directories(root / "sys/class/scsi_generic/sg20");
    fs::create_directory_symlink(device, root / "sys/class/scsi_generic/sg20/device");
    fs::create_directories(root / "dev/sg20");  // a folder: EISDIR
    cli::LinuxBackend backend(settings);

    const cli::Probe probe = backend.ProbeDevice(Dev("sg20"));

    EXPECT_EQ(probe.result, cli::ProbeResult::kNotCamera);
    EXPECT_EQ(probe.systemError, 0u);
}

// The kernel's report of one command as the camera link's outcome.
struct OutcomeCase {
    const char* name;
    sg::Outcome outcome;
    bool callSucceeded;
    std::uint32_t systemError;
    std::uint8_t senseLength;
    OutcomeCategory category;  // of a vendor command, which needs 8 bytes
};

void PrintTo(const OutcomeCase& c, std::ostream* out) {
    *out << c.name;
}

sg::Outcome Kernel(bool callOk, int errnum, std::uint8_t status, std::uint16_t host,
                   std::uint16_t driver, std::uint8_t senseLength, std::uint32_t delivered,
                   std::uint32_t durationMs = 5) {
    sg::Outcome outcome;
    outcome.callOk = callOk;
    outcome.errnum = errnum;
    outcome.scsiStatus = status;
    outcome.hostStatus = host;
    outcome.driverStatus = driver;
    outcome.senseLength = senseLength;
    for (std::size_t i = 0; i < outcome.sense.size(); ++i) {
        outcome.sense[i] = static_cast<std::uint8_t>(0x70 + i);
    }
    outcome.delivered = delivered;
    outcome.durationMs = durationMs;
    return outcome;
}

class Outcomes : public ::testing::TestWithParam<OutcomeCase> {};

using C = OutcomeCategory;

TEST_P(Outcomes, MapOntoThePassThroughOutcome) {
    const OutcomeCase& c = GetParam();
    const PassThroughOutcome mapped = cli::OutcomeOf(c.outcome, 2000);
    EXPECT_EQ(Categorize(mapped, kVendorAnswerSize), c.category);
    EXPECT_EQ(mapped.callSucceeded, c.callSucceeded);
    EXPECT_EQ(mapped.systemError, c.systemError);
    if (!c.callSucceeded) {
        EXPECT_EQ(mapped.dataBytes, 0u);
        return;
    }
    EXPECT_EQ(mapped.scsiStatus, c.outcome.scsiStatus);
    EXPECT_EQ(mapped.dataBytes, c.outcome.delivered);
    ASSERT_EQ(mapped.senseLength, c.senseLength);
    for (std::size_t i = 0; i < kSenseInfoLength; ++i) {
        EXPECT_EQ(mapped.sense[i], i < c.senseLength ? c.outcome.sense[i] : 0) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Linux, Outcomes,
    ::testing::Values(
        OutcomeCase{"Good", Kernel(true, 0, 0, 0, 0, 0, 8), true, 0, 0, C::kGood},
        OutcomeCase{"ShortAnswer", Kernel(true, 0, 0, 0, 0, 0, 3), true, 0, 0, C::kShortAnswer},
        OutcomeCase{"CheckConditionWithSense", Kernel(true, 0, 2, 0, 0x08, 18, 0), true, 0, 18,
                    C::kCheckCondition},
        OutcomeCase{"LongSenseIsCut", Kernel(true, 0, 2, 0, 0x08, 32, 0), true, 0, 24,
                    C::kCheckCondition},
        OutcomeCase{"BusyDevice", Kernel(true, 0, 8, 0, 0, 0, 0), true, 0, 0, C::kOtherStatus},
        OutcomeCase{"IoctlFailed", Kernel(false, ENODEV, 0, 0, 0, 0, 0), false, ENODEV, 0,
                    C::kSystemError},
        OutcomeCase{"TransportError", Kernel(true, 0, 0, 0x07, 0, 0, 0), false, EIO, 0,
                    C::kTransportFailure},
        OutcomeCase{"TimedOut", Kernel(true, 0, 0, 0x03, 0, 0, 0), false, ETIMEDOUT, 0,
                    C::kTransportFailure},
        OutcomeCase{"AbortedAtTheTimeOut", Kernel(true, 0, 0, 0x05, 0, 0, 0, 2000), false,
                    ETIMEDOUT, 0, C::kTransportFailure},
        OutcomeCase{"AbortedEarly", Kernel(true, 0, 0, 0x05, 0, 0, 0, 30), false, EIO, 0,
                    C::kTransportFailure},
        OutcomeCase{"DriverTimeOut", Kernel(true, 0, 0, 0, 0x06, 0, 0), false, ETIMEDOUT, 0,
                    C::kTransportFailure},
        OutcomeCase{"DeviceGone", Kernel(true, 0, 0, 0x01, 0, 0, 0), false, ENODEV, 0,
                    C::kTransportFailure},
        OutcomeCase{"BadTarget", Kernel(true, 0, 0, 0x04, 0, 0, 0), false, ENODEV, 0,
                    C::kTransportFailure},
        OutcomeCase{"BusBusy", Kernel(true, 0, 0, 0x02, 0, 0, 0), false, EBUSY, 0,
                    C::kTransportFailure},
        OutcomeCase{"DriverError", Kernel(true, 0, 2, 0, 0x0C, 18, 0), false, EIO, 0,
                    C::kTransportFailure}),
    zqtest::ByName{});

// The camera's volume: a removable disk whose vendor is "KMZ" (blanks around it aside) and that
// has a medium; its root is where it is mounted, or its block device with a note.
TEST_F(LinuxBackendTest, CameraVolumesAreTheCamerasDisksWithAMedium) {
    cli::LinuxBackend backend(settings);
    const std::vector<cli::Volume> volumes = backend.CameraVolumes();
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].root, "/media/me/CAM CARD");
    EXPECT_EQ(volumes[0].device, Dev("sg0"));
    EXPECT_TRUE(volumes[0].notes.empty());
    EXPECT_EQ(volumes[1].root, Dev("sdd"));
    EXPECT_EQ(volumes[1].device, Dev("sg3"));
    EXPECT_EQ(
        volumes[1].notes,
        std::vector<std::string>{"the volume is not mounted; its block device is " + Dev("sdd")});
}

TEST_F(LinuxBackendTest, AMediumThatCameSinceCounts) {
    Write(root / "sys/block/sdg/size", "4096\n");
    cli::LinuxBackend backend(settings);
    const std::vector<cli::Volume> volumes = backend.CameraVolumes();
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[2].device, Dev("sg6"));
}

// After the release command the camera's volume is a disk that came, or changed, since the wait
// began; the camera volumes there before (sda and sdd) are not it while they stay as they were.
struct WatchCase {
    const char* name;
    std::function<void(LinuxBackendTest&)> meanwhile;
    const char* device;  // the volume's device, relative to the test's /dev; nullptr: none
};

void PrintTo(const WatchCase& c, std::ostream* out) {
    *out << c.name;
}

class VolumeWatching : public LinuxBackendTest, public ::testing::WithParamInterface<WatchCase> {};

TEST_P(VolumeWatching, TakesOnlyADiskThatCameOrChanged) {
    const WatchCase& c = GetParam();
    Write(root / "sys/block/sda/diskseq", "3\n");
    Write(root / "sys/block/sdd/diskseq", "5\n");
    cli::LinuxBackend backend(settings);
    std::uint32_t error = 99;
    const std::unique_ptr<cli::VolumeWatch> watch = backend.WatchVolumes(0, error);
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(error, 0u);
    if (c.meanwhile) {
        c.meanwhile(*this);
    }

    const cli::VolumeEvent event = watch->Next();

    if (c.device == nullptr) {
        EXPECT_EQ(event.kind, cli::VolumeEvent::Kind::kTimeout) << event.volume.root;
    } else {
        ASSERT_EQ(event.kind, cli::VolumeEvent::Kind::kVolume);
        EXPECT_EQ(event.volume.device, Dev(c.device));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Linux, VolumeWatching,
    ::testing::Values(
        WatchCase{"NothingChanged", {}, nullptr},
        WatchCase{"SameNameNewSequenceNumber",
                  [](LinuxBackendTest& test) { Write(test.root / "sys/block/sdd/diskseq", "8\n"); },
                  "sg3"},
        WatchCase{"AMediumCameOnTheCamerasDisk",
                  [](LinuxBackendTest& test) { Write(test.root / "sys/block/sdg/size", "4096\n"); },
                  "sg6"},
        WatchCase{"ANewDisk",
                  [](LinuxBackendTest& test) {
                      test.AddDevice({"sg8", "sdh", "KMZ     ", true, 64}, 9);
                  },
                  "sg8"},
        WatchCase{"ANewDiskOfAnotherVendor",
                  [](LinuxBackendTest& test) {
                      test.AddDevice({"sg8", "sdh", "Generic ", true, 64}, 9);
                  },
                  nullptr},
        WatchCase{"TheCamerasDiskGoneAndAnotherChanged",
                  [](LinuxBackendTest& test) {
                      fs::remove(test.root / "sys/block/sda");
                      Write(test.root / "sys/block/sdd/diskseq", "5\n");
                  },
                  nullptr}),
    zqtest::ByName{});

// The opener gets the folder and is not waited for; it writes what it was given to a file.
struct OpenCase {
    const char* name;
    const char* root;  // "@sda": the test's /dev/sda
    bool opener;       // the opener program exists
    bool started;
    const char* given;  // what the opener was handed
};

void PrintTo(const OpenCase& c, std::ostream* out) {
    *out << c.name;
}

class Opening : public LinuxBackendTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(Opening, StartsTheOpenerOnTheFolder) {
    const OpenCase& c = GetParam();
    const fs::path record = root / "opened.txt";
    const fs::path opener = root / "opener";
    if (c.opener) {
        Write(opener, "#!/bin/sh\nprintf '%s' \"$1\" > " + record.string() + ".new\nmv " +
                          record.string() + ".new " + record.string() + "\n");
        fs::permissions(opener, fs::perms::owner_all);
    }
    settings.opener = {opener.string()};
    cli::LinuxBackend backend(settings);
    const std::string given = c.root[0] == '@' ? Dev(c.root + 1) : c.root;
    EXPECT_EQ(backend.OpenFolder(given), c.started);
    if (c.started) {
        ASSERT_TRUE([&] {
            for (int look = 0; look < 200 && !fs::exists(record); ++look) {
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
            return fs::exists(record);
        }()) << "the opener did not run";
        EXPECT_EQ(Read(record), c.given);
    } else {
        EXPECT_FALSE(fs::exists(record));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Linux, Opening,
    ::testing::Values(
        OpenCase{"MountPoint", "/media/me/CAM CARD", true, true, "/media/me/CAM CARD"},
        OpenCase{"MountedDiskOpensItsMountPoint", "@sda", true, true, "/media/me/CAM CARD"},
        OpenCase{"UnmountedDiskStartsNothing", "@sdd", true, false, ""},
        OpenCase{"MissingOpener", "/media/me/CAM CARD", false, false, ""}),
    zqtest::ByName{});

struct TextCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* utf8;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << c.name;
}

class DeviceTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(DeviceTexts, AreReadInCodePage1252) {
    const TextCase& c = GetParam();
    EXPECT_EQ(cli::Utf8FromCp1252(c.bytes), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(Linux, DeviceTexts,
                         ::testing::Values(TextCase{"Ascii", {'V', '1', '.', '0'}, "V1.0"},
                                           TextCase{"Empty", {}, ""},
                                           TextCase{"Euro", {'1', 0x80}, "1\xE2\x82\xAC"},
                                           TextCase{"Latin", {0xE9, 0xFF}, "\xC3\xA9\xC3\xBF"},
                                           TextCase{"UpperHalfOfThePage", {0x9F}, "\xC5\xB8"},
                                           TextCase{"UndefinedByte",
                                                    {'A', 0x81, 'B'},
                                                    "A\xEF\xBF\xBD"
                                                    "B"},
                                           TextCase{"ControlStaysForTheReport", {0x01}, "\x01"}),
                         zqtest::ByName{});

// The whole tool over the Linux backend, where no device answers: what a Linux user is told.
struct ToolCase {
    const char* name;
    std::function<void(LinuxBackendTest&)> before;
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> out;  // each in standard output; "@" stands for the test's /dev
    std::vector<std::string> err;  // each in standard error
};

void PrintTo(const ToolCase& c, std::ostream* out) {
    *out << c.name;
}

class LinuxTool : public LinuxBackendTest, public ::testing::WithParamInterface<ToolCase> {};

struct Recorded : cli::Output {
    std::string out;
    std::string err;
    void Out(std::string_view text) override { out += text; }
    void Err(std::string_view text) override { err += text; }
};

TEST_P(LinuxTool, TellsALinuxUserWhatIsWrong) {
    const ToolCase& c = GetParam();
    if (c.before) {
        c.before(*this);
    }
    cli::LinuxBackend backend(settings);
    cli::ArrivalSettings arrivalSettings;
    arrivalSettings.roots = settings.roots;
    cli::LinuxArrivals arrivals(arrivalSettings);
    Recorded output;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "zelquin-cli");
    EXPECT_EQ(cli::RunTool(args, backend, arrivals, output), c.exit) << output.err;
    const auto expand = [this](std::string text) {
        for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@')) {
            text.replace(at, 1, (root / "dev").string());
        }
        return text;
    };
    for (const std::string& text : c.out) {
        EXPECT_NE(output.out.find(expand(text)), std::string::npos) << expand(text) << " not in\n"
                                                                    << output.out;
    }
    for (const std::string& text : c.err) {
        EXPECT_NE(output.err.find(expand(text)), std::string::npos) << expand(text) << " not in\n"
                                                                    << output.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Linux, LinuxTool,
    ::testing::Values(
        ToolCase{
            "NoGenericDriver",
            [](LinuxBackendTest& test) { fs::remove_all(test.root / "sys/class/scsi_generic"); },
            {"list"},
            3,
            {},
            {"zelquin-cli: no camera found on @/sg*\n",
             "zelquin-cli:   there is no SCSI generic device at all: the SCSI generic driver "
             "is not loaded (\"sudo modprobe sg\")\n"}},
        ToolCase{
            "NoDeviceAtAll",
            [](LinuxBackendTest& test) {
                fs::remove_all(test.root / "sys/class/scsi_generic");
                fs::create_directories(test.root / "sys/class/scsi_generic");
            },
            {"status", "--json"},
            3,
            {R"("notes":["there is no SCSI generic device at all: is the camera plugged in and switched on?"])"},
            {}},
        ToolCase{"NotADeviceName",
                 {},
                 {"status", "--device", "/dev/tty0"},
                 2,
                 {},
                 {"'/dev/tty0' is not a drive that can hold a camera (@/sgN or sgN, or a SCSI "
                  "disk @/sdX)"}},
        ToolCase{"ACameraThatCannotBeOpened",
                 [](LinuxBackendTest& test) { test.Unopenable("sg3", InquiryData(1)); },
                 {"list"},
                 3,
                 {},
                 {"zelquin-cli: @/sg3 could not be opened: cannot open @/sg3: Is a directory "
                  "(system error 21)\n",
                  "no camera found on @/sg*; one drive could not be opened and may hold one\n"}},
        ToolCase{"NodesThatAreNoSCSIDevices",
                 {},
                 {"-v", "list"},
                 3,
                 {},
                 {"zelquin-cli: @/sg0 opened, but its INQUIRY failed: Inappropriate ioctl for "
                  "device (system error 25)\n"}},
        ToolCase{"HelpNamesTheLinuxDevices",
                 {},
                 {"status", "--help"},
                 0,
                 {"-d,--drive,--device", "the camera's drive, e.g. @/sg1"},
                 {}}),
    zqtest::ByName{});

TEST(LinuxErrorText, IsTheSystemsTextForTheCode) {
    cli::LinuxBackend backend;
    EXPECT_EQ(backend.ErrorText(EACCES), "Permission denied");
    EXPECT_EQ(backend.ErrorText(ENODEV), "No such device");
    EXPECT_EQ(backend.ErrorText(0), "");
}

TEST(OpenErrorText, SaysForEachErrnoWhatHappenedAndWhatToDo) {
    struct Case {
        int errnum;
        const char* text;
    };
    const Case cases[] = {
        {EACCES, "permission denied on /no/such/node"},
        {EPERM, "udev rule"},
        {ENODEV, "no such device: /no/such/node ("},
        {ENXIO, "no such device"},
        {EBUSY, "device busy: /no/such/node is held open exclusively"},
        {EIO, "cannot open /no/such/node: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errnum);
        const std::string text = cli::OpenErrorText("/no/such/node", c.errnum);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
    }
    EXPECT_EQ(cli::OpenErrorText("/no/such/node", 0), "");
}

TEST(OpenErrorText, WithoutTheScsiGenericClassNamesTheMissingDriver) {
    char folder[] = "/tmp/zq-sys.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    sg::Roots roots;
    roots.sys = folder;
    EXPECT_NE(cli::OpenErrorText("/dev/sg0", ENOENT, roots).find("sudo modprobe sg"),
              std::string::npos);
    fs::create_directories(fs::path(folder) / "class" / "scsi_generic");
    EXPECT_NE(cli::OpenErrorText("/dev/sg0", ENOENT, roots).find("unplugged"), std::string::npos);
    fs::remove_all(folder);
}

TEST(OpenErrorText, PermissionTextNamesTheNodesGroupAndMode) {
    char pattern[] = "/tmp/zq-node.XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    struct Case {
        gid_t group;
        mode_t mode;
        std::vector<std::string> texts;
        std::vector<std::string> absent;
    };
    // Group 6 is "disk" on Debian; a group that may read and write is the way in, one that may
    // not is not offered.
    const std::vector<Case> cases = {
        {getegid(), 0600, {"mode 0600", "may open it;", "udev rule"}, {"usermod"}},
        {6, 0660, {"group disk", "sudo usermod -aG disk $USER", "udev rule"}, {"only root"}},
        {6, 0640, {"mode 0640", "may open it;"}, {"usermod"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        if (chown(pattern, static_cast<uid_t>(-1), c.group) != 0) {
            unlink(pattern);
            GTEST_SKIP() << "cannot give the node to group " << c.group << " here";
        }
        ASSERT_EQ(chmod(pattern, c.mode), 0);
        const std::string text = cli::OpenErrorText(pattern, EACCES);
        for (const std::string& expected : c.texts) {
            EXPECT_NE(text.find(expected), std::string::npos) << text;
        }
        for (const std::string& unexpected : c.absent) {
            EXPECT_EQ(text.find(unexpected), std::string::npos) << text;
        }
    }
    unlink(pattern);
}

}  // namespace
