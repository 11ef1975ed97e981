#include "cli/backend_linux.h"

#include <fcntl.h>
#include <grp.h>
#include <iconv.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include "link/protocol.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

// The vendor identification of the camera's storage disk, as its INQUIRY data gives it. The
// camera promises it for that disk alone: in command mode it is known by its mark only.
constexpr std::string_view kCameraVendor = "KMZ";

// SCSI host statuses (DID_*) and driver statuses that tell a transport's failure apart.
constexpr std::uint16_t kDidNoConnect = 0x01;
constexpr std::uint16_t kDidBusBusy = 0x02;
constexpr std::uint16_t kDidTimeOut = 0x03;
constexpr std::uint16_t kDidBadTarget = 0x04;
constexpr std::uint16_t kDriverTimeout = 0x06;

int FdOf(DeviceId id) {
    return static_cast<int>(id);
}

std::string Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The standard INQUIRY data the kernel keeps of a SCSI device, as it answered when the device
// was scanned; readable by every user. Empty when the kernel offers none.
std::vector<std::uint8_t> KernelInquiry(const sg::Roots& roots, const std::string& node) {
    std::ifstream in(fs::path(roots.sys) / "class" / "scsi_generic" / node / "device" / "inquiry",
                     std::ios::binary);
    std::vector<std::uint8_t> data;
    char byte = 0;
    while (data.size() < kInquiryLength && in.get(byte)) {
        data.push_back(static_cast<std::uint8_t>(byte));
    }
    return data;
}

// Whether the SCSI device behind the node sits on USB, as a camera does; the camera's udev rule
// looks at no other device, and neither does discovery.
bool OnUsb(const sg::Roots& roots, const std::string& node) {
    for (const sg::Node& each : sg::ListNodes(roots)) {
        if (each.name == node) {
            return !each.usbDevice.empty();
        }
    }
    return false;
}

int TransportErrno(const sg::Outcome& outcome, unsigned timeoutMs) {
    if (outcome.hostStatus == kDidTimeOut ||
        (outcome.driverStatus & sg::kDriverStatusMask) == kDriverTimeout ||
        outcome.durationMs >= timeoutMs) {
        return ETIMEDOUT;
    }
    if (outcome.hostStatus == kDidNoConnect || outcome.hostStatus == kDidBadTarget) {
        return ENODEV;
    }
    if (outcome.hostStatus == kDidBusBusy) {
        return EBUSY;
    }
    return EIO;
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

std::string OpenErrorText(const std::string& path, int errnum, const sg::Roots& roots) {
    switch (sg::ClassifyOpenError(errnum)) {
        case sg::OpenError::kNone:
            return {};
        case sg::OpenError::kPermissionDenied: {
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
        case sg::OpenError::kNoDevice: {
            std::error_code error;
            if (!fs::exists(fs::path(roots.sys) / "class" / "scsi_generic", error)) {
                return "no such device: " + path +
                       " (the SCSI generic driver is not loaded: \"sudo modprobe sg\")";
            }
            return "no such device: " + path + " (the camera was unplugged or switched off)";
        }
        case sg::OpenError::kBusy:
            return "device busy: " + path +
                   " is held open exclusively by another program; close it and try again";
        case sg::OpenError::kOther:
            break;
    }
    return "cannot open " + path + ": " + std::strerror(errnum);
}

PassThroughOutcome OutcomeOf(const sg::Outcome& outcome, unsigned timeoutMs) {
    PassThroughOutcome result;
    if (!outcome.callOk) {
        result.systemError = static_cast<std::uint32_t>(outcome.errnum);
        return result;
    }
    if (outcome.TransportFailed()) {
        result.transportFailed = true;
        result.systemError = static_cast<std::uint32_t>(TransportErrno(outcome, timeoutMs));
        return result;
    }
    result.callSucceeded = true;
    result.scsiStatus = outcome.scsiStatus;
    result.senseLength = std::min<std::uint8_t>(outcome.senseLength, kSenseInfoLength);
    std::copy_n(outcome.sense.begin(), result.senseLength, result.sense.begin());
    result.dataBytes = outcome.delivered;
    return result;
}

std::string Utf8FromCp1252(std::span<const std::uint8_t> bytes) {
    std::string out;
    const iconv_t converter = iconv_open("UTF-8", "CP1252");
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] < 0x80) {
            out.push_back(static_cast<char>(bytes[i]));
            continue;
        }
        char in[1] = {static_cast<char>(bytes[i])};
        char converted[8] = {};
        char* from = in;
        char* to = converted;
        std::size_t fromLeft = 1;
        std::size_t toLeft = sizeof converted;
        if (converter != reinterpret_cast<iconv_t>(-1) &&
            iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1)) {
            out.append(converted, static_cast<std::size_t>(to - converted));
        } else {
            out += "\xEF\xBF\xBD";  // U+FFFD
        }
    }
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(converter);
    }
    return out;
}

