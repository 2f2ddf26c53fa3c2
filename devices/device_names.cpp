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

int ComNumberOfName(const char* name) {
  if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return 0;
  if (name[3] < '1' || name[3] > '9') return 0;
  int number = 0;
  for (const char* digit = name + 3; *digit; ++digit) {
    if (*digit < '0' || *digit > '9') return 0;
    number = number * 10 + (*digit - '0');
    if (number > COM_NUMBER_MAX) return 0;
  }
  return number;
}

std::string RenamedFriendlyName(const std::string& friendlyName, int number) {
  std::string name = "(COM" + std::to_string(number) + ")";
  size_t open = friendlyName.rfind("(COM");
  if (open != std::string::npos && friendlyName.back() == ')') {
    std::string inside = friendlyName.substr(open + 1, friendlyName.size() - open - 2);
    if (ComNumberOfName(inside.c_str())) return friendlyName.substr(0, open) + name;
  }
  return "USB Serial Port " + name;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
