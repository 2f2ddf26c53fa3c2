#include "devices/settings_store.h"

#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "devices/config_data.h"
#include "devices/device_changes.h"
#include "devices/driver_values.h"
#include "platform/writer_lock.h"
#include "devices/device_keys.h"
#include "devices/settings_rules.h"

static const char* const IgnoreSerialValueNames[] = {
    "IgnoreHWSerNum04036001", "IgnoreHWSerNum04036010", "IgnoreHWSerNum04036011"};

// The message shown for each value of the settings read that cannot be read.
static const char* const MissingMessages[SETTINGS_READ_COUNT] = {
    "Config not found",        "Port Name not found",     "MinReadTime not found",
    "MinWriteTime not found",  "PollingPEriod not found", "No Latency found"};

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

static void ReportMissingValue(const Reporter* reporter, const DeviceRecord* record, int order,
                               LONG error) {
  DeviceNames names;
  NameDevice(record, DEVICE_PARAMETERS_KEY, &names);
  Report report = MakeReport(REPORT_READ_SETTING, MissingMessages[order], "ERROR", MB_OK);
  report.Port = names.Port;
  report.Serial = names.Serial;
  report.Value = DriverValues[SettingsReadOrder[order]].Name;
  report.Key = names.Key;
  report.Error = (DWORD)error;
  TellReporter(reporter, report);
}