bool StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0) {
            _exit(grandchild < 0 ? 1 : 0);
        }
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

LinuxBackend::LinuxBackend(LinuxSettings settings) : settings_(std::move(settings)) {}

DeviceNaming LinuxBackend::Naming() {
    DeviceNaming naming;
    naming.range = settings_.roots.dev + "/sg*";
    naming.accepted =
        settings_.roots.dev + "/sgN or sgN, or a SCSI disk " + settings_.roots.dev + "/sdX";
    naming.example = settings_.roots.dev + "/sg1";
    std::error_code error;
    naming.none = fs::exists(fs::path(settings_.roots.sys) / "class" / "scsi_generic", error)
                      ? "there is no SCSI generic device at all: is the camera plugged in and "
                        "switched on?"
                      : "there is no SCSI generic device at all: the SCSI generic driver is not "
                        "loaded (\"sudo modprobe sg\")";
    return naming;
}

std::vector<std::string> LinuxBackend::Candidates() {
    std::vector<std::string> devices;
    for (const sg::Node& node : sg::ListNodes(settings_.roots)) {
        devices.push_back(node.path);
    }
    return devices;
}

std::optional<std::string> LinuxBackend::ParseDevice(std::string_view text) {
    static const std::regex generic("(?:/dev/)?(sg[0-9]+)");
    static const std::regex disk("(?:/dev/)?(sd[a-z]+)[0-9]*");
    std::string given(text);
    // The names as this backend writes them, whatever its device folder.
    const std::string prefix = settings_.roots.dev + "/";
    if (given.rfind(prefix, 0) == 0) {
        given = "/dev/" + given.substr(prefix.size());
    }
    std::smatch match;
    if (std::regex_match(given, match, generic)) {
        return prefix + match[1].str();
    }
    if (std::regex_match(given, match, disk)) {
        for (const sg::Node& node : sg::ListNodes(settings_.roots)) {
            if (node.blockDevice == match[1].str()) {
                return node.path;
            }
        }
        return prefix + match[1].str();  // no such disk, or none with a SCSI generic node
    }
    return std::nullopt;
}

