#include "tests/e2e/panel_driver.h"

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "sim/read_file_win32.h"
#include "tests/support/wire.h"

namespace e2e {

namespace {

constexpr UINT kSendTimeoutMs = static_cast<UINT>(kPatience * 1000);
constexpr wchar_t kSettleMarker[] = L"(settling)";
constexpr UINT_PTR kSettleTimerId = 0x5E77;

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    return process;
}

struct DialogSearch {
    DWORD process;
    const std::wstring* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<DialogSearch*>(data);
    if (ProcessOf(window) != search.process || !::IsWindowVisible(window) ||
        ::GetWindow(window, GW_OWNER) != nullptr || ClassName(window) != L"#32770") {
        return TRUE;
    }
    wchar_t text[128] = {};
    ::GetWindowTextW(window, text, 128);
    if (*search.caption == text) {
        search.found.push_back(window);
    }
    return TRUE;
}

// The visible top-level dialog windows of `process` with the caption `caption` and no owner.
std::vector<HWND> TopDialogs(DWORD process, const std::wstring& caption) {
    DialogSearch search{process, &caption, {}};
    ::EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

// ---- helpers ----

void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

bool WaitFor(const std::function<bool()>& done, double seconds) {
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (true) {
        if (done()) {
            return true;
        }
        if (::GetTickCount64() >= end) {
            return false;
        }
        ::Sleep(20);
    }
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                          length, nullptr, nullptr);
    return narrow;
}

std::wstring WindowsPath(const std::string& path) {
    std::wstring wide = Widen(path);
    if (!wide.empty() && wide[0] == L'/') {
        wide = L"Z:" + wide;
    }
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return wide;
}

void WriteFileAtomically(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".new";
    const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail("cannot write " + Narrow(temporary));
    }
    DWORD written = 0;
    const BOOL wrote =
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!wrote || written != text.size() ||
        !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Fail("cannot write " + Narrow(path));
    }
}

std::string ReadWholeFile(const std::wstring& path) {
    return sim::ReadWholeFile(path).value_or(std::string());
}

std::string LocalClockText() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

