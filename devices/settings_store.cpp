#include "devices/settings_store.h"

#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "baud/alias.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"
#include "devices/settings_rules.h"
#include "platform/ui.h"

bool IgnoreSerialChecked = false;

static const char* const IgnoreSerialValueNames[] = {
    "IgnoreHWSerNum04036001", "IgnoreHWSerNum04036010", "IgnoreHWSerNum04036011"};

// One value of the Device Parameters key: where it lives in the record, its
// bit in KnownSettings and the message shown when it cannot be read.
struct ParameterValue {
  const char* Name;
  size_t Offset;
  DWORD Size;
  uint32_t Known;
  const char* MissingMessage;
};

// Read order; the four numbers are written in this order too, ConfigData last.
static const ParameterValue ParameterValues[] = {
    {"ConfigData", offsetof(DeviceRecord, ConfigData), CONFIG_DATA_SIZE, KNOWN_CONFIG_DATA,
     "Config not found"},
    {"PortName", offsetof(DeviceRecord, PortName), PORT_NAME_SIZE, KNOWN_PORT_NAME,
     "Port Name not found"},
    {"MinReadTimeout", offsetof(DeviceRecord, MinReadTimeout), 4, KNOWN_MIN_READ_TIMEOUT,
     "MinReadTime not found"},
    {"MinWriteTimeout", offsetof(DeviceRecord, MinWriteTimeout), 4, KNOWN_MIN_WRITE_TIMEOUT,
     "MinWriteTime not found"},
    {"PollingPeriod", offsetof(DeviceRecord, PollingPeriod), 4, KNOWN_POLLING_PERIOD,
     "PollingPEriod not found"},
    {"LatencyTimer", offsetof(DeviceRecord, LatencyTimer), 4, KNOWN_LATENCY_TIMER,
     "No Latency found"},
};

static unsigned char* FieldOf(DeviceRecord* record, const ParameterValue& value) {
  return reinterpret_cast<unsigned char*>(record) + value.Offset;
}

// True when the 16 bytes are exactly the program's own "serenum" image: the
// first string "serenum" and nothing after it.
static bool IsSerenumImage(const unsigned char* upperFilters) {
  return memcmp(upperFilters, SerenumUpperFilters, UPPER_FILTERS_SIZE) == 0;
}

static bool IsEmptyFilterList(const unsigned char* upperFilters) {
  for (int i = 0; i < UPPER_FILTERS_SIZE; ++i)
    if (upperFilters[i]) return false;
  return true;
}

// UpperFilters of the device instance key. Only "serenum" alone or nothing is
// ours to rewrite later; another filter driver's registration (or a list
// with one after "serenum") is left alone.
static void ReadUpperFilters(DeviceRecord* record) {
  char path[256];
  if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_INSTANCE_KEY)) return;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  // Zero first: a shorter value (the 9-byte "serenum") fills the start only.
  memset(record->UpperFilters, 0, UPPER_FILTERS_SIZE);
  DWORD size = UPPER_FILTERS_SIZE;
  LONG rc = RegQueryValueExA(key, "UpperFilters", nullptr, nullptr, record->UpperFilters, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) memset(record->UpperFilters, 0, UPPER_FILTERS_SIZE);

  bool ours = rc == ERROR_FILE_NOT_FOUND ||
              (rc == ERROR_SUCCESS && (IsEmptyFilterList(record->UpperFilters) ||
                                       IsSerenumImage(record->UpperFilters)));
  if (ours)
    record->KnownSettings |= KNOWN_UPPER_FILTERS;
  else
    record->KnownSettings &= ~(uint32_t)KNOWN_UPPER_FILTERS;
}

static void ReadParameterValues(DeviceRecord* record, HKEY key) {
  for (const ParameterValue& value : ParameterValues) {
    DWORD size = value.Size;
    if (RegQueryValueExA(key, value.Name, nullptr, nullptr, FieldOf(record, value), &size) !=
        ERROR_SUCCESS) {
      MessageBoxAtCursor(MainWindow, value.MissingMessage, "ERROR", MB_OK);
      continue;
    }
    record->KnownSettings |= value.Known;
  }
  // An unreadable ConfigData stays unwritten until the user changes it. If he
  // does (an option box, buffered writes, the alias dialog), the aliases
  // written with it are the driver's standard ones, not zeros, which would
  // send every standard rate to 3,000,000 baud.
  if (!(record->KnownSettings & KNOWN_CONFIG_DATA))
    memcpy(record->ConfigData + 4, DefaultAliasTable, ALIAS_TABLE_SIZE);
  // A name that fills all 16 bytes has no terminator: cut it, and do not
  // count the cut name as the one the registry holds.
  if (memchr(record->PortName, 0, PORT_NAME_SIZE) == nullptr) {
    record->PortName[PORT_NAME_SIZE - 1] = 0;
    record->KnownSettings &= ~(uint32_t)KNOWN_PORT_NAME;
  }
}