Probe LinuxBackend::ProbeDevice(const std::string& device) {
    Probe probe;
    probe.device = device;
    const std::string name = BaseName(device);
    if (name.rfind("sd", 0) == 0) {
        // A disk that ParseDevice could not map to its SCSI generic node.
        std::error_code error;
        if (fs::exists(fs::path(settings_.roots.sys) / "block" / name, error)) {
            probe.result = ProbeResult::kOpenFailed;
            probe.systemError = ENODEV;
            probe.systemText = device +
                               " has no SCSI generic node (the SCSI generic driver is not "
                               "loaded: \"sudo modprobe sg\")";
        } else {
            probe.result = ProbeResult::kAbsent;
            probe.systemError = ENOENT;
            probe.systemText = "no such device: " + device;
        }
        return probe;
    }

    const sg::OpenResult opened = sg::OpenNode(device);
    if (!opened.ok()) {
        probe.systemError = static_cast<std::uint32_t>(opened.errnum);
        probe.systemText = OpenErrorText(device, opened.errnum, settings_.roots);
        if (opened.error == sg::OpenError::kNoDevice) {
            probe.result = ProbeResult::kAbsent;
            return probe;
        }
        // The kernel's copy of the device's INQUIRY answer, and where the device sits, tell
        // whether the node that cannot be opened is a camera at all, as the udev rule judges
        // it: a disk that is no camera is passed over, not reported.
        const std::vector<std::uint8_t> kernel = KernelInquiry(settings_.roots, name);
        if ((kernel.size() > kInquiryMarkByte && !CarriesCameraMark(kernel)) ||
            !OnUsb(settings_.roots, name)) {
            probe.result = ProbeResult::kNotCamera;
            probe.systemError = 0;
            probe.systemText.clear();
            std::copy(kernel.begin(), kernel.end(), probe.inquiryData.begin());
            return probe;
        }
        probe.result = ProbeResult::kOpenFailed;
        return probe;
    }

    const auto cdb = InquiryCdb();
    probe.inquiry = Execute(static_cast<DeviceId>(opened.fd), cdb, probe.inquiryData);
    if (!probe.inquiry.callSucceeded) {
        probe.result = ProbeResult::kInquiryFailed;
        probe.systemError = probe.inquiry.systemError;
    } else if (!CarriesCameraMark(probe.inquiryData) || !OnUsb(settings_.roots, name)) {
        probe.result = ProbeResult::kNotCamera;
    } else {
        probe.result = ProbeResult::kCamera;
        probe.id = static_cast<DeviceId>(opened.fd);
        return probe;
    }
    sg::CloseNode(opened.fd);
    return probe;
}

PassThroughOutcome LinuxBackend::Execute(DeviceId id, std::span<const std::uint8_t> cdb,
                                         std::span<std::uint8_t> dataIn) {
    if (cdb.empty() || cdb.size() > 16) {
        PassThroughOutcome refused;
        refused.systemError = EINVAL;
        return refused;
    }
    const sg::Outcome outcome =
        sg::Execute(FdOf(id), cdb.data(), static_cast<std::uint8_t>(cdb.size()), dataIn.data(),
                    static_cast<std::uint32_t>(dataIn.size()), sg::kTimeoutMs);
    return OutcomeOf(outcome, sg::kTimeoutMs);
}

void LinuxBackend::Close(DeviceId id) {
    sg::CloseNode(FdOf(id));
}