bool LooksLikeClock(const std::string& text) {
    const std::string shape = "0000-00-00 00:00:00";
    if (text.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == '0' ? !digit : text[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

std::string Cdb(bool set, int code, std::vector<int> args) {
    std::vector<int> bytes = {0xFA, 0x55, 0x66, 0xFE, set ? 0x06 : 0x60, 0, 0, code};
    bytes.insert(bytes.end(), args.begin(), args.end());
    bytes.resize(16, 0);
    return zqtest::Hex(bytes);
}

std::vector<std::string> Codes(const std::vector<std::string>& cdbs) {
    std::vector<std::string> codes;
    for (const std::string& cdb : cdbs) {
        codes.push_back(cdb.substr(21, 2) + (cdb.size() > 47 ? cdb.substr(47) : ""));
    }
    return codes;
}

std::vector<std::string> VendorCdbs(const std::vector<std::string>& calls, char letter) {
    const std::string prefix = letter == 0 ? std::string("DeviceIoControl ")
                                           : std::string("DeviceIoControl ") + letter + ": ";
    const std::string marker = " cdb=FA ";
    constexpr std::size_t kCdbText = 16 * 3 - 1;
    std::vector<std::string> cdbs;
    for (const std::string& call : calls) {
        const std::size_t at = call.find(marker);
        if (call.rfind(prefix, 0) != 0 || at == std::string::npos) {
            continue;
        }
        std::string cdb = call.substr(at + 5, kCdbText);
        if (call.find("-> failed") != std::string::npos) {
            cdb += " failed";
        }
        cdbs.push_back(std::move(cdb));
    }
    return cdbs;
}

std::string OpenedLetters(const std::vector<std::string>& calls) {
    std::string letters;
    for (const std::string& call : calls) {
        if (call.rfind("CreateFileW ", 0) == 0) {
            letters += call[17];
        }
    }
    return letters;
}

// ---- the trace ----

std::vector<std::string> Trace::Lines() const {
    const std::string text = ReadWholeFile(path_);
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (true) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            break;  // an unfinished last line is not there yet
        }
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> Trace::Calls(std::size_t first) const {
    std::vector<std::string> calls;
    for (std::string& line : Lines()) {
        if (!line.empty() && line[0] != '#') {
            calls.push_back(std::move(line));
        }
    }
    calls.erase(calls.begin(),
                calls.begin() + static_cast<std::ptrdiff_t>(std::min(first, calls.size())));
    return calls;
}

std::vector<std::string> Trace::Notifications() const {
    static const std::string kNote = "# notify: ";
    std::vector<std::string> events;
    for (const std::string& line : Lines()) {
        if (line.rfind(kNote, 0) == 0) {
            events.push_back(line.substr(kNote.size()));
        }
    }
    return events;
}

std::vector<std::string> Trace::SettledCalls(std::size_t first) const {
    std::vector<std::string> calls = Calls(first);
    for (int quiet = 0; quiet < 3;) {
        ::Sleep(100);
        std::vector<std::string> now = Calls(first);
        quiet = now.size() == calls.size() ? quiet + 1 : 0;
        calls = std::move(now);
    }
    return calls;
}

std::vector<std::string> Trace::VendorCdbs(std::size_t first) const {
    return e2e::VendorCdbs(Calls(first));
}

void Trace::WaitForCall(const std::string& text, std::size_t first) const {
    const bool seen = WaitFor([&] {
        for (const std::string& call : Calls(first)) {
            if (call.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    });
    if (!seen) {
        Fail("no device call with \"" + text + "\" in the trace " + Narrow(path_));
    }
}

// ---- the panel ----

Panel::Panel(RunFiles files, const std::string& world, const std::function<void()>& beforeStart)
    : files_(std::move(files)), trace_(files_.trace) {
    WriteFileAtomically(files_.world, world);
    ::DeleteFileW(files_.trace.c_str());
    ::SetEnvironmentVariableW(L"ZELQUIN_SIM_WORLD", files_.world.c_str());
    ::SetEnvironmentVariableW(L"ZELQUIN_SIM_TRACE", files_.trace.c_str());
    if (beforeStart) {
        beforeStart();
    }

    std::wstring commandLine = Quoted(files_.exe);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(files_.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &process_)) {
        Fail("cannot start " + Narrow(files_.exe) + ": system error " +
             std::to_string(::GetLastError()));
    }
    const bool shown = WaitFor([this] {
        const std::vector<HWND> found = TopDialogs(process_.dwProcessId, kPanelCaption);
        window_ = found.empty() ? nullptr : found.front();
        return window_ != nullptr || !Running();
    });
    if (!shown || window_ == nullptr) {
        Fail(Running() ? "the control panel did not appear" : "the program ended at start-up");
    }
}

Panel::~Panel() {
    if (Running()) {
        for (HWND box : MessageBoxes()) {
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        if (window_ != nullptr) {
            ::PostMessageW(window_, WM_CLOSE, 0, 0);
        }
        if (!WaitForExit(10)) {
            ::TerminateProcess(process_.hProcess, 1);
            ::WaitForSingleObject(process_.hProcess, 10000);
        }
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
}

HWND Panel::Control(int id) const {
    HWND control = ::GetDlgItem(window_, id);
    if (control == nullptr) {
        Fail("the panel has no control " + std::to_string(id));
    }
    return control;
}

void Panel::EditWorld(const std::string& world) const {
    WriteFileAtomically(files_.world, world);
}

LRESULT Panel::Send(HWND target, UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(target, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               &result)) {
        Fail(::IsWindow(target)
                 ? "message " + std::to_string(message) + " was not answered"
                 : "message " + std::to_string(message) + " went to a window that is gone" +
                       (Running() ? "" : " (the program has ended)"));
    }
    return static_cast<LRESULT>(result);
}

void Panel::Post(HWND target, UINT message, WPARAM wParam, LPARAM lParam) const {
    if (!::PostMessageW(target, message, wParam, lParam)) {
        Fail("message " + std::to_string(message) + " could not be posted");
    }
}

std::wstring Panel::WindowText(HWND window) const {
    const auto length = static_cast<std::size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto copied = static_cast<std::size_t>(
        Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data())));
    text.resize(std::min(copied, length));
    return text;
}

std::wstring Panel::Text(int id) const {
    return WindowText(Control(id));
}

bool Panel::Enabled(int id) const {
    return ::IsWindowEnabled(Control(id)) != FALSE;
}

int Panel::Selection(int comboId) const {
    return static_cast<int>(Send(Control(comboId), CB_GETCURSEL, 0, 0));
}

std::vector<std::wstring> Panel::Items(int comboId) const {
    const HWND combo = Control(comboId);
    const auto count = static_cast<int>(Send(combo, CB_GETCOUNT, 0, 0));
    std::vector<std::wstring> items;
    for (int i = 0; i < count; ++i) {
        const auto length =
            static_cast<std::size_t>(Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0));
        std::wstring item(length + 1, L'\0');
        Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(length);
        items.push_back(std::move(item));
    }
    return items;
}

std::wstring Panel::SelectedItem(int comboId) const {
    const int selected = Selection(comboId);
    if (selected < 0) {
        return {};
    }
    const std::vector<std::wstring> items = Items(comboId);
    return static_cast<std::size_t>(selected) < items.size()
               ? items[static_cast<std::size_t>(selected)]
               : L"(beyond the list)";
}

HWND Panel::ComboEdit(int comboId) const {
    HWND edit = ::FindWindowExW(Control(comboId), nullptr, L"Edit", nullptr);
    if (edit == nullptr) {
        Fail("combo box " + std::to_string(comboId) + " has no edit field");
    }
    return edit;
}

HWND Panel::FocusedWindow() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(process_.dwThreadId, &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

void Panel::Choose(int comboId, int index) const {
    const HWND combo = Control(comboId);
    Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Post(window_, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void Panel::Click(int buttonId) const {
    Post(window_, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
         reinterpret_cast<LPARAM>(Control(buttonId)));
}

LRESULT Panel::DeviceChange(WPARAM event, char letter, WORD flags) const {
    DEV_BROADCAST_VOLUME record = {};
    record.dbcv_size = sizeof record;
    record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    record.dbcv_unitmask = 1u << (letter - 'A');
    record.dbcv_flags = flags;
    return Send(window_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
}

void Panel::PostKey(HWND target, UINT key) const {
    const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    Post(target, WM_KEYDOWN, key, static_cast<LPARAM>(1u | (scan << 16)));
    Post(target, WM_KEYUP, key, static_cast<LPARAM>(1u | (scan << 16) | 0xC0000000u));
}

void Panel::Settle() const {
    // A WM_TIMER the system makes comes only when no posted message waits, so any refresh of the
    // clock after the marker shows that everything posted before it has been handled.
    const HWND clock = Control(kPcTime);
    Send(clock, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kSettleMarker));
    Post(window_, WM_TIMER, kSettleTimerId, 0);
    if (!WaitFor([&] { return WindowText(clock) != kSettleMarker; })) {
        Fail("the panel did not handle its messages");
    }
}

void Panel::PostClose() const {
    Post(window_, WM_CLOSE, 0, 0);
}

std::vector<HWND> Panel::MessageBoxes() const {
    return TopDialogs(process_.dwProcessId, kBoxCaption);
}

Panel::Box Panel::TakeBox(const std::wstring& wanted) const {
    HWND box = nullptr;
    HWND textControl = nullptr;
    if (!WaitFor([&] {
            for (HWND candidate : MessageBoxes()) {
                textControl = ::GetDlgItem(candidate, kBoxTextId);
                if (textControl != nullptr &&
                    (wanted.empty() || WindowText(textControl) == wanted)) {
                    box = candidate;
                    return true;
                }
            }
            return false;
        })) {
        Fail(wanted.empty() ? "no message box appeared"
                            : "no message box \"" + Narrow(wanted) + "\" appeared");
    }
    Box seen;
    seen.text = WindowText(textControl);
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!::IsWindowVisible(child)) {
            continue;
        }
        const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
        if (ClassName(child) == L"Button") {
            seen.buttons.push_back(::GetDlgCtrlID(child));
        } else if (ClassName(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON) {
            // Some message boxes keep an empty icon control in place.
            seen.icon = seen.icon || Send(child, STM_GETICON, 0, 0) != 0;
        }
    }
    Post(box, WM_COMMAND, IDOK, 0);
    if (!WaitFor([box] { return !::IsWindow(box); })) {
        Fail("the message box did not close");
    }
    return seen;
}

bool Panel::Running() const {
    return ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Panel::WaitForExit(double seconds) const {
    return ::WaitForSingleObject(process_.hProcess, static_cast<DWORD>(seconds * 1000)) ==
           WAIT_OBJECT_0;
}

}  // namespace e2e