static void ReadParameterValues(DeviceRecord* record, HKEY key, const Reporter* reporter,
                                uint32_t* unread) {
  record->ConfigDataStored = 0;
  for (int i = 0; i < SETTINGS_READ_COUNT; ++i) {
    const DriverValue& value = DriverValues[SettingsReadOrder[i]];
    DWORD length = 0;
    LONG rc = QueryDeviceValue(key, value.Name, value.Type,
                               DriverValueField(record, SettingsReadOrder[i]), value.Size, &length);
    if (rc == ERROR_SUCCESS && SettingsReadOrder[i] == VALUE_CONFIG_DATA && length < CONFIG_DATA_SIZE) {
      // Beyond a short value's end nothing is stored: no old bytes stay.
      record->ConfigDataStored = length;
      memset(record->ConfigData + length, 0, CONFIG_DATA_SIZE - length);
    }
    if (rc != ERROR_SUCCESS) {
      ReportMissingValue(reporter, record, i, rc);
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
    memcpy(record->ConfigData + ALIAS_TABLE_OFFSET, DefaultAliasTable, ALIAS_TABLE_SIZE);
  // A name that fills all 16 bytes has no terminator: cut it, and do not
  // count the cut name as the one the registry holds.
  if (memchr(record->PortName, 0, PORT_NAME_SIZE) == nullptr) {
    record->PortName[PORT_NAME_SIZE - 1] = 0;
    record->KnownSettings &= ~(uint32_t)KNOWN_PORT_NAME;
  }
}

// The three buffered-write values: each one that is a 4-byte REG_DWORD is
// taken and known, any other stays unknown.
static void ReadBufferedWriteValuesFrom(HKEY key, DeviceRecord* record) {
  for (DriverValueId value : {VALUE_WRITE_BUFFER_SIZE, VALUE_WRITE_BUFFER_THRESHOLD,
                             VALUE_WRITE_LATENCY, VALUE_SS_IDLE_TIMEOUT}) {
    const DriverValue& definition = DriverValues[value];
    if (QueryDeviceValue(key, definition.Name, REG_DWORD, DriverValueField(record, value),
                         definition.Size, nullptr) == ERROR_SUCCESS)
      record->KnownSettings |= definition.Known;
    else
      record->KnownSettings &= ~definition.Known;
  }
}

bool ReadDeviceRecordSettings(DeviceRecord* record, const Reporter* reporter, uint32_t* unread,
                              bool bufferedWrites) {
  uint32_t none = 0;
  if (!unread) unread = &none;
  *unread = 0;
  ReadUpperFilters(record);
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS)
    return false;  // its values stay unknown and so are never written back
  ReadParameterValues(record, key, reporter, unread);
  if (bufferedWrites) ReadBufferedWriteValuesFrom(key, record);
  RegCloseKey(key);
  return true;
}

bool ReadBufferedWriteSettings(DeviceRecord* record) {
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ReadBufferedWriteValuesFrom(key, record);
  RegCloseKey(key);
  return true;
}

void ReportUnreadValues(const DeviceRecord* record, uint32_t unread, const Reporter* reporter) {
  for (int i = 0; i < SETTINGS_READ_COUNT; ++i)
    if (unread & (1u << i)) ReportMissingValue(reporter, record, i, ERROR_FILE_NOT_FOUND);
}

void CopyDeviceSettings(const DeviceRecord* from, DeviceRecord* to) {
  for (DriverValueId value : SettingsReadOrder)
    memcpy(DriverValueField(to, value), DriverValueField(from, value), DriverValues[value].Size);
  memcpy(to->UpperFilters, from->UpperFilters, UPPER_FILTERS_SIZE);
  to->KnownSettings = from->KnownSettings;
  to->ConfigDataStored = from->ConfigDataStored;
}

bool ReadDevicePortName(DeviceRecord* record) {
  const DriverValue& portName = DriverValues[VALUE_PORT_NAME];
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return false;
  LONG rc = QueryDeviceValue(key, portName.Name, portName.Type,
                             DriverValueField(record, VALUE_PORT_NAME), portName.Size, nullptr);
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
  KeepSettingsAsRead(inventory);
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
  KeepSettingsAsRead(inventory);
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
  KeepSettingsAsRead(inventory);
  return result;
}

void FreeSettingsCache(SettingsCache* cache) {
  free(cache->Entries);
  cache->Entries = nullptr;
  cache->Count = 0;
}

// Plans every record's changes and the machine-wide option's.
static void PlanChangedSettings(ChangeSet* set, const DeviceInventory* inventory,
                                const SettingsWrite& write) {
  for (uint32_t i = 0; write.Devices && i < inventory->count; ++i) {
    const DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;  // no registry keys behind it
    // Without the records as read (memory ran out at the read), what the
    // registry holds now stands for them: what differs is written.
    DeviceRecord registry;
    const DeviceRecord* asRead = inventory->AsRead ? &inventory->AsRead[i] : &registry;
    if (!inventory->AsRead) {
      registry = *record;
      registry.KnownSettings = 0;
      ReadDeviceRecordSettings(&registry, nullptr);
    }
    PlanDeviceChanges(set, asRead, record, write.InstanceWriter, (int)i);
  }
  if (write.IgnoreSerial != IGNORE_SERIAL_UNCHANGED)
    PlanIgnoreSerial(set, write.IgnoreSerial == IGNORE_SERIAL_ON, IGNORE_SERIAL_GROUP);
}

WriteOutcome WriteChangedSettings(DeviceInventory* inventory, const SettingsWrite& write,
                                  ChangeSet* set, const Reporter* reporter) {
  WriteOutcome outcome = RunWrite(write.Command, write.Reload, set, reporter,
                                  [&](ChangeSet* planned, const Reporter*) {
                                    PlanChangedSettings(planned, inventory, write);
                                    return true;
                                  });
  // Each change's group is its record's index.
  for (const ValueChange& change : set->Changes)
    if (inventory->AsRead && change.Group >= 0 && (uint32_t)change.Group < inventory->count)
      AdoptWrittenChange(change, &inventory->AsRead[change.Group]);
  // The devices' failures, once each; the machine-wide option's are not shown.
  ReportFailedGroups(*set, REPORT_WRITE_SETTINGS, "settings", reporter, IGNORE_SERIAL_GROUP);
  return outcome;
}

bool WriteDeviceSettings(DeviceInventory* inventory, const Reporter* reporter) {
  SettingsWrite write = {"Apply", THROUGH_REGISTRY, IGNORE_SERIAL_UNCHANGED, RELOAD_NONE, true};
  ChangeSet set;
  return WriteChangedSettings(inventory, write, &set, reporter) == WRITE_DONE;
}

void KeepSettingsAsRead(DeviceInventory* inventory) {
  free(inventory->AsRead);
  inventory->AsRead = nullptr;
  if (inventory->count == 0) return;
  inventory->AsRead = static_cast<DeviceRecord*>(malloc(inventory->count * sizeof(DeviceRecord)));
  if (inventory->AsRead)
    memcpy(inventory->AsRead, inventory->Records, inventory->count * sizeof(DeviceRecord));
}

void PlanIgnoreSerial(ChangeSet* set, bool on, int group) {
  static const unsigned char ignore = 0x01;
  for (const char* name : IgnoreSerialValueNames) {
    ValueChange change;
    change.Key = UsbFlagsKeyPath;
    change.Value = name;
    change.Group = group;
    change.ReadError = ReadValueImage(change.Key.c_str(), name, &change.Before);
    if (on) change.After = BinaryImage(&ignore, 1);
    set->Changes.push_back(change);
  }
}

DWORD WriteIgnoreSerial(bool on, const char* command, const Reporter* reporter) {
  ChangeSet set;
  RunWrite(command, RELOAD_NONE, &set, reporter, [&](ChangeSet* planned, const Reporter*) {
    PlanIgnoreSerial(planned, on, IGNORE_SERIAL_GROUP);
    return true;
  });
  if (set.Busy) return WAIT_TIMEOUT;
  if (set.Withheld) return ERROR_CANCELLED;
  return set.Failed.empty() ? ERROR_SUCCESS : set.Failed[0].Error;
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