std::vector<Volume> LinuxBackend::CameraVolumes() {
    std::vector<Volume> volumes;
    for (auto& [volume, disk] : VolumesOn(sg::ListBlockDevices(settings_.roots))) {
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

namespace {

// A disk as it was when the watch started.
struct DiskSeen {
    std::uint64_t diskseq = 0;
    bool medium = false;
};

class DiskWatch : public VolumeWatch {
  public:
    DiskWatch(LinuxBackend& backend,
              std::function<std::vector<std::pair<Volume, sg::BlockDevice>>()> volumes,
              std::map<std::string, DiskSeen> before, std::uint32_t timeoutMs, std::uint32_t pollMs)
        : backend_(backend),
          volumes_(std::move(volumes)),
          before_(std::move(before)),
          looks_(timeoutMs / std::max<std::uint32_t>(pollMs, 1) + 1),
          pollMs_(pollMs) {}

    VolumeEvent Next() override {
        while (look_ < looks_) {
            if (look_++ > 0) {
                backend_.Sleep(pollMs_);
            }
            for (auto& [volume, disk] : volumes_()) {
                const auto seen = before_.find(disk.name);
                if (seen == before_.end() || seen->second.diskseq != disk.diskseq ||
                    !seen->second.medium) {
                    // Reported once: the same disk afterwards is what was seen.
                    before_[disk.name] = {disk.diskseq, true};
                    return {VolumeEvent::Kind::kVolume, std::move(volume), 0};
                }
            }
        }
        return {VolumeEvent::Kind::kTimeout, {}, 0};
    }

  private:
    LinuxBackend& backend_;
    std::function<std::vector<std::pair<Volume, sg::BlockDevice>>()> volumes_;
    std::map<std::string, DiskSeen> before_;
    std::uint32_t looks_;
    std::uint32_t look_ = 0;
    std::uint32_t pollMs_;
};

}  // namespace

std::unique_ptr<VolumeWatch> LinuxBackend::WatchVolumes(std::uint32_t timeoutMs,
                                                        std::uint32_t& systemError) {
    systemError = 0;
    std::map<std::string, DiskSeen> before;
    for (const sg::BlockDevice& disk : sg::ListBlockDevices(settings_.roots)) {
        // A removable disk's medium as the kernel finds it now, not as it last looked.
        const std::uint64_t sectors =
            disk.removable ? sg::MediumSectors(disk, settings_.roots) : disk.sectors;
        before[disk.name] = {disk.diskseq, sectors != 0};
    }
    return std::make_unique<DiskWatch>(
        *this, [this] { return VolumesOn(sg::ListBlockDevices(settings_.roots)); },
        std::move(before), timeoutMs, settings_.volumePollMs);
}

std::vector<std::pair<Volume, sg::BlockDevice>> LinuxBackend::VolumesOn(
    const std::vector<sg::BlockDevice>& disks) {
    std::vector<std::pair<Volume, sg::BlockDevice>> volumes;
    const std::vector<sg::Node> nodes = sg::ListNodes(settings_.roots);
    for (const sg::BlockDevice& disk : disks) {
        if (!disk.removable || Trimmed(disk.vendor) != kCameraVendor) {
            continue;
        }
        if (sg::MediumSectors(disk, settings_.roots) == 0) {
            continue;
        }
        Volume volume;
        volume.device = disk.path;
        for (const sg::Node& node : nodes) {
            if (node.blockDevice == disk.name) {
                volume.device = node.path;
            }
        }
        if (disk.mountPoint.empty()) {
            volume.root = disk.path;
            volume.notes.push_back("the volume is not mounted; its block device is " + disk.path);
        } else {
            volume.root = disk.mountPoint;
        }
        volumes.emplace_back(std::move(volume), disk);
    }
    return volumes;
}

bool LinuxBackend::OpenFolder(const std::string& root) {
    std::string folder = root;
    if (root.rfind(settings_.roots.dev + "/", 0) == 0) {
        // A volume nothing has mounted yet: the desktop mounts removable media as they come.
        folder.clear();
        const std::uint32_t looks =
            settings_.mountWaitMs / std::max<std::uint32_t>(settings_.mountPollMs, 1) + 1;
        for (std::uint32_t look = 0; look < looks && folder.empty(); ++look) {
            if (look > 0) {
                Sleep(settings_.mountPollMs);
            }
            for (const sg::BlockDevice& disk : sg::ListBlockDevices(settings_.roots)) {
                if (disk.path == root && !disk.mountPoint.empty()) {
                    folder = disk.mountPoint;
                }
            }
        }
        if (folder.empty()) {
            return false;
        }
    }
    std::vector<std::string> argv = settings_.opener;
    argv.push_back(folder);
    return StartDetached(argv);
}

std::string LinuxBackend::ErrorText(std::uint32_t error) {
    if (error == 0) {
        return {};
    }
    char buffer[256] = {};
    return strerror_r(static_cast<int>(error), buffer, sizeof buffer);
}

std::string LinuxBackend::DeviceText(std::span<const std::uint8_t> bytes) {
    return Utf8FromCp1252(bytes);
}

bool LinuxBackend::LocalTime(std::tm& now) {
    const std::time_t seconds = std::time(nullptr);
    return seconds != static_cast<std::time_t>(-1) && localtime_r(&seconds, &now) != nullptr;
}

void LinuxBackend::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace cli
