// Resource ids, shared by the resource script and the C++ code. The control ids come from the
// panel logic, which addresses the controls.
#pragma once

#include "panel/control_ids.h"

#define IDI_EXE_ICON 128
#define IDI_APP_ICON 130
#define IDD_CONTROL_PANEL 102

#define ID_CLOCK_TIMER 1
