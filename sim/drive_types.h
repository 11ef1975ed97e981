// The names of the drive types (what GetDriveTypeW answers) in the world file and the trace.
#pragma once

#include <cstdint>
#include <string_view>

#include "os/os.h"

namespace sim {

struct NamedDriveType {
    std::string_view name;
    std::uint32_t type;
};

inline constexpr NamedDriveType kDriveTypeNames[] = {
    {"unknown", os::kDriveUnknown},     {"noroot", os::kDriveNoRootDir},
    {"removable", os::kDriveRemovable}, {"fixed", os::kDriveFixed},
    {"remote", os::kDriveRemote},       {"cdrom", os::kDriveCdrom},
    {"ramdisk", os::kDriveRamdisk},
};

// "removable" for 2; "?" for a type without a name.
constexpr std::string_view DriveTypeName(std::uint32_t type) {
    for (const NamedDriveType& known : kDriveTypeNames) {
        if (known.type == type) {
            return known.name;
        }
    }
    return "?";
}

}  // namespace sim
