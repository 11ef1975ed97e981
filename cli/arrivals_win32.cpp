#include "cli/arrivals_win32.h"

#include <windows.h>
// windows.h first
#include <dbt.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "host/device_records.h"

namespace cli {

namespace {

constexpr wchar_t kClassName[] = L"ZelquinCliArrivals";
constexpr UINT kStopMessage = WM_APP + 1;
// Posted by the window to itself when a volume arrives (below).
constexpr UINT kWakeMessage = WM_APP + 2;
constexpr UINT_PTR kTimeLimitTimer = 1;

// The window that Ctrl+C is posted to; the handler runs on a thread of its own.
std::atomic<HWND> g_stopWindow{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
    const HWND window = g_stopWindow.load();
    if (window == nullptr) {
        return FALSE;
    }
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            ::PostMessageW(window, kStopMessage, 0, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

class WindowSource : public EventSource {
  public:
    ~WindowSource() override {
        g_stopWindow.store(nullptr);
        ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        if (window_ != nullptr) {
            ::DestroyWindow(window_);
        }
    }

    // Creates the window; false with the system's error when it cannot be had.
    bool Open(std::optional<std::uint32_t> timeoutMs, std::uint32_t& systemError) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClassName;
        if (::RegisterClassExW(&windowClass) == 0 &&
            ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            systemError = ::GetLastError();
            return false;
        }
        // No parent and no WS_VISIBLE: a top-level window that is never shown.
        window_ = ::CreateWindowExW(0, kClassName, L"zelquin-cli", WS_OVERLAPPED, 0, 0, 0, 0,
                                    nullptr, nullptr, instance, this);
        if (window_ == nullptr) {
            systemError = ::GetLastError();
            return false;
        }
        if (timeoutMs) {
            const UINT period = *timeoutMs > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : *timeoutMs;
            if (::SetTimer(window_, kTimeLimitTimer, period, nullptr) == 0) {
                systemError = ::GetLastError();
                return false;
            }
        }
        g_stopWindow.store(window_);
        if (!::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
            systemError = ::GetLastError();
            return false;
        }
        return true;
    }

    WatchEvent Next() override {
        while (pending_.empty()) {
            MSG message;
            const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) {
                return {WatchEvent::Kind::kFailed, {}, ::GetLastError()};
            }
            if (got == 0) {
                return {WatchEvent::Kind::kStop, {}, 0};
            }
            ::DispatchMessageW(&message);
        }
        WatchEvent event = pending_.front();
        pending_.pop_front();
        return event;
    }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* source = reinterpret_cast<WindowSource*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (source == nullptr) {
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        switch (message) {
            case WM_DEVICECHANGE:
                // The record is only valid during the message: take the letter now and set the
                // camera up once the message has been answered. The system sends this message
                // from another thread, and GetMessageW handles such a message inside and goes on
                // waiting for a posted one; the message posted here ends that wait, so that
                // Next() returns the arrival at once.
                if (wParam == DBT_DEVICEARRIVAL) {
                    const wchar_t letter =
                        HandledVolumeLetter(reinterpret_cast<const std::uint8_t*>(lParam));
                    if (letter != 0) {
                        source->pending_.push_back({WatchEvent::Kind::kArrival,
                                                    std::string(1, static_cast<char>(letter)) + ":",
                                                    0});
                        ::PostMessageW(window, kWakeMessage, 0, 0);
                    }
                }
                return TRUE;
            case kWakeMessage:
                return 0;
            case WM_TIMER:
                if (wParam == kTimeLimitTimer) {
                    ::KillTimer(window, kTimeLimitTimer);
                    source->pending_.push_back({WatchEvent::Kind::kTimeout, {}, 0});
                    return 0;
                }
                break;
            case kStopMessage:
            case WM_CLOSE:
                source->pending_.push_back({WatchEvent::Kind::kStop, {}, 0});
                return 0;
            default:
                break;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    std::deque<WatchEvent> pending_;
};

}  // namespace

std::unique_ptr<EventSource> Win32Arrivals::Start(std::optional<std::uint32_t> timeoutMs,
                                                  std::uint32_t& systemError) {
    auto source = std::make_unique<WindowSource>();
    if (!source->Open(timeoutMs, systemError)) {
        return nullptr;
    }
    return source;
}

}  // namespace cli
