// Panel logic: the connection sequence and the five user commands. The control panel window owns
// these as its members by forwarding to them with itself as the PanelWindow.
#pragma once

#include <cstdint>
#include <string>

#include "panel/panel_window.h"

// 1 while connected; while it is 1 the camera handle is open.
extern std::uint8_t g_bConnected;
// The text ConnectCamera last formatted for the status line.
extern std::wstring g_strStatus;

inline constexpr wchar_t kMessageCaption[] = L"Ostravel V1.1";
inline constexpr std::uint32_t kMbOk = 0;
inline constexpr std::uint16_t kMessageLanguage = 1033;
inline constexpr wchar_t kNotConnectedText[] = L"Device not connected.";

void ConnectCamera(PanelWindow& window);
void DisconnectCamera(PanelWindow& window);

void OnOverwriteChange(PanelWindow& window);
void OnTimestampChange(PanelWindow& window);
void OnResolutionChange(PanelWindow& window);
void OnSyncTime(PanelWindow& window);
void OnOpenFolder(PanelWindow& window);
