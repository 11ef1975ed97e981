#include "cli/backend_seam.h"

#include <string>
#include <vector>

#include "host/volume.h"
#include "link/discovery.h"
#include "link/transport.h"
#include "os/os.h"
#include "os/text.h"

namespace cli {

namespace {

constexpr char kFirstLetter = 'D';
constexpr char kLastLetter = 'Z';
constexpr std::uint32_t kErrorTextChars = 512;
constexpr std::size_t kWideTextChars = 1024;

os::Handle HandleOf(DeviceId id) {
    return reinterpret_cast<os::Handle>(id);
}

char UpperLetter(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

DeviceNaming SeamBackend::Naming() {
    const std::string range = std::string(1, kFirstLetter) + ": to " + kLastLetter + ":";
    return DeviceNaming{range, range, "E:", ""};
}

std::vector<std::string> SeamBackend::Candidates() {
    std::vector<std::string> devices;
    for (char letter = kFirstLetter; letter <= kLastLetter; ++letter) {
        devices.push_back(std::string(1, letter) + ":");
    }
    return devices;
}

std::optional<std::string> SeamBackend::ParseDevice(std::string_view text) {
    // "E", "E:" or "E:\", in either case.
    if (text.empty() || text.size() > 3 || (text.size() >= 2 && text[1] != ':') ||
        (text.size() == 3 && text[2] != '\\' && text[2] != '/')) {
        return std::nullopt;
    }
    const char letter = UpperLetter(text[0]);
    if (letter < kFirstLetter || letter > kLastLetter) {
        return std::nullopt;
    }
    return std::string(1, letter) + ":";
}

Probe SeamBackend::ProbeDevice(const std::string& device) {
    Probe probe;
    probe.device = device;
    const LetterProbe found = ProbeDriveLetter(static_cast<wchar_t>(device.at(0)));
    probe.inquiry = found.inquiry;
    probe.inquiryData = found.inquiryData;
    switch (found.result) {
        case LetterProbeResult::kOpenFailed:
            probe.systemError = found.openError;
            probe.result = (found.openError == os::kErrorFileNotFound ||
                            found.openError == os::kErrorPathNotFound)
                               ? ProbeResult::kAbsent
                               : ProbeResult::kOpenFailed;
            break;
        case LetterProbeResult::kInquiryFailed:
            probe.systemError = found.inquiry.systemError;
            probe.result = ProbeResult::kInquiryFailed;
            break;
        case LetterProbeResult::kNotCamera:
            probe.result = ProbeResult::kNotCamera;
            break;
        case LetterProbeResult::kCamera:
            probe.result = ProbeResult::kCamera;
            probe.id = reinterpret_cast<DeviceId>(found.handle);
            break;
    }
    return probe;
}

PassThroughOutcome SeamBackend::Execute(DeviceId id, std::span<const std::uint8_t> cdb,
                                        std::span<std::uint8_t> dataIn) {
    return PassThrough(HandleOf(id), cdb, dataIn);
}

void SeamBackend::Close(DeviceId id) {
    os::CloseHandle(HandleOf(id));
}

std::vector<Volume> SeamBackend::CameraVolumes() {
    std::vector<Volume> volumes;
    for (const std::wstring& root : FindCameraVolumes()) {
        Volume volume;
        volume.root = os::ToUtf8(root);
        volume.device = ParseDevice(volume.root).value_or(std::string());
        volumes.push_back(volume);
    }
    return volumes;
}

namespace {

// The arrivals whose letter holds a camera volume once it has come.
class ArrivalWatch : public VolumeWatch {
  public:
    ArrivalWatch(SeamBackend& backend, std::unique_ptr<EventSource> source)
        : backend_(backend), source_(std::move(source)) {}

    VolumeEvent Next() override {
        for (;;) {
            const WatchEvent event = source_->Next();
            switch (event.kind) {
                case WatchEvent::Kind::kArrival:
                    for (const Volume& volume : backend_.CameraVolumes()) {
                        if (volume.device == event.device) {
                            return {VolumeEvent::Kind::kVolume, volume, 0};
                        }
                    }
                    break;  // another drive's volume, or not the camera's
                case WatchEvent::Kind::kTimeout:
                    return {VolumeEvent::Kind::kTimeout, {}, 0};
                case WatchEvent::Kind::kStop:
                    return {VolumeEvent::Kind::kStop, {}, 0};
                case WatchEvent::Kind::kFailed:
                    return {VolumeEvent::Kind::kFailed, {}, event.systemError};
            }
        }
    }

  private:
    SeamBackend& backend_;
    std::unique_ptr<EventSource> source_;
};

}  // namespace

std::unique_ptr<VolumeWatch> SeamBackend::WatchVolumes(std::uint32_t timeoutMs,
                                                       std::uint32_t& systemError) {
    std::unique_ptr<EventSource> source = arrivals_.Start(timeoutMs, systemError);
    if (!source) {
        return nullptr;
    }
    return std::make_unique<ArrivalWatch>(*this, std::move(source));
}

bool SeamBackend::OpenFolder(const std::string& root) {
    const std::wstring path = os::FromUtf8(root);
    return os::ShellExecuteW(nullptr, L"explorer", path.c_str(), nullptr, os::kSwShow);
}

std::string SeamBackend::ErrorText(std::uint32_t error) {
    wchar_t text[kErrorTextChars] = {};
    const std::uint32_t length = os::FormatMessageW(error, text, kErrorTextChars);
    std::wstring line(text, length < kErrorTextChars ? length : 0);
    // The system ends its texts with a line break; the tool puts them inside its own lines.
    for (wchar_t& c : line) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
    }
    while (!line.empty() && line.back() == L' ') {
        line.pop_back();
    }
    return os::ToUtf8(line);
}

std::string SeamBackend::DeviceText(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return {};
    }
    const std::string text(bytes.begin(), bytes.end());
    std::vector<wchar_t> wide(kWideTextChars, L'\0');
    const int length =
        os::MultiByteToWideChar(os::kCpAcp, 0, text.data(), static_cast<int>(text.size()),
                                wide.data(), static_cast<int>(wide.size()));
    return os::ToUtf8(
        std::wstring_view(wide.data(), length > 0 ? static_cast<std::size_t>(length) : 0));
}

bool SeamBackend::LocalTime(std::tm& now) {
    return os::LocalTime64(os::Time64(), &now);
}

void SeamBackend::Sleep(std::uint32_t milliseconds) {
    os::Sleep(milliseconds);
}

}  // namespace cli
