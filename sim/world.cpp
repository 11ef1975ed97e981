#include "sim/world.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "sim/little_endian.h"
#include "sim/pass_through_codec.h"

namespace sim {

namespace {

// STORAGE_PROPERTY_QUERY and STORAGE_DESCRIPTOR_HEADER.
constexpr std::uint32_t kQuerySize = 12;
constexpr std::uint32_t kDescriptorHeaderSize = 8;

using namespace scsi;

// The last error of each thread, as Windows keeps it.
thread_local std::uint32_t t_lastError = 0;

int LetterIndex(wchar_t c) {
    if (c >= L'A' && c <= L'Z') {
        return static_cast<int>(c - L'A');
    }
    if (c >= L'a' && c <= L'z') {
        return static_cast<int>(c - L'a');
    }
    return -1;
}

char LetterOf(int index) {
    return static_cast<char>('A' + index);
}

std::uintptr_t Key(os::Handle handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

std::optional<std::wstring> Copy(const wchar_t* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::wstring(text);
}

}  // namespace

// ---- layout ----

World::World() {
    Reset();
}

void World::Reset() {
    const auto lock = Lock();
    drives_ = {};
    for (std::uint32_t& generation : generations_) {
        ++generation;
    }
    cameras_.assign(1, Camera{});
    shellExecuteFails_ = false;
    cameraModel_.Reset();
    driveListFailures_ = 0;
    driveAddedDuringList_.reset();
    events_.clear();
    observer_ = nullptr;
    beforeCall_ = nullptr;
    handles_.clear();
    totalOpened_ = 0;
    totalClosed_ = 0;
    badCloses_ = 0;
    caller64_ = kOwnCaller64;
    t_lastError = 0;
}

int World::Index(char letter) {
    const int index = LetterIndex(static_cast<wchar_t>(static_cast<unsigned char>(letter)));
    return index < 0 ? 0 : index;
}

Drive& World::drive(char letter) {
    return drives_[static_cast<std::size_t>(Index(letter))];
}

const Drive& World::drive(char letter) const {
    return drives_[static_cast<std::size_t>(Index(letter))];
}

Drive& World::AddDrive(char letter, std::uint32_t type) {
    Drive& added = drive(letter);
    added.present = true;
    added.type = type;
    return added;
}

Drive& World::AddDisk(char letter, std::uint8_t inquiryByte3, std::uint32_t type) {
    Drive& added = AddDrive(letter, type);
    added.scsi = ScsiDevice::kDisk;
    added.inquiryByte3 = inquiryByte3;
    return added;
}

void World::RemoveDrive(char letter) {
    const auto index = static_cast<std::size_t>(Index(letter));
    drives_[index].present = false;
    ++generations_[index];
}

Camera& World::PlugCamera(char letter, Camera camera) {
    UnplugCamera(letter);
    if (drive(letter).present) {
        RemoveDrive(letter);  // a fresh device: handles from before stay dead
    }
    camera.letter = LetterOf(Index(letter));
    camera.home = camera.letter;
    camera.mode = CameraMode::kCommand;
    Drive& own = drive(letter);
    own.present = true;
    own.type = os::kDriveRemovable;
    own.opens = true;
    for (Camera& place : cameras_) {
        if (place.letter == 0) {
            place = std::move(camera);
            return place;
        }
    }
    return cameras_.emplace_back(std::move(camera));
}

Camera World::UnplugCamera(char letter) {
    Camera* camera = CameraOn(letter);
    if (camera == nullptr) {
        return Camera{};
    }
    Camera left = *camera;
    RemoveDrive(camera->letter);
    camera->letter = 0;
    return left;
}

Camera* World::CameraOn(char letter) {
    return CameraWhere(&Camera::letter, letter);
}

Camera* World::CameraFrom(char letter) {
    return CameraWhere(&Camera::home, letter);
}

Camera* World::CameraWhere(char Camera::*field, char letter) {
    const int index = Index(letter);
    for (Camera& camera : cameras_) {
        if (camera.letter != 0 && Index(camera.*field) == index) {
            return &camera;
        }
    }
    return nullptr;
}

// ---- faults ----

void World::FailDriveList(int times) {
    driveListFailures_ = times;
}

void World::AddDriveDuringDriveList(char letter, Drive added) {
    added.present = true;
    driveAddedDuringList_ = std::make_pair(letter, std::move(added));
}

void World::ClearFaults() {
    cameraModel_.ClearFaults();
    driveListFailures_ = 0;
    driveAddedDuringList_.reset();
}

// ---- trace ----

void World::BeforeCall() {
    const auto hook = beforeCall_;
    if (hook) {
        hook();
    }
}

void World::Record(Event event) {
    event.index = events_.size();
    events_.push_back(event);
    const auto observer = observer_;
    if (observer) {
        observer(event);
    }
}

std::vector<Event> World::Calls(Call call) const {
    std::vector<Event> found;
    for (const Event& event : events_) {
        if (event.call == call) {
            found.push_back(event);
        }
    }
    return found;
}

std::vector<Event> World::PassThroughRequests() const {
    std::vector<Event> found;
    for (const Event& event : events_) {
        if (event.IsPassThrough()) {
            found.push_back(event);
        }
    }
    return found;
}

std::vector<Event> World::StorageQueries() const {
    std::vector<Event> found;
    for (const Event& event : events_) {
        if (event.IsStorageQuery()) {
            found.push_back(event);
        }
    }
    return found;
}

std::vector<char> World::OpenedLetters() const {
    std::vector<char> letters;
    for (const Event& event : events_) {
        if (event.call == Call::kCreateFile) {
            letters.push_back(event.letter == 0 ? '?' : event.letter);
        }
    }
    return letters;
}

std::vector<std::array<std::uint8_t, 16>> World::Cdbs() const {
    std::vector<std::array<std::uint8_t, 16>> cdbs;
    for (const Event& event : events_) {
        if (event.IsPassThrough()) {
            cdbs.push_back(event.cdb);
        }
    }
    return cdbs;
}

std::vector<int> World::VendorCodes() const {
    std::vector<int> codes;
    for (const Event& event : events_) {
        if (event.VendorCode() >= 0) {
            codes.push_back(event.VendorCode());
        }
    }
    return codes;
}

std::size_t World::InquiryCount() const {
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                  [](const Event& e) { return e.IsInquiry(); }));
}

