#include "bufwrite/buffered_writes.h"

#include <stdio.h>

#include "devices/config_data.h"
#include "devices/registry_paths.h"
#include "platform/ui.h"

static LONG OpenDeviceParameters(const DeviceRecord* record, REGSAM access, HKEY* key) {
  char path[1024];
  if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_PARAMETERS_KEY))
    return ERROR_BAD_PATHNAME;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

int ReadBufferedWrites(DeviceRecord* record) {
  SetInitialBufferedWrites(record);
  if (!GetOptionBit(record->ConfigData, BufferedWritesEnabled)) return 1;
  HKEY key;
  if (OpenDeviceParameters(record, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  for (const BufferedWriteValue& value : BufferedWriteValues) {
    DWORD number = 0, size = sizeof number, type = REG_NONE;
    // Through a local: a shorter value of another type must not fill half a field.
    if (RegQueryValueExA(key, value.Name, nullptr, &type, reinterpret_cast<BYTE*>(&number),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof number)
      record->*value.Field = number;
  }
  RegCloseKey(key);
  return 1;
}

void ApplyBufferedWritesCheck(DeviceRecord* record, LRESULT checkState) {
  bool on = checkState == BST_CHECKED;
  if (on == GetOptionBit(record->ConfigData, BufferedWritesEnabled)) return;
  SetOptionBit(record->ConfigData, BufferedWritesEnabled, on);
  record->KnownSettings |= KNOWN_CONFIG_DATA;
}

static LONG WriteValues(HKEY key, DeviceRecord* record,
                        const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                        bool rejected[BUFFERED_WRITE_VALUE_COUNT]) {
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) {
    const BufferedWriteValue& value = BufferedWriteValues[i];
    uint32_t number;
    rejected[i] = !ParseBufferedWriteText(typed[i], value, &number);
    if (!rejected[i]) record->*value.Field = number;
  }
  for (int index : BufferedWriteStoreOrder) {
    const BufferedWriteValue& value = BufferedWriteValues[index];
    DWORD number = record->*value.Field;
    LONG rc = RegSetValueExA(key, value.Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number);
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

static LONG DeleteValues(HKEY key) {
  for (int index : BufferedWriteStoreOrder) {
    LONG rc = RegDeleteValueA(key, BufferedWriteValues[index].Name);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  return ERROR_SUCCESS;
}

// The dialog closes on OK whatever the outcome: say so now, once.
static void ReportSaveFailure(const DeviceRecord* record) {
  char text[160];
  if (record->PortName[0])
    snprintf(text, sizeof text, "Cannot write the buffered writes of %.*s (serial %.*s)",
             (int)PORT_NAME_SIZE, record->PortName, (int)SERIAL_NUMBER_SIZE, record->SerialNumber);
  else
    snprintf(text, sizeof text, "Cannot write the buffered writes of the device with serial %.*s",
             (int)SERIAL_NUMBER_SIZE, record->SerialNumber);
  MessageBoxAtCursor(MainWindow, text, "ERROR", MB_OK);
}

int SaveBufferedWrites(DeviceRecord* record, const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                       bool rejected[BUFFERED_WRITE_VALUE_COUNT]) {
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) rejected[i] = false;
  HKEY key;
  LONG rc = OpenDeviceParameters(record, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "ConfigData", 0, REG_BINARY, record->ConfigData, CONFIG_DATA_SIZE);
    // Without the switch written, the values are neither written nor deleted.
    if (rc == ERROR_SUCCESS) {
      // The registry holds the record's ConfigData now: it may be written back.
      record->KnownSettings |= KNOWN_CONFIG_DATA;
      if (GetOptionBit(record->ConfigData, BufferedWritesEnabled))
        rc = WriteValues(key, record, typed, rejected);
      else
        rc = DeleteValues(key);
    }
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS) return 1;
  ReportSaveFailure(record);
  return 0;
}
