#include "cli/settings.h"

#include "cli/text.h"

namespace cli {

namespace {

constexpr SettingInfo kInfos[] = {
    {Setting::kOverwrite, "overwrite", "Overwrite", kCmdLoopRecording},
    {Setting::kTimestamp, "timestamp", "Time stamp", kCmdTimestampDisplay},
    {Setting::kResolution, "resolution", "Resolution", kCmdResolution},
};

// Each setting is read by a command of the table that names its values, and set by another.
constexpr bool InTable(CameraCommand code) {
    bool read = false;
    bool set = false;
    for (const CommandInfo& row : kCommandTable) {
        read = read || (row.code == code && row.form == CommandForm::kGet &&
                        row.answer == AnswerMeaning::kSettingValue && row.values[0] != nullptr &&
                        row.values[1] != nullptr);
        set = set || (row.code == code && row.form == CommandForm::kSet);
    }
    return read && set;
}
static_assert(InTable(kInfos[0].code) && InTable(kInfos[1].code) && InTable(kInfos[2].code));

}  // namespace

const SettingInfo& InfoOf(Setting setting) {
    return kInfos[static_cast<std::size_t>(setting)];
}

const std::array<const char*, 2>& ValueNames(Setting setting) {
    // Every setting's read is in the table with the names of its values.
    return FindCommand(InfoOf(setting).code, CommandForm::kGet)->values;
}

std::optional<std::string> ValueName(Setting setting, int value) {
    if (value != 0 && value != 1) {
        return std::nullopt;
    }
    return std::string(ValueNames(setting)[static_cast<std::size_t>(value)]);
}

std::string ValueText(Setting setting, int value) {
    const std::optional<std::string> name = ValueName(setting, value);
    return name ? *name : "unknown (" + std::to_string(value) + ")";
}

std::optional<SettingChange> ParseChange(std::string_view text, std::string& error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        error = "'" + std::string(text) + "' is not NAME=VALUE (" + ChangeSyntax() + ")";
        return std::nullopt;
    }
    const std::string name = AsciiLower(text.substr(0, equals));
    const std::string value = AsciiLower(text.substr(equals + 1));
    for (const SettingInfo& info : kInfos) {
        if (name != info.name) {
            continue;
        }
        const std::array<const char*, 2>& values = ValueNames(info.setting);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (value == values[i]) {
                return SettingChange{info.setting, static_cast<int>(i)};
            }
        }
        error = "'" + std::string(text.substr(equals + 1)) + "' is no value of " + info.name +
                " (" + values[0] + " or " + values[1] + ")";
        return std::nullopt;
    }
    error = "'" + std::string(text.substr(0, equals)) +
            "' is no setting (overwrite, timestamp or resolution)";
    return std::nullopt;
}

std::optional<std::vector<SettingChange>> ParseChanges(const std::vector<std::string>& texts,
                                                       std::string& error) {
    std::vector<SettingChange> changes;
    for (const std::string& text : texts) {
        const std::optional<SettingChange> change = ParseChange(text, error);
        if (!change) {
            return std::nullopt;
        }
        for (const SettingChange& earlier : changes) {
            if (earlier.setting == change->setting) {
                error = std::string(InfoOf(change->setting).name) + " is given twice";
                return std::nullopt;
            }
        }
        changes.push_back(*change);
    }
    return changes;
}

std::string ChangeSyntax() {
    return "overwrite=on|off timestamp=on|off resolution=1080p|720p";
}

}  // namespace cli
