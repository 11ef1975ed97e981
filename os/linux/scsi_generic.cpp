#include "os/linux/scsi_generic.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

std::string GroupName(gid_t gid) {
    group entry = {};
    group* result = nullptr;
    std::vector<char> buffer(4096);
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr) {
        return result->gr_name;
    }
    return std::to_string(gid);
}

std::string OwnerName(uid_t uid) {
    passwd entry = {};
    passwd* result = nullptr;
    std::vector<char> buffer(4096);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr) {
        return result->pw_name;
    }
    return std::to_string(uid);
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
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

std::string OpenErrorText(const std::string& path, int errnum, const Roots& roots) {
    switch (ClassifyOpenError(errnum)) {
        case OpenError::kNone:
            return {};
        case OpenError::kPermissionDenied: {
            struct stat info = {};
            if (stat(path.c_str(), &info) != 0) {
                return "permission denied on " + path + "; install the camera's udev rule " +
                       "(it grants the logged-in user access to the camera) or run as root";
            }
            const std::string group = GroupName(info.st_gid);
            std::string text = "permission denied on " + path + " (owner " +
                               OwnerName(info.st_uid) + ", group " + group + ", mode " +
                               Mode(info.st_mode) + "): ";
            if (info.st_gid != 0 && (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP)) {
                text += "members of group \"" + group + "\" may open it; add your user with " +
                        "\"sudo usermod -aG " + group + " $USER\" and log in again, or ";
            } else {
                text += "only " + OwnerName(info.st_uid) + " may open it; ";
            }
            text +=
                "install the camera's udev rule, which grants the logged-in user access to "
                "the camera alone";
            return text;
        }
        case OpenError::kNoDevice: {
            std::error_code error;
            if (!fs::exists(fs::path(roots.sys) / "class" / "scsi_generic", error)) {
                return "no such device: " + path +
                       " (the SCSI generic driver is not loaded: \"sudo modprobe sg\")";
            }
            return "no such device: " + path + " (the camera was unplugged or switched off)";
        }
        case OpenError::kBusy:
            return "device busy: " + path +
                   " is held open exclusively by another program; close it and try again";
        case OpenError::kOther:
            break;
    }
    return "cannot open " + path + ": " + std::strerror(errnum);
}

OpenResult OpenNode(const std::string& path, const Roots& roots) {
    OpenResult result;
    result.fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (result.fd < 0) {
        result.errnum = errno;
        result.error = ClassifyOpenError(result.errnum);
        result.message = OpenErrorText(path, result.errnum, roots);
    }
    return result;
}

void CloseNode(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

// ---- commands ----

bool Outcome::Good() const {
    return callOk && scsiStatus == 0 && !TransportFailed();
}

// The sense data's format by its response code: fixed (0x70 current, 0x71 deferred; bit 7 is
// the VALID bit there), descriptor (0x72, 0x73); any other code (0x7F is left to vendors, and
// whatever a device sends as garbage) has no key or additional sense code to read.
Outcome::SenseFormat Outcome::Format() const {
    if (senseLength == 0) {
        return SenseFormat::kNone;
    }
    const std::uint8_t code = sense[0] & 0x7F;
    if (code == 0x70 || code == 0x71) {
        return SenseFormat::kFixed;
    }
    if (code == 0x72 || code == 0x73) {
        return SenseFormat::kDescriptor;
    }
    return SenseFormat::kUnknown;
}

// A byte of the sense data where both the bytes received and, in fixed format, the additional
// length (byte 7) reach it; 0 otherwise.
std::uint8_t Outcome::SenseByte(std::size_t at) const {
    if (at >= senseLength) {
        return 0;
    }
    if (Format() == SenseFormat::kFixed && at >= 8 && (senseLength < 8 || at >= 8u + sense[7])) {
        return 0;
    }
    return sense[at];
}

std::uint8_t Outcome::SenseKey() const {
    switch (Format()) {
        case SenseFormat::kFixed:
            return SenseByte(2) & 0x0F;
        case SenseFormat::kDescriptor:
            return SenseByte(1) & 0x0F;
        default:
            return 0;
    }
}

std::uint8_t Outcome::Asc() const {
    switch (Format()) {
        case SenseFormat::kFixed:
            return SenseByte(12);
        case SenseFormat::kDescriptor:
            return SenseByte(2);
        default:
            return 0;
    }
}

std::uint8_t Outcome::Ascq() const {
    switch (Format()) {
        case SenseFormat::kFixed:
            return SenseByte(13);
        case SenseFormat::kDescriptor:
            return SenseByte(3);
        default:
            return 0;
    }
}

std::string Outcome::Describe() const {
    char text[160];
    if (!callOk) {
        std::snprintf(text, sizeof text, "call failed: %s", std::strerror(errnum));
    } else if (Good()) {
        std::snprintf(text, sizeof text, "good, %u bytes", delivered);
    } else if (TransportFailed()) {
        std::snprintf(text, sizeof text, "transport error (host status %u, driver status %u)",
                      hostStatus, driverStatus);
    } else if (CheckCondition() && Format() == SenseFormat::kUnknown) {
        std::snprintf(text, sizeof text,
                      "check condition, sense data of no known format (response code %02X)",
                      sense[0]);
    } else if (CheckCondition()) {
        std::snprintf(text, sizeof text, "check condition, sense %02X/%02X/%02X", SenseKey(), Asc(),
                      Ascq());
    } else {
        std::snprintf(text, sizeof text, "SCSI status %02X", scsiStatus);
    }
    return text;
}

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

// ---- the camera ----

std::vector<Candidate> Discover(const Roots& roots) {
    std::vector<Candidate> candidates;
    for (Node& node : ListNodes(roots)) {
        Candidate candidate;
        candidate.node = std::move(node);
        candidate.open = OpenNode(candidate.node.path, roots);
        if (candidate.open.ok()) {
            const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, kInquiryLength, 0};
            candidate.inquiry = Execute(candidate.open.fd, inquiry, sizeof inquiry,
                                        candidate.inquiryData.data(), kInquiryLength);
            candidate.camera = candidate.inquiry.Good() && candidate.inquiry.delivered > 3 &&
                               candidate.inquiryData[3] == kCameraMark &&
                               !candidate.node.usbDevice.empty();
            CloseNode(candidate.open.fd);
            candidate.open.fd = -1;
        }
        candidates.push_back(std::move(candidate));
    }
    return candidates;
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