void World::ClearTrace() {
    events_.clear();
}

// ---- handles ----

std::size_t World::OpenHandleCount() const {
    return static_cast<std::size_t>(std::count_if(
        handles_.begin(), handles_.end(), [](const auto& entry) { return entry.second.open; }));
}

bool World::IsOpenHandle(os::Handle handle) const {
    const auto found = handles_.find(Key(handle));
    return found != handles_.end() && found->second.open;
}

World::OpenHandle* World::FindOpen(os::Handle handle) {
    const auto found = handles_.find(Key(handle));
    if (found == handles_.end() || !found->second.open) {
        return nullptr;
    }
    return &found->second;
}

bool World::Alive(const OpenHandle& handle) const {
    const auto index = static_cast<std::size_t>(handle.drive);
    return drives_[index].present && generations_[index] == handle.generation;
}

// ---- the seam ----

os::Handle World::CreateFileW(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                              std::uint32_t disposition, std::uint32_t flags) {
    const auto lock = Lock();
    BeforeCall();
    Event event;
    event.call = Call::kCreateFile;
    event.access = access;
    event.share = share;
    event.disposition = disposition;
    event.flags = flags;
    event.handle = os::InvalidHandle();

    // Only drive devices exist here: exactly "\\.\X:".
    int index = -1;
    if (path != nullptr) {
        event.path = path;
        if (event.path.size() == 6 && event.path.compare(0, 4, L"\\\\.\\") == 0 &&
            event.path[5] == L':') {
            index = LetterIndex(event.path[4]);
        }
    }
    if (index >= 0) {
        event.letter = LetterOf(index);
        const Drive& target = drives_[static_cast<std::size_t>(index)];
        const std::uint32_t bothShares = os::kFileShareRead | os::kFileShareWrite;
        const bool shareOk = !target.requiresSharedOpen || (share & bothShares) == bothShares;
        if (!target.present) {
            event.error = os::kErrorFileNotFound;
        } else if (!target.opens) {
            event.error = os::kErrorAccessDenied;
        } else if (!shareOk) {
            event.error = os::kErrorSharingViolation;
        } else if (disposition != os::kOpenExisting) {
            event.error = os::kErrorInvalidParameter;
        } else {
            const std::uintptr_t key = nextHandle_;
            nextHandle_ += 4;
            handles_[key] =
                OpenHandle{index, access, generations_[static_cast<std::size_t>(index)], true};
            ++totalOpened_;
            event.handle = reinterpret_cast<os::Handle>(key);
            event.result = true;
        }
    } else {
        event.error = os::kErrorFileNotFound;
    }
    const os::Handle result = event.handle;
    t_lastError = event.result ? 0 : event.error;
    Record(std::move(event));
    return result;
}

