// The simulated computer behind the devices half of the operating-system seam: 26 drive letters,
// the device behind each, the cameras, and a trace of every device call the program makes.
//
// One process-wide World (TheWorld()) serves sim/os_sim_devices.cpp. A test resets it, lays out
// drives and the camera, optionally injects faults, runs the code under test and reads the trace:
//
//     sim::World& world = sim::TheWorld();
//     world.Reset();
//     world.AddDisk('C');                          // fixed disk, INQUIRY byte 3 = 2
//     world.PlugCamera('E').state = 3;             // a camera on E:
//     world.InjectVendorFault(26, sim::Fault::CallFails());
//     ... run the code ...
//     world.VendorCodes();  world.OpenHandleCount();  world.events();
//
// Drive letters are given as the characters 'A' to 'Z' (lower case is accepted too).
//
// The cameras answer as sim/camera_model.h describes; the world places them on their letters,
// lays out a released camera's volume and carries their answers to the caller. A check condition
// leaves the call itself succeeding.
//
// The simulated driver reads every request byte by byte at its own fixed little-endian offsets
// (the SCSI_PASS_THROUGH head through sim/pass_through_codec.h, the STORAGE_PROPERTY_QUERY here),
// rejects malformed ones the way a real driver would, and never writes outside the output size it
// is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/os.h"
#include "sim/camera_model.h"
#include "sim/hostile.h"

namespace sim {

inline constexpr int kLetterCount = 26;

// ---- drives ----

// The SCSI device that answers pass-through requests on a letter that does not hold the camera.
enum class ScsiDevice : std::uint8_t {
    kNone,            // no SCSI device: every pass-through call fails
    kDisk,            // answers INQUIRY (36 bytes, byte 3 = Drive::inquiryByte3); other commands
                      // end with a check condition (illegal request), the call still succeeding
    kRefusesInquiry,  // every command, INQUIRY included, ends with a check condition and no data
};

struct Drive {
    bool present = false;                  // listed by GetLogicalDriveStringsW, openable
    std::uint32_t type = os::kDriveFixed;  // GetDriveTypeW answer while present
    bool opens = true;                     // CreateFileW on "\\.\X:" succeeds
    bool requiresSharedOpen = true;        // opens need FILE_SHARE_READ | FILE_SHARE_WRITE
    ScsiDevice scsi = ScsiDevice::kNone;   // ignored on the camera's letter
    std::uint8_t inquiryByte3 = 2;         // for ScsiDevice::kDisk
    StorageDescriptor descriptor = DescriptorWithoutVendor();
};

// ---- the trace ----

enum class Call : std::uint8_t {
    kCreateFile,
    kDeviceIoControl,
    kCloseHandle,
    kGetLogicalDriveStrings,
    kGetDriveType,
    kShellExecute,
};

// One call the program made, as it was made and as it ended. Fields that do not belong to the
// call keep their defaults.
struct Event {
    std::size_t index = 0;  // position in the trace
    Call call = Call::kCreateFile;
    bool result =
        false;        // the call's success (CreateFileW: a valid handle; GetLogicalDrive-
                      // StringsW: nonzero; GetDriveTypeW: always true; ShellExecuteW: its result)
    char letter = 0;  // the drive the call concerns (by path or by handle); 0 for none

    // CreateFileW path, GetDriveTypeW root path.
    std::wstring path;
    // CreateFileW.
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    std::uint32_t disposition = 0;
    std::uint32_t flags = 0;
    // CreateFileW result; the handle DeviceIoControl and CloseHandle were given.
    os::Handle handle = nullptr;

    // DeviceIoControl.
    std::uint32_t ioctl = 0;
    std::uint32_t inSize = 0;
    std::uint32_t outSize = 0;
    std::uint32_t bytesReturned = 0;
    std::array<std::uint8_t, 56> head = {};   // pass-through: the head as sent (zeros past inSize)
    std::size_t cdbOffset = 28;               // pass-through: where the head's CDB begins
    std::array<std::uint8_t, 16> cdb = {};    // pass-through: the head's 16 CDB bytes
    std::array<std::uint8_t, 12> query = {};  // storage query: the query as sent
    std::uint8_t scsiStatus = 0;              // pass-through answered: the device's status
    std::uint32_t dataBytes = 0;              // pass-through answered: data bytes delivered
    // Pass-through to a hostile camera (World::SetHostile): the action the request drew, as
    // carried out; an action ForServer() is left to the program serving the camera.
    std::optional<HostileAction> hostile;

