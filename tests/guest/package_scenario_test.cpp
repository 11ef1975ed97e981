// The Debian package as a user meets it: installed with dpkg on a system with a udev daemon, a
// camera plugged in, an unprivileged user who is a member of plugdev and then is not, and the
// package removed again.
//
// The system is a writable copy of the guest's own (this machine's root, read-only in the guest):
// an overlay in memory over it, with the guest's /proc, /sys and /dev and a /run of its own.
// Debian's dpkg, udevd and user tools run in it as they are; nothing reaches this machine. The
// guest's init runs everything in a chroot, which udevadm takes for a system being built and then
// ignores its requests: SYSTEMD_IGNORE_CHROOT=1 tells it that this chroot is the running system.
// man-db's index is not rebuilt on install (its auto-update flag is taken away in the copy), which
// would take minutes in the emulated machine and tells nothing of the package.
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/guest/guest_fixture.h"
#include "tests/guest/scenario.h"

namespace {

namespace fs = std::filesystem;
using guest::CommandResult;

constexpr char kUser[] = "zqcam";
constexpr auto kLimit = std::chrono::seconds(180);

// The guest's system, writable, in memory; unmounted as the object goes.
class SystemCopy {
  public:
    SystemCopy() {
        char folder[] = "/tmp/zq-system.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            return;
        }
        base_ = folder;
        root_ = base_ + "/root";
        if (!Mount("tmpfs", base_, "tmpfs", 0, "mode=755")) {
            return;
        }
        for (const char* name : {"upper", "work", "root"}) {
            fs::create_directories(base_ + "/" + name);
        }
        ok_ = Mount("overlay", root_, "overlay", 0,
                    "lowerdir=/,upperdir=" + base_ + "/upper,workdir=" + base_ + "/work") &&
              Mount("/proc", root_ + "/proc", "", MS_BIND, "") &&
              Mount("/sys", root_ + "/sys", "", MS_BIND, "") &&
              Mount("/dev", root_ + "/dev", "", MS_BIND, "") &&
              Mount("tmpfs", root_ + "/run", "tmpfs", 0, "mode=755");
        fs::remove(root_ + "/var/lib/man-db/auto-update");
    }
    ~SystemCopy() {
        for (auto at = mounted_.rbegin(); at != mounted_.rend(); ++at) {
            umount2(at->c_str(), MNT_DETACH);
        }
        if (!base_.empty()) {
            rmdir(base_.c_str());
        }
    }
    SystemCopy(const SystemCopy&) = delete;
    SystemCopy& operator=(const SystemCopy&) = delete;

    bool ok() const { return ok_; }
    const std::string& root() const { return root_; }
    const std::string& error() const { return error_; }

    // Runs `argv` in the copy, as root.
    CommandResult Run(const std::vector<std::string>& argv) const {
        std::vector<std::string> full = {"chroot", root_, "/usr/bin/env",
                                         "SYSTEMD_IGNORE_CHROOT=1"};
        full.insert(full.end(), argv.begin(), argv.end());
        return guest::RunCommand(full, kLimit);
    }
    // Runs `argv` in the copy as `user`, with the groups the copy's /etc/group gives that user.
    CommandResult RunAs(const std::string& user, const std::vector<std::string>& argv) const {
        std::vector<std::string> full = {"setpriv", "--reuid=" + user, "--regid=users",
                                         "--init-groups"};
        full.insert(full.end(), argv.begin(), argv.end());
        return Run(full);
    }

  private:
    bool Mount(const std::string& source, const std::string& target, const char* type,
               unsigned long flags, const std::string& options) {
        if (mount(source.c_str(), target.c_str(), type, flags, options.c_str()) != 0) {
            error_ += "mount " + source + " on " + target + ": " + std::strerror(errno) + "\n";
            return false;
        }
        mounted_.push_back(target);
        return true;
    }

