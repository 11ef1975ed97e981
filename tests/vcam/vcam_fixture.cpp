#include "tests/vcam/vcam_fixture.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "tests/e2e/panel_driver.h"
#include "tests/e2e/scenario_support.h"
#include "vcam/driver_link.h"
#include "vcam/protocol.h"

namespace vcamtest {

namespace {

using e2e::Fail;
using e2e::Quoted;

std::wstring ProgramOf(DWORD process) {
    const HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (handle == nullptr) {
        return {};
    }
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ::QueryFullProcessImageNameW(handle, 0, path, &length);
    ::CloseHandle(handle);
    std::wstring name(path, length);
    const std::size_t slash = name.find_last_of(L"\\/");
    name = slash == std::wstring::npos ? name : name.substr(slash + 1);
    std::transform(name.begin(), name.end(), name.begin(), ::towlower);
    return name;
}

struct FileManagerSearch {
    DWORD except;
    std::vector<FileManager> found;
};

BOOL CALLBACK CollectFileManager(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<FileManagerSearch*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t title[256] = {};
    ::GetWindowTextW(window, title, 256);
    const std::wstring text = title;
    // A folder window shows the volume as "LABEL (X:)".
    if ((search.except == 0 || process != search.except) && ::IsWindowVisible(window) &&
        text.size() >= 4 && text.compare(text.size() - 4, 1, L"(") == 0 && text.back() == L')') {
        search.found.push_back({window, text, ProgramOf(process)});
    }
    return TRUE;
}

}  // namespace

std::uint32_t Letters(const std::string& letters) {
    std::uint32_t mask = 0;
    for (const char letter : letters) {
        mask |= 1u << (letter - 'A');
    }
    return mask;
}

vcam::DriverStatus DriverStatus() {
    vcam::DriverLink link;
    if (const DWORD error = link.Open(false)) {
        Fail("the driver's control device does not open (error " + std::to_string(error) + ")");
    }
    const std::optional<vcam::DriverStatus> status = link.Status();
    if (!status) {
        Fail("the driver gave no status");
    }
    return *status;
}

std::uint32_t PresentedLetters() {
    return DriverStatus().LettersWith(ZQVCAM_LETTER_PRESENT);
}

// ---- the camera service ----

ServiceProcess::ServiceProcess(std::wstring exe, std::wstring folder,
                               std::vector<std::wstring> options)
    : exe_(std::move(exe)), folder_(std::move(folder)), options_(std::move(options)) {}

std::wstring ServiceProcess::log() const {
    return folder_ + L"\\service-" + std::to_wstring(starts_) + L".log";
}

void ServiceProcess::Start() {
    ++starts_;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE output = ::CreateFileW(log().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // The volumes' folder is the service's own: "volumes" beside the world file.
    std::wstring commandLine =
        Quoted(exe_) + L" --world " + Quoted(world()) + L" --trace " + Quoted(trace());
    for (const std::wstring& option : options_) {
        commandLine += L" " + option;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    const std::size_t readyBefore = ReadyNotes();
    const BOOL started = ::CreateProcessW(exe_.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                          0, nullptr, nullptr, &startup, &process_);
    ::CloseHandle(output);
    if (!started) {
        Fail("cannot start " + e2e::Narrow(exe_));
    }
    if (!e2e::WaitFor([&] { return ReadyNotes() > readyBefore || !Running(); }) || !Running()) {
        Fail("the camera service did not get ready: " + e2e::ReadWholeFile(log()));
    }
}

void ServiceProcess::Kill() {
    if (process_.hProcess == nullptr) {
        return;
    }
    ::TerminateProcess(process_.hProcess, 9);
    ::WaitForSingleObject(process_.hProcess, 10000);
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
    process_ = {};
}

bool ServiceProcess::Running() const {
    return process_.hProcess != nullptr &&
           ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void ServiceProcess::EditWorld(const std::string& world, const std::string& letters) const {
    e2e::WriteFileAtomically(this->world(), world);
    if (!e2e::WaitFor([&] { return PresentedLetters() == Letters(letters); })) {
        Fail("the service did not present the letters " + letters);
    }
}

void ServiceProcess::PrintRun() const {
    e2e::PrintTrace(trace());
    std::printf("service output: %s\n", e2e::ReadWholeFile(log()).c_str());
}

std::size_t ServiceProcess::ReadyNotes() const {
    const std::vector<std::string> lines = e2e::Trace(trace()).Lines();
    return static_cast<std::size_t>(
        std::count(lines.begin(), lines.end(), std::string("# zqvcam-service: ready")));
}

// ---- the file manager ----

std::vector<FileManager> FileManagers(DWORD except) {
    FileManagerSearch search{except, {}};
    ::EnumWindows(CollectFileManager, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void CloseFileManagers() {
    for (const FileManager& manager : FileManagers()) {
        ::PostMessageW(manager.window, WM_CLOSE, 0, 0);
    }
    e2e::WaitFor([] { return FileManagers().empty(); }, 10);
}

}  // namespace vcamtest
