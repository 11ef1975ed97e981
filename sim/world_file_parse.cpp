#include "sim/world_file_parse.h"

#include <algorithm>
#include <utility>

#include "sim/drive_types.h"
#include "sim/quoted.h"

namespace sim {

namespace {

// ---- reading a line ----

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Thrown inside the parser only, for the line being read; ParseWorldFile turns it into an
// error of that line.
struct LineError {
    std::string message;
};

// Splits a line into words at blanks; a double quote runs to the next unescaped double quote,
// blanks and hashes included, and stays in the word. A hash at the start of a word ends the line.
std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        if (IsBlank(line[at])) {
            ++at;
            continue;
        }
        if (line[at] == '#') {
            break;
        }
        std::string word;
        while (at < line.size() && !IsBlank(line[at])) {
            if (line[at] != '"') {
                word += line[at++];
                continue;
            }
            word += line[at++];
            bool closed = false;
            while (at < line.size()) {
                const char c = line[at++];
                word += c;
                if (c == '\\' && at < line.size()) {
                    word += line[at++];
                } else if (c == '"') {
                    closed = true;
                    break;
                }
            }
            if (!closed) {
                throw LineError{"a quoted text is not closed"};
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

// A text value: as written, or between double quotes with the escapes \\ \" \t and \xHH.
std::string Text(std::string_view raw, std::string_view key) {
    if (raw.empty() || raw.front() != '"') {
        if (raw.find('"') != std::string_view::npos) {
            throw LineError{"a quote inside the value of " + std::string(key)};
        }
        return std::string(raw);
    }
    if (raw.size() < 2 || raw.back() != '"') {
        throw LineError{"text after the closing quote in the value of " + std::string(key)};
    }
    std::string text;
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        if (raw[i] != '\\') {
            text += raw[i];
            continue;
        }
        ++i;
        const char escaped = i + 1 < raw.size() ? raw[i] : '\0';
        if (escaped == '\\' || escaped == '"') {
            text += escaped;
        } else if (escaped == 't') {
            text += '\t';
        } else if (escaped == 'x' && i + 3 < raw.size() && HexDigit(raw[i + 1]) >= 0 &&
                   HexDigit(raw[i + 2]) >= 0) {
            text += static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
            i += 2;
        } else {
            throw LineError{"unknown escape in the value of " + std::string(key) +
                            " (use \\\\, \\\", \\t or \\xHH)"};
        }
    }
    return text;
}

// A number: decimal, or hexadecimal after 0x.
std::uint32_t Number(std::string_view raw, std::string_view what, std::uint32_t max) {
    std::uint32_t base = 10;
    std::string_view digits = raw;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t value = 0;
    bool valid = !digits.empty();
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0 || static_cast<std::uint32_t>(digit) >= base) {
            valid = false;
            break;
        }
        value = value * base + static_cast<std::uint32_t>(digit);
        if (value > max) {
            valid = false;
            break;
        }
    }
    if (!valid) {
        throw LineError{std::string(what) + " must be a number from 0 to " + std::to_string(max) +
                        ", not " + Quoted(raw)};
    }
    return static_cast<std::uint32_t>(value);
}

std::uint8_t Byte(std::string_view raw, std::string_view what) {
    return static_cast<std::uint8_t>(Number(raw, what, 255));
}

char Letter(std::string_view raw) {
    if (raw.size() == 2 && raw[1] == ':') {
        raw.remove_suffix(1);
    }
    if (raw.size() == 1) {
        const char c = raw[0];
        if (c >= 'A' && c <= 'Z') {
            return c;
        }
        if (c >= 'a' && c <= 'z') {
            return static_cast<char>(c - 'a' + 'A');
        }
    }
    throw LineError{"a drive letter A to Z is needed, not " + Quoted(raw)};
}

std::uint32_t DriveType(std::string_view raw) {
    for (const NamedDriveType& known : kDriveTypeNames) {
        if (raw == known.name) {
            return known.type;
        }
    }
    if (!raw.empty() && HexDigit(raw[0]) >= 0 && raw[0] <= '9') {
        return Number(raw, "a drive type", 0xFFFFFFFFu);
    }
    throw LineError{"unknown drive type " + Quoted(raw) +
                    " (removable, fixed, cdrom, remote, ramdisk, unknown, noroot or a number)"};
}

bool YesNo(std::string_view raw, std::string_view key) {
    if (raw == "yes") {
        return true;
    }
    if (raw == "no") {
        return false;
    }
    throw LineError{std::string(key) + " must be yes or no, not " + Quoted(raw)};
}

// A vendor identification: a text, or none for a descriptor that names none.
std::optional<std::string> Vendor(std::string_view raw) {
    if (raw == "none") {
        return std::nullopt;
    }
    std::string text = Text(raw, "vendor");
    if (text.find('\0') != std::string::npos) {
        throw LineError{"the vendor text cannot hold a zero byte"};
    }
    return text;
}

// The three firmware pieces, separated by commas; each may be quoted (for blanks or commas).
std::array<FirmwarePiece, 3> Firmware(std::string_view raw) {
    std::vector<std::string> pieces;
    std::size_t at = 0;
    while (true) {
        std::size_t end = at;
        if (end < raw.size() && raw[end] == '"') {
            ++end;
            while (end < raw.size() && raw[end] != '"') {
                end += raw[end] == '\\' ? 2 : 1;
            }
            ++end;
        } else {
            while (end < raw.size() && raw[end] != ',') {
                ++end;
            }
        }
        end = std::min(end, raw.size());
        pieces.push_back(Text(raw.substr(at, end - at), "firmware"));
        if (end >= raw.size()) {
            break;
        }
        if (raw[end] != ',') {
            throw LineError{"firmware pieces are separated by commas"};
        }
        at = end + 1;
    }
    if (pieces.size() > 3) {
        throw LineError{"firmware has three pieces at most, not " + std::to_string(pieces.size())};
    }
    std::array<FirmwarePiece, 3> firmware = {};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].size() > 8) {
            throw LineError{"a firmware piece has 8 characters at most: " + Quoted(pieces[i])};
        }
        firmware[i] = MakeFirmwarePiece(pieces[i]);
    }
    return firmware;
}

