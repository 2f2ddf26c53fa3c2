#include "baud/alias_registry.h"

#include "devices/device_keys.h"

bool WriteConfigData(const DeviceRecord* record, const Reporter* reporter) {
  HKEY key;
  LONG rc = OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "ConfigData", 0, REG_BINARY, record->ConfigData, CONFIG_DATA_SIZE);
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS) return true;
  // The dialog that called us closes whatever the outcome: say so now.
  ReportDeviceWriteFailure(reporter, REPORT_WRITE_CONFIG_DATA, record, "ConfigData", "ConfigData",
                           DEVICE_PARAMETERS_KEY, (DWORD)rc);
  return false;
}
