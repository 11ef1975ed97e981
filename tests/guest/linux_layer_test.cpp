// The Linux device layer where it does not need a kernel: reading sysfs (a tree made here), the
// mount table, the open errors' classes, and the transport's verdict in the kernel's report. The
// layer against the real kernel is in scenarios_test.cpp, run in the guest; what the tool tells
// of an open error is tested with its backend (tests/cli/linux_backend_test.cpp).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/linux/scsi_generic.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A sysfs tree: a camera on USB port 1-1 (sg0, sda), a card reader behind a hub at 2-1.4 (sg2,
// sdb, no medium), a SATA DVD drive without a disk (sg10), and the mount table.
class FakeSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zq-sysfs.XXXXXX";
        root = mkdtemp(pattern);
        roots.sys = (root / "sys").string();
        roots.dev = "/dev";
        roots.mounts = (root / "mounts").string();
        const fs::path devices = root / "sys" / "devices";
        const fs::path camera =
            devices / "platform/vhci_hcd.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0";
        const fs::path reader =
            devices / "pci0000:00/0000:00:14.0/usb2/2-1/2-1.4/2-1.4:1.0/host3/target3:0:0/3:0:0:0";
        const fs::path dvd = devices / "pci0000:00/0000:00:1f.2/ata1/host2/target2:0:0/2:0:0:0";
        Scsi(camera, "KMZ     ", "DV CAMERA       ", 0, "sda");
        Write(devices / "platform/vhci_hcd.0/usb1/1-1/serial", "ZQE-1-2\n");
        Scsi(reader, "Generic ", "Card Reader     ", 0, "sdb");
        Scsi(dvd, "HL-DT-ST", "DVDRAM GH24NSD1 ", 5, "");
        Link("sg0", camera);
        Link("sg10", dvd);
        Link("sg2", reader);
        Disk("sda", camera, "2048", "1");
        Disk("sdb", reader, "0", "1");
        Write(root / "mounts",
              "sysfs /sys sysfs rw 0 0\n"
              "/dev/sdab1 /media/other vfat rw 0 0\n"
              "/dev/sda1 /media/me/CAM\\040CARD vfat rw,nosuid 0 0\n");
    }

    void TearDown() override { fs::remove_all(root); }

    void Scsi(const fs::path& device, const std::string& vendor, const std::string& model, int type,
              const std::string& block) {
        Write(device / "vendor", vendor + "\n");
        Write(device / "model", model + "\n");
        Write(device / "rev", "1.00\n");
        Write(device / "type", std::to_string(type) + "\n");
        if (!block.empty()) {
            fs::create_directories(device / "block" / block);
        }
    }

    void Link(const std::string& name, const fs::path& device) {
        const fs::path node = root / "sys/class/scsi_generic" / name;
        fs::create_directories(node);
        fs::create_directory_symlink(device, node / "device");
    }

    void Disk(const std::string& name, const fs::path& device, const std::string& size,
              const std::string& removable) {
        const fs::path disk = device / "block" / name;
        Write(disk / "size", size + "\n");
        Write(disk / "removable", removable + "\n");
        fs::create_directory_symlink(device, disk / "device");
        fs::create_directories(root / "sys/block");
        fs::create_directory_symlink(disk, root / "sys/block" / name);
    }

    fs::path root;
    sg::Roots roots;
};

TEST_F(FakeSystem, NodesCarryTheirIdentityInNumberOrder) {
    const std::vector<sg::Node> nodes = sg::ListNodes(roots);
    ASSERT_EQ(nodes.size(), 3u);
    struct Expected {
        const char* name;
        const char* vendor;
        const char* model;
        int type;
        const char* address;
        const char* block;
        const char* usb;
        const char* serial;
    };
    const Expected expected[] = {
        {"sg0", "KMZ", "DV CAMERA", 0, "0:0:0:0", "sda", "1-1", "ZQE-1-2"},
        {"sg2", "Generic", "Card Reader", 0, "3:0:0:0", "sdb", "2-1.4", ""},
        {"sg10", "HL-DT-ST", "DVDRAM GH24NSD1", 5, "2:0:0:0", "", "", ""},
    };
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(nodes[i].name, expected[i].name);
        EXPECT_EQ(nodes[i].path, std::string("/dev/") + expected[i].name);
        EXPECT_EQ(nodes[i].vendor, expected[i].vendor);
        EXPECT_EQ(nodes[i].model, expected[i].model);
        EXPECT_EQ(nodes[i].revision, "1.00");
        EXPECT_EQ(nodes[i].type, expected[i].type);
        EXPECT_EQ(nodes[i].scsiAddress, expected[i].address);
        EXPECT_EQ(nodes[i].blockDevice, expected[i].block);
        EXPECT_EQ(nodes[i].usbDevice, expected[i].usb);
        EXPECT_EQ(nodes[i].usbSerial, expected[i].serial);
    }
}

TEST_F(FakeSystem, NoScsiGenericClassMeansNoNodes) {
    fs::remove_all(root / "sys/class/scsi_generic");
    EXPECT_TRUE(sg::ListNodes(roots).empty());
}