// The key=value words after a statement's fixed words.
struct Setting {
    std::string key;
    std::string raw;
};

std::vector<Setting> Settings(const std::vector<std::string>& words, std::size_t first,
                              std::string_view statement) {
    std::vector<Setting> settings;
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::size_t equals = words[i].find('=');
        if (equals == std::string::npos || equals == 0) {
            throw LineError{"expected key=value in a " + std::string(statement) + " line, not " +
                            Quoted(words[i])};
        }
        Setting setting{words[i].substr(0, equals), words[i].substr(equals + 1)};
        for (const Setting& earlier : settings) {
            if (earlier.key == setting.key) {
                throw LineError{setting.key + " given twice"};
            }
        }
        settings.push_back(std::move(setting));
    }
    return settings;
}

[[noreturn]] void UnknownKey(const Setting& setting, std::string_view statement) {
    throw LineError{"unknown key " + Quoted(setting.key) + " in a " + std::string(statement) +
                    " line"};
}

void NeedWords(const std::vector<std::string>& words, std::size_t count, std::string_view usage) {
    if (words.size() < count) {
        throw LineError{"too short; the form is: " + std::string(usage)};
    }
}

// ---- the statements ----

constexpr std::string_view kDriveUsage =
    "drive LETTER TYPE [scsi=none|disk|refuses] [inquiry=N] [opens=yes|no] "
    "[vendor=TEXT|none] [query=works|fails]";
constexpr std::string_view kCameraUsage =
    "camera LETTER [state=N] [overwrite=N] [timestamp=N] [resolution=N] [firmware=A,B,C] "
    "[inquiry-vendor=TEXT] [delay=MS]";
constexpr std::string_view kFaultUsage =
    "fault CODE|inquiry fails|short=N|check=N|ignored [times=N|always]";