    // The system error code a failed call leaves (GetLastError); 0 after a success.
    std::uint32_t error = 0;

    // GetDriveTypeW answer; GetLogicalDriveStringsW: return value (bufferLength in `inSize`).
    std::uint32_t value = 0;

    // ShellExecuteW (nullopt for a null pointer).
    std::optional<std::wstring> operation;
    std::optional<std::wstring> file;
    std::optional<std::wstring> parameters;
    std::optional<std::wstring> directory;
    int showCommand = 0;

    bool IsPassThrough() const {
        return call == Call::kDeviceIoControl && ioctl == os::kIoctlScsiPassThrough;
    }
    bool IsStorageQuery() const {
        return call == Call::kDeviceIoControl && ioctl == os::kIoctlStorageQueryProperty;
    }
    bool IsInquiry() const { return IsPassThrough() && cdb[0] == 0x12; }
    // The command code (CDB byte 7) of a vendor block (CDB byte 0 0xFA); -1 for anything else.
    int VendorCode() const { return IsPassThrough() && cdb[0] == 0xFA ? cdb[7] : -1; }
};

// ---- the world ----

// Several threads may call the world at once, as they may call Windows: each of the seam's calls
// holds the world's lock from its start to its recorded event (the before-call hook and the
// observer run under it, so the trace is a sequence of whole calls), and the last error is kept
// per thread. A camera's answer delay passes outside the lock. The layout, fault and trace
// accessors take no lock: a test arranges the world before the threads start and reads it after
// they ended, or from the observer.
class World {
  public:
    World();

    // Back to an empty computer: no drives, no camera, no faults, empty trace, no observer and no
    // before-call hook, the handle counts at zero. Handles given out before stay unknown forever.
    void Reset();

    // -- layout --
    Drive& drive(char letter);
    const Drive& drive(char letter) const;
    // Makes `letter` present with drive type `type` and returns it for further settings.
    Drive& AddDrive(char letter, std::uint32_t type);
    // A present drive with a SCSI disk that answers INQUIRY with `inquiryByte3`.
    Drive& AddDisk(char letter, std::uint8_t inquiryByte3 = 2,
                   std::uint32_t type = os::kDriveFixed);
    // The letter disappears: it is no longer listed, opens fail, and every call on a handle
    // already open on it fails (closing such a handle still succeeds).
    void RemoveDrive(char letter);

    // The cameras are one list. A camera is plugged in on a letter and unplugged from the letter it
    // answers on; its place in the list stays until another camera is plugged into it.
    //
    // Plugs `camera` (a camera's defaults unless given) in on `letter`, in command mode: the
    // letter becomes present, removable and openable (the drive's descriptor is left as it was).
    // A camera answering on `letter` is unplugged first, and a drive present there leaves first,
    // so that handles from before stay dead. It takes the first place of the list that no camera
    // holds, or a new one at the end; the reference stays valid until Reset().
    Camera& PlugCamera(char letter, Camera camera = Camera{});
    // The camera answering on `letter` leaves, and its letter with it (RemoveDrive); it answers
    // nowhere from then on. Returns the camera as it was (a camera's defaults when none answered
    // there), so that a test can plug the same camera in again. Safe to call from the observer.
    Camera UnplugCamera(char letter);
    // The camera in the list's first place: the first one plugged in, or the one plugged into its
    // place after it left; before any was, a camera's defaults that answer nowhere.
    Camera& camera() { return cameras_.front(); }
    const Camera& camera() const { return cameras_.front(); }
    // The camera answering on `letter`; null when none does.
    Camera* CameraOn(char letter);
    // The camera plugged in on `letter` (its `home`) and not unplugged since, wherever the
    // release has moved it; null when none is. The world file follows its camera lines by it.
    Camera* CameraFrom(char letter);