TEST_F(FakeSystem, BlockDevicesWithTheirMediumAndMountPoint) {
    const std::vector<sg::BlockDevice> disks = sg::ListBlockDevices(roots);
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].name, "sda");
    EXPECT_EQ(disks[0].vendor, "KMZ");
    EXPECT_EQ(disks[0].model, "DV CAMERA");
    EXPECT_EQ(disks[0].sectors, 2048u);
    EXPECT_TRUE(disks[0].removable);
    EXPECT_EQ(disks[0].usbDevice, "1-1");
    // A partition's mount counts for its disk; the table's \040 is a blank. /dev/sdab1 is not
    // a partition of sda.
    EXPECT_EQ(disks[0].mountPoint, "/media/me/CAM CARD");
    EXPECT_EQ(disks[1].name, "sdb");
    EXPECT_EQ(disks[1].sectors, 0u);
    EXPECT_EQ(disks[1].usbDevice, "2-1.4");
    EXPECT_EQ(disks[1].mountPoint, "");
}

// A disk listed without a medium is looked at again: once its node opens, the size the kernel
// reports then counts. A disk that cannot be opened keeps 0; one listed with a medium keeps its
// count.
TEST_F(FakeSystem, MediumSectorsLookAgainAtADiskListedWithoutOne) {
    roots.dev = (root / "dev").string();
    const std::vector<sg::BlockDevice> disks = sg::ListBlockDevices(roots);
    ASSERT_EQ(disks.size(), 2u);
    ASSERT_EQ(disks[1].sectors, 0u);
    Write(root / "sys/block/sdb/size", "4096\n");
    EXPECT_EQ(sg::MediumSectors(disks[1], roots), 0u) << "no node to open";
    Write(root / "dev/sdb", "");
    EXPECT_EQ(sg::MediumSectors(disks[1], roots), 4096u);
    Write(root / "sys/block/sdb/size", "0\n");
    EXPECT_EQ(sg::MediumSectors(disks[1], roots), 0u) << "still no medium";
    Write(root / "dev/sda", "");
    Write(root / "sys/block/sda/size", "0\n");
    EXPECT_EQ(sg::MediumSectors(disks[0], roots), 2048u) << "listed with its medium";
}

TEST(OpenErrors, EachErrnoHasItsClass) {
    struct Case {
        int errnum;
        sg::OpenError error;
    };
    const Case cases[] = {
        {0, sg::OpenError::kNone},
        {EACCES, sg::OpenError::kPermissionDenied},
        {EPERM, sg::OpenError::kPermissionDenied},
        {ENOENT, sg::OpenError::kNoDevice},
        {ENODEV, sg::OpenError::kNoDevice},
        {ENXIO, sg::OpenError::kNoDevice},
        {EBUSY, sg::OpenError::kBusy},
        {EIO, sg::OpenError::kOther},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sg::ClassifyOpenError(c.errnum), c.error) << c.errnum;
    }
}

TEST(OpenErrors, OpeningWhatIsNotThereIsNoDevice) {
    const sg::OpenResult result = sg::OpenNode("/dev/zq-no-such-sg");
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.errnum, ENOENT);
    EXPECT_EQ(result.error, sg::OpenError::kNoDevice);
}

// The transport failed when the host or the driver says so; a driver status that only says sense
// data came back, and any status of the device, is no failure of the transport.
TEST(Outcomes, TransportFailureIsTheHostsOrTheDriversVerdict) {
    struct Case {
        const char* name;
        bool callOk;
        std::uint8_t status;
        std::uint16_t host;
        std::uint16_t driver;
        bool failed;
    };
    const Case cases[] = {
        {"good", true, 0, 0, 0, false},
        {"sense came back", true, 2, 0, 0x08, false},
        {"device busy", true, 8, 0, 0, false},
        {"host error", true, 0, 7, 0, true},
        {"host time-out", true, 0, 3, 0x06, true},
        {"driver time-out", true, 0, 0, 0x06, true},
        {"driver error with the sense flag", true, 2, 0, 0x0C, true},
        {"the call itself failed", false, 0, 7, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sg::Outcome outcome;
        outcome.callOk = c.callOk;
        outcome.scsiStatus = c.status;
        outcome.hostStatus = c.host;
        outcome.driverStatus = c.driver;
        EXPECT_EQ(outcome.TransportFailed(), c.failed);
    }
}

// SG_IO on something that is not a SCSI generic node fails as a call, and the data area reads
// as zeros all the same.
TEST(Outcomes, CallOnANonScsiNodeFails) {
    const int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 8, 0};
    const sg::Outcome outcome = sg::Execute(fd, inquiry, 6, data, sizeof data);
    close(fd);
    EXPECT_FALSE(outcome.callOk);
    EXPECT_NE(outcome.errnum, 0);
    EXPECT_FALSE(outcome.TransportFailed());
    EXPECT_EQ(outcome.delivered, 0u);
    for (const std::uint8_t byte : data) {
        EXPECT_EQ(byte, 0);
    }
}

TEST(Outcomes, CommandBlockLongerThan16BytesIsNotSent) {
    const int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    std::uint8_t cdb[17] = {0x12};
    std::uint8_t data[8];
    for (const std::uint8_t length : {std::uint8_t{0}, std::uint8_t{17}}) {
        const sg::Outcome outcome = sg::Execute(fd, cdb, length, data, sizeof data);
        EXPECT_FALSE(outcome.callOk);
        EXPECT_EQ(outcome.errnum, EINVAL);
    }
    close(fd);
}

}  // namespace
