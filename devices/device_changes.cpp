#include "devices/device_changes.h"

#include <stdio.h>
#include <string.h>

#include "devices/config_data.h"
#include "devices/device_keys.h"
#include "devices/settings_rules.h"
#include "devices/write_transaction.h"

static std::string FieldText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

static ValueChange ChangeOf(const DeviceRecord* device, DriverValueId value, ValueWriter writer,
                            int group) {
  ValueChange change;
  const DriverValue& definition = DriverValues[value];
  char path[DEVICE_KEY_PATH_SIZE];
  if (!FormatDeviceKeyPath(path, sizeof path, device, definition.Key)) path[0] = '\0';
  change.Port = FieldText(device->PortName, PORT_NAME_SIZE);
  change.Serial = FieldText(device->SerialNumber, SERIAL_NUMBER_SIZE);
  change.Key = path;
  change.Value = definition.Name;
  change.Writer = definition.Key == DEVICE_INSTANCE_KEY ? writer : THROUGH_REGISTRY;
  change.Device = *device;
  change.Group = group;
  return change;
}

void PlanDeviceValue(ChangeSet* set, const DeviceRecord* device, DriverValueId value,
                     const ValueImage& after, ValueWriter writer, int group) {
  ValueChange change = ChangeOf(device, value, writer, group);
  change.ReadError = ReadValueImage(change.Key.c_str(), change.Value.c_str(), &change.Before);
  change.After = after;
  set->Changes.push_back(change);
}

static bool NumberChanged(const DeviceRecord* read, const DeviceRecord* wanted,
                          DriverValueId value) {
  const DriverValue& definition = DriverValues[value];
  if (!(wanted->KnownSettings & definition.Known)) return false;
  if (!(read->KnownSettings & definition.Known)) return true;
  return memcmp(DriverValueField(read, value), DriverValueField(wanted, value), definition.Size);
}

static uint32_t NumberOf(const DeviceRecord* record, DriverValueId value) {
  uint32_t number;
  memcpy(&number, DriverValueField(record, value), sizeof number);
  return number;
}

// The driver's own ConfigData: no option bit, transfer sizes 63 (4096
// bytes), the standard aliases. A missing ConfigData is created from it.
static void DriverDefaultConfigData(unsigned char* configData) {
  memset(configData, 0, CONFIG_DATA_SIZE);
  configData[2] = configData[3] = 63;
  memcpy(configData + ALIAS_TABLE_OFFSET, DefaultAliasTable, ALIAS_TABLE_SIZE);
}

// The option bits and alias entries the user changed, put into what the
// registry holds now (or, where it holds nothing readable, into what was
// read; where it holds nothing, into the driver's defaults). A value
// shorter than 64 bytes keeps its length unless a byte beyond its end is
// itself changed; the bytes beyond that nobody changed take the defaults.
static ValueImage MergeConfigData(const DeviceRecord* read, const DeviceRecord* wanted,
                                  const ValueImage& current) {
  unsigned char merged[CONFIG_DATA_SIZE];
  size_t length = CONFIG_DATA_SIZE;
  if (!current.Present) {
    DriverDefaultConfigData(merged);
  } else if (current.Type == REG_BINARY && current.Data.size() <= CONFIG_DATA_SIZE) {
    DriverDefaultConfigData(merged);
    memcpy(merged, current.Data.data(), current.Data.size());
    length = current.Data.size();
  } else {
    memcpy(merged, read->ConfigData, CONFIG_DATA_SIZE);
  }
  unsigned char changed[CONFIG_DATA_SIZE] = {};
  uint32_t changedBits = GetConfigEntry(read->ConfigData, OPTIONS_ENTRY) ^
                         GetConfigEntry(wanted->ConfigData, OPTIONS_ENTRY);
  // The transfer sizes (bytes 2 and 3) are numbers: a changed one is taken
  // whole, never merged bit by bit into sizes nobody asked for.
  for (int byte : {TRANSFER_SIZE_IN_BYTE, TRANSFER_SIZE_OUT_BYTE})
    if (changedBits & (0xFFu << (8 * byte))) changedBits |= 0xFFu << (8 * byte);
  uint32_t options = (GetConfigEntry(merged, OPTIONS_ENTRY) & ~changedBits) |
                     (GetConfigEntry(wanted->ConfigData, OPTIONS_ENTRY) & changedBits);
  SetConfigEntry(merged, OPTIONS_ENTRY, options);
  SetConfigEntry(changed, OPTIONS_ENTRY, changedBits);
  for (int entry = FIRST_ALIAS_ENTRY; entry < CONFIG_ENTRY_COUNT; ++entry) {
    uint32_t alias = GetConfigEntry(wanted->ConfigData, entry);
    if (GetConfigEntry(read->ConfigData, entry) == alias) continue;
    SetConfigEntry(merged, entry, alias);
    SetConfigEntry(changed, entry, 0xFFFFFFFFu);
  }
  for (size_t i = length; i < CONFIG_DATA_SIZE; ++i)
    if (changed[i]) length = CONFIG_DATA_SIZE;
  return BinaryImage(merged, length);
}