DriveDescription ParseDrive(const std::vector<std::string>& words) {
    NeedWords(words, 3, kDriveUsage);
    DriveDescription drive;
    drive.letter = Letter(words[1]);
    drive.type = DriveType(words[2]);
    bool scsiGiven = false;
    for (const Setting& setting : Settings(words, 3, "drive")) {
        if (setting.key == "scsi") {
            scsiGiven = true;
            if (setting.raw == "none") {
                drive.scsi = ScsiDevice::kNone;
            } else if (setting.raw == "disk") {
                drive.scsi = ScsiDevice::kDisk;
            } else if (setting.raw == "refuses") {
                drive.scsi = ScsiDevice::kRefusesInquiry;
            } else {
                throw LineError{"scsi must be none, disk or refuses, not " + Quoted(setting.raw)};
            }
        } else if (setting.key == "inquiry") {
            drive.inquiryByte3 = Byte(setting.raw, "inquiry");
            if (!scsiGiven) {
                drive.scsi = ScsiDevice::kDisk;
            }
        } else if (setting.key == "opens") {
            drive.opens = YesNo(setting.raw, "opens");
        } else if (setting.key == "vendor") {
            drive.vendor = Vendor(setting.raw);
        } else if (setting.key == "query") {
            if (setting.raw != "works" && setting.raw != "fails") {
                throw LineError{"query must be works or fails, not " + Quoted(setting.raw)};
            }
            drive.queryFails = setting.raw == "fails";
        } else {
            UnknownKey(setting, "drive");
        }
    }
    if (drive.scsi != ScsiDevice::kDisk && drive.inquiryByte3 != 2) {
        throw LineError{"inquiry is only answered by scsi=disk"};
    }
    return drive;
}

CameraDescription ParseCamera(const std::vector<std::string>& words) {
    NeedWords(words, 2, kCameraUsage);
    CameraDescription camera;
    camera.letter = Letter(words[1]);
    for (const Setting& setting : Settings(words, 2, "camera")) {
        if (setting.key == "state") {
            camera.state = Byte(setting.raw, "state");
        } else if (setting.key == "overwrite") {
            camera.loopRecording = Byte(setting.raw, "overwrite");
        } else if (setting.key == "timestamp") {
            camera.timestampDisplay = Byte(setting.raw, "timestamp");
        } else if (setting.key == "resolution") {
            camera.resolution = Byte(setting.raw, "resolution");
        } else if (setting.key == "firmware") {
            camera.firmware = Firmware(setting.raw);
        } else if (setting.key == "inquiry-vendor") {
            camera.inquiryVendor = Text(setting.raw, "inquiry-vendor");
            if (camera.inquiryVendor.size() > 8) {
                throw LineError{"inquiry-vendor has 8 characters at most: " +
                                Quoted(camera.inquiryVendor)};
            }
        } else if (setting.key == "delay") {
            camera.answerDelayMs = Number(setting.raw, "delay", kMaxAnswerDelayMs);
        } else {
            UnknownKey(setting, "camera");
        }
    }
    return camera;
}

StorageDescription ParseStorage(const std::vector<std::string>& words) {
    StorageDescription storage;
    for (const Setting& setting : Settings(words, 1, "storage")) {
        if (setting.key == "camera") {
            storage.camera = Letter(setting.raw);
        } else if (setting.key == "letter") {
            storage.letter = Letter(setting.raw);
        } else if (setting.key == "type") {
            storage.type = DriveType(setting.raw);
        } else if (setting.key == "vendor") {
            storage.vendor = Vendor(setting.raw);
        } else if (setting.key == "answers") {
            if (setting.raw == "keep") {
                storage.answers = StorageAnswers::kKeepsAnswering;
            } else if (setting.raw == "plaindisk") {
                storage.answers = StorageAnswers::kPlainDisk;
            } else {
                throw LineError{"answers must be keep or plaindisk, not " + Quoted(setting.raw)};
            }
        } else {
            UnknownKey(setting, "storage");
        }
    }
    return storage;
}

FaultDescription ParseFault(const std::vector<std::string>& words) {
    NeedWords(words, 3, kFaultUsage);
    FaultDescription described;
    if (words[1] == "inquiry") {
        described.inquiry = true;
    } else {
        described.code = Byte(words[1], "a fault's command code");
    }
    const std::string& how = words[2];
    if (how == "fails") {
        described.fault = Fault::CallFails();
    } else if (how.starts_with("short=")) {
        described.fault = Fault::ShortAnswer(Number(how.substr(6), "short", 36));
    } else if (how.starts_with("check=")) {
        described.fault = Fault::CheckCondition(Number(how.substr(6), "check", 36));
    } else if (how == "ignored") {
        described.fault = Fault::Ignored();
    } else {
        throw LineError{"a fault fails, is ignored, or is short=N or check=N, not " + Quoted(how)};
    }
    for (const Setting& setting : Settings(words, 3, "fault")) {
        if (setting.key == "times") {
            described.fault.times = setting.raw == "always"
                                        ? kAlways
                                        : static_cast<int>(Number(setting.raw, "times", 1000000));
            if (described.fault.times == 0) {
                throw LineError{"times must be at least 1"};
            }
        } else {
            UnknownKey(setting, "fault");
        }
    }
    return described;
}

