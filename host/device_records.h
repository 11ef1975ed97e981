// Device-change records (WM_DEVICECHANGE) as the host reports volumes coming and going, and the
// window's registration for device-interface notifications.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/records.h"

// The handle of the start-up registration; stored, never used.
extern void* g_hDevNotify;

// The drive letter ('A' to 'Z') of a record the volume tracking acts on: a volume record
// (DBT_DEVTYP_VOLUME) for a volume itself (dbcv_flags 0) naming at least one of drives A to Z,
// where the lowest drive bit counts. 0 for anything else: a null record, another kind of record, a
// medium or network volume, a record shorter than the fields it would be read for (dbch_size is
// trusted as the record's length), or a unit mask with none of bits 0-25 set.
wchar_t HandledVolumeLetter(const std::uint8_t* record);

// The DEV_BROADCAST_DEVICEINTERFACE filter for GUID_DEVINTERFACE_USB_DEVICE.
void BuildInterfaceFilter(std::uint8_t (&record)[os::dbt::kInterfaceFilterSize]);

// Registers `window` for the arrival and removal of device interfaces of every class and stores
// the result in g_hDevNotify, untested.
void RegisterDeviceNotifications(void* window);
