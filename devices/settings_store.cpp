#include "devices/settings_store.h"

#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "devices/config_data.h"
#include "devices/device_keys.h"
#include "devices/settings_rules.h"

static const char* const IgnoreSerialValueNames[] = {
    "IgnoreHWSerNum04036001", "IgnoreHWSerNum04036010", "IgnoreHWSerNum04036011"};

// One value of the Device Parameters key: where it lives in the record, its
// bit in KnownSettings and the message shown when it cannot be read.
struct ParameterValue {
  const char* Name;
  size_t Offset;
  DWORD Size;
  DWORD Type;  // the type the driver keeps it as; another counts as unreadable
  uint32_t Known;
  const char* MissingMessage;
};

// Read order; the four numbers are written in this order too, ConfigData last.
static const ParameterValue ParameterValues[] = {
    {"ConfigData", offsetof(DeviceRecord, ConfigData), CONFIG_DATA_SIZE, REG_BINARY,
     KNOWN_CONFIG_DATA, "Config not found"},
    {"PortName", offsetof(DeviceRecord, PortName), PORT_NAME_SIZE, REG_SZ, KNOWN_PORT_NAME,
     "Port Name not found"},
    {"MinReadTimeout", offsetof(DeviceRecord, MinReadTimeout), 4, REG_DWORD, KNOWN_MIN_READ_TIMEOUT,
     "MinReadTime not found"},
    {"MinWriteTimeout", offsetof(DeviceRecord, MinWriteTimeout), 4, REG_DWORD,
     KNOWN_MIN_WRITE_TIMEOUT, "MinWriteTime not found"},
    {"PollingPeriod", offsetof(DeviceRecord, PollingPeriod), 4, REG_DWORD, KNOWN_POLLING_PERIOD,
     "PollingPEriod not found"},
    {"LatencyTimer", offsetof(DeviceRecord, LatencyTimer), 4, REG_DWORD, KNOWN_LATENCY_TIMER,
     "No Latency found"},
};

enum { PARAMETER_VALUE_COUNT = sizeof ParameterValues / sizeof ParameterValues[0] };

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
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_INSTANCE_KEY, KEY_READ, &key) != ERROR_SUCCESS) return;
  // Zero first: a shorter value (the 9-byte "serenum") fills the start only.
  memset(record->UpperFilters, 0, UPPER_FILTERS_SIZE);
  LONG rc = QueryDeviceValue(key, "UpperFilters", REG_MULTI_SZ, record->UpperFilters,
                             UPPER_FILTERS_SIZE, nullptr);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) memset(record->UpperFilters, 0, UPPER_FILTERS_SIZE);

  bool ours = rc == ERROR_FILE_NOT_FOUND ||
              (rc == ERROR_SUCCESS &&
               (IsEmptyFilterList(record->UpperFilters) || IsSerenumImage(record->UpperFilters)));
  if (ours)
    record->KnownSettings |= KNOWN_UPPER_FILTERS;
  else
    record->KnownSettings &= ~(uint32_t)KNOWN_UPPER_FILTERS;
  // Missing counts as read (no filter); a list too long or of another type
  // does not: the console shows it as missing.
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND)
    record->KnownSettings |= READ_UPPER_FILTERS;
  else
    record->KnownSettings &= ~(uint32_t)READ_UPPER_FILTERS;
}

static void ReportMissingValue(const Reporter* reporter, const DeviceRecord* record,
                               const ParameterValue& value, LONG error) {
  DeviceNames names;
  NameDevice(record, DEVICE_PARAMETERS_KEY, &names);
  Report report = MakeReport(REPORT_READ_SETTING, value.MissingMessage, "ERROR", MB_OK);
  report.Port = names.Port;
  report.Serial = names.Serial;
  report.Value = value.Name;
  report.Key = names.Key;
  report.Error = (DWORD)error;
  TellReporter(reporter, report);
}

