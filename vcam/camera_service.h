// The heart of the virtual camera's service, free of Windows calls so that the native tests run
// it too: it reads the request records of the driver (vcam/protocol.h), carries each request out
// in a simulated computer (sim::World) exactly as the program made it, writes the answer records,
// and works out which drive letters the driver presents for that computer.
//
//     vcam::CameraService service(world);
//     std::optional<vcam::Request> request = vcam::ReadRequest(record, &error);
//     std::optional<vcam::Answer> answer = service.Carry(*request);   // none for a close
//     ... send vcam::WriteAnswer(*answer) to the driver ...
//
// An open becomes World::CreateFileW on "\\.\X:", a device control World::DeviceIoControl with
// the same input bytes and the same output size, a close World::CloseHandle, so the world's
// decoding, faults, trace and handle accounting are what the driver saw. The driver numbers the
// opens it passes on; the service keeps the world's handle for each number. Calls made through
// an open the world refused fail without reaching the world (a program under Wine may make them:
// Wine does not wait for the answer to an open).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/world.h"

namespace vcam {

// The statuses the service answers with (NTSTATUS values).
inline constexpr std::uint32_t kStatusSuccess = 0x00000000u;
// An open the world refuses: the program sees ERROR_FILE_NOT_FOUND.
inline constexpr std::uint32_t kStatusNoSuchDevice = 0xC000000Eu;
// A device control the world fails: the program sees ERROR_IO_DEVICE.
inline constexpr std::uint32_t kStatusIoDeviceError = 0xC0000185u;
// A device control through an open the world refused: ERROR_INVALID_HANDLE.
inline constexpr std::uint32_t kStatusInvalidHandle = 0xC0000008u;

// One request record of the driver.
struct Request {
    std::uint32_t id = 0;
    std::uint32_t kind = 0;    // ZQVCAM_KIND_...
    char letter = 0;           // 'A' to 'Z'
    std::uint32_t handle = 0;  // the open's number

    // An open: what the system gave the driver.
    std::uint32_t share = 0;
    std::uint32_t options = 0;  // create options; bits 24-31 the disposition when accessGiven
    std::uint32_t attributes = 0;
    std::uint32_t access = 0;
    bool accessGiven = false;

    // A device control.
    std::uint32_t code = 0;
    std::uint32_t outputSize = 0;
    std::vector<std::uint8_t> input;
    bool caller64 = false;  // a 64-bit process's: its pass-through head is the 64-bit form

    bool operator==(const Request&) const = default;
};

// Reads a request record; nothing, with the reason in `error`, when it is malformed.
std::optional<Request> ReadRequest(std::span<const std::uint8_t> record, std::string* error);
// Writes one as the driver does (the tests use it).
std::vector<std::uint8_t> WriteRequest(const Request& request);

// One answer record.
struct Answer {
    std::uint32_t id = 0;
    std::uint32_t status = kStatusSuccess;
    std::uint32_t handle = 0;          // an open: the world's handle, for the record
    std::vector<std::uint8_t> output;  // a device control's returned bytes

    bool operator==(const Answer&) const = default;
};

std::vector<std::uint8_t> WriteAnswer(const Answer& answer);
// Reads one as the driver does (the tests use it); nothing when it is malformed.
std::optional<Answer> ReadAnswer(std::span<const std::uint8_t> record);

// The CreateFileW call behind an open, as far as the system told the driver:
//  - access: GENERIC_READ for the right to read data, GENERIC_WRITE for the right to write data
//    (the system hands drivers the rights the generic ones map to); the disposition from the
//    create options' top byte. Where the system does not give them (Wine's driver host), the
//    open is taken as GENERIC_READ | GENERIC_WRITE and OPEN_EXISTING; the system itself refuses
//    a pass-through on a handle opened without the rights to read and write.
//  - share: as given.
//  - flags: the FILE_FLAG_... values the create options stand for (FILE_FLAG_OVERLAPPED when the
//    open is not synchronous), with the file attributes.
struct OpenCall {
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    std::uint32_t disposition = 0;
    std::uint32_t flags = 0;

    bool operator==(const OpenCall&) const = default;
};

OpenCall OpenCallOf(const Request& open);

class CameraService {
  public:
    explicit CameraService(sim::World& world) : world_(world) {}

    // Carries one request out in the world. Opens and device controls are answered; a close
    // is a notice that gets no answer.
    std::optional<Answer> Carry(const Request& request);

    // Closes the world's handle of an open and forgets the open: at its close, or when its
    // program never got it (the system gave the open up before its answer came). False when the
    // open holds no world handle.
    bool Abandon(std::uint32_t number);

    // The opens that hold a world handle.
    std::size_t OpenCount() const { return opens_.size(); }

  private:
    sim::World& world_;
    std::map<std::uint32_t, os::Handle> opens_;
};

// The drive letters the driver presents for a world, bit 0 for A: the world's letters but those
// in `reserved` (the computer's own, which the service leaves alone). `removable` and `cdrom`
// are the presented letters of those drive types.
struct LetterPlan {
    std::uint32_t present = 0;
    std::uint32_t removable = 0;
    std::uint32_t cdrom = 0;

    bool operator==(const LetterPlan&) const = default;
};

LetterPlan PlanLetters(const sim::World& world, std::uint32_t reserved);

// The driver's status record.
struct DriverStatus {
    struct Letter {
        std::uint32_t flags = 0;   // ZQVCAM_LETTER_... as last set
        std::uint32_t open = 0;    // opens answered and not yet closed
        std::uint32_t opened = 0;  // opens answered, in all
        std::uint32_t closed = 0;  // closes of answered opens, in all

        bool operator==(const Letter&) const = default;
    };

    std::uint32_t version = 0;
    bool attached = false;
    std::uint32_t forwarded = 0;
    std::uint32_t answered = 0;
    std::uint32_t timedOut = 0;
    std::uint32_t cancelled = 0;
    std::uint32_t abandoned = 0;
    std::uint32_t timeoutMs = 0;
    std::uint32_t attaches = 0;
    std::array<Letter, 26> letters = {};

    const Letter& letter(char x) const { return letters[static_cast<std::size_t>(x - 'A')]; }
    // The letters whose flags hold `flag`, bit 0 for A.
    std::uint32_t LettersWith(std::uint32_t flag) const;
};

// Reads a status record; nothing when it is malformed.
std::optional<DriverStatus> ReadStatus(std::span<const std::uint8_t> record);

// "C Z" for the letters of a mask; "none" for an empty one.
std::string LetterList(std::uint32_t letters);

}  // namespace vcam
