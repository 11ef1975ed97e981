// SCSI devices on Linux: SCSI generic nodes (/dev/sgN) and SCSI disks found through sysfs, nodes
// opened with their errno classified, and SCSI commands sent through the SG_IO ioctl with the
// whole of what the kernel reports. Nothing here knows a camera: which device is one, and what
// its answers and sense data mean, is for the programs above (the camera protocol of
// link/protocol.h, the tool's Linux backend).
//
//   for (const sg::Node& node : sg::ListNodes()) ...          // vendor, model, sdX, USB path
//   sg::OpenResult opened = sg::OpenNode(node.path);          // EACCES, ENOENT, EBUSY classified
//   std::uint8_t data[8];
//   sg::Outcome outcome = sg::Execute(opened.fd, cdb, 16, data, sizeof data);
//   sg::CloseNode(opened.fd);
//
// The SG_IO request is the kernel's struct sg_io_hdr (<scsi/sg.h>), the platform's own interface
// for this call; nothing of ours is laid over it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sg {

// Where sysfs, the device nodes and the mount table are; tests point these at a tree of their
// own.
struct Roots {
    std::string sys = "/sys";
    std::string dev = "/dev";
    std::string mounts = "/proc/self/mounts";
};

// A SCSI generic node and what sysfs says about the device behind it.
struct Node {
    std::string name;    // "sg0"
    std::string path;    // "/dev/sg0"
    std::string vendor;  // the INQUIRY vendor identification, trailing blanks removed
    std::string model;   // the product identification, trailing blanks removed
    std::string revision;
    int type = -1;            // peripheral device type: 0 a disk, 5 a CD/DVD drive, ...
    std::string scsiAddress;  // host:channel:target:lun, "0:0:0:0"
    std::string blockDevice;  // the disk at the same SCSI address ("sda"); empty when none
    std::string usbDevice;    // the USB device it sits on, by its sysfs name ("1-1", "2-1.4");
                              // empty when it is not on USB
    std::string usbSerial;    // that USB device's serial number, when it has one
};

// Every SCSI generic node, in the order of their numbers (sg2 before sg10).
std::vector<Node> ListNodes(const Roots& roots = {});

// ---- opening ----

enum class OpenError : std::uint8_t {
    kNone,
    kPermissionDenied,  // EACCES, EPERM
    kNoDevice,          // ENOENT, ENODEV, ENXIO: unplugged, or the sg driver is not loaded
    kBusy,              // EBUSY: another program holds the node exclusively
    kOther,
};

struct OpenResult {
    int fd = -1;
    OpenError error = OpenError::kNone;
    int errnum = 0;

    bool ok() const { return fd >= 0; }
};

// Opens a node for SG_IO: read and write, never waiting for an exclusive holder to let go.
OpenResult OpenNode(const std::string& path);
void CloseNode(int fd);

OpenError ClassifyOpenError(int errnum);

// ---- commands ----

inline constexpr unsigned kTimeoutMs = 2000;
inline constexpr std::size_t kSenseSize = 32;
// The driver status's own verdict (DRIVER_*: 6 a time-out, ...); the bits above it are flags.
inline constexpr std::uint16_t kDriverStatusMask = 0x07;

// Everything the kernel reports about one command, as it reports it. What the device's status
// and sense data mean is read by the camera protocol (link/protocol.h) once the tool's backend
// has turned this into its outcome.
struct Outcome {
    bool callOk = false;          // the ioctl itself succeeded
    int errnum = 0;               // its errno when it did not (ENODEV once the device is gone, ...)
    std::uint8_t scsiStatus = 0;  // the device's status: 0 good, 2 check condition, 8 busy
    std::uint16_t hostStatus = 0;    // the transport's verdict (DID_*: 0 ok, 3 time-out, 7 error)
    std::uint16_t driverStatus = 0;  // DRIVER_*; 0x08 only says sense data came back
    std::array<std::uint8_t, kSenseSize> sense = {};
    std::uint8_t senseLength = 0;  // sense bytes the kernel wrote
    std::uint32_t delivered = 0;   // data bytes that arrived (asked for, less the residue)
    std::uint32_t durationMs = 0;

    // The call went through but the transport failed: a host status, or a driver status other
    // than the flag that sense data came back.
    bool TransportFailed() const {
        return callOk && (hostStatus != 0 || (driverStatus & kDriverStatusMask) != 0);
    }
};

// Sends `cdb` (`cdbLength` bytes, 1 to 16; any other length fails as EINVAL) with a data-in
// transfer of `dataLength` bytes into `dataIn`, which is zero-filled first so that bytes the device
// does not send read as 0; with `dataLength` 0 there is no data phase. Blocks until the device
// answers or `timeoutMs` passes.
Outcome Execute(int fd, const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* dataIn,
                std::uint32_t dataLength, unsigned timeoutMs = kTimeoutMs);

// ---- block devices and volumes ----

struct BlockDevice {
    std::string name;  // "sda"
    std::string path;  // "/dev/sda"
    std::string vendor;
    std::string model;
    std::uint64_t sectors = 0;  // 512-byte sectors; 0 while there is no medium
    // The kernel's disk sequence number (sysfs "diskseq"): never the same for two disks since
    // the start, and a new one when the kernel sees the disk's medium change; 0 where the kernel
    // has none.
    std::uint64_t diskseq = 0;
    bool removable = false;
    std::string usbDevice;
    std::string mountPoint;  // where it, or one of its partitions, is mounted; empty if nowhere
};

// The SCSI disks (sd*), in name order.
std::vector<BlockDevice> ListBlockDevices(const Roots& roots = {});

// Opens and closes a removable disk's node without waiting, which makes the kernel look at its
// medium again (nothing polls a disk whose medium was missing). False when it cannot be opened.
bool CheckMedium(const std::string& devicePath);

// The sectors of `disk`'s medium: those ListBlockDevices saw or, when it saw none, those the
// kernel reports after CheckMedium made it look again. 0 while there is still no medium, or when
// the disk cannot be opened.
std::uint64_t MediumSectors(const BlockDevice& disk, const Roots& roots = {});

}  // namespace sg
