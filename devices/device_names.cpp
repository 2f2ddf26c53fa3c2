#include "devices/device_names.h"

#include <stdio.h>
#include <string.h>

void ApplyRegistrySerialRule(DeviceRecord* record) {
  if (record->DeviceId != 0x04036001) return;
  // A serial number shorter than 8 characters ends before position 8 and
  // stays as it is; a longer one is cut to 8 characters plus "A".
  if (strnlen(record->SerialNumber, 8) < 8) return;
  record->SerialNumber[8] = 'A';
  record->SerialNumber[9] = '\0';
}

// Reads up to four characters as hexadecimal the way sscanf("%x") does;
// text that does not begin with a hexadecimal digit counts as 0.
static unsigned ReadHexField(const char* text, size_t length) {
  char field[5] = {0};
  memcpy(field, text, length < 4 ? length : 4);
  unsigned value = 0;
  if (sscanf(field, "%x", &value) != 1) return 0;
  return value & 0xFFFF;
}

void ParseDeviceKeyName(const char* name, DeviceRecord* record) {
  size_t length = strlen(name);
  if (length < 4) return;  // the bus driver never makes such a key: leave it zero-filled

  // The name is VID_vvvv+PID_pppp+serial; it is cut by position and the
  // literal parts are not checked.
  unsigned vendor = ReadHexField(name + 4, length - 4);
  const char* rest = name + (length < 13 ? length : 13);
  size_t restLength = strlen(rest);
  unsigned product = ReadHexField(rest, restLength);
  rest += restLength < 5 ? restLength : 5;

  size_t serialLength = strnlen(rest, 28);
  memcpy(record->SerialNumber, rest, serialLength);
  record->SerialNumber[serialLength] = '\0';
  record->DeviceId = (uint32_t)vendor << 16 | product;
}
