// Volume arrival and removal tracking: when a drive comes the panel connects, when the camera's
// drive goes it disconnects.
#pragma once

#include <cstdint>
#include <string>

#include "panel/panel_window.h"

// The one-letter drive of the most recent handled arrival; "0" until there is one.
extern std::wstring g_strArrivalDrive;

// The WM_DEVICECHANGE handler. A volume arrival connects (when not connected yet) and remembers
// the volume's letter. While connected, a volume removal
//   - with no letter on record, disconnects and connects again (the camera is looked for afresh);
//   - of the camera's own letter (the one its device path names), disconnects;
//   - of the remembered letter when that is not the camera's, disconnects and connects again, so
//     a camera that is still attached comes back with its values read afresh;
//   - of any other letter, does nothing.
// `record` is the message's second parameter (it may be null, and is only read for the two volume
// events, within its dbch_size). Returns TRUE (1) for every event.
int OnDeviceChange(PanelWindow& window, std::uint32_t eventType, const std::uint8_t* record);
