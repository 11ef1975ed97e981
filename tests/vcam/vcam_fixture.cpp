#include "tests/vcam/vcam_fixture.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
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

struct WindowCount {
    DWORD process;
    DWORD count = 0;
};

BOOL CALLBACK CountChildWindow(HWND, LPARAM data) {
    ++reinterpret_cast<WindowCount*>(data)->count;
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM data) {
    auto& counted = *reinterpret_cast<WindowCount*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == counted.process) {
        ++counted.count;
        ::EnumChildWindows(window, CountChildWindow, data);
    }
    return TRUE;
}

// The windows process `id` owns: top-level ones, message-only ones and their children.
DWORD WindowsOf(DWORD id) {
    WindowCount counted{id};
    ::EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&counted));
    HWND window = nullptr;
    while ((window = ::FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr) {
        CountWindow(window, reinterpret_cast<LPARAM>(&counted));
    }
    return counted.count;
}

// Where the PEB names the process's GDI handle table, and the table's entries as Wine lays them
// out: 0x10000 entries of 24 bytes, the object's type at byte 14 (0 in a free entry).
#ifdef _WIN64
constexpr std::size_t kPebGdiTable = 0xF8;
#else
constexpr std::size_t kPebGdiTable = 0x94;
#endif
constexpr std::size_t kGdiEntries = 0x10000;
constexpr std::size_t kGdiEntrySize = 24;
constexpr std::size_t kGdiEntryType = 14;

struct BasicInformation {  // PROCESS_BASIC_INFORMATION
    LONG exitStatus;
    void* peb;
    ULONG_PTR affinity;
    LONG basePriority;
    ULONG_PTR id;
    ULONG_PTR parent;
};
using QueryProcess = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

// The used entries of the GDI handle table of `process`, and in `types` how many of each type
// ("05:12 0A:3", the type in hex); nullopt when it cannot be read.
std::optional<DWORD> GdiTableEntries(HANDLE process, std::string* types,
                                     std::map<int, int>* byType) {
    const auto query = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    BasicInformation basic = {};
    if (query == nullptr || query(process, 0, &basic, sizeof basic, nullptr) != 0) {
        return std::nullopt;
    }
    void* table = nullptr;
    SIZE_T got = 0;
    if (!::ReadProcessMemory(process, static_cast<char*>(basic.peb) + kPebGdiTable, &table,
                             sizeof table, &got) ||
        table == nullptr) {
        return std::nullopt;
    }
    std::vector<unsigned char> entries(kGdiEntries * kGdiEntrySize);
    if (!::ReadProcessMemory(process, table, entries.data(), entries.size(), &got) ||
        got != entries.size()) {
        return std::nullopt;
    }
    DWORD used = 0;
    byType->clear();
    for (std::size_t i = 0; i < kGdiEntries; ++i) {
        const int type = entries[i * kGdiEntrySize + kGdiEntryType];
        if (type != 0) {
            ++used;
            ++(*byType)[type];
        }
    }
    if (types != nullptr) {
        types->clear();
        for (const auto& [type, count] : *byType) {
            if (count != 0) {
                char text[32];
                std::snprintf(text, sizeof text, "%s%02X:%d", types->empty() ? "" : " ", type,
                              count);
                *types += text;
            }
        }
    }
    return used;
}

}  // namespace

std::uint32_t OpenHandles(const vcam::DriverStatus& status) {
    std::uint32_t open = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        open += status.letter(letter).open;
    }
    return open;
}

ProcessResources ResourcesOf(DWORD id) {
    ProcessResources resources;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr) {
        return resources;
    }
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    resources.read =
        ::GetProcessHandleCount(process, &resources.handles) &&
        ::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof memory);
    // Wine fills the shorter record only (and says so in cb); its PagefileUsage is the private
    // memory, as on Windows, where both are the process's commit charge.
    resources.privateBytes =
        memory.cb >= sizeof memory ? memory.PrivateUsage : memory.PagefileUsage;
    ::SetLastError(0);
    resources.user = ::GetGuiResources(process, GR_USEROBJECTS);
    resources.gdi = ::GetGuiResources(process, GR_GDIOBJECTS);
    resources.how = "GetGuiResources";
    if (resources.user == 0 && resources.gdi == 0 &&
        ::GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        resources.how = "windows and handle table";
        resources.user = WindowsOf(id);
        const std::optional<DWORD> gdi =
            GdiTableEntries(process, &resources.gdiTypes, &resources.gdiByType);
        resources.read = resources.read && gdi.has_value();
        resources.gdi = gdi.value_or(0);
    }
    ::CloseHandle(process);
    return resources;
}

long long GdiGrowthBesidesDcs(const ProcessResources& before, const ProcessResources& after,
                              int* dcs) {
    // Wine's object types: a DC, a region, a bitmap.
    constexpr int kDcFamily[] = {0x01, 0x04, 0x05};
    const long long growth = static_cast<long long>(after.gdi) - before.gdi;
    *dcs = 0;
    if (after.gdiByType.empty()) {
        return growth;
    }
    const auto count = [](const ProcessResources& resources, int type) {
        const auto found = resources.gdiByType.find(type);
        return found == resources.gdiByType.end() ? 0 : found->second;
    };
    for (const int type : kDcFamily) {
        *dcs += count(after, type) - count(before, type);
    }
    return growth - *dcs;
}

