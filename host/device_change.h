// Volume arrival and removal tracking, and the window's registration for device notifications.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "panel/panel_window.h"

// The one-letter drive of the most recent handled arrival; "0" until there is one.
extern std::wstring g_strArrivalDrive;
// The handle of the start-up registration; stored, never used.
extern void* g_hDevNotify;

inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevtypVolume = 2;
inline constexpr std::uint32_t kDbtDevtypDeviceInterface = 5;
inline constexpr std::size_t kInterfaceFilterSize = 32;

// The WM_DEVICECHANGE handler: connects on a volume arrival, disconnects on the removal of the
// camera's volume. `record` is the message's second parameter (it may be null, and is only read
// for the two volume events, within its dbch_size). Returns TRUE (1) for every event.
int OnDeviceChange(PanelWindow& window, std::uint32_t eventType, const std::uint8_t* record);

// The DEV_BROADCAST_DEVICEINTERFACE filter for GUID_DEVINTERFACE_USB_DEVICE.
void BuildInterfaceFilter(std::uint8_t (&record)[kInterfaceFilterSize]);

// Registers `window` for the arrival and removal of device interfaces of every class and stores
// the result in g_hDevNotify, untested.
void RegisterDeviceNotifications(void* window);
