// What went wrong, with everything a person or a script needs to act on it: the exit code's
// class, one sentence, and the details behind it (the system's error, the SCSI status and sense
// data, the camera's state, the setting that did not stick).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/settings.h"
#include "link/protocol.h"

namespace cli {

// A command sent to the camera: a vendor command (form and code) or the INQUIRY.
struct CommandRef {
    bool inquiry = false;
    CommandForm form = CommandForm::kGet;
    std::uint8_t code = 0;  // the vendor command code, or the INQUIRY's operation code (kOpInquiry)
};

// "get camera state (command 14)", "set loop recording (command 2)", "INQUIRY".
std::string DescribeCommand(const CommandRef& command);

struct Failure {
    Exit exit = Exit::kInternal;
    std::string device;   // the device it concerns; empty for none in particular
    std::string message;  // one sentence, without the device

    std::optional<CommandRef> command;

    // kSystemError: the system's error code and its text.
    std::optional<std::uint32_t> systemError;
    std::string systemText;

    // kRefused: what the camera ended the command with and how much it sent.
    std::optional<std::uint8_t> scsiStatus;
    std::vector<std::uint8_t> sense;
    std::optional<std::uint32_t> dataBytes;
    std::optional<std::uint32_t> expectedBytes;

    // kNotReady: the camera's state.
    std::optional<int> state;

    // kMismatch: the setting, the value sent and the value read back.
    std::optional<Setting> setting;
    std::optional<int> sent;
    std::optional<int> readBack;

    // Further lines worth showing, such as the drives that could not be opened.
    std::vector<std::string> notes;
};

// "Access is denied. (system error 5)", or "system error 5" when the system has no text.
std::string SystemErrorPhrase(std::uint32_t error, const std::string& text);

}  // namespace cli
