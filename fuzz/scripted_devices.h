// A scripted devices half of the operating-system seam for the fuzz targets that need to choose,
// byte by byte, what a device answers: every drive letter either opens or not, and every SCSI
// pass-through request on it is answered from a queue of scripted answers.
//
// The driver side reads each request the way the platform does, with the simulator's codec
// (sim/pass_through_codec.h): the 32-bit SCSI_PASS_THROUGH head at its fixed little-endian offsets,
// the data and sense areas where the head places them, inside the output size it is given. A
// request it cannot accept fails the call and is recorded as malformed, so a fuzz target can insist
// that the program never sends one. What this file keeps is the queue of scripted answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "os/os.h"

namespace fuzzseam {

// One device's answer to one pass-through request.
struct Answer {
    bool callFails = false;          // the platform call fails
    bool scribbleOnFailure = false;  // ...after writing junk into the data area anyway
    std::uint8_t status = 0;         // SCSI status written back into the head
    std::vector<std::uint8_t> data;  // what the device sends; cut to DataTransferLength
    std::vector<std::uint8_t> sense;
    std::uint32_t bytesReturned = 0;  // what the platform reports back; the program must ignore it
};

// A pass-through request as the driver decoded it, and what it delivered.
struct Request {
    char letter = 0;  // 0 for a handle that belongs to no drive letter
    std::uint32_t ioctl = 0;
    std::uint32_t inSize = 0;
    std::uint32_t outSize = 0;
    bool wellFormed = false;
    std::uint8_t cdbLength = 0;
    std::array<std::uint8_t, 16> cdb = {};
    std::uint32_t transferLength = 0;
    std::uint32_t dataOffset = 0;
    bool succeeded = false;
    std::uint32_t delivered = 0;  // data bytes written at DataBufferOffset
};

class Devices {
  public:
    // No letter opens, no answers queued, no handles, empty log.
    void Reset();

    void SetOpens(char letter, bool opens) {
        opens_[static_cast<std::size_t>(Slot(letter))] = opens;
    }
    // Queues the answer to the next request on a handle of `letter`; with an empty queue a
    // request's call fails.
    void Queue(char letter, Answer answer) { answers_[Slot(letter)].push_back(std::move(answer)); }

    // A valid handle that belongs to no letter (as one left from an earlier connection).
    os::Handle OpenLooseHandle();
    // Answers for requests on the loose handles.
    void QueueLoose(Answer answer) { answers_[kLoose].push_back(std::move(answer)); }

    const std::vector<Request>& requests() const { return requests_; }
    const std::vector<char>& openedLetters() const { return opened_; }
    std::size_t OpenHandleCount() const { return open_.size(); }
    bool IsOpen(os::Handle handle) const { return open_.count(Key(handle)) != 0; }
    // The letter an open handle was opened on; 0 for a loose or unknown handle.
    char LetterOf(os::Handle handle) const {
        const auto found = open_.find(Key(handle));
        return found == open_.end() || found->second == kLoose
                   ? 0
                   : static_cast<char>('A' + found->second);
    }
    std::size_t BadCloses() const { return badCloses_; }
    std::size_t BadPaths() const { return badPaths_; }

    // The seam (called by scripted_devices.cpp's os:: functions).
    os::Handle CreateFileW(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition);
    bool DeviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                         std::uint32_t inSize, void* out, std::uint32_t outSize,
                         std::uint32_t* bytesReturned);
    bool CloseHandle(os::Handle handle);

  private:
    static constexpr int kLoose = 26;
    static int Slot(char letter) { return letter >= 'a' ? letter - 'a' : letter - 'A'; }
    static std::uintptr_t Key(os::Handle handle) {
        return reinterpret_cast<std::uintptr_t>(handle);
    }
    os::Handle NewHandle(int slot);

    std::array<bool, 26> opens_ = {};
    std::map<int, std::deque<Answer>> answers_;
    std::map<std::uintptr_t, int> open_;  // handle -> slot
    std::uintptr_t next_ = 0x2000;
    std::vector<Request> requests_;
    std::vector<char> opened_;
    std::size_t badCloses_ = 0;
    std::size_t badPaths_ = 0;
};

Devices& TheDevices();

}  // namespace fuzzseam
