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

// SCSI.
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpVendor = 0xFA;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kSenseAbortedCommand = 0x0B;
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr std::size_t kInquiryDataSize = 36;
constexpr std::size_t kVendorAnswerSize = 8;

constexpr int kInquiryKey = 0x100;

// The last error of each thread, as Windows keeps it.
thread_local std::uint32_t t_lastError = 0;

// Fixed-format sense data.
std::vector<std::uint8_t> Sense(std::uint8_t key, std::uint8_t asc) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    return sense;
}

std::vector<std::uint8_t> StandardInquiry(std::uint8_t byte3, std::string_view vendor,
                                          std::string_view product) {
    std::vector<std::uint8_t> data(kInquiryDataSize, 0x20);
    data[0] = 0x00;  // direct-access block device
    data[1] = 0x80;  // removable medium
    data[2] = 0x02;
    data[3] = byte3;
    data[4] = static_cast<std::uint8_t>(kInquiryDataSize - 5);
    data[5] = data[6] = data[7] = 0;
    std::copy_n(vendor.begin(), std::min<std::size_t>(vendor.size(), 8), data.begin() + 8);
    std::copy_n(product.begin(), std::min<std::size_t>(product.size(), 16), data.begin() + 16);
    const std::string_view revision = "1.00";
    std::copy(revision.begin(), revision.end(), data.begin() + 32);
    return data;
}

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

StorageDescriptor DescriptorWithVendor(std::string_view vendor, std::uint32_t vendorOffset,
                                       bool terminate) {
    constexpr std::string_view kProduct = "DV CAMERA";
    constexpr std::string_view kRevision = "1.00";
    const std::size_t vendorEnd =
        vendorOffset == 0 ? 0 : vendorOffset + vendor.size() + (terminate ? 1 : 0);
    const std::size_t productOffset = std::max<std::size_t>(kDescriptorHeadSize, vendorEnd);
    const std::size_t revisionOffset = productOffset + kProduct.size() + 1;
    const std::size_t total = revisionOffset + kRevision.size() + 1;

    std::vector<std::uint8_t> bytes(total, 0);
    PutLe32(bytes.data(), 0, kDescriptorHeadSize);                // Version
    PutLe32(bytes.data(), 4, static_cast<std::uint32_t>(total));  // Size
    bytes[10] = 1;                                                // RemovableMedia
    PutLe32(bytes.data(), 12, vendorOffset);                      // VendorIdOffset
    PutLe32(bytes.data(), 16, static_cast<std::uint32_t>(productOffset));
    PutLe32(bytes.data(), 20, static_cast<std::uint32_t>(revisionOffset));
    PutLe32(bytes.data(), 28, 7);  // BusType: USB
    std::copy(kProduct.begin(), kProduct.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(productOffset));
    std::copy(kRevision.begin(), kRevision.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(revisionOffset));
    if (vendorOffset != 0) {
        std::copy(vendor.begin(), vendor.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(vendorOffset));
    }
    return StorageDescriptor{std::move(bytes), std::nullopt, false};
}

StorageDescriptor DescriptorWithoutVendor() {
    return DescriptorWithVendor({}, 0);
}

FirmwarePiece MakeFirmwarePiece(std::string_view text) {
    FirmwarePiece piece = {};
    for (std::size_t i = 0; i < piece.size() && i < text.size(); ++i) {
        piece[i] = static_cast<std::uint8_t>(text[i]);
    }
    return piece;
}

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
    faults_.clear();
    hostile_.reset();
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

void World::InjectVendorFault(std::uint8_t code, Fault fault) {
    faults_[code].push_back(fault);
}

void World::InjectInquiryFault(Fault fault) {
    faults_[kInquiryKey].push_back(fault);
}

void World::FailDriveList(int times) {
    driveListFailures_ = times;
}

void World::AddDriveDuringDriveList(char letter, Drive added) {
    added.present = true;
    driveAddedDuringList_ = std::make_pair(letter, std::move(added));
}

void World::SetHostile(const std::optional<HostileSettings>& settings) {
    if (settings) {
        hostile_.emplace(*settings);
    } else {
        hostile_.reset();
    }
}

void World::ClearFaults() {
    faults_.clear();
    driveListFailures_ = 0;
    driveAddedDuringList_.reset();
}

bool World::TakeFault(int key, Fault& taken) {
    const auto found = faults_.find(key);
    if (found == faults_.end() || found->second.empty()) {
        return false;
    }
    Fault& next = found->second.front();
    taken = next;
    if (next.times != kAlways) {
        if (--next.times <= 0) {
            found->second.pop_front();
        }
    }
    return true;
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
            answer.sense = Sense(kSenseIllegalRequest, kAscInvalidOpcode);
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
    answer.sense = Sense(kSenseIllegalRequest,
                         cdb[0] == kOpInquiry ? kAscInvalidFieldInCdb : kAscInvalidOpcode);
    return answer;
}

