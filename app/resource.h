// Resource and control ids, shared by the resource script and the C++ code.
#pragma once

#define IDI_EXE_ICON 128
#define IDI_APP_ICON 130
#define IDD_CONTROL_PANEL 102

#define IDC_SYNC_TIME 1001
#define IDC_OPEN_FOLDER 1002
#define IDC_STATUS 1006
#define IDC_STATUS_RIGHT 1007
#define IDC_OVERWRITE 1008
#define IDC_TIMESTAMP 1009
#define IDC_RESOLUTION 1010
#define IDC_PC_TIME 1011

#define ID_CLOCK_TIMER 1