void PlanDeviceChanges(ChangeSet* set, const DeviceRecord* read, const DeviceRecord* wanted,
                       ValueWriter instanceWriter, int group) {
  static const DriverValueId numbers[] = {
      VALUE_MIN_READ_TIMEOUT,  VALUE_MIN_WRITE_TIMEOUT,      VALUE_POLLING_PERIOD,
      VALUE_LATENCY_TIMER,     VALUE_WRITE_BUFFER_SIZE,      VALUE_WRITE_BUFFER_THRESHOLD,
      VALUE_WRITE_LATENCY,     VALUE_SS_IDLE_TIMEOUT};
  bool configChanged = (wanted->KnownSettings & KNOWN_CONFIG_DATA) &&
                       (!(read->KnownSettings & KNOWN_CONFIG_DATA) ||
                        memcmp(read->ConfigData, wanted->ConfigData, CONFIG_DATA_SIZE) != 0);
  bool filtersChanged = (wanted->KnownSettings & KNOWN_UPPER_FILTERS) &&
                        memcmp(read->UpperFilters, wanted->UpperFilters, UPPER_FILTERS_SIZE) != 0;
  bool anyNumber = false;
  for (DriverValueId value : numbers) anyNumber = anyNumber || NumberChanged(read, wanted, value);
  if (!configChanged && !filtersChanged && !anyNumber) return;  // nothing to read or write

  // The Device Parameters values are read through one open key. A key
  // that is there but cannot be opened leaves every value unread.
  HKEY parameters = nullptr;
  LONG opened = OpenDeviceKey(wanted, DEVICE_PARAMETERS_KEY, KEY_QUERY_VALUE, &parameters);
  if (opened != ERROR_SUCCESS) parameters = nullptr;
  if (opened == ERROR_FILE_NOT_FOUND) opened = ERROR_SUCCESS;
  auto plan = [&](DriverValueId value, const ValueImage& after) {
    ValueChange change = ChangeOf(wanted, value, instanceWriter, group);
    if (DriverValues[value].Key == DEVICE_PARAMETERS_KEY) {
      change.ReadError =
          parameters ? ReadValueImageFromKey(parameters, change.Value.c_str(), &change.Before)
                     : opened;
    } else {
      change.ReadError = ReadValueImage(change.Key.c_str(), change.Value.c_str(), &change.Before);
    }
    change.After = after;
    set->Changes.push_back(change);
    return &set->Changes.back();
  };
  // In the table's order: the four numbers, ConfigData, UpperFilters, the
  // buffered-write values.
  for (int index = 0; index <= VALUE_SS_IDLE_TIMEOUT; ++index) {
    DriverValueId value = (DriverValueId)index;
    if (value == VALUE_CONFIG_DATA) {
      if (!configChanged) continue;
      ValueChange* change = plan(value, ValueImage());
      change->After = MergeConfigData(read, wanted, change->Before);
    } else if (value == VALUE_UPPER_FILTERS) {
      if (!filtersChanged) continue;
      ValueImage serenum = BinaryImage(SerenumUpperFilters, UPPER_FILTERS_SIZE);
      serenum.Type = REG_MULTI_SZ;
      plan(value, IsSerialEnumeratorOn(wanted->UpperFilters) ? serenum : ValueImage());
    } else if (NumberChanged(read, wanted, value)) {
      plan(value, DwordImage(NumberOf(wanted, value)));
    }
  }
  if (parameters) RegCloseKey(parameters);
}

