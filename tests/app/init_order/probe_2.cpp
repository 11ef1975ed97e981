#include "os/init_order.h"
#include "tests/app/init_order/probe.h"

Probe g_probe2 ZQ_CONSTRUCTED_IN_ORDER(2){2};
