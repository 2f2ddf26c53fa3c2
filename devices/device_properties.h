// The device registry properties that Windows keeps through SetupAPI: a
// device's upper filters and friendly name, and removing a device instance.
// The console program writes these as the system's own tools do, with the
// caller's rights, changing no key's owner or access list.
#pragma once

#include <windows.h>

#include "devices/device_record.h"

// The FTDIBUS device instances SetupAPI knows, found once per run.
struct DeviceSet {
  void* Handle;  // HDEVINFO
  DWORD Count;
};

// False (with the Win32 error) when SetupAPI cannot list FTDIBUS devices.
bool OpenDeviceSet(DeviceSet* set, DWORD* error);
void CloseDeviceSet(DeviceSet* set);

// Each returns ERROR_SUCCESS or the Win32 error; ERROR_NOT_FOUND when
// SetupAPI does not know the record's instance.
// UpperFilters: a REG_MULTI_SZ image, or none (size 0) to delete the value.
LONG SetDeviceUpperFilters(DeviceSet* set, const DeviceRecord* record, const void* data,
                           DWORD size);
LONG SetDeviceFriendlyName(DeviceSet* set, const DeviceRecord* record, const char* name);
// Asks the device's class installer to remove the instance (DIF_REMOVE).
LONG RemoveDeviceInstance(DeviceSet* set, const DeviceRecord* record);
