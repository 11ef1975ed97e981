// The camera's protocol, written once for every program and every transport: the vendor command
// block, the table of commands and what their answers mean, the clock's bytes, the INQUIRY and the
// camera's mark, SCSI sense data, and the one judgement of how a command ended.
//
// Nothing here reaches a device or the operating system. The transports (the Windows pass-through
// of link/transport.h, SG_IO on Linux) carry the blocks and report a PassThroughOutcome; the
// panel's camera functions, the tool's camera session and its settings read this file.
//
// Adding a setting or a command: a CameraCommand code, its rows in kCommandTable; the programs
// take the name, the form and the answer's meaning from the row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>

// ---- the vendor command block ----

// Vendor command block and its answer.
inline constexpr std::size_t kVendorBlockSize = 16;
inline constexpr std::size_t kVendorAnswerSize = 8;

// Vendor command block: bytes 0-2 the transport's signature, 3-6 the form, 7 the command code,
// 8-15 the arguments.
inline constexpr std::size_t kVendorSignature = 0;  // 3 bytes, FA 55 66
inline constexpr std::size_t kVendorForm = 3;       // 4 bytes, little-endian
inline constexpr std::size_t kVendorCode = 7;       // 1 byte
inline constexpr std::size_t kVendorArgs = 8;       // 8 bytes
inline constexpr std::array<std::uint8_t, 3> kVendorSignatureBytes = {0xFA, 0x55, 0x66};
inline constexpr std::uint32_t kVendorFormGet = 0x000060FE;
inline constexpr std::uint32_t kVendorFormSet = 0x000006FE;

using VendorBlock = std::array<std::uint8_t, kVendorBlockSize>;
using VendorAnswer = std::array<std::uint8_t, kVendorAnswerSize>;

// The two forms of a vendor command block: a read, or a write carrying its value in the block.
enum class CommandForm : std::uint8_t { kGet, kSet };

// Writes FA 55 66 into bytes 0-2 of `block`.
void SignVendorBlock(std::span<std::uint8_t, kVendorBlockSize> block);

// The block of one camera command: the form in bytes 3-6, the code in byte 7, `args` (at most 8)
// from byte 8, every other byte 0. Bytes 0-2 are left for the transport's signature.
VendorBlock MakeCameraBlock(CommandForm form, std::uint8_t code,
                            std::span<const std::uint8_t> args = {});

// ---- the commands ----

// Vendor command codes.
enum CameraCommand : std::uint8_t {
    kCmdResolution = 1,
    kCmdLoopRecording = 2,
    kCmdSetTime = 3,
    kCmdSetDate = 4,
    kCmdTimestampDisplay = 11,
    kCmdCameraState = 14,
    kCmdRelease = 15,
    kCmdFirmware1 = 26,
    kCmdFirmware2 = 27,
    kCmdFirmware3 = 28,
};

// What the 8 bytes of a command's answer mean.
enum class AnswerMeaning : std::uint8_t {
    kState,          // byte 0 is the camera's state (kCameraStateReady, ...)
    kSettingValue,   // byte 0 is the setting's value; `values` names 0 and 1
    kFirmwarePiece,  // up to 8 characters of the firmware version, zero-padded
    kConfirmation,   // nothing but that the camera took the command
    kRelease,        // as a confirmation, but the camera may leave the bus before it sends one
};

struct CommandInfo {
    CameraCommand code;
    CommandForm form;
    const char* name;  // "video resolution"
    AnswerMeaning answer;
    std::uint8_t argumentBytes;  // the arguments the block carries from byte 8
    // For a setting, the names of its values 0 and 1 ("off", "on"); null otherwise.
    std::array<const char*, 2> values;
};

// Every command the programs send, a row for each form of it.
inline constexpr CommandInfo kCommandTable[] = {
    {kCmdCameraState, CommandForm::kGet, "camera state", AnswerMeaning::kState, 0, {}},
    {kCmdFirmware1,
     CommandForm::kGet,
     "firmware version, first piece",
     AnswerMeaning::kFirmwarePiece,
     0,
     {}},
    {kCmdFirmware2,
     CommandForm::kGet,
     "firmware version, second piece",
     AnswerMeaning::kFirmwarePiece,
     0,
     {}},
    {kCmdFirmware3,
     CommandForm::kGet,
     "firmware version, third piece",
     AnswerMeaning::kFirmwarePiece,
     0,
     {}},
    {kCmdLoopRecording,
     CommandForm::kGet,
     "loop recording",
     AnswerMeaning::kSettingValue,
     0,
     {"off", "on"}},
    {kCmdLoopRecording,
     CommandForm::kSet,
     "loop recording",
     AnswerMeaning::kConfirmation,
     1,
     {"off", "on"}},
    {kCmdTimestampDisplay,
     CommandForm::kGet,
     "time-stamp display",
     AnswerMeaning::kSettingValue,
     0,
     {"off", "on"}},
    {kCmdTimestampDisplay,
     CommandForm::kSet,
     "time-stamp display",
     AnswerMeaning::kConfirmation,
     1,
     {"off", "on"}},
    {kCmdResolution,
     CommandForm::kGet,
     "video resolution",
     AnswerMeaning::kSettingValue,
     0,
     {"1080p", "720p"}},
    {kCmdResolution,
     CommandForm::kSet,
     "video resolution",
     AnswerMeaning::kConfirmation,
     1,
     {"1080p", "720p"}},
    {kCmdSetDate, CommandForm::kSet, "date", AnswerMeaning::kConfirmation, 3, {}},
    {kCmdSetTime, CommandForm::kSet, "time", AnswerMeaning::kConfirmation, 3, {}},
    {kCmdRelease, CommandForm::kGet, "release", AnswerMeaning::kRelease, 0, {}},
};