static void ReadParameterValues(DeviceRecord* record, HKEY key, const Reporter* reporter,
                                uint32_t* unread) {
  for (int i = 0; i < PARAMETER_VALUE_COUNT; ++i) {
    const ParameterValue& value = ParameterValues[i];
    LONG rc =
        QueryDeviceValue(key, value.Name, value.Type, FieldOf(record, value), value.Size, nullptr);
    if (rc != ERROR_SUCCESS) {
      ReportMissingValue(reporter, record, value, rc);
      *unread |= 1u << i;
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

bool ReadDeviceRecordSettings(DeviceRecord* record, const Reporter* reporter, uint32_t* unread) {
  uint32_t none = 0;
  if (!unread) unread = &none;
  *unread = 0;
  ReadUpperFilters(record);
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS)
    return false;  // its values stay unknown and so are never written back
  ReadParameterValues(record, key, reporter, unread);
  RegCloseKey(key);
  return true;
}

void ReportUnreadValues(const DeviceRecord* record, uint32_t unread, const Reporter* reporter) {
  for (int i = 0; i < PARAMETER_VALUE_COUNT; ++i)
    if (unread & (1u << i))
      ReportMissingValue(reporter, record, ParameterValues[i], ERROR_FILE_NOT_FOUND);
}

void CopyDeviceSettings(const DeviceRecord* from, DeviceRecord* to) {
  for (const ParameterValue& value : ParameterValues)
    memcpy(FieldOf(to, value), reinterpret_cast<const unsigned char*>(from) + value.Offset,
           value.Size);
  memcpy(to->UpperFilters, from->UpperFilters, UPPER_FILTERS_SIZE);
  to->KnownSettings = from->KnownSettings;
}

bool ReadDevicePortName(DeviceRecord* record) {
  static const ParameterValue& portName = ParameterValues[1];
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return false;
  LONG rc = QueryDeviceValue(key, portName.Name, portName.Type, FieldOf(record, portName),
                             portName.Size, nullptr);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || memchr(record->PortName, 0, PORT_NAME_SIZE) == nullptr) {
    record->PortName[PORT_NAME_SIZE - 1] = 0;
    return false;
  }
  record->KnownSettings |= portName.Known;
  return true;
}

bool ReadDeviceSettings(DeviceInventory* inventory, const Reporter* reporter) {
  bool result = true;
  for (uint32_t i = 0; i < inventory->count; ++i) {
    DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;
    // The devices after one that fails are still read.
    if (!ReadDeviceRecordSettings(record, reporter)) result = false;
  }
  return result;
}

struct SettingsReadEntry {
  DeviceRecord Record;
  uint32_t Unread;
  bool Opened;  // its Device Parameters key opened
};

static int CompareEntries(const void* a, const void* b) {
  const DeviceRecord& x = static_cast<const SettingsReadEntry*>(a)->Record;
  const DeviceRecord& y = static_cast<const SettingsReadEntry*>(b)->Record;
  int bySerial = strncmp(x.SerialNumber, y.SerialNumber, SERIAL_NUMBER_SIZE);
  if (bySerial) return bySerial;
  return x.DeviceId < y.DeviceId ? -1 : x.DeviceId > y.DeviceId ? 1 : 0;
}

bool ReadDeviceSettingsKeeping(DeviceInventory* inventory, const Reporter* reporter,
                               SettingsCache* cache) {
  cache->Count = 0;
  cache->Entries = static_cast<SettingsReadEntry*>(
      calloc(inventory->count ? inventory->count : 1, sizeof(SettingsReadEntry)));
  bool result = true;
  for (uint32_t i = 0; i < inventory->count; ++i) {
    DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;
    uint32_t unread = 0;
    bool opened = ReadDeviceRecordSettings(record, reporter, &unread);
    if (!opened) result = false;
    if (cache->Entries) cache->Entries[cache->Count++] = {*record, unread, opened};
  }
  if (cache->Count > 1)
    qsort(cache->Entries, cache->Count, sizeof(SettingsReadEntry), CompareEntries);
  return result;
}

bool ReadDeviceSettingsCached(DeviceInventory* inventory, const SettingsCache* cache,
                              const Reporter* reporter) {
  bool result = true;
  for (uint32_t i = 0; i < inventory->count; ++i) {
    DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;
    SettingsReadEntry key;
    key.Record = *record;
    const SettingsReadEntry* earlier =
        cache->Count ? static_cast<const SettingsReadEntry*>(
                           bsearch(&key, cache->Entries, cache->Count, sizeof key, CompareEntries))
                     : nullptr;
    if (!earlier) {
      if (!ReadDeviceRecordSettings(record, reporter)) result = false;
      continue;
    }
    CopyDeviceSettings(&earlier->Record, record);
    ReportUnreadValues(record, earlier->Unread, reporter);
    if (!earlier->Opened) result = false;
  }
  return result;
}

void FreeSettingsCache(SettingsCache* cache) {
  free(cache->Entries);
  cache->Entries = nullptr;
  cache->Count = 0;
}

// Writes the Device Parameters values the record knows; values it does not
// know stay in the registry as they are. ERROR_SUCCESS when done (also when
// there was nothing to write); *failed names the value that was refused.
static LONG WriteParameterValues(const DeviceRecord* record, const char** failed) {
  static const int writeOrder[] = {2, 3, 4, 5, 0};  // four numbers, then ConfigData
  bool any = false;
  for (int index : writeOrder) any = any || (record->KnownSettings & ParameterValues[index].Known);
  if (!any) return ERROR_SUCCESS;

  HKEY key;
  LONG rc = OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) return rc;
  for (int index : writeOrder) {
    const ParameterValue& value = ParameterValues[index];
    if (!(record->KnownSettings & value.Known)) continue;
    DWORD type = index == 0 ? REG_BINARY : REG_DWORD;
    const BYTE* data = reinterpret_cast<const BYTE*>(record) + value.Offset;
    rc = RegSetValueExA(key, value.Name, 0, type, data, value.Size);
    if (rc != ERROR_SUCCESS) {
      *failed = value.Name;
      break;
    }
  }
  RegCloseKey(key);
  return rc;
}

