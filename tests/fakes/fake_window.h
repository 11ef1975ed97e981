// A recording stand-in for the control panel window: it keeps every window operation the panel
// logic performs, in order, as one line of text each, and models the little window state the
// logic reads back (combo selections, enabled controls, the status line).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "panel/panel_window.h"

class FakeWindow : public PanelWindow {
public:
    // Every call, in order, e.g. "status Device not connected.", "select 1008 1", "enable 1001 1",
    // "box Loop recording on.", "open E:\", "pause 200", "localtime".
    std::vector<std::string> calls;

    // Where the lines go besides `calls`: a test can point this at a journal shared with the
    // simulator's observer to see window steps and camera requests interleaved.
    std::function<void(const std::string&)> journal;

    // Window state as the real controls would hold it.
    std::map<int, int> selection;  // combo id -> index, -1 for none
    std::map<int, bool> enabled;   // control id -> enabled
    std::wstring status = L"Device not connected.";

    // What the message boxes were shown with, besides their text.
    std::wstring lastCaption;
    std::uint32_t lastType = 0xFFFFFFFFu;
    std::uint16_t lastLanguage = 0;

    // The local time handed to OnSyncTime; `localTimeFails` models a failing conversion.
    std::tm localTime{};
    bool localTimeFails = false;

    // The user picks an item: what CB_GETCURSEL will answer during the selection change.
    void Pick(int comboId, int index) { selection[comboId] = index; }

    void SetStatusText(const wchar_t* text) override {
        status = text;
        Record("status " + Narrow(text));
    }
    void SelectComboItem(int comboId, int index) override {
        // CB_SETCURSEL with an index outside the two items leaves no item selected.
        selection[comboId] = (index >= 0 && index < 2) ? index : -1;
        Record("select " + std::to_string(comboId) + " " + std::to_string(index));
    }
    int GetComboSelection(int comboId) override {
        Record("getsel " + std::to_string(comboId));
        const auto it = selection.find(comboId);
        return it == selection.end() ? -1 : it->second;
    }
    void EnableControl(int controlId, bool enable) override {
        enabled[controlId] = enable;
        Record("enable " + std::to_string(controlId) + " " + (enable ? "1" : "0"));
    }
    void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t type,
                        std::uint16_t language) override {
        lastCaption = caption;
        lastType = type;
        lastLanguage = language;
        Record("box " + Narrow(text));
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

    static std::string Narrow(const std::wstring& text) {
        std::string out;
        for (const wchar_t c : text) {
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return out;
    }

private:
    void Record(const std::string& line) {
        calls.push_back(line);
        if (journal) {
            journal(line);
        }
    }
};
