#include "os/init_order.h"
#include "tests/app/init_order/probe.h"

Probe g_probe3 ZQ_CONSTRUCTED_IN_ORDER(3){3};
