#include "devices/registry_paths.h"

#include <stdio.h>

const char FtdibusKeyPath[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
const char UsbFlagsKeyPath[] = "SYSTEM\\CurrentControlSet\\Control\\UsbFlags";
const char ComNameArbiterKeyPath[] = "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";

bool FormatDeviceKeyPath(char* out, size_t size, const DeviceRecord* record, DeviceKeyKind which) {
  // SerialNumber is NUL-terminated within its field; %.*s keeps that true
  // even for a record filled by hand.
  int n = snprintf(out, size, "%s\\VID_%04x+PID_%04x+%.*s\\0000%s", FtdibusKeyPath,
                   (unsigned)(record->DeviceId >> 16), (unsigned)(record->DeviceId & 0xFFFF),
                   (int)(SERIAL_NUMBER_SIZE - 1), record->SerialNumber,
                   which == DEVICE_PARAMETERS_KEY ? "\\Device Parameters" : "");
  return n >= 0 && (size_t)n < size;
}
