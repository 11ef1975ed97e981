// The control panel's controls as the tests address them: the lists they go through and the names
// the journals and failure messages show ("select IDC_OVERWRITE 1", not "select 1008 1").
// Header-only and free of GoogleTest; the Windows suites include it too.
#pragma once

#include <string>

#include "panel/control_ids.h"

namespace zqtest {

// The controls the panel enables once connected and disables again, in the order it does so.
inline constexpr int kCommandControls[] = {IDC_SYNC_TIME, IDC_OPEN_FOLDER, IDC_OVERWRITE,
                                           IDC_RESOLUTION, IDC_TIMESTAMP};
// The three setting combos, in the order the panel reads them: loop recording, video
// resolution, time-stamp display.
inline constexpr int kCombos[] = {IDC_OVERWRITE, IDC_RESOLUTION, IDC_TIMESTAMP};

// "IDC_OVERWRITE" for 1008; an id that is no control of the panel as its number.
inline std::string ControlName(int id) {
    switch (id) {
        case IDC_SYNC_TIME:
            return "IDC_SYNC_TIME";
        case IDC_OPEN_FOLDER:
            return "IDC_OPEN_FOLDER";
        case IDC_STATUS:
            return "IDC_STATUS";
        case IDC_STATUS_RIGHT:
            return "IDC_STATUS_RIGHT";
        case IDC_OVERWRITE:
            return "IDC_OVERWRITE";
        case IDC_TIMESTAMP:
            return "IDC_TIMESTAMP";
        case IDC_RESOLUTION:
            return "IDC_RESOLUTION";
        case IDC_PC_TIME:
            return "IDC_PC_TIME";
        default:
            return std::to_string(id);
    }
}

}  // namespace zqtest
