#include "cli/port_changes.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "devices/device_keys.h"
#include "devices/ports.h"
#include "devices/settings_rules.h"

Json JsonValue(const SettingSpec& definition, const SettingValue& value) {
  if (!value.Known) return nullptr;
  switch (definition.Kind) {
    case SETTING_NUMBER:
      return value.Number;
    case SETTING_OPTION:
    case SETTING_SERIAL_ENUMERATOR:
      return value.Number != 0;
    case SETTING_ALIAS_TABLE:
      return FormatSettingValue(definition, value);
    case SETTING_ALIAS_ENTRY: {
      double rate = GeneratedRateOfEntry(value.Number);
      if (rate == (double)(uint64_t)rate) return (uint64_t)rate;
      return rate;
    }
  }
  return nullptr;
}

std::string ShownName(const DeviceRecord& record) {
  std::string port = PortNameOf(record);
  return port.empty() ? SerialOf(record) : port;
}

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::vector<Change> Differences(const DeviceRecord& before, const DeviceRecord& after) {
  std::vector<Change> changes;
  for (const SettingSpec& definition : Settings) {
    SettingValue from = CurrentValue(definition, before);
    SettingValue to = CurrentValue(definition, after);
    if (!SameValue(from, to)) changes.push_back({&definition, from, to});
  }
  return changes;
}

// Writes one registry value of the record. ERROR_SUCCESS or the error.
static LONG WriteValue(HKEY parameters, DeviceSet* devices, const DeviceRecord& record,
                       SettingValueName name) {
  const char* valueName = SettingValueNames[name];
  switch (name) {
    case VALUE_CONFIG_DATA:
      return RegSetValueExA(parameters, valueName, 0, REG_BINARY, record.ConfigData,
                            CONFIG_DATA_SIZE);
    case VALUE_UPPER_FILTERS:
      return IsSerialEnumeratorOn(record.UpperFilters)
                 ? SetDeviceUpperFilters(devices, &record, SerenumUpperFilters, UPPER_FILTERS_SIZE)
                 : SetDeviceUpperFilters(devices, &record, nullptr, 0);
    default:
      for (const SettingSpec& definition : Settings)
        if (definition.Kind == SETTING_NUMBER && definition.Value == name) {
          DWORD number = record.*definition.Field;
          return RegSetValueExA(parameters, valueName, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof number);
        }
      return ERROR_INVALID_PARAMETER;
  }
}

DeviceSet* DeviceSetHolder::Get() {
  if (!Tried) {
    Tried = true;
    OpenDeviceSet(&Set, &Error);
  }
  return Set.Handle ? &Set : nullptr;
}

DeviceSetHolder::~DeviceSetHolder() { CloseDeviceSet(&Set); }

// The record's fields behind one registry value, taken from another record.
static void CopyValue(const DeviceRecord& from, SettingValueName name, DeviceRecord* to) {
  const uint32_t filterBits = KNOWN_UPPER_FILTERS | READ_UPPER_FILTERS;
  switch (name) {
    case VALUE_CONFIG_DATA:
      memcpy(to->ConfigData, from.ConfigData, CONFIG_DATA_SIZE);
      to->KnownSettings |= KNOWN_CONFIG_DATA;
      return;
    case VALUE_UPPER_FILTERS:
      memcpy(to->UpperFilters, from.UpperFilters, UPPER_FILTERS_SIZE);
      to->KnownSettings = (to->KnownSettings & ~filterBits) | (from.KnownSettings & filterBits);
      return;
    default:
      for (const SettingSpec& definition : Settings)
        if (definition.Kind == SETTING_NUMBER && definition.Value == name) {
          to->*definition.Field = from.*definition.Field;
          to->KnownSettings |= definition.Known;
        }
      return;
  }
}

void ApplyChanges(DeviceRecord* record, const DeviceRecord& desired, DeviceSetHolder* devices,
                  Outcome* outcome, Json* port, const std::vector<const SettingSpec*>* named) {
  std::vector<Change> changes = Differences(*record, desired);
  if (named) {
    std::vector<Change> asked;
    for (const Change& change : changes)
      if (std::find(named->begin(), named->end(), change.Definition) != named->end())
        asked.push_back(change);
    changes.swap(asked);
  }
  bool touched[VALUE_NAME_COUNT] = {};
  for (const Change& change : changes) touched[change.Definition->Value] = true;

  bool failed[VALUE_NAME_COUNT] = {};
  if (!outcome->CheckOnly && !changes.empty()) {
    char path[DEVICE_KEY_PATH_SIZE];
    FormatDeviceKeyPath(path, sizeof path, &desired, DEVICE_PARAMETERS_KEY);
    HKEY parameters = nullptr;
    LONG opened = OpenDeviceKey(&desired, DEVICE_PARAMETERS_KEY, KEY_SET_VALUE, &parameters);
    for (int name = 0; name < VALUE_NAME_COUNT; ++name) {
      if (!touched[name]) continue;
      LONG rc;
      std::string key = path;
      if (name == VALUE_UPPER_FILTERS) {
        DeviceSet* set = devices->Get();
        rc = set ? WriteValue(nullptr, set, desired, VALUE_UPPER_FILTERS) : (LONG)devices->Error;
        FormatDeviceKeyPath(path, sizeof path, &desired, DEVICE_INSTANCE_KEY);
        key = path;
        FormatDeviceKeyPath(path, sizeof path, &desired, DEVICE_PARAMETERS_KEY);
      } else {
        rc = opened == ERROR_SUCCESS
                 ? WriteValue(parameters, nullptr, desired, (SettingValueName)name)
                 : opened;
      }
      if (rc != ERROR_SUCCESS) {
        failed[name] = true;
        AddDeviceError(outcome, desired,
                       std::string("cannot write ") + SettingValueNames[name] + ": not written",
                       SettingValueNames[name], key, (unsigned long)rc);
      }
    }
    if (parameters) RegCloseKey(parameters);
  }

  for (const Change& change : changes) {
    if (failed[change.Definition->Value]) continue;
    outcome->Changed = true;
    Json entry = Json::object();
    entry["setting"] = change.Definition->Name;
    entry["from"] = JsonValue(*change.Definition, change.From);
    entry["to"] = JsonValue(*change.Definition, change.To);
    (*port)["changes"].push_back(entry);
    outcome->Lines.push_back(ShownName(desired) + "  " + change.Definition->Name + "  " +
                             FormatSettingValue(*change.Definition, change.From) + " -> " +
                             FormatSettingValue(*change.Definition, change.To));
  }
  // What was written is what the registry holds now; a value that failed
  // keeps what was read.
  if (outcome->CheckOnly) return;
  for (int name = 0; name < VALUE_NAME_COUNT; ++name)
    if (touched[name] && !failed[name]) CopyValue(desired, (SettingValueName)name, record);
}

