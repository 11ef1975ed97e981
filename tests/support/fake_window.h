// A recording stand-in for the control panel window: it keeps every window operation the panel
// logic performs, in order, as one line of text each, and models the little window state the
// logic reads back (combo selections, enabled controls, the status line).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "panel/panel_window.h"
#include "tests/support/controls.h"

class FakeWindow : public PanelWindow {
  public:
    // Every call, in order, with the controls by name, e.g. "status Device not connected.",
    // "select IDC_OVERWRITE 1", "enable IDC_SYNC_TIME 1", "getsel IDC_TIMESTAMP",
    // "box Loop recording on.", "open E:\", "pause 200", "localtime".
    std::vector<std::string> calls;

    // Where the lines go besides `calls`: a test can point this at a journal shared with the
    // simulator's observer to see window steps and camera requests interleaved.
    std::function<void(const std::string&)> journal;

    // Window state as the real controls would hold it.
    std::map<int, int> selection;  // combo id -> index, -1 for none
    std::map<int, bool> enabled;   // control id -> enabled
    std::wstring status = L"Device not connected.";

    // Every message box as it was shown.
    struct Box {
        std::wstring text;
        std::wstring caption;
        std::uint32_t type = 0;
        std::uint16_t language = 0;
    };
    std::vector<Box> boxes;
    // The last box's details, as `boxes.back()` holds them.
    std::wstring lastCaption;
    std::uint32_t lastType = 0xFFFFFFFFu;
    std::uint16_t lastLanguage = 0;

    // Runs while the next message box is open (then is dropped): the box has no owner, so its
    // own message loop goes on dispatching the panel's messages and another handler can run.
    std::function<void()> whileBoxOpen;

    // The local time handed to OnSyncTime; `localTimeFails` models a failing conversion.
    std::tm localTime{};
    bool localTimeFails = false;

    // The user picks an item: what CB_GETCURSEL will answer during the selection change.
    void Pick(int comboId, int index) { selection[comboId] = index; }

    // The index a combo shows, -1 for none; unlike GetComboSelection it is not recorded.
    int Selected(int comboId) const {
        const auto it = selection.find(comboId);
        return it == selection.end() ? -1 : it->second;
    }
    bool IsEnabled(int controlId) const {
        const auto it = enabled.find(controlId);
        return it != enabled.end() && it->second;
    }

    void SetStatusText(const wchar_t* text) override {
        status = text;
        Record("status " + Narrow(text));
    }
    void SelectComboItem(int comboId, int index) override {
        // CB_SETCURSEL with an index outside the two items leaves no item selected.
        selection[comboId] = (index >= 0 && index < 2) ? index : -1;
        Record("select " + zqtest::ControlName(comboId) + " " + std::to_string(index));
    }
    int GetComboSelection(int comboId) override {
        Record("getsel " + zqtest::ControlName(comboId));
        return Selected(comboId);
    }
    void EnableControl(int controlId, bool enable) override {
        enabled[controlId] = enable;
        Record("enable " + zqtest::ControlName(controlId) + " " + (enable ? "1" : "0"));
    }
    void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t type,
                        std::uint16_t language) override {
        boxes.push_back({text, caption, type, language});
        lastCaption = caption;
        lastType = type;
        lastLanguage = language;
        Record("box " + Narrow(text));
        if (whileBoxOpen) {
            const auto nested = std::move(whileBoxOpen);
            whileBoxOpen = nullptr;
            nested();
        }
    }
    void OpenFolder(const wchar_t* path) override { Record("open " + Narrow(path)); }
    void Pause(std::uint32_t milliseconds) override {
        Record("pause " + std::to_string(milliseconds));
    }
    bool GetLocalTime(std::tm& now) override {
        Record("localtime");
        if (localTimeFails) {
            return false;
        }
        now = localTime;
        return true;
    }

    // The lines that start with `prefix` (e.g. "box "), in order.
    std::vector<std::string> Lines(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& line : calls) {
            if (line.rfind(prefix, 0) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }

    // ASCII as it is; every other character as <U+XXXX>, so that a line tells them apart.
    static std::string Narrow(const std::wstring& text) {
        std::string out;
        for (const wchar_t c : text) {
            if (c >= 0x20 && c < 0x7F) {
                out.push_back(static_cast<char>(c));
            } else {
                char code[16];
                std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(c));
                out += code;
            }
        }
        return out;
    }

  protected:
    void Record(const std::string& line) {
        calls.push_back(line);
        if (journal) {
            journal(line);
        }
    }
};