bool World::CloseHandle(os::Handle handle) {
    const auto lock = Lock();
    BeforeCall();
    Event event;
    event.call = Call::kCloseHandle;
    event.handle = handle;
    if (OpenHandle* open = FindOpen(handle)) {
        open->open = false;
        ++totalClosed_;
        event.letter = LetterOf(open->drive);
        event.result = true;
    } else {
        ++badCloses_;
        event.error = os::kErrorInvalidHandle;
    }
    t_lastError = event.error;
    const bool result = event.result;
    Record(std::move(event));
    return result;
}

bool World::DeviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                            std::uint32_t inSize, void* out, std::uint32_t outSize,
                            std::uint32_t* bytesReturned) {
    auto lock = Lock();
    BeforeCall();
    Event event;
    event.call = Call::kDeviceIoControl;
    event.handle = handle;
    event.ioctl = code;
    event.inSize = inSize;
    event.outSize = outSize;
    const auto* input = static_cast<const std::uint8_t*>(in);
    if (input != nullptr) {
        std::memcpy(event.head.data(), input, std::min<std::size_t>(inSize, event.head.size()));
        std::memcpy(event.query.data(), input, std::min<std::size_t>(inSize, event.query.size()));
        event.cdbOffset = caller64_ ? kPassThrough64.cdbAt : kPassThrough32.cdbAt;
        std::copy_n(event.head.begin() + static_cast<std::ptrdiff_t>(event.cdbOffset),
                    event.cdb.size(), event.cdb.begin());
    }

    std::uint32_t returned = 0;
    std::uint32_t delayMs = 0;
    const OpenHandle* open = FindOpen(handle);
    event.error = os::kErrorInvalidHandle;
    if (open != nullptr) {
        event.letter = LetterOf(open->drive);
        const OpenHandle target = *open;
        if (code == os::kIoctlScsiPassThrough) {
            delayMs = AnswerDelay(target.drive);
        }
        event.error = Alive(target) ? os::kErrorInvalidParameter : os::kErrorDeviceNotConnected;
        // Without a place for the count a synchronous call cannot complete.
        if (bytesReturned != nullptr && Alive(target)) {
            auto* output = static_cast<std::uint8_t*>(out);
            if (code == os::kIoctlScsiPassThrough) {
                event.result = PassThrough(target, input, inSize, output, outSize, returned, event);
            } else if (code == os::kIoctlStorageQueryProperty) {
                event.result =
                    StorageQuery(target, input, inSize, output, outSize, returned, event);
            }
        }
    }
    if (!event.result) {
        returned = 0;
    } else {
        event.error = 0;
    }
    t_lastError = event.error;
    if (bytesReturned != nullptr) {
        *bytesReturned = returned;
    }
    event.bytesReturned = returned;
    const bool result = event.result;
    Record(std::move(event));
    Delay(lock, delayMs);
    return result;
}

std::uint32_t World::GetLastError() const {
    return t_lastError;
}

std::uint32_t World::AnswerDelay(int index) {
    const Camera* camera = CameraOn(LetterOf(index));
    return camera != nullptr ? camera->answerDelayMs : 0;
}

void World::Delay(std::unique_lock<std::recursive_mutex>& lock, std::uint32_t delayMs) {
    if (delayMs > 0) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
}

