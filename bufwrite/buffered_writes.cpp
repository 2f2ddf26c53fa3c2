#include "bufwrite/buffered_writes.h"

#include "devices/config_data.h"
#include "devices/device_keys.h"

bool ReadBufferedWrites(DeviceRecord* record) {
  SetInitialBufferedWrites(record);
  if (!GetOptionBit(record->ConfigData, BufferedWritesEnabled)) return true;
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return false;
  for (const BufferedWriteValue& value : BufferedWriteValues)
    QueryDeviceValue(key, value.Name, REG_DWORD, &(record->*value.Field), sizeof(uint32_t),
                     nullptr);
  RegCloseKey(key);
  return true;
}

bool ReadBufferedWriteValues(DeviceRecord* record) {
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return false;
  for (const BufferedWriteValue& value : BufferedWriteValues) {
    if (QueryDeviceValue(key, value.Name, REG_DWORD, &(record->*value.Field), sizeof(uint32_t),
                         nullptr) == ERROR_SUCCESS)
      record->KnownSettings |= value.Known;
    else
      record->KnownSettings &= ~value.Known;
  }
  RegCloseKey(key);
  return true;
}

void ApplyBufferedWritesCheck(DeviceRecord* record, LRESULT checkState) {
  bool on = checkState == BST_CHECKED;
  if (on == GetOptionBit(record->ConfigData, BufferedWritesEnabled)) return;
  SetOptionBit(record->ConfigData, BufferedWritesEnabled, on);
  record->KnownSettings |= KNOWN_CONFIG_DATA;
}

static LONG WriteValues(HKEY key, DeviceRecord* record,
                        const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                        bool rejected[BUFFERED_WRITE_VALUE_COUNT], const char** failed) {
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
    if (rc != ERROR_SUCCESS) {
      *failed = value.Name;
      return rc;
    }
  }
  return ERROR_SUCCESS;
}

static LONG DeleteValues(HKEY key, const char** failed) {
  for (int index : BufferedWriteStoreOrder) {
    LONG rc = RegDeleteValueA(key, BufferedWriteValues[index].Name);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      *failed = BufferedWriteValues[index].Name;
      return rc;
    }
  }
  return ERROR_SUCCESS;
}

bool SaveBufferedWrites(DeviceRecord* record, const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                        bool rejected[BUFFERED_WRITE_VALUE_COUNT], const Reporter* reporter) {
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) rejected[i] = false;
  const char* failed = "ConfigData";
  HKEY key;
  LONG rc = OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "ConfigData", 0, REG_BINARY, record->ConfigData, CONFIG_DATA_SIZE);
    // Without the switch written, the values are neither written nor deleted.
    if (rc == ERROR_SUCCESS) {
      // The registry holds the record's ConfigData now: it may be written back.
      record->KnownSettings |= KNOWN_CONFIG_DATA;
      if (GetOptionBit(record->ConfigData, BufferedWritesEnabled))
        rc = WriteValues(key, record, typed, rejected, &failed);
      else
        rc = DeleteValues(key, &failed);
    }
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS) return true;
  // The dialog closes on OK whatever the outcome: say so now, once.
  ReportDeviceWriteFailure(reporter, REPORT_WRITE_BUFFERED_WRITES, record, "buffered writes",
                           failed, DEVICE_PARAMETERS_KEY, (DWORD)rc);
  return false;
}
