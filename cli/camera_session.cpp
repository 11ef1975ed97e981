#include "cli/camera_session.h"

#include <array>
#include <cstdio>
#include <utility>

#include "cli/sense.h"
#include "link/protocol.h"

namespace cli {

std::string DescribeCommand(const CommandRef& command) {
    if (command.inquiry) {
        return "INQUIRY";
    }
    if (command.code == kCmdRelease) {
        return "release (command 15)";
    }
    const CommandInfo* info = FindCommand(command.code, command.form);
    return std::string(command.form == CommandForm::kGet ? "get " : "set ") +
           (info != nullptr ? info->name : "vendor command") + " (command " +
           std::to_string(command.code) + ")";
}

std::string SystemErrorPhrase(std::uint32_t error, const std::string& text) {
    if (error == 0) {
        return "the system gave no reason";
    }
    const std::string code = "system error " + std::to_string(error);
    return text.empty() ? code : text + " (" + code + ")";
}

CameraSession::CameraSession(Backend& backend, Probe probe, std::uint32_t paceMs)
    : backend_(backend),
      probe_(std::move(probe)),
      pacer_(paceMs, [&backend](std::uint32_t ms) { backend.Sleep(ms); }) {}

CameraSession::~CameraSession() {
    Close();
}

void CameraSession::Close() {
    if (open_) {
        backend_.Close(probe_.id);
        open_ = false;
    }
}

std::optional<Failure> CameraSession::Command(CommandForm form, std::uint8_t code,
                                              std::span<const std::uint8_t> args,
                                              VendorAnswer& answer) {
    // A command is done only when the camera ended it with GOOD status and sent its whole
    // answer: a transfer cut short is no confirmation, whatever bytes of it are read.
    constexpr std::uint32_t neededBytes = kVendorAnswerSize;
    VendorBlock block = MakeCameraBlock(form, code, args);
    SignVendorBlock(block);
    answer.fill(0);
    const CommandRef command{false, form, code};
    if (!open_) {
        Failure failure;
        failure.exit = Exit::kInternal;
        failure.device = probe_.device;
        failure.command = command;
        failure.message = DescribeCommand(command) + " was not sent: the camera is closed";
        return failure;
    }
    const PassThroughOutcome outcome = backend_.Execute(probe_.id, block, answer);
    const OutcomeCategory category = Categorize(outcome, neededBytes);
    if (category == OutcomeCategory::kGood) {
        return std::nullopt;
    }
    if (category == OutcomeCategory::kSystemError ||
        category == OutcomeCategory::kTransportFailure) {
        Failure failure;
        failure.exit = Exit::kSystemError;
        failure.device = probe_.device;
        failure.command = command;
        failure.systemError = outcome.systemError;
        failure.systemText = backend_.ErrorText(outcome.systemError);
        failure.message = DescribeCommand(command) +
                          " failed: " + SystemErrorPhrase(outcome.systemError, failure.systemText);
        return failure;
    }
    // The camera ended it with another status than GOOD, or sent less than the whole answer.
    Failure failure;
    failure.exit = Exit::kRefused;
    failure.device = probe_.device;
    failure.command = command;
    failure.scsiStatus = outcome.scsiStatus;
    failure.sense.assign(outcome.sense.begin(), outcome.sense.begin() + outcome.senseLength);
    failure.dataBytes = outcome.dataBytes;
    failure.expectedBytes = neededBytes;
    if (category != OutcomeCategory::kShortAnswer) {
        failure.message = "the camera refused " + DescribeCommand(command) + ": " +
                          DescribeStatus(outcome.scsiStatus, failure.sense);
    } else {
        failure.message = "the camera answered " + DescribeCommand(command) + " with " +
                          std::to_string(outcome.dataBytes) + " of the " +
                          std::to_string(neededBytes) + " bytes it must send";
    }
    return failure;
}

std::optional<Failure> CameraSession::ReadState(int& state) {
    pacer_.BeginOperation();
    VendorAnswer answer;
    if (auto failure = Command(CommandForm::kGet, kCmdCameraState, {}, answer)) {
        return failure;
    }
    state = answer[0];
    return std::nullopt;
}

std::optional<Failure> CameraSession::ReadFirmware(std::string& text) {
    std::string bytes;
    for (const std::uint8_t code : kFirmwareCommands) {
        VendorAnswer answer;
        // A piece is zero-padded to the whole answer; the text ends at its first zero byte.
        if (auto failure = Command(CommandForm::kGet, code, {}, answer)) {
            return failure;
        }
        bytes.append(answer.begin(),
                     answer.begin() + static_cast<std::ptrdiff_t>(FirmwarePieceLength(answer)));
    }
    text = backend_.DeviceText({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return std::nullopt;
}

std::optional<Failure> CameraSession::ReadSetting(Setting setting, int& value) {
    pacer_.BeginOperation();
    VendorAnswer answer;
    if (auto failure = Command(CommandForm::kGet, InfoOf(setting).code, {}, answer)) {
        return failure;
    }
    value = answer[0];
    return std::nullopt;
}

std::optional<Failure> CameraSession::WriteSetting(Setting setting, int value) {
    pacer_.BeginOperation();
    VendorAnswer answer;
    const std::array<std::uint8_t, 1> args = {static_cast<std::uint8_t>(value & 0xFF)};
    return Command(CommandForm::kSet, InfoOf(setting).code, args, answer);
}

std::optional<Failure> CameraSession::SetClock(const CameraDateTime& dateTime) {
    pacer_.BeginOperation();
    VendorAnswer answer;
    const std::array<ClockCommand, 2> clock = ClockCommands(dateTime);
    if (auto failure = Command(CommandForm::kSet, clock[0].code, clock[0].args, answer)) {
        return failure;
    }
    return Command(CommandForm::kSet, clock[1].code, clock[1].args, answer);
}

std::optional<Failure> CameraSession::Release() {
    pacer_.BeginOperation();
    VendorAnswer answer;
    std::optional<Failure> failure = Command(CommandForm::kGet, kCmdRelease, {}, answer);
    Close();
    return failure;
}

std::optional<Failure> CameraSession::NotReady(int state) const {
    if (IsReadyState(state)) {
        return std::nullopt;
    }
    Failure failure;
    failure.exit = Exit::kNotReady;
    failure.device = probe_.device;
    failure.state = state;
    failure.message = "the camera is not ready: its state is " + std::to_string(state) +
                      " (ready is " + std::to_string(kCameraStateReady) + " or " +
                      std::to_string(kCameraStateReadyAlt) + ")";
    return failure;
}

}  // namespace cli