std::uint32_t World::GetLogicalDriveStringsW(std::uint32_t length, wchar_t* buffer) {
    const auto lock = Lock();
    BeforeCall();
    Event event;
    event.call = Call::kGetLogicalDriveStrings;
    event.inSize = length;

    std::uint32_t answer = 0;
    if (driveListFailures_ > 0) {
        --driveListFailures_;
    } else {
        std::vector<int> present;
        for (int i = 0; i < kLetterCount; ++i) {
            if (drives_[static_cast<std::size_t>(i)].present) {
                present.push_back(i);
            }
        }
        // "X:\" and a terminator per drive, and the terminator of the list.
        const auto needed = static_cast<std::uint32_t>(4 * present.size() + 1);
        if (length < needed) {
            answer = needed;
            if (driveAddedDuringList_) {
                const auto [letter, added] = *driveAddedDuringList_;
                driveAddedDuringList_.reset();
                drive(letter) = added;
            }
        } else if (buffer != nullptr) {
            std::size_t at = 0;
            for (const int index : present) {
                buffer[at++] = static_cast<wchar_t>(L'A' + index);
                buffer[at++] = L':';
                buffer[at++] = L'\\';
                buffer[at++] = L'\0';
            }
            buffer[at] = L'\0';
            answer = needed - 1;
        }
    }
    event.value = answer;
    event.result = answer != 0;
    Record(std::move(event));
    return answer;
}

std::uint32_t World::GetDriveTypeW(const wchar_t* rootPath) {
    const auto lock = Lock();
    BeforeCall();
    Event event;
    event.call = Call::kGetDriveType;
    event.result = true;
    event.value = os::kDriveNoRootDir;
    if (rootPath != nullptr) {
        event.path = rootPath;
        if (event.path.size() == 3 && event.path[1] == L':' && event.path[2] == L'\\') {
            const int index = LetterIndex(event.path[0]);
            if (index >= 0) {
                event.letter = LetterOf(index);
                const Drive& target = drives_[static_cast<std::size_t>(index)];
                if (target.present) {
                    event.value = target.type;
                }
            }
        }
    }
    const std::uint32_t answer = event.value;
    Record(std::move(event));
    return answer;
}

bool World::ShellExecuteW(const wchar_t* operation, const wchar_t* file, const wchar_t* parameters,
                          const wchar_t* directory, int showCommand) {
    const auto lock = Lock();
    BeforeCall();
    Event event;
    event.call = Call::kShellExecute;
    event.operation = Copy(operation);
    event.file = Copy(file);
    event.parameters = Copy(parameters);
    event.directory = Copy(directory);
    event.showCommand = showCommand;
    event.result = !shellExecuteFails_;
    Record(std::move(event));
    return !shellExecuteFails_;
}

// ---- the driver ----

bool World::PassThrough(const OpenHandle& handle, const std::uint8_t* in, std::uint32_t inSize,
                        std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned,
                        Event& event) {
    const std::optional<PassThroughRequest> request =
        DecodePassThrough(in, inSize, out, outSize, caller64_);
    if (!request || !IsWellFormed(*request, outSize)) {
        return false;
    }
    // Pass-through needs a handle opened for reading and writing.
    if ((handle.access & os::kGenericRead) == 0 || (handle.access & os::kGenericWrite) == 0) {
        return false;
    }

    const std::uint8_t* cdb = request->cdb.data();
    const std::size_t index = static_cast<std::size_t>(handle.drive);
    ScsiAnswer answer;
    if (Camera* camera = CameraOn(LetterOf(handle.drive))) {
        answer = CameraAnswer(*camera, cdb, request->cdbLength);
    } else {
        answer = DiskAnswer(drives_[index], cdb, request->cdbLength);
    }
    event.hostile = std::move(answer.hostile);
    if (answer.callFails) {
        event.error = os::kErrorGenFailure;  // the device did not answer
        return false;
    }

    const PassThroughDelivered delivered =
        EncodePassThroughAnswer(*request, answer.status, answer.data, answer.sense, out);
    returned = delivered.returned;
    event.scsiStatus = answer.status;
    event.dataBytes = delivered.data;
    return true;
}

