// Drive types under Wine. Wine answers GetDriveTypeW for a letter whose root it cannot open
// (every letter of the virtual camera: its devices hold no file system) from its mount manager,
// which knows a letter as removable or as an optical drive only when it has been defined there,
// with a folder as its contents. So under Wine the service defines its removable and optical
// letters in the mount manager (IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE, one of Wine's own), before
// the driver takes the letter's link over, and removes the definition when the letter goes.
// The definition sends no volume event. On Windows none of this is needed or done: the drive
// type comes from the letter device itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vcam {

class WineDrives {
  public:
    WineDrives();

    // Whether this is Wine (and the definitions are made at all).
    bool active() const { return active_; }

    // Defines `letter` as a drive of `driveType` (DRIVE_REMOVABLE or DRIVE_CDROM) whose contents
    // are the folder `folder` (made when missing). Windows' error code, 0 on success.
    std::uint32_t Define(char letter, std::uint32_t driveType, const std::wstring& folder);
    // Removes the definition of `letter`.
    std::uint32_t Undefine(char letter);
    // The folder (a Unix path) a defined letter shows; nothing when the letter is not defined.
    std::optional<std::string> MountPoint(char letter);

    // The name of the folder that holds a letter's contents: a definition whose folder is so
    // named is one of the service's (a service that ended without clearing up left it).
    static std::wstring FolderName(char letter);

  private:
    bool active_ = false;
    using UnixName = char*(__stdcall*)(const wchar_t*);
    UnixName unixName_ = nullptr;
};

}  // namespace vcam
