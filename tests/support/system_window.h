// The fake window with the three non-window operations carried out as the control panel window
// carries them out (SystemPanelWindow, through the operating-system seam), so that pauses, the
// local time and the file manager come from the simulated system and world.
#pragma once

#include <cstdint>
#include <ctime>

#include "panel/panel_window.h"
#include "tests/support/fake_window.h"

class SystemBackedWindow : public FakeWindow {
  public:
    void OpenFolder(const wchar_t* path) override {
        Record("open " + Narrow(path));
        system_.OpenFolder(path);
    }
    void Pause(std::uint32_t milliseconds) override {
        Record("pause " + std::to_string(milliseconds));
        system_.Pause(milliseconds);
    }
    bool GetLocalTime(std::tm& now) override {
        Record("localtime");
        return system_.GetLocalTime(now);
    }

  private:
    // Only the system operations of this one are ever called.
    class Seam final : public SystemPanelWindow {
      public:
        void SetStatusText(const wchar_t*) override {}
        void SelectComboItem(int, int) override {}
        int GetComboSelection(int) override { return -1; }
        void EnableControl(int, bool) override {}
        void ShowMessageBox(const wchar_t*, const wchar_t*, std::uint32_t, std::uint16_t) override {
        }
    };
    Seam system_;
};