constexpr std::string_view kHostileUsage =
    "hostile seed=N [KIND=WEIGHT]... [hang-ms=MS] [away-ms=MS] [storm-plugs=N] "
    "[commands=all|vendor]";
// Long enough for every time-out of the programs on the camera, short enough for a test.
constexpr std::uint32_t kMaxHostileMs = 60000;

HostileSettings ParseHostile(const std::vector<std::string>& words) {
    HostileSettings settings;
    bool seeded = false;
    for (const Setting& setting : Settings(words, 1, "hostile")) {
        if (setting.key == "seed") {
            settings.seed = Number(setting.raw, "seed", 0xFFFFFFFFu);
            seeded = true;
        } else if (const std::optional<HostileKind> kind = HostileKindNamed(setting.key)) {
            settings.weight(*kind) = Number(setting.raw, setting.key, 1000000);
        } else if (setting.key == "hang-ms") {
            settings.hangMs = Number(setting.raw, "hang-ms", kMaxHostileMs);
        } else if (setting.key == "away-ms") {
            settings.replugMs = Number(setting.raw, "away-ms", kMaxHostileMs);
        } else if (setting.key == "storm-plugs") {
            settings.stormPlugs = Number(setting.raw, "storm-plugs", 100);
        } else if (setting.key == "commands") {
            if (setting.raw != "all" && setting.raw != "vendor") {
                throw LineError{"commands must be all or vendor, not " + Quoted(setting.raw)};
            }
            settings.vendorOnly = setting.raw == "vendor";
        } else {
            throw LineError{"unknown key " + Quoted(setting.key) +
                            " in a hostile line; the form is: " + std::string(kHostileUsage)};
        }
    }
    if (!seeded) {
        throw LineError{"a hostile line needs its seed; the form is: " +
                        std::string(kHostileUsage)};
    }
    std::uint32_t total = 0;
    for (const std::uint32_t weight : settings.weights) {
        total += weight;
    }
    if (total == 0) {
        throw LineError{"every kind of a hostile line has weight 0"};
    }
    return settings;
}

}  // namespace

// ---- the file ----

const DriveDescription* WorldDescription::DriveAt(char letter) const {
    for (const DriveDescription& drive : drives) {
        if (drive.letter == letter) {
            return &drive;
        }
    }
    return nullptr;
}

const CameraDescription* WorldDescription::CameraAt(char letter) const {
    for (const CameraDescription& camera : cameras) {
        if (camera.letter == letter) {
            return &camera;
        }
    }
    return nullptr;
}

StorageDescription WorldDescription::StorageOf(char letter) const {
    const bool first = !cameras.empty() && cameras.front().letter == letter;
    for (const StorageDescription& line : storage) {
        if (line.camera == letter || (first && line.camera == 0)) {
            return line;
        }
    }
    return StorageDescription{};
}

std::string Describe(const WorldFileError& error) {
    return (error.line > 0 ? "line " + std::to_string(error.line) + ": " : std::string()) +
           error.message;
}

