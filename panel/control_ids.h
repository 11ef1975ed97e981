// The ids of the control panel's controls, which the panel logic addresses. The resource script
// takes them from here too (through app/resource.h).
#pragma once

#define IDC_SYNC_TIME 1001
#define IDC_OPEN_FOLDER 1002
#define IDC_STATUS 1006
#define IDC_STATUS_RIGHT 1007
#define IDC_OVERWRITE 1008
#define IDC_TIMESTAMP 1009
#define IDC_RESOLUTION 1010
#define IDC_PC_TIME 1011
