// The process-wide state of each layer put back to its value at process start: one reset per
// layer, which every test fixture, fuzz target and benchmark uses instead of its own list.
//
//     link   the camera handle, the last link error, the device path, the firmware text
//     host   the device-notification registration
//     panel  the connected flag, the status line, the remembered arrival drive
//     sim    the simulated world (drives, camera, faults, trace, observers) and the simulated
//            system (clock, pauses, registrations, observer), each on its own, since a program
//            may link only one of them
//
// Header-only and free of GoogleTest: a function that is never called asks nothing of the linker,
// so a program that links, say, only the link layer and scripted devices can use ResetLinkState.
#pragma once

#include <algorithm>
#include <iterator>

#include "host/device_records.h"
#include "link/camera.h"
#include "link/discovery.h"
#include "panel/panel.h"
#include "panel/volume_tracking.h"
#include "sim/system.h"
#include "sim/world.h"

namespace zqtest {

inline void ResetLinkState() {
    g_hCamera = nullptr;
    g_nLinkError = 0;
    std::fill(std::begin(g_szDevicePath), std::end(g_szDevicePath), L'\0');
    std::fill(std::begin(g_szFirmware), std::end(g_szFirmware), '\0');
}

inline void ResetHostState() {
    g_hDevNotify = nullptr;
}

inline void ResetPanelState() {
    g_bConnected = 0;
    g_strStatus.clear();
    g_strArrivalDrive = L"0";
}

inline void ResetSimWorld() {
    sim::TheWorld().Reset();
}

inline void ResetSimSystem() {
    sim::TheSystem().Reset();
}

// The core's layers: link, host and panel.
inline void ResetCoreState() {
    ResetLinkState();
    ResetHostState();
    ResetPanelState();
}

// Everything a native test program holds: the core's layers and both halves of the simulator.
inline void ResetProcessState() {
    ResetSimWorld();
    ResetSimSystem();
    ResetCoreState();
}

}  // namespace zqtest