ParsedWorld ParseWorldFile(std::string_view text) {
    ParsedWorld parsed;
    WorldDescription& described = parsed.world;
    std::vector<int> driveLines;
    std::vector<int> cameraLines;
    std::vector<int> storageLines;
    const auto lineOf = [](const auto& items, const std::vector<int>& lines, const auto* item) {
        return lines[static_cast<std::size_t>(item - items.data())];
    };

    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        ++number;
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        try {
            const std::vector<std::string> words = Words(line);
            if (words.empty()) {
                continue;
            }
            const std::string& statement = words[0];
            if (statement == "drive") {
                DriveDescription drive = ParseDrive(words);
                if (described.DriveAt(drive.letter) != nullptr) {
                    throw LineError{std::string("drive ") + drive.letter + " is described twice"};
                }
                described.drives.push_back(std::move(drive));
                driveLines.push_back(number);
            } else if (statement == "camera") {
                CameraDescription camera = ParseCamera(words);
                if (const CameraDescription* earlier = described.CameraAt(camera.letter)) {
                    throw LineError{
                        std::string("a second camera on ") + camera.letter + " (line " +
                        std::to_string(lineOf(described.cameras, cameraLines, earlier)) + ")"};
                }
                described.cameras.push_back(std::move(camera));
                cameraLines.push_back(number);
            } else if (statement == "storage") {
                StorageDescription storage = ParseStorage(words);
                for (const StorageDescription& earlier : described.storage) {
                    if (earlier.camera == storage.camera) {
                        std::string message = "a second storage line";
                        if (storage.camera != 0) {
                            message += std::string(" for the camera on ") + storage.camera;
                        }
                        throw LineError{message};
                    }
                }
                described.storage.push_back(std::move(storage));
                storageLines.push_back(number);
            } else if (statement == "fault") {
                described.faults.push_back(ParseFault(words));
            } else if (statement == "trace") {
                if (words.size() != 2) {
                    throw LineError{"the form is: trace PATH (quote a path with blanks)"};
                }
                if (described.trace) {
                    throw LineError{"a second trace line"};
                }
                described.trace = Text(words[1], "trace");
            } else if (statement == "notify") {
                if (words.size() != 1) {
                    throw LineError{"notify stands alone on its line"};
                }
                described.notify = true;
            } else if (statement == "hostile") {
                if (described.hostile) {
                    throw LineError{"a second hostile line"};
                }
                described.hostile = ParseHostile(words);
            } else {
                throw LineError{"unknown statement " + Quoted(statement) +
                                " (drive, camera, storage, fault, trace, notify, hostile)"};
            }
        } catch (const LineError& error) {
            parsed.errors.push_back({number, error.message});
        }
    }

    // Letters that two statements claim.
    for (std::size_t i = 0; i < described.drives.size(); ++i) {
        const char letter = described.drives[i].letter;
        if (const CameraDescription* camera = described.CameraAt(letter)) {
            parsed.errors.push_back(
                {driveLines[i], std::string("drive ") + letter + " is the camera's letter (line " +
                                    std::to_string(lineOf(described.cameras, cameraLines, camera)) +
                                    ")"});
        }
    }
    for (std::size_t i = 0; i < described.storage.size(); ++i) {
        const StorageDescription& storage = described.storage[i];
        // The camera line the storage line is for, when the file has it.
        const char owner = storage.camera != 0          ? storage.camera
                           : !described.cameras.empty() ? described.cameras.front().letter
                                                        : 0;
        if (storage.camera == 0 && owner != 0) {
            for (std::size_t j = 0; j < described.storage.size(); ++j) {
                if (described.storage[j].camera == owner) {
                    parsed.errors.push_back(
                        {std::max(storageLines[i], storageLines[j]),
                         std::string("a second storage line for the camera on ") + owner +
                             ": the storage line without a camera is the first camera's (line " +
                             std::to_string(std::min(storageLines[i], storageLines[j])) + ")"});
                }
            }
        }
        if (storage.letter == 0) {
            continue;
        }
        for (std::size_t j = 0; j < described.drives.size(); ++j) {
            if (described.drives[j].letter == storage.letter) {
                parsed.errors.push_back(
                    {driveLines[j], std::string("drive ") + described.drives[j].letter +
                                        " is where the camera's storage volume appears (line " +
                                        std::to_string(storageLines[i]) + ")"});
            }
        }
        if (const CameraDescription* camera = described.CameraAt(storage.letter);
            camera != nullptr && camera->letter != owner) {
            parsed.errors.push_back(
                {storageLines[i],
                 std::string("the storage volume would appear on ") + storage.letter +
                     ", the letter of another camera (line " +
                     std::to_string(lineOf(described.cameras, cameraLines, camera)) + ")"});
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (described.storage[j].letter == storage.letter) {
                parsed.errors.push_back(
                    {storageLines[i], std::string("the storage volume would appear on ") +
                                          storage.letter + ", as another camera's does (line " +
                                          std::to_string(storageLines[j]) + ")"});
            }
        }
    }
    std::stable_sort(
        parsed.errors.begin(), parsed.errors.end(),
        [](const WorldFileError& a, const WorldFileError& b) { return a.line < b.line; });
    return parsed;
}

}  // namespace sim
