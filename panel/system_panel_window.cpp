#include "os/os.h"
#include "panel/panel_window.h"

void SystemPanelWindow::OpenFolder(const wchar_t* path) {
    os::ShellExecuteW(nullptr, L"explorer", path, nullptr, os::kSwShow);
}

void SystemPanelWindow::Pause(std::uint32_t milliseconds) {
    os::Sleep(milliseconds);
}

bool SystemPanelWindow::GetLocalTime(std::tm& now) {
    return os::LocalTime64(os::Time64(), &now);
}