void ResourceGrowth::Add(int cycle, const ProcessResources& now) {
    table += std::to_string(cycle) + " " + std::to_string(now.handles) + " " +
             std::to_string(now.user) + " " + std::to_string(now.gdi) + " " +
             std::to_string(now.privateBytes) + "\n";
    if (readings++ == 0) {
        first = now;
        return;
    }
    handles = std::max(handles, static_cast<long long>(now.handles) - first.handles);
    user = std::max(user, static_cast<long long>(now.user) - first.user);
    gdi = std::max(gdi, static_cast<long long>(now.gdi) - first.gdi);
    privateBytes = std::max(privateBytes, static_cast<long long>(now.privateBytes) -
                                              static_cast<long long>(first.privateBytes));
}

std::string ResourceGrowth::Text() const {
    return "largest growth over " + std::to_string(readings) + " readings: handles +" +
           std::to_string(handles) + " (from " + std::to_string(first.handles) + "), USER +" +
           std::to_string(user) + " (from " + std::to_string(first.user) + "), GDI +" +
           std::to_string(gdi) + " (from " + std::to_string(first.gdi) + "), private bytes +" +
           std::to_string(privateBytes) + " (from " + std::to_string(first.privateBytes) +
           "); USER and GDI counted by " + first.how;
}

int SoakCycles(int otherwise) {
    wchar_t text[32] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ZQ_SOAK_CYCLES", text, 32);
    if (length == 0 || length >= 32) {
        return otherwise;
    }
    const long cycles = std::wcstol(text, nullptr, 10);
    return cycles > 0 ? static_cast<int>(cycles) : otherwise;
}

double SecondsSince(ULONGLONG start) {
    return static_cast<double>(::GetTickCount64() - start) / 1000.0;
}

std::vector<std::uint32_t> HostileSeeds(const std::wstring& file) {
    std::string text;
    wchar_t value[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ZQ_HOSTILE_SEEDS", value, 1024);
    if (length > 0 && length < 1024) {
        text = e2e::Narrow(value);
    } else {
        text = e2e::ReadWholeFile(file);
        if (text.empty()) {
            Fail("no hostile seeds in " + e2e::Narrow(file));
        }
    }
    std::vector<std::uint32_t> seeds;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, end - at);
        line = line.substr(0, line.find('#'));
        std::size_t from = 0;
        while ((from = line.find_first_of("0123456789", from)) != std::string::npos) {
            const std::size_t to = line.find_first_not_of("0123456789", from);
            seeds.push_back(static_cast<std::uint32_t>(
                std::stoul(line.substr(from, to == std::string::npos ? to : to - from))));
            from = to;
        }
        at = end + 1;
    }
    return seeds;
}

namespace {

// The value of `name=` in a Hostile line ("request=12 kind=hang ..."); "" when missing.
std::string HostileField(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at + name.size() + 2;
    return line.substr(from, line.find(' ', from) - from);
}

}  // namespace

std::vector<HostileCall> HostileCalls(const std::vector<std::string>& lines) {
    std::vector<HostileCall> calls;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.rfind("DeviceIoControl ", 0) != 0 || line.find(" cdb=") == std::string::npos) {
            continue;
        }
        HostileCall call;
        call.call = line;
        call.kind = "normal";
        call.platformOk = line.find("-> ok") != std::string::npos;
        std::string request;
        if (i > 0 && lines[i - 1].rfind("Hostile ", 0) == 0) {
            call.kind = HostileField(lines[i - 1], "kind");
            request = HostileField(lines[i - 1], "request");
        }
        if (call.kind == "unplug" || call.kind == "storm") {
            call.platformOk = false;
        } else if (call.kind == "hang") {
            // The service notes whether the held answer was taken.
            const std::string note = "hostile request " + request + " (hang,";
            call.platformOk = false;
            for (std::size_t j = i + 1; j < lines.size(); ++j) {
                if (lines[j].find(note) != std::string::npos &&
                    lines[j].find("the hang is over") != std::string::npos) {
                    call.platformOk = lines[j].find("; answered") != std::string::npos;
                    break;
                }
            }
        }
        call.good = call.platformOk && line.find("-> ok status=00 ") != std::string::npos;
        call.completed = call.good && (call.kind == "normal" || call.kind == "exact" ||
                                       call.kind == "long" || call.kind == "hang");
        calls.push_back(call);
    }
    return calls;
}

std::vector<std::pair<std::string, int>> HostileKinds(const std::vector<std::string>& lines) {
    std::vector<std::pair<std::string, int>> kinds;
    for (const std::string& line : lines) {
        if (line.rfind("Hostile ", 0) != 0) {
            continue;
        }
        const std::string kind = HostileField(line, "kind");
        const auto found = std::find_if(kinds.begin(), kinds.end(),
                                        [&](const auto& seen) { return seen.first == kind; });
        if (found == kinds.end()) {
            kinds.emplace_back(kind, 1);
        } else {
            ++found->second;
        }
    }
    return kinds;
}

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
