// Volume arrival and removal tracking: when a drive comes the panel connects, when the camera's
// drive goes it disconnects.
#pragma once

#include <cstdint>
#include <string>

#include "panel/panel_window.h"

// The one-letter drive of the most recent handled arrival; "0" until there is one.
extern std::wstring g_strArrivalDrive;

// The WM_DEVICECHANGE handler: connects on a volume arrival, disconnects on the removal of the
// camera's volume. `record` is the message's second parameter (it may be null, and is only read
// for the two volume events, within its dbch_size). Returns TRUE (1) for every event.
int OnDeviceChange(PanelWindow& window, std::uint32_t eventType, const std::uint8_t* record);
