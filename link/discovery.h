// Camera discovery: the drive letters D to Z are opened in turn and asked a standard INQUIRY; the
// first device whose inquiry byte 3 is exactly 1 becomes the camera.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/protocol.h"
#include "link/transport.h"
#include "os/os.h"

inline constexpr std::size_t kDevicePathChars = 10;

// The open camera, or null. Set only by FindCamera; cleared by CloseCamera and ReleaseCamera.
extern os::Handle g_hCamera;
// Device path of the camera last found, terminated; closing the handle does not clear it.
extern wchar_t g_szDevicePath[kDevicePathChars];

// The device path of a drive letter, "\\.\X:": six characters and the terminator.
inline constexpr std::size_t kDriveDevicePathChars = 7;
// Where the drive letter stands in such a path.
inline constexpr std::size_t kDevicePathLetterIndex = 4;

// Writes the device path of drive `letter` into `path`.
void MakeDevicePath(wchar_t letter, std::span<wchar_t, kDriveDevicePathChars> path);

// What opening one drive letter and asking its device the INQUIRY found.
enum class LetterProbeResult : std::uint8_t {
    kOpenFailed,     // CreateFileW failed; `openError` holds the system's reason
    kInquiryFailed,  // the INQUIRY's platform call failed; `inquiry.systemError` holds the reason
    kNotCamera,      // the device answered, without the camera's mark
    kCamera,         // the device carries the camera's mark; `handle` is open
};

struct LetterProbe {
    LetterProbeResult result = LetterProbeResult::kOpenFailed;
    std::array<wchar_t, kDriveDevicePathChars> path = {};
    // The open camera, owned by the caller from here on; null for every other result, whose
    // handle (if any) the probe has closed.
    os::Handle handle = nullptr;
    std::uint32_t openError = 0;  // GetLastError after a failed open
    PassThroughOutcome inquiry;   // the INQUIRY's outcome, once the letter opened
    // The inquiry data as it arrived (zeros where none did); byte 3 is the mark.
    std::array<std::uint8_t, kInquiryLength> inquiryData = {};
};

// Opens drive `letter` by its device path for shared reading and writing and sends the standard
// INQUIRY, exactly as discovery does; the device is accepted when the call succeeds and inquiry
// byte 3 is exactly 1 (its SCSI status is not looked at). A device that is not accepted is closed
// again.
LetterProbe ProbeDriveLetter(wchar_t letter);

// Scans D to Z. On success the camera handle is in g_hCamera (a handle it held before is closed
// first) and true is returned; otherwise `err` = LINK_ERR_NOT_OPEN and nothing else changes.
bool FindCamera(std::int32_t& err);

// Closes the camera if it is open. Never writes `err`; always true.
bool CloseCamera(std::int32_t& err);
