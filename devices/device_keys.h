// Opening a device's registry keys and reading their values.
#pragma once

#include <windows.h>

#include "devices/device_record.h"
#include "devices/registry_paths.h"
#include "platform/report.h"

// Room for the longest path a record can give (a 35-character serial).
enum { DEVICE_KEY_PATH_SIZE = 256 };

// The device's instance key or its Device Parameters key under
// HKEY_LOCAL_MACHINE; ERROR_BAD_PATHNAME when the path does not fit.
LONG OpenDeviceKey(const DeviceRecord* record, DeviceKeyKind which, REGSAM access, HKEY* key);

// Reads a value only when it is of the type the driver keeps it as: the
// bytes go to field only then. A DWORD must be 4 bytes; other types may be
// shorter than size. ERROR_INVALID_DATATYPE for another type or size,
// ERROR_MORE_DATA when longer, ERROR_FILE_NOT_FOUND when missing.
LONG QueryDeviceValue(HKEY key, const char* name, DWORD type, void* field, DWORD size,
                      DWORD* length);

// The port and serial of a record as a report carries them.
struct DeviceNames {
  char Port[PORT_NAME_SIZE + 1];
  char Serial[SERIAL_NUMBER_SIZE + 1];
  char Key[DEVICE_KEY_PATH_SIZE];
};
void NameDevice(const DeviceRecord* record, DeviceKeyKind which, DeviceNames* names);