int ReadDeviceSettings() {
  int result = 1;
  for (uint32_t i = 0; i < Inventory.count; ++i) {
    DeviceRecord* record = &Inventory.Records[i];
    if (record->DeviceId == 0) continue;
    ReadUpperFilters(record);

    char path[256];
    HKEY key;
    if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_PARAMETERS_KEY) ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      // Its values stay unknown and so are never written back; the devices
      // after it are still read.
      result = 0;
      continue;
    }
    ReadParameterValues(record, key);
    RegCloseKey(key);
  }
  return result;
}

static void ReportWriteFailure(const DeviceRecord* record) {
  char text[160];
  if (record->PortName[0])
    snprintf(text, sizeof text, "Cannot write the settings of %.*s (serial %.*s)",
             (int)PORT_NAME_SIZE, record->PortName, (int)SERIAL_NUMBER_SIZE, record->SerialNumber);
  else
    snprintf(text, sizeof text, "Cannot write the settings of the device with serial %.*s",
             (int)SERIAL_NUMBER_SIZE, record->SerialNumber);
  MessageBoxAtCursor(MainWindow, text, "ERROR", MB_OK);
}

// Writes the Device Parameters values the record knows; values it does not
// know stay in the registry as they are. 1 when done (also when nothing).
static int WriteParameterValues(DeviceRecord* record) {
  static const int writeOrder[] = {2, 3, 4, 5, 0};  // four numbers, then ConfigData
  bool any = false;
  for (int index : writeOrder) any = any || (record->KnownSettings & ParameterValues[index].Known);
  if (!any) return 1;

  char path[1024];
  HKEY key;
  if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_PARAMETERS_KEY) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  int result = 1;
  for (int index : writeOrder) {
    const ParameterValue& value = ParameterValues[index];
    if (!(record->KnownSettings & value.Known)) continue;
    DWORD type = index == 0 ? REG_BINARY : REG_DWORD;
    if (RegSetValueExA(key, value.Name, 0, type, FieldOf(record, value), value.Size) !=
        ERROR_SUCCESS) {
      result = 0;
      break;
    }
  }
  RegCloseKey(key);
  return result;
}

static int WriteUpperFilters(const DeviceRecord* record) {
  bool known = (record->KnownSettings & KNOWN_UPPER_FILTERS) != 0;
  bool on = IsSerialEnumeratorOn(record->UpperFilters);
  // Ticking the box puts the exact image in the field; a foreign list that
  // merely starts with "serenum" and was never touched stays as it is.
  if (on && !known && !IsSerenumImage(record->UpperFilters)) return 1;
  if (!on && !known) return 1;

  char path[1024];
  HKEY key;
  if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_INSTANCE_KEY) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  LONG rc;
  if (on) {
    rc = RegSetValueExA(key, "UpperFilters", 0, REG_MULTI_SZ, SerenumUpperFilters,
                        UPPER_FILTERS_SIZE);
  } else {
    rc = RegDeleteValueA(key, "UpperFilters");
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

int WriteDeviceSettings() {
  int result = 1;
  for (uint32_t i = 0; i < Inventory.count; ++i) {
    DeviceRecord* record = &Inventory.Records[i];
    if (record->DeviceId == 0) continue;  // no registry keys behind it
    if (!WriteParameterValues(record) || !WriteUpperFilters(record)) {
      ReportWriteFailure(record);
      result = 0;
    }
  }
  return result;
}

bool ReadIgnoreSerialSetting() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    bool found = false;
    for (const char* name : IgnoreSerialValueNames) {
      unsigned char data[64];
      DWORD size = sizeof data;
      LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, data, &size);
      // Present is what counts, whatever its data: a long value is present too.
      if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        found = true;
        break;
      }
    }
    IgnoreSerialChecked = found;
    RegCloseKey(key);
  }
  return IgnoreSerialChecked;
}

int ApplyIgnoreSerialSetting(bool checked) {
  return checked ? SetIgnoreSerialValues() : DeleteIgnoreSerialValues();
}

int SetIgnoreSerialValues() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  static const BYTE on = 0x01;
  int result = 1;
  for (const char* name : IgnoreSerialValueNames) {
    if (RegSetValueExA(key, name, 0, REG_BINARY, &on, 1) != ERROR_SUCCESS) {
      result = 0;
      break;
    }
  }
  RegCloseKey(key);
  return result;
}

int DeleteIgnoreSerialValues() {
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return 1;  // no key, no values
  if (rc != ERROR_SUCCESS) return 0;
  int result = 1;
  for (const char* name : IgnoreSerialValueNames) {
    rc = RegDeleteValueA(key, name);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = 0;
  }
  RegCloseKey(key);
  return result;
}