void PlanConfigDataChanges(ChangeSet* set, const DeviceRecord* record, const DeviceRecord* asRead,
                           int group) {
  // The record's other edits wait for Apply.
  DeviceRecord wanted = *asRead;
  memcpy(wanted.ConfigData, record->ConfigData, CONFIG_DATA_SIZE);
  wanted.KnownSettings |= KNOWN_CONFIG_DATA;
  PlanDeviceChanges(set, asRead, &wanted, THROUGH_REGISTRY, group);
}

bool WriteDeviceChanges(ChangeSet* set, DeviceRecord* record, DeviceRecord* asRead,
                        DeviceChangePlan plan, ReportOperation operation, const char* what,
                        const Reporter* reporter) {
  bool done =
      RunWrite(set->Command.c_str(), RELOAD_NONE, set, reporter,
               [&](ChangeSet* planned, const Reporter*) {
                 plan(planned, record, asRead);
                 return true;
               }) == WRITE_DONE;
  AdoptWrittenValues(*set, 0, asRead);
  AdoptWrittenValues(*set, 0, record);
  ReportFailedGroups(*set, operation, what, reporter);
  return done;
}

Report ChangeReport(ReportOperation operation, const char* text, UINT style,
                    const ValueChange& change, DWORD error) {
  Report report = MakeReport(operation, text, "ERROR", style);
  report.Port = change.Port.c_str();
  report.Serial = change.Serial.c_str();
  report.Value = change.Value.c_str();
  report.Key = change.Key.c_str();
  report.Error = error;
  return report;
}

DriverValueId DriverValueNamed(const std::string& name) {
  for (int value = 0; value < VALUE_NAME_COUNT; ++value)
    if (name == DriverValues[value].Name) return (DriverValueId)value;
  return VALUE_NAME_COUNT;
}

void AdoptWrittenChange(const ValueChange& change, DeviceRecord* record) {
  if (!change.Written || change.Kind != CHANGE_VALUE) return;
  DriverValueId value = DriverValueNamed(change.Value);
  if (value == VALUE_NAME_COUNT) return;
  unsigned char* field = DriverValueField(record, value);
  if (!field) return;
  const DriverValue& definition = DriverValues[value];
  memset(field, 0, definition.Size);
  size_t size = change.After.Data.size();
  if (value == VALUE_CONFIG_DATA)
    record->ConfigDataStored = size < CONFIG_DATA_SIZE && change.After.Present ? (uint32_t)size : 0;
  if (change.After.Present)
    memcpy(field, change.After.Data.data(), size < definition.Size ? size : definition.Size);
  record->KnownSettings |= definition.Known;
  if (value == VALUE_UPPER_FILTERS) record->KnownSettings |= READ_UPPER_FILTERS;
}

void AdoptWrittenValues(const ChangeSet& set, int group, DeviceRecord* record) {
  for (const ValueChange& change : set.Changes)
    if (change.Group == group) AdoptWrittenChange(change, record);
}

void ReportFailedGroups(const ChangeSet& set, ReportOperation operation, const char* what,
                        const Reporter* reporter, int silent) {
  // A failure ends its group: each group fails once at the most.
  for (const FailedChange& failed : set.Failed) {
    const ValueChange& change = set.Changes[failed.Index];
    if (change.Group == silent) continue;
    char text[160];
    if (!change.Port.empty())
      snprintf(text, sizeof text, "Cannot write the %s of %s (serial %s)", what,
               change.Port.c_str(), change.Serial.c_str());
    else
      snprintf(text, sizeof text, "Cannot write the %s of the device with serial %s", what,
               change.Serial.c_str());
    TellReporter(reporter, ChangeReport(operation, text, MB_OK, change, failed.Error));
  }
}