World::ScsiAnswer World::CameraAnswer(Camera& camera, const std::uint8_t* cdb,
                                      std::uint8_t cdbLength) {
    int key = -1;
    if (cdb[0] == kOpInquiry) {
        key = kInquiryKey;
    } else if (cdb[0] == kOpVendor) {
        key = cdb[7];
    }
    Fault fault;
    const bool faulted = key >= 0 && TakeFault(key, fault);
    if (faulted && fault.kind == FaultKind::kCallFails) {
        ScsiAnswer failed;
        failed.callFails = true;
        return failed;
    }
    if (!faulted && hostile_ && hostile_->Draws(cdb)) {
        HostileAction action = hostile_->Decide(camera.letter, cdb, cdbLength);
        ScsiAnswer answer = CameraCommand(camera, cdb, cdbLength, action.TakesEffect());
        if (!answer.callFails) {
            CarryOut(action, answer.status, answer.data, answer.sense);
        }
        answer.hostile = std::move(action);
        return answer;
    }
    const bool refused = faulted && fault.kind == FaultKind::kCheckCondition;
    const bool ignored = faulted && fault.kind == FaultKind::kIgnored;
    ScsiAnswer answer = CameraCommand(camera, cdb, cdbLength, !refused && !ignored);
    if (faulted) {
        if (answer.data.size() > fault.dataBytes) {
            answer.data.resize(fault.dataBytes);
        }
        if (refused) {
            answer.status = kStatusCheckCondition;
            answer.sense = Sense(kSenseAbortedCommand, 0);
        }
    }
    return answer;
}

// One command as the camera understands it. `carryOut` false: answer without any effect.
World::ScsiAnswer World::CameraCommand(Camera& camera, const std::uint8_t* cdb,
                                       std::uint8_t cdbLength, bool carryOut) {
    ScsiAnswer answer;
    const auto refuse = [&answer](std::uint8_t asc) {
        answer.status = kStatusCheckCondition;
        answer.sense = Sense(kSenseIllegalRequest, asc);
        answer.data.clear();
        return answer;
    };
    const bool plainDisk =
        camera.mode == CameraMode::kStorage && camera.storageAnswers == StorageAnswers::kPlainDisk;

    if (cdb[0] == kOpInquiry) {
        if (cdbLength < 6 || (cdb[1] & 0x01) != 0 || cdb[2] != 0) {
            return refuse(kAscInvalidFieldInCdb);
        }
        // Byte 3 = 1 is the camera's mark; as a plain disk it reports 0.
        const std::string_view vendor = camera.mode == CameraMode::kCommand
                                            ? std::string_view(camera.inquiryVendor)
                                            : kInquiryVendorDefault;
        answer.data = StandardInquiry(plainDisk ? 0 : 1, vendor, "DV CAMERA");
        const std::size_t allocation = static_cast<std::size_t>((cdb[3] << 8) | cdb[4]);
        answer.data.resize(std::min(answer.data.size(), allocation));
        return answer;
    }
    if (cdb[0] != kOpVendor) {
        return refuse(kAscInvalidOpcode);
    }
    if (plainDisk) {
        answer.callFails = true;
        return answer;
    }

    // FA 55 66 FE 60|06 00 00 code args: the whole 16-byte block is needed.
    if (cdbLength != 16 || cdb[1] != 0x55 || cdb[2] != 0x66 || cdb[3] != 0xFE || cdb[5] != 0 ||
        cdb[6] != 0 || (cdb[4] != 0x60 && cdb[4] != 0x06)) {
        return refuse(kAscInvalidFieldInCdb);
    }
    const bool get = cdb[4] == 0x60;
    const std::uint8_t code = cdb[7];
    // The argument bytes a command does not use must be zero.
    const auto argsZeroFrom = [cdb](std::size_t first) {
        for (std::size_t i = first; i < 16; ++i) {
            if (cdb[i] != 0) {
                return false;
            }
        }
        return true;
    };

    answer.data.assign(kVendorAnswerSize, 0);
    if (get) {
        if (!argsZeroFrom(8)) {
            return refuse(kAscInvalidFieldInCdb);
        }
        switch (code) {
            case 1:
                answer.data[0] = camera.resolution;
                return answer;
            case 2:
                answer.data[0] = camera.loopRecording;
                return answer;
            case 11:
                answer.data[0] = camera.timestampDisplay;
                return answer;
            case 14:
                answer.data[0] = camera.state;
                return answer;
            case 26:
            case 27:
            case 28: {
                const FirmwarePiece& piece = camera.firmware[static_cast<std::size_t>(code - 26)];
                std::copy(piece.begin(), piece.end(), answer.data.begin());
                return answer;
            }
            case 15:
                if (carryOut) {
                    EnterStorageMode(camera);
                }
                return answer;
            default:
                return refuse(kAscInvalidOpcode);
        }
    }

    switch (code) {
        case 1:
        case 2:
        case 11: {
            if (!argsZeroFrom(9)) {
                return refuse(kAscInvalidFieldInCdb);
            }
            if (carryOut) {
                std::uint8_t& setting = code == 1   ? camera.resolution
                                        : code == 2 ? camera.loopRecording
                                                    : camera.timestampDisplay;
                setting = cdb[8];
            }
            return answer;
        }
        case 3:
        case 4: {
            if (!argsZeroFrom(11)) {
                return refuse(kAscInvalidFieldInCdb);
            }
            if (carryOut) {
                std::array<std::uint8_t, 3>& clock = code == 4 ? camera.date : camera.time;
                std::copy_n(cdb + 8, 3, clock.begin());
                (code == 4 ? camera.dateReceived : camera.timeReceived) = true;
            }
            return answer;
        }
        default:
            return refuse(kAscInvalidOpcode);
    }
}

void World::EnterStorageMode(Camera& camera) {
    camera.mode = CameraMode::kStorage;
    ++camera.releases;
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
