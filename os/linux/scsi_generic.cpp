#include "os/linux/scsi_generic.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace sg {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, trailing blanks and line end removed.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

// The `size` attribute of a disk's sysfs folder: its medium's 512-byte sectors, 0 without one.
std::uint64_t SectorsOf(const fs::path& disk) {
    return std::strtoull(ReadAttribute(disk / "size").c_str(), nullptr, 10);
}

// The number at the end of a name ("sg12" -> 12), for ordering.
long Number(const std::string& name) {
    std::size_t at = name.size();
    while (at > 0 && name[at - 1] >= '0' && name[at - 1] <= '9') {
        --at;
    }
    return at == name.size() ? -1 : std::strtol(name.c_str() + at, nullptr, 10);
}

// The USB device a sysfs device sits under: the last path element named like "1-1" or
// "2-1.4" (bus, then ports), as opposed to interfaces ("1-1:1.0") and root hubs ("usb1").
fs::path UsbDeviceOf(const fs::path& device) {
    static const std::regex usbName("[0-9]+-[0-9]+(\\.[0-9]+)*");
    fs::path found;
    fs::path walked;
    for (const fs::path& part : device) {
        walked /= part;
        if (std::regex_match(part.string(), usbName)) {
            found = walked;
        }
    }
    return found;
}

}  // namespace

// ---- nodes ----

std::vector<Node> ListNodes(const Roots& roots) {
    std::vector<Node> nodes;
    const fs::path classDir = fs::path(roots.sys) / "class" / "scsi_generic";
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(classDir, error)) {
        Node node;
        node.name = entry.path().filename().string();
        node.path = (fs::path(roots.dev) / node.name).string();
        const fs::path device = fs::canonical(entry.path() / "device", error);
        if (!error) {
            node.vendor = ReadAttribute(device / "vendor");
            node.model = ReadAttribute(device / "model");
            node.revision = ReadAttribute(device / "rev");
            const std::string type = ReadAttribute(device / "type");
            node.type = type.empty() ? -1 : std::atoi(type.c_str());
            node.scsiAddress = device.filename().string();
            std::error_code none;
            for (const fs::directory_entry& block :
                 fs::directory_iterator(device / "block", none)) {
                node.blockDevice = block.path().filename().string();
            }
            const fs::path usb = UsbDeviceOf(device);
            if (!usb.empty()) {
                node.usbDevice = usb.filename().string();
                node.usbSerial = ReadAttribute(usb / "serial");
            }
        }
        error.clear();
        nodes.push_back(std::move(node));
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const Node& a, const Node& b) { return Number(a.name) < Number(b.name); });
    return nodes;
}

// ---- opening ----

OpenError ClassifyOpenError(int errnum) {
    switch (errnum) {
        case 0:
            return OpenError::kNone;
        case EACCES:
        case EPERM:
            return OpenError::kPermissionDenied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenError::kNoDevice;
        case EBUSY:
            return OpenError::kBusy;
        default:
            return OpenError::kOther;
    }
}

OpenResult OpenNode(const std::string& path) {
    OpenResult result;
    result.fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (result.fd < 0) {
        result.errnum = errno;
        result.error = ClassifyOpenError(result.errnum);
    }
    return result;
}

void CloseNode(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

// ---- commands ----

Outcome Execute(int fd, const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* dataIn,
                std::uint32_t dataLength, unsigned timeoutMs) {
    Outcome outcome;
    if (dataLength > 0) {
        std::memset(dataIn, 0, dataLength);
    }
    std::uint8_t command[16] = {};
    if (cdbLength == 0 || cdbLength > sizeof command) {
        outcome.errnum = EINVAL;
        return outcome;
    }
    std::memcpy(command, cdb, cdbLength);

    sg_io_hdr_t request = {};
    request.interface_id = 'S';
    request.dxfer_direction = dataLength > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    request.cmd_len = cdbLength;
    request.cmdp = command;
    request.dxfer_len = dataLength;
    request.dxferp = dataLength > 0 ? dataIn : nullptr;
    request.mx_sb_len = static_cast<unsigned char>(outcome.sense.size());
    request.sbp = outcome.sense.data();
    request.timeout = timeoutMs;

    if (ioctl(fd, SG_IO, &request) != 0) {
        outcome.errnum = errno;
        return outcome;
    }
    outcome.callOk = true;
    outcome.scsiStatus = request.status;
    outcome.hostStatus = request.host_status;
    outcome.driverStatus = request.driver_status;
    outcome.senseLength =
        static_cast<std::uint8_t>(std::min<std::size_t>(request.sb_len_wr, outcome.sense.size()));
    const int resid = std::clamp(request.resid, 0, static_cast<int>(dataLength));
    outcome.delivered = dataLength - static_cast<std::uint32_t>(resid);
    outcome.durationMs = request.duration;
    return outcome;
}

// ---- block devices ----

std::vector<BlockDevice> ListBlockDevices(const Roots& roots) {
    std::vector<BlockDevice> disks;
    const fs::path blockDir = fs::path(roots.sys) / "block";
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(blockDir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("sd", 0) != 0) {
            continue;
        }
        BlockDevice disk;
        disk.name = name;
        disk.path = (fs::path(roots.dev) / name).string();
        disk.vendor = ReadAttribute(entry.path() / "device" / "vendor");
        disk.model = ReadAttribute(entry.path() / "device" / "model");
        disk.sectors = SectorsOf(entry.path());
        disk.diskseq = std::strtoull(ReadAttribute(entry.path() / "diskseq").c_str(), nullptr, 10);
        disk.removable = ReadAttribute(entry.path() / "removable") == "1";
        std::error_code none;
        const fs::path device = fs::canonical(entry.path() / "device", none);
        if (!none) {
            const fs::path usb = UsbDeviceOf(device);
            disk.usbDevice = usb.empty() ? std::string() : usb.filename().string();
        }
        disks.push_back(std::move(disk));
    }
    // Mount points: the disk itself or any of its partitions (sda1, ...).
    std::ifstream mounts(roots.mounts);
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string source, target;
        if (!(fields >> source >> target)) {
            continue;
        }
        for (BlockDevice& disk : disks) {
            if (!disk.mountPoint.empty() || source.rfind(disk.path, 0) != 0) {
                continue;
            }
            const std::string rest = source.substr(disk.path.size());
            if (rest.find_first_not_of("0123456789") == std::string::npos) {
                // Octal escapes of the mount table (\040 for a blank) undone.
                std::string decoded;
                for (std::size_t i = 0; i < target.size(); ++i) {
                    if (target[i] == '\\' && i + 3 < target.size() &&
                        std::isdigit(static_cast<unsigned char>(target[i + 1]))) {
                        decoded += static_cast<char>(
                            std::strtol(target.substr(i + 1, 3).c_str(), nullptr, 8));
                        i += 3;
                    } else {
                        decoded += target[i];
                    }
                }
                disk.mountPoint = decoded;
            }
        }
    }
    std::sort(disks.begin(), disks.end(), [](const BlockDevice& a, const BlockDevice& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return disks;
}

bool CheckMedium(const std::string& devicePath) {
    const int fd = ::open(devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

std::uint64_t MediumSectors(const BlockDevice& disk, const Roots& roots) {
    if (disk.sectors != 0 || !CheckMedium(disk.path)) {
        return disk.sectors;
    }
    return SectorsOf(fs::path(roots.sys) / "block" / disk.name);
}

}  // namespace sg