    // -- faults --
    // Faults for one vendor command code (CDB byte 7 of a block starting 0xFA) or for the
    // INQUIRY, met by the camera only (other devices are shaped through their Drive), used in
    // the order injected; a fault with times N hits the next N matching requests.
    void InjectVendorFault(std::uint8_t code, Fault fault) {
        cameraModel_.InjectVendorFault(code, fault);
    }
    void InjectInquiryFault(Fault fault) { cameraModel_.InjectInquiryFault(fault); }
    // The next `times` GetLogicalDriveStringsW calls return 0.
    void FailDriveList(int times = 1);
    // Right after the next GetLogicalDriveStringsW call that answers with the size needed
    // (buffer too small or length 0), `letter` becomes present as `added`.
    void AddDriveDuringDriveList(char letter, Drive added);
    void ClearFaults();

    // -- the hostile camera (sim/hostile.h, CameraModel::SetHostile) --
    void SetHostile(const std::optional<HostileSettings>& settings) {
        cameraModel_.SetHostile(settings);
    }
    const HostileCamera* hostile() const { return cameraModel_.hostile(); }

    // -- trace --
    const std::vector<Event>& events() const { return events_; }
    std::vector<Event> Calls(Call call) const;
    std::vector<Event> PassThroughRequests() const;
    std::vector<Event> StorageQueries() const;
    // The letters CreateFileW was called on, in order ('?' for a path that names no drive).
    std::vector<char> OpenedLetters() const;
    // The CDBs of every pass-through request, in order.
    std::vector<std::array<std::uint8_t, 16>> Cdbs() const;
    // The command code of every vendor block sent, in order.
    std::vector<int> VendorCodes() const;
    std::size_t InquiryCount() const;
    void ClearTrace();

    // Called with every event right after it is recorded (the call has finished). The observer
    // may change the world, e.g. UnplugCamera(), and so affect every later call.
    void SetObserver(std::function<void(const Event&)> observer) {
        observer_ = std::move(observer);
    }

    // Called at the start of every call of the seam's devices half, before the world looks at
    // anything, so that it may change the world first (the simulated program re-reads its world
    // file there).
    void SetBeforeCall(std::function<void()> hook) { beforeCall_ = std::move(hook); }

    // The world's lock, for a program that changes the world from outside the seam's calls while
    // other threads may be calling it (the simulated program's world-file watch).
    std::unique_lock<std::recursive_mutex> Lock() const {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }

    // Whether the program calling is a 64-bit process, which hands IOCTL_SCSI_PASS_THROUGH the
    // 64-bit form of its head (56 bytes, a pointer-sized DataBufferOffset, the CDB at 36) where a
    // 32-bit one hands the 32-bit form (44 bytes, the CDB at 28). A head of the other form is
    // refused as Windows refuses it (ERROR_INVALID_PARAMETER). By default the width of the
    // Windows program the world is built into; elsewhere a 32-bit program, the shipped product.
    void SetCaller64(bool caller64) { caller64_ = caller64; }
    bool Caller64() const { return caller64_; }

    // -- the SCSI device behind a letter, for transports other than the pass-through call --
    // A device's answer to one SCSI command (sim/camera_model.h).
    using ScsiAnswer = sim::ScsiAnswer;
    // What the device on `letter` answers to one CDB (`cdb` points at 16 bytes, the first
    // `cdbLength` of them the command), exactly as a pass-through request would see it: the camera
    // (faults taken, commands carried out) on the camera's letter, the drive's SCSI device
    // elsewhere; a letter that is not present answers as a failed call. Nothing is recorded in the
    // trace and the before-call hook is not run.
    ScsiAnswer AnswerCdb(char letter, const std::uint8_t* cdb, std::uint8_t cdbLength);
    // Changes each time the letter is unplugged (RemoveDrive, Reset), so that a transport can
    // tell a device plugged in again from one that stayed.
    std::uint32_t Generation(char letter) const {
        return generations_[static_cast<std::size_t>(Index(letter))];
    }

    // -- handles --
    std::size_t OpenHandleCount() const;
    std::size_t TotalOpened() const { return totalOpened_; }
    std::size_t TotalClosed() const { return totalClosed_; }
    // CloseHandle calls on a handle that was never given out or was already closed.
    std::size_t BadCloses() const { return badCloses_; }
    bool IsOpenHandle(os::Handle handle) const;