    std::string base_;
    std::string root_;
    std::string error_;
    std::vector<std::string> mounted_;
    bool ok_ = false;
};

// A udev daemon in the copy, as a Debian system has one; asked to exit as the object goes.
class Udevd {
  public:
    explicit Udevd(const SystemCopy& system) : system_(system) {
        // Its output goes nowhere: a daemon keeping the pipes open would hold RunCommand up.
        started_ =
            system_.Run({"/bin/sh", "-c", "/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1"})
                .exitCode == 0;
    }
    ~Udevd() {
        if (started_) {
            system_.Run({"udevadm", "control", "--exit"});
        }
    }
    Udevd(const Udevd&) = delete;
    Udevd& operator=(const Udevd&) = delete;

    bool started() const { return started_; }
    // Waits until udevd has handled every event so far.
    void Settle() const {
        const CommandResult settled = system_.Run({"udevadm", "settle", "--timeout=60"});
        EXPECT_EQ(settled.exitCode, 0) << settled.err;
    }

  private:
    const SystemCopy& system_;
    bool started_ = false;
};

// The SCSI generic node whose device's vendor is `vendor`.
std::string NodeOf(const std::string& vendor) {
    for (const auto& entry : fs::directory_iterator("/sys/class/scsi_generic")) {
        std::ifstream in(entry.path() / "device" / "vendor");
        std::string word;
        in >> word;
        if (word == vendor) {
            return "/dev/" + entry.path().filename().string();
        }
    }
    return "";
}

std::string GroupOf(const std::string& path) {
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0) {
        return "(none)";
    }
    const group* entry = getgrgid(info.st_gid);
    return entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
}