// The row of `code` in `form`, or null for a command the table does not hold.
constexpr const CommandInfo* FindCommand(std::uint8_t code, CommandForm form) {
    for (const CommandInfo& info : kCommandTable) {
        if (info.code == code && info.form == form) {
            return &info;
        }
    }
    return nullptr;
}

// The firmware version's three pieces, in the order they are asked.
inline constexpr std::array<CameraCommand, 3> kFirmwareCommands = {kCmdFirmware1, kCmdFirmware2,
                                                                   kCmdFirmware3};

// The characters one firmware piece contributes: the answer's bytes up to the first zero byte,
// at most all 8.
std::size_t FirmwarePieceLength(std::span<const std::uint8_t, kVendorAnswerSize> answer);

// The camera states in which it takes commands.
inline constexpr std::int32_t kCameraStateReady = 2;
inline constexpr std::int32_t kCameraStateReadyAlt = 3;
inline constexpr bool IsReadyState(std::int32_t state) {
    return state == kCameraStateReady || state == kCameraStateReadyAlt;
}

// ---- the clock ----

// Date and time for the camera's clock; year counted from 2000.
struct CameraDateTime {
    std::uint8_t year;
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
};

// The camera's clock set from a local time: the year counted from 2000 (the calendar year modulo
// 2000, its low 8 bits), the month from 1, the rest as they are.
CameraDateTime CameraDateTimeFromLocalTime(const std::tm& local);

// One command of the clock's setting: its code and its three argument bytes.
struct ClockCommand {
    CameraCommand code;
    std::array<std::uint8_t, 3> args;
};

// Setting the clock is two commands, the date (year, month, day) and then the time (hour, minute,
// second); the time is sent only when the date was taken.
std::array<ClockCommand, 2> ClockCommands(const CameraDateTime& dateTime);

// ---- INQUIRY and the camera's mark ----

// The standard INQUIRY: six CDB bytes, 36 bytes of inquiry data; the camera's one mark is byte 3
// of the data holding exactly 1.
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::size_t kInquiryCdbLength = 6;
inline constexpr std::uint8_t kInquiryLength = 36;
inline constexpr std::size_t kInquiryMarkByte = 3;
inline constexpr std::uint8_t kCameraMark = 1;

// INQUIRY, standard data, allocation length 36.
std::array<std::uint8_t, kInquiryCdbLength> InquiryCdb();

// Whether inquiry data carries the camera's mark: byte 3 is there and is exactly 1.
bool CarriesCameraMark(std::span<const std::uint8_t> inquiryData);

// ---- how a command ended ----

// SCSI status bytes.
inline constexpr std::uint8_t kScsiStatusGood = 0x00;
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// The sense bytes an outcome keeps.
inline constexpr std::uint8_t kSenseInfoLength = 24;

struct PassThroughOutcome;

// How a command ended, in the manner of sg3_utils' result categories.
enum class OutcomeCategory : std::uint8_t {
    kGood,              // GOOD status and every byte the command needs
    kCheckCondition,    // the device refused it with CHECK CONDITION (and its sense data)
    kOtherStatus,       // another status than GOOD or CHECK CONDITION (BUSY, ...)
    kShortAnswer,       // GOOD status, but fewer data bytes than the command needs
    kTransportFailure,  // the transport under the call failed: time-out, device lost, bus error
    kSystemError,       // the system call itself failed
};

// The category of `outcome` for a command that needs `neededBytes` data bytes.
OutcomeCategory Categorize(const PassThroughOutcome& outcome, std::uint32_t neededBytes);

// "good", "check condition", "short answer", ...
const char* CategoryName(OutcomeCategory category);

// What one command came back with, from any transport. When the call failed only
// `callSucceeded` (false), `transportFailed` and `systemError` mean anything.
struct PassThroughOutcome {
    bool callSucceeded = false;
    // The call did not fail by itself, but the transport under it did (a time-out, a lost
    // device, a bus error); `systemError` is the system's code for it. Only transports that tell
    // the two apart set it.
    bool transportFailed = false;
    std::uint32_t systemError = 0;  // the system's error code of a failed call
    std::uint8_t scsiStatus = 0;    // the device's SCSI status
    std::uint8_t senseLength = 0;   // sense bytes delivered, at most kSenseInfoLength
    std::array<std::uint8_t, kSenseInfoLength> sense = {};
    std::uint32_t dataBytes = 0;      // data bytes the device delivered
    std::uint32_t bytesReturned = 0;  // the call's bytes-returned count

    // The call succeeded and the device ended the command with GOOD status, whatever data came.
    bool Good() const { return Categorize(*this, 0) == OutcomeCategory::kGood; }
    std::span<const std::uint8_t> Sense() const { return {sense.data(), senseLength}; }
};

// ---- sense data ----

enum class SenseFormat : std::uint8_t {
    kNone,        // no sense bytes
    kFixed,       // response code 0x70 (current) or 0x71 (deferred)
    kDescriptor,  // 0x72 or 0x73
    kUnknown,     // any other code: 0x7F is left to vendors, the rest is garbage
};

struct SenseFields {
    SenseFormat format = SenseFormat::kNone;
    bool valid = false;  // a known format whose sense key arrived
    std::uint8_t key = 0;
    std::uint8_t asc = 0;   // 0 where it did not arrive
    std::uint8_t ascq = 0;  // 0 where it did not arrive
};

// The sense key and additional sense code and qualifier of sense data in either format, each read
// only where the bytes received reach it and, in fixed format, the additional length (byte 7)
// does too.
SenseFields DecodeSense(std::span<const std::uint8_t> sense);
