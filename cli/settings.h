// The camera's three recording settings as the tool names them: overwrite (loop recording),
// timestamp (the time-stamp overlay) and resolution, each one byte whose values 0 and 1 have
// names. Changes are given as NAME=VALUE.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.h"

namespace cli {

enum class Setting : std::uint8_t { kOverwrite, kTimestamp, kResolution };

// In the order of every report.
inline constexpr std::array<Setting, 3> kAllSettings = {Setting::kOverwrite, Setting::kTimestamp,
                                                        Setting::kResolution};

struct SettingInfo {
    Setting setting;
    const char* name;    // on the command line and in JSON: "overwrite"
    const char* title;   // in the status report: "Overwrite"
    CameraCommand code;  // the vendor command that reads and sets it
};

const SettingInfo& InfoOf(Setting setting);
// The names of the values 0 and 1, as the camera's command table gives them: "off", "on".
const std::array<const char*, 2>& ValueNames(Setting setting);

// The value's name ("on", "720p"), or nullopt for a byte outside 0 and 1.
std::optional<std::string> ValueName(Setting setting, int value);
// The value's name, or "unknown (7)".
std::string ValueText(Setting setting, int value);

struct SettingChange {
    Setting setting;
    int value;

    bool operator==(const SettingChange&) const = default;
};

// "overwrite=on" (names and values in any case). On a malformed text, nullopt and `error` says
// what is wrong.
std::optional<SettingChange> ParseChange(std::string_view text, std::string& error);

// The changes, in the order given; a setting named twice is an error.
std::optional<std::vector<SettingChange>> ParseChanges(const std::vector<std::string>& texts,
                                                       std::string& error);

// "overwrite=on|off timestamp=on|off resolution=1080p|720p".
std::string ChangeSyntax();

}  // namespace cli