unsigned ModeOf(const std::string& path) {
    struct stat info = {};
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

using Package = guest::Scenario;

TEST_F(Package, InstalledWithDpkgServesPlugdevAndIsRemovedWhole) {
    SystemCopy system;
    ASSERT_TRUE(system.ok()) << system.error();
    ASSERT_FALSE(fs::exists(system.root() + "/usr/bin/zelquin-cli"))
        << "zelquin-cli is installed on this machine; the scenario installs it afresh";
    ASSERT_TRUE(fs::exists(ZQ_DEB)) << ZQ_DEB << " was not made (ctest's package.deb makes it)";
    Udevd udevd(system);
    ASSERT_TRUE(udevd.started());

    // A camera whose vendor name in command mode is not KMZ: the rule knows it by its mark.
    const std::string world =
        "drive D removable scsi=disk\ncamera E state=2 overwrite=1 inquiry-vendor=ACME\n";
    guest::Served& served = Plug(world, 2);
    udevd.Settle();
    const std::string camera = NodeOf("ACME");
    const std::string disk = NodeOf("ZQSIM");
    ASSERT_NE(camera, "");
    ASSERT_NE(disk, "");
    EXPECT_NE(GroupOf(camera), "plugdev") << "plugdev before the package's rule";

    // ---- install: the rule applies at once to the camera plugged in, and to it alone ----
    const CommandResult installed = system.Run({"dpkg", "--install", ZQ_DEB});
    ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
    EXPECT_EQ(system.Run({"dpkg-query", "--show", "--showformat=${Status}", "zelquin-cli"}).out,
              "install ok installed");
    const std::vector<std::string> files =
        Lines(system.Run({"dpkg", "--listfiles", "zelquin-cli"}).out);
    for (const char* path :
         {"/usr/bin/zelquin-cli", "/usr/lib/udev/rules.d/70-zelquin-camera.rules",
          "/usr/lib/udev/zelquin-camera-mark", "/usr/share/man/man1/zelquin-cli.1.gz",
          "/usr/share/bash-completion/completions/zelquin-cli",
          "/usr/share/doc/zelquin-cli/copyright"}) {
        EXPECT_NE(std::find(files.begin(), files.end(), path), files.end()) << path;
    }
    udevd.Settle();
    EXPECT_EQ(GroupOf(camera), "plugdev");
    EXPECT_EQ(ModeOf(camera), 0660u);
    EXPECT_NE(GroupOf(disk), "plugdev") << "the rule gave the disk away too";

    // ---- a user in plugdev, then the same user without it ----
    ASSERT_EQ(
        system.Run({"useradd", "--no-create-home", "--no-user-group", "--gid", "users", kUser})
            .exitCode,
        0);
    ASSERT_EQ(system.Run({"usermod", "--append", "--groups", "plugdev", kUser}).exitCode, 0);
    const CommandResult member = system.RunAs(kUser, {"zelquin-cli", "list"});
    EXPECT_EQ(member.exitCode, 0) << member.err;
    EXPECT_EQ(member.err, "");
    EXPECT_EQ(member.out,
              "DRIVE     STATE  READY  FIRMWARE         OVERWRITE  TIMESTAMP  RESOLUTION\n" +
                  camera + "  2      yes    V1.1.0720240101  on         off        1080p\n");

    ASSERT_EQ(system.Run({"gpasswd", "--delete", kUser, "plugdev"}).exitCode, 0);
    const CommandResult outsider = system.RunAs(kUser, {"zelquin-cli", "list"});
    EXPECT_EQ(outsider.exitCode, 3) << outsider.out;
    EXPECT_EQ(outsider.out, "");
    EXPECT_NE(outsider.err.find("zelquin-cli: " + camera +
                                " could not be opened: permission "
                                "denied on " +
                                camera +
                                " (owner root, group plugdev, mode "
                                "0660): members of group \"plugdev\" may open it; add your user "
                                "with \"sudo usermod -aG plugdev $USER\""),
              std::string::npos)
        << outsider.err;

    // ---- remove: every file goes, the rule with them; then dpkg forgets the package ----
    const CommandResult removed = system.Run({"dpkg", "--remove", "zelquin-cli"});
    ASSERT_EQ(removed.exitCode, 0) << removed.out << removed.err;
    for (const std::string& path : files) {
        const std::string copy = system.root() + path;
        if (!fs::is_directory(copy)) {
            EXPECT_FALSE(fs::exists(copy)) << path << " is left";
        }
    }
    EXPECT_FALSE(fs::exists(system.root() + "/usr/share/doc/zelquin-cli"));
    // A package with a postrm stays known, its files gone, until purged; it has no conffiles.
    EXPECT_EQ(
        system.Run({"dpkg-query", "--show", "--showformat=${Status}|${Conffiles}", "zelquin-cli"})
            .out,
        "deinstall ok config-files|");
    ASSERT_EQ(system.Run({"dpkg", "--purge", "zelquin-cli"}).exitCode, 0);
    EXPECT_NE(system.Run({"dpkg-query", "--show", "zelquin-cli"}).exitCode, 0);
    for (const auto& entry : fs::directory_iterator(system.root() + "/var/lib/dpkg/info")) {
        EXPECT_NE(entry.path().filename().string().rfind("zelquin-cli.", 0), 0u)
            << entry.path() << " is left";
    }

    // The camera plugged in again is udev's default again: a member of plugdev may not open it.
    ASSERT_EQ(system.Run({"usermod", "--append", "--groups", "plugdev", kUser}).exitCode, 0);
    served.Rewrite("drive D removable scsi=disk\n");
    ASSERT_TRUE(guest::WaitFor([] { return guest::GuestBench::NodeCount() == 1; }));
    served.Rewrite(world);
    ASSERT_TRUE(bench->WaitForNodes(2));
    udevd.Settle();
    const std::string again = NodeOf("ACME");
    ASSERT_NE(again, "");
    EXPECT_NE(GroupOf(again), "plugdev");
    const CommandResult after = system.RunAs(kUser, {"test", "-r", again, "-a", "-w", again});
    EXPECT_NE(after.exitCode, 0) << "a member of plugdev may still open " << again;
}

}  // namespace