    // -- the seam's devices half (called by sim/os_sim_devices.cpp) --
    os::Handle CreateFileW(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition, std::uint32_t flags);
    bool DeviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                         std::uint32_t inSize, void* out, std::uint32_t outSize,
                         std::uint32_t* bytesReturned);
    bool CloseHandle(os::Handle handle);
    // The error code the calling thread's last failed CreateFileW, DeviceIoControl or CloseHandle
    // left (kept per thread, as Windows keeps it): a drive
    // that is not there gives ERROR_FILE_NOT_FOUND, one that does not open ERROR_ACCESS_DENIED, a
    // handle on a drive that went ERROR_DEVICE_NOT_CONNECTED, a device that does not answer
    // ERROR_GEN_FAILURE, a malformed request ERROR_INVALID_PARAMETER.
    std::uint32_t GetLastError() const;
    std::uint32_t GetLogicalDriveStringsW(std::uint32_t length, wchar_t* buffer);
    std::uint32_t GetDriveTypeW(const wchar_t* rootPath);
    // Always recorded; false (the program could not be started) after FailShellExecute(true).
    bool ShellExecuteW(const wchar_t* operation, const wchar_t* file, const wchar_t* parameters,
                       const wchar_t* directory, int showCommand);
    void FailShellExecute(bool fail) { shellExecuteFails_ = fail; }

  private:
    struct OpenHandle {
        int drive = 0;  // 0-25
        std::uint32_t access = 0;
        std::uint32_t generation = 0;
        bool open = true;
    };

    static int Index(char letter);
    // The camera (of those plugged in) whose `field`, its letter or its home, is `letter`.
    Camera* CameraWhere(char Camera::*field, char letter);
    void BeforeCall();
    void Record(Event event);
    OpenHandle* FindOpen(os::Handle handle);
    bool Alive(const OpenHandle& handle) const;

    bool PassThrough(const OpenHandle& handle, const std::uint8_t* in, std::uint32_t inSize,
                     std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned,
                     Event& event);
    bool StorageQuery(const OpenHandle& handle, const std::uint8_t* in, std::uint32_t inSize,
                      std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned,
                      Event& event);

    ScsiAnswer DiskAnswer(const Drive& drive, const std::uint8_t* cdb, std::uint8_t cdbLength);
    // The camera model's answer; a release it carried out presents the camera's volume.
    ScsiAnswer CameraAnswer(Camera& camera, const std::uint8_t* cdb, std::uint8_t cdbLength);
    void PresentVolume(Camera& camera);
    // The answer delay of the camera answering on drive `index`; 0 for any other device.
    std::uint32_t AnswerDelay(int index);
    // Lets `delayMs` of real time pass after unlocking `lock`.
    static void Delay(std::unique_lock<std::recursive_mutex>& lock, std::uint32_t delayMs);

    mutable std::recursive_mutex mutex_;

    std::array<Drive, kLetterCount> drives_;
    std::array<std::uint32_t, kLetterCount> generations_ = {};
    std::deque<Camera> cameras_;  // never empty: the first place is there from the start
    bool shellExecuteFails_ = false;
    // The form of the pass-through head: by default that of this process, as on Windows.
#if defined(_WIN64)
    static constexpr bool kOwnCaller64 = true;
#else
    static constexpr bool kOwnCaller64 = false;
#endif
    bool caller64_ = kOwnCaller64;

    CameraModel cameraModel_;  // how the cameras answer; the faults and the hostile generator
    int driveListFailures_ = 0;
    std::optional<std::pair<char, Drive>> driveAddedDuringList_;

    std::vector<Event> events_;
    std::function<void(const Event&)> observer_;
    std::function<void()> beforeCall_;

    std::map<std::uintptr_t, OpenHandle> handles_;
    std::uintptr_t nextHandle_ = 0x1000;
    std::size_t totalOpened_ = 0;
    std::size_t totalClosed_ = 0;
    std::size_t badCloses_ = 0;
};

// The one world the devices half of the seam works on.
World& TheWorld();

}  // namespace sim
