#include "baud/alias_registry.h"

#include <windows.h>
#include <stdio.h>

#include "devices/registry_paths.h"
#include "platform/ui.h"

int WriteConfigData(const DeviceRecord* record) {
  char path[1024];
  HKEY key;
  LONG rc = ERROR_BAD_PATHNAME;
  if (FormatDeviceKeyPath(path, sizeof path, record, DEVICE_PARAMETERS_KEY))
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "ConfigData", 0, REG_BINARY, record->ConfigData, CONFIG_DATA_SIZE);
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS) return 1;

  // The dialog that called us closes whatever the outcome: say so now.
  char text[160];
  if (record->PortName[0])
    snprintf(text, sizeof text, "Cannot write the ConfigData of %.*s (serial %.*s)",
             (int)PORT_NAME_SIZE, record->PortName, (int)SERIAL_NUMBER_SIZE, record->SerialNumber);
  else
    snprintf(text, sizeof text, "Cannot write the ConfigData of the device with serial %.*s",
             (int)SERIAL_NUMBER_SIZE, record->SerialNumber);
  MessageBoxAtCursor(MainWindow, text, "ERROR", MB_OK);
  return 0;
}