static LONG WriteUpperFilters(const DeviceRecord* record) {
  bool known = (record->KnownSettings & KNOWN_UPPER_FILTERS) != 0;
  bool on = IsSerialEnumeratorOn(record->UpperFilters);
  // Ticking the box puts the exact image in the field; a foreign list that
  // merely starts with "serenum" and was never touched stays as it is.
  if (on && !known && !IsSerenumImage(record->UpperFilters)) return ERROR_SUCCESS;
  if (!on && !known) return ERROR_SUCCESS;

  HKEY key;
  LONG rc = OpenDeviceKey(record, DEVICE_INSTANCE_KEY, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) return rc;
  if (on) {
    rc = RegSetValueExA(key, "UpperFilters", 0, REG_MULTI_SZ, SerenumUpperFilters,
                        UPPER_FILTERS_SIZE);
  } else {
    rc = RegDeleteValueA(key, "UpperFilters");
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return rc;
}

bool WriteDeviceRecordSettings(const DeviceRecord* record, const Reporter* reporter) {
  const char* failed = "";
  DeviceKeyKind where = DEVICE_PARAMETERS_KEY;
  LONG rc = WriteParameterValues(record, &failed);
  if (rc == ERROR_SUCCESS) {
    where = DEVICE_INSTANCE_KEY;
    failed = "UpperFilters";
    rc = WriteUpperFilters(record);
  }
  if (rc == ERROR_SUCCESS) return true;
  ReportDeviceWriteFailure(reporter, REPORT_WRITE_SETTINGS, record, "settings", failed, where,
                           (DWORD)rc);
  return false;
}

bool WriteDeviceSettings(const DeviceInventory* inventory, const Reporter* reporter) {
  bool result = true;
  for (uint32_t i = 0; i < inventory->count; ++i) {
    const DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;  // no registry keys behind it
    if (!WriteDeviceRecordSettings(record, reporter)) result = false;
  }
  return result;
}

bool ReadIgnoreSerialSetting(bool* checked) {
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
    *checked = found;
    RegCloseKey(key);
  }
  return *checked;
}

bool ApplyIgnoreSerialSetting(bool checked) {
  return checked ? SetIgnoreSerialValues() : DeleteIgnoreSerialValues();
}

bool SetIgnoreSerialValues() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return false;
  static const BYTE on = 0x01;
  bool result = true;
  for (const char* name : IgnoreSerialValueNames) {
    if (RegSetValueExA(key, name, 0, REG_BINARY, &on, 1) != ERROR_SUCCESS) {
      result = false;
      break;
    }
  }
  RegCloseKey(key);
  return result;
}

bool DeleteIgnoreSerialValues() {
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return true;  // no key, no values
  if (rc != ERROR_SUCCESS) return false;
  bool result = true;
  for (const char* name : IgnoreSerialValueNames) {
    rc = RegDeleteValueA(key, name);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = false;
  }
  RegCloseKey(key);
  return result;
}