void ReloadAfterWrites(const CommandLine& line, Outcome* outcome) {
  if (line.NoReload || line.Check || !outcome->Changed) return;
  FT_STATUS status = ReloadDriver();
  if (status == FT_OK) return;
  AddError(outcome,
           status == FT_LIBRARY_MISSING
               ? "the settings were written, but FTD2XX.dll is missing: the driver was not "
                 "reloaded (re-plug the adapters, or use --no-reload)"
               : "the settings were written, but the driver reload failed (FT_Reload status " +
                     std::to_string(status) + ")",
           "", "", "", "", status == FT_LIBRARY_MISSING ? ERROR_MOD_NOT_FOUND : 0);
}

// Numbers that the registered devices' PortNames hold, but for the ones skipped.
std::set<int> NumbersInUse(const Machine& machine, const std::vector<bool>& skipped) {
  std::set<int> numbers;
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    if (record.DeviceId == 0 || (i < skipped.size() && skipped[i])) continue;
    if (int n = ComNumberOf(PortNameOf(record))) numbers.insert(n);
  }
  return numbers;
}

int RenamePort(Machine* machine, uint32_t index, int number, bool force, Outcome* outcome,
               Json* port, std::string* reason) {
  std::string newName = "COM" + std::to_string(number);
  DeviceRecord* record = &machine->Registered.Records[index];
  std::string oldName = PortNameOf(*record);
  int oldNumber = ComNumberOf(oldName);
  if (oldNumber == number) return EXIT_DONE;

  // In use: another device's PortName, or reserved in ComDB.
  std::vector<bool> self(machine->Registered.count, false);
  self[index] = true;
  bool inUse = NumbersInUse(*machine, self).count(number) > 0;
  ComDbValue comDb = {nullptr, 0};
  unsigned char field[COMDB_SIZE];
  Reporter reporter = OutcomeReporter(outcome);
  if (!ReadComDb(&comDb, field, &reporter)) return EXIT_DONE;  // reported: cannot know
  FreeComDbValue(&comDb);
  inUse = inUse || (field[(number - 1) / 8] & (1 << ((number - 1) % 8)));
  if (inUse && !force) {
    *reason = ShownName(*record) + ": " + newName +
              " is in use (ComDB or another adapter): use --force to take it anyway";
    return EXIT_BAD_INPUT;
  }

  if (!outcome->CheckOnly) {
    HKEY parameters;
    LONG rc = OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_SET_VALUE, &parameters);
    if (rc == ERROR_SUCCESS) {
      rc =
          RegSetValueExA(parameters, "PortName", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(newName.c_str()), (DWORD)newName.size() + 1);
      RegCloseKey(parameters);
    }
    char path[DEVICE_KEY_PATH_SIZE];
    if (rc != ERROR_SUCCESS) {
      // Without the new PortName the port keeps its number: nothing else is written.
      FormatDeviceKeyPath(path, sizeof path, record, DEVICE_PARAMETERS_KEY);
      AddDeviceError(outcome, *record, "cannot write PortName: the port keeps " + oldName,
                     "PortName", path, (unsigned long)rc);
      return EXIT_DONE;
    }
    DeviceSetHolder devices;
    std::string friendly = "USB Serial Port (" + newName + ")";
    DeviceSet* set = devices.Get();
    rc = set ? SetDeviceFriendlyName(set, record, friendly.c_str()) : (LONG)devices.Error;
    if (rc != ERROR_SUCCESS) {
      FormatDeviceKeyPath(path, sizeof path, record, DEVICE_INSTANCE_KEY);
      AddDeviceError(outcome, *record, "PortName written, but not FriendlyName", "FriendlyName",
                     path, (unsigned long)rc);
    }
    // The old number is freed only when no other device holds it.
    bool oldShared = NumbersInUse(*machine, self).count(oldNumber) > 0;
    int release[1] = {oldNumber};
    ChangeComDb(&number, 1, release, oldNumber > 0 && !oldShared ? 1 : 0, &reporter);
    snprintf(record->PortName, PORT_NAME_SIZE, "%s", newName.c_str());
  }
  outcome->Changed = true;
  Json entry = Json::object();
  entry["setting"] = "port";
  entry["from"] = oldName;
  entry["to"] = newName;
  (*port)["changes"].push_back(entry);
  outcome->Lines.push_back(ShownName(*record) + "  port  " + oldName + " -> " + newName);
  return EXIT_DONE;
}