bool World::StorageQuery(const OpenHandle& handle, const std::uint8_t* in, std::uint32_t inSize,
                         std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned,
                         Event& /*event*/) {
    if (in == nullptr || inSize < kQuerySize || out == nullptr || outSize < kDescriptorHeaderSize) {
        return false;
    }
    const std::uint32_t propertyId = Le32(in, 0);
    const std::uint32_t queryType = Le32(in, 4);
    if (propertyId != 0 || queryType != 0) {
        return false;  // only the standard query of the device descriptor is answered
    }
    const StorageDescriptor& descriptor =
        drives_[static_cast<std::size_t>(handle.drive)].descriptor;
    if (descriptor.fails) {
        return false;
    }
    const std::size_t written = std::min<std::size_t>(descriptor.bytes.size(), outSize);
    if (written > 0) {
        std::memcpy(out, descriptor.bytes.data(), written);
    }
    const std::uint32_t reported =
        descriptor.returned.value_or(static_cast<std::uint32_t>(descriptor.bytes.size()));
    returned = std::min(reported, outSize);
    return true;
}

// ---- the devices ----

World::ScsiAnswer World::AnswerCdb(char letter, const std::uint8_t* cdb, std::uint8_t cdbLength) {
    auto lock = Lock();
    const int index = Index(letter);
    if (cdb == nullptr || cdbLength == 0 || cdbLength > 16 ||
        !drives_[static_cast<std::size_t>(index)].present) {
        ScsiAnswer failed;
        failed.callFails = true;
        return failed;
    }
    if (Camera* camera = CameraOn(letter)) {
        ScsiAnswer answer = CameraAnswer(*camera, cdb, cdbLength);
        Delay(lock, camera->answerDelayMs);
        return answer;
    }
    return DiskAnswer(drives_[static_cast<std::size_t>(index)], cdb, cdbLength);
}

World::ScsiAnswer World::DiskAnswer(const Drive& target, const std::uint8_t* cdb,
                                    std::uint8_t cdbLength) {
    ScsiAnswer answer;
    switch (target.scsi) {
        case ScsiDevice::kNone:
            answer.callFails = true;
            return answer;
        case ScsiDevice::kRefusesInquiry:
            answer.status = kStatusCheckCondition;
            answer.sense = FixedSense(kSenseIllegalRequest, kAscInvalidOpcode);
            return answer;
        case ScsiDevice::kDisk:
            break;
    }
    if (cdb[0] == kOpInquiry && cdbLength >= 6 && (cdb[1] & 0x01) == 0 && cdb[2] == 0) {
        answer.data = StandardInquiry(target.inquiryByte3, "ZQSIM", "SIMULATED DISK");
        const std::size_t allocation = static_cast<std::size_t>((cdb[3] << 8) | cdb[4]);
        answer.data.resize(std::min(answer.data.size(), allocation));
        return answer;
    }
    answer.status = kStatusCheckCondition;
    answer.sense = FixedSense(kSenseIllegalRequest,
                              cdb[0] == kOpInquiry ? kAscInvalidFieldInCdb : kAscInvalidOpcode);
    return answer;
}

ScsiAnswer World::CameraAnswer(Camera& camera, const std::uint8_t* cdb, std::uint8_t cdbLength) {
    const int releases = camera.releases;
    ScsiAnswer answer = cameraModel_.Answer(camera, cdb, cdbLength);
    if (camera.releases != releases) {
        PresentVolume(camera);
    }
    return answer;
}

// The released camera's volume appears on its storage letter; another letter than its own moves
// the camera there and its command-mode letter goes.
void World::PresentVolume(Camera& camera) {
    const char target =
        camera.storageLetter == 0 ? camera.letter : LetterOf(Index(camera.storageLetter));
    if (target != camera.letter) {
        RemoveDrive(camera.letter);
        camera.letter = target;
    }
    Drive& volume = drive(target);
    volume.present = true;
    volume.opens = true;
    volume.type = camera.storageDriveType;
    volume.descriptor = camera.storageDescriptor;
}

World& TheWorld() {
    static World world;
    return world;
}

}  // namespace sim
