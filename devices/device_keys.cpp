#include "devices/device_keys.h"

#include <stdio.h>
#include <string.h>

LONG OpenDeviceKey(const DeviceRecord* record, DeviceKeyKind which, REGSAM access, HKEY* key) {
  char path[DEVICE_KEY_PATH_SIZE];
  if (!FormatDeviceKeyPath(path, sizeof path, record, which)) return ERROR_BAD_PATHNAME;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

LONG QueryDeviceValue(HKEY key, const char* name, DWORD type, void* field, DWORD size,
                      DWORD* length) {
  // Through a local buffer: a value of the wrong type must not leave its
  // bytes in the field.
  unsigned char data[256];
  DWORD stored = REG_NONE;
  DWORD got = size <= sizeof data ? size : (DWORD)sizeof data;
  LONG rc = RegQueryValueExA(key, name, nullptr, &stored, data, &got);
  if (rc != ERROR_SUCCESS) return rc;
  if (stored != type || (type == REG_DWORD && got != sizeof(DWORD))) return ERROR_INVALID_DATATYPE;
  memcpy(field, data, got);
  if (length) *length = got;
  return ERROR_SUCCESS;
}

void NameDevice(const DeviceRecord* record, DeviceKeyKind which, DeviceNames* names) {
  snprintf(names->Port, sizeof names->Port, "%.*s", (int)PORT_NAME_SIZE, record->PortName);
  snprintf(names->Serial, sizeof names->Serial, "%.*s", (int)SERIAL_NUMBER_SIZE,
           record->SerialNumber);
  if (!FormatDeviceKeyPath(names->Key, sizeof names->Key, record, which)) names->Key[0] = '\0';
}
