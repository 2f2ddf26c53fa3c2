#include "cli/commands.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "cli/machine.h"
#include "cli/settings.h"
#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "configfile/config_file.h"
#include "devices/device_keys.h"
#include "devices/device_properties.h"
#include "devices/ports.h"
#include "devices/settings_rules.h"
#include "devices/settings_store.h"
#include "platform/administrator.h"

namespace {

// The JSON form of a setting's value: numbers, booleans, the alias table's
// name, an alias's generated rate; null when unknown.
Json JsonValue(const SettingSpec& spec, const SettingValue& value) {
  if (!value.Known) return nullptr;
  switch (spec.Kind) {
    case SETTING_NUMBER:
      return value.Number;
    case SETTING_OPTION:
    case SETTING_SERIAL_ENUMERATOR:
      return value.Number != 0;
    case SETTING_ALIAS_TABLE:
      return FormatSettingValue(spec, value);
    case SETTING_ALIAS_ENTRY:
      return GeneratedRateOfEntry(value.Number);
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

// A change the command asks for: one setting of one port.
struct Change {
  const SettingSpec* Spec;
  SettingValue From;
  SettingValue To;
};

std::vector<Change> Differences(const DeviceRecord& before, const DeviceRecord& after) {
  std::vector<Change> changes;
  for (const SettingSpec& spec : Settings) {
    SettingValue from = CurrentValue(spec, before);
    SettingValue to = CurrentValue(spec, after);
    if (!SameValue(from, to)) changes.push_back({&spec, from, to});
  }
  return changes;
}

// Writes one registry value of the record. ERROR_SUCCESS or the error.
LONG WriteValue(HKEY parameters, DeviceSet* devices, const DeviceRecord& record,
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
      for (const SettingSpec& spec : Settings)
        if (spec.Kind == SETTING_NUMBER && spec.Value == name) {
          DWORD number = record.*spec.Field;
          return RegSetValueExA(parameters, valueName, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof number);
        }
      return ERROR_INVALID_PARAMETER;
  }
}

// Lazily opened per command: SetupAPI's list of FTDIBUS devices.
struct DeviceSetHolder {
  DeviceSet Set = {nullptr, 0};
  bool Tried = false;
  DWORD Error = 0;
  DeviceSet* Get() {
    if (!Tried) {
      Tried = true;
      OpenDeviceSet(&Set, &Error);
    }
    return Set.Handle ? &Set : nullptr;
  }
  ~DeviceSetHolder() { CloseDeviceSet(&Set); }
};

// Brings the record to desired: writes every value in which a setting
// differs, reports each change written and each value that could not be.
// With --check, only says what would change.
void ApplyChanges(DeviceRecord* record, const DeviceRecord& desired, int attached,
                  DeviceSetHolder* devices, Outcome* outcome) {
  std::vector<Change> changes = Differences(*record, desired);
  Json port = PortObject(*record, attached);
  port["changes"] = Json::array();
  bool touched[VALUE_NAME_COUNT] = {};
  for (const Change& change : changes) touched[change.Spec->Value] = true;

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
        rc = opened == ERROR_SUCCESS ? WriteValue(parameters, nullptr, desired,
                                                  (SettingValueName)name)
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
    if (failed[change.Spec->Value]) continue;
    outcome->Changed = true;
    Json entry = Json::object();
    entry["setting"] = change.Spec->Name;
    entry["from"] = JsonValue(*change.Spec, change.From);
    entry["to"] = JsonValue(*change.Spec, change.To);
    port["changes"].push_back(entry);
    outcome->Lines.push_back(ShownName(desired) + "  " + change.Spec->Name + "  " +
                             FormatSettingValue(*change.Spec, change.From) + " -> " +
                             FormatSettingValue(*change.Spec, change.To));
  }
  // What was written is what the registry holds now.
  *record = desired;
  outcome->Document["ports"].push_back(port);
}

// After a command wrote something: one reload of the driver, unless asked
// not to.
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

int Selected(const CommandLine& line, const Machine& machine, std::vector<uint32_t>* indexes,
             Outcome* outcome) {
  std::string reason;
  int code = SelectPorts(machine, line.Port, line.VidPid, indexes, &reason);
  if (code != EXIT_DONE) return Refuse(outcome, code, reason);
  return EXIT_DONE;
}

// --- the commands ---------------------------------------------------------

int RunList(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  LoadMachine(&machine, READ_PORT_NAMES, outcome);
  if (line.AttachedOnly && !machine.AttachedKnown)
    return Refuse(outcome, EXIT_FAILED,
                  "FTD2XX.dll could not be loaded: which adapters are attached cannot be known");
  outcome->Lines.push_back(Pad("PORT", 8) + Pad("SERIAL", 14) + Pad("VID:PID", 11) +
                           Pad("ATTACHED", 10) + Pad("OPEN", 6) + "DESCRIPTION");
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    if (record.DeviceId == 0) continue;
    int attached = AttachedState(machine, record);
    if (line.AttachedOnly && attached != 1) continue;
    const DeviceRecord* live = AttachedRecord(machine, record);
    Json port = PortObject(record, attached);
    port["open"] = attached < 0 ? Json(nullptr) : Json(live && (live->Flags & 1) != 0);
    port["description"] = live ? std::string(live->Description) : std::string();
    outcome->Document["ports"].push_back(port);
    outcome->Lines.push_back(
        Pad(PortNameOf(record), 8) + Pad(SerialOf(record), 14) + Pad(VidPidOf(record), 11) +
        Pad(attached < 0 ? "unknown" : attached ? "yes" : "no", 10) +
        Pad(attached < 0 ? "-" : live && (live->Flags & 1) ? "yes" : "no", 6) +
        (live ? live->Description : ""));
  }
  return Finish(outcome);
}

int RunShow(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  LoadMachine(&machine, READ_SETTINGS, outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  for (uint32_t i : indexes) {
    const DeviceRecord& record = machine.Registered.Records[i];
    int attached = AttachedState(machine, record);
    Json port = PortObject(record, attached);
    Json settings = Json::object();
    outcome->Lines.push_back(ShownName(record) + "  " + SerialOf(record) + "  " +
                             VidPidOf(record) + "  " +
                             (attached < 0 ? "attachment unknown" : attached ? "attached"
                                                                             : "not attached"));
    for (const SettingSpec& spec : Settings) {
      SettingValue value = CurrentValue(spec, record);
      settings[spec.Name] = JsonValue(spec, value);
      outcome->Lines.push_back("  " + Pad(spec.Name, 27) + FormatSettingValue(spec, value));
    }
    port["settings"] = settings;
    outcome->Document["ports"].push_back(port);
  }
  return Finish(outcome);
}

// Brings every selected port to what change() makes of its record.
template <typename ChangeFn>
int ChangePorts(const CommandLine& line, Outcome* outcome, ChangeFn change) {
  Machine machine;
  LoadMachine(&machine, READ_SETTINGS, outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  DeviceSetHolder devices;
  for (uint32_t i : indexes) {
    DeviceRecord* record = &machine.Registered.Records[i];
    DeviceRecord desired = *record;
    if (!change(&desired, outcome)) return Finish(outcome);
    ApplyChanges(record, desired, AttachedState(machine, *record), &devices, outcome);
  }
  ReloadAfterWrites(line, outcome);
  return Finish(outcome);
}

int RunSet(const CommandLine& line, Outcome* outcome) {
  // Every NAME=VALUE is checked before anything is read or written.
  std::vector<std::pair<const SettingSpec*, SettingValue>> wanted;
  if (line.Arguments.empty())
    return Refuse(outcome, EXIT_BAD_INPUT, "set needs at least one NAME=VALUE");
  for (const std::string& argument : line.Arguments) {
    size_t equals = argument.find('=');
    std::string name = argument.substr(0, equals);
    const SettingSpec* spec = FindSetting(name);
    if (equals == std::string::npos || !spec)
      return Refuse(outcome, EXIT_BAD_INPUT,
                    spec ? "'" + argument + "' is not NAME=VALUE"
                         : "unknown setting '" + name + "' (portmeld set --help lists them)");
    SettingValue value;
    std::string reason;
    if (!ParseSettingValue(*spec, argument.substr(equals + 1), &value, &reason))
      return Refuse(outcome, EXIT_BAD_INPUT,
                    name + " " + reason + ", not '" + argument.substr(equals + 1) + "'");
    wanted.push_back({spec, value});
  }
  return ChangePorts(line, outcome, [&](DeviceRecord* record, Outcome*) {
    for (const auto& setting : wanted) ApplySetting(*setting.first, setting.second, record);
    return true;
  });
}

int RunPreset(const CommandLine& line, Outcome* outcome) {
  static const struct {
    const char* Name;
    Preset Value;
  } presets[] = {{"default", PRESET_DEFAULT}, {"portmeld", PRESET_PORTMELD},
                 {"tarnlink", PRESET_TARNLINK}};
  const Preset* chosen = nullptr;
  if (line.Arguments.size() == 1)
    for (const auto& preset : presets)
      if (EqualsIgnoringCase(line.Arguments[0], preset.Name)) chosen = &preset.Value;
  if (!chosen)
    return Refuse(outcome, EXIT_BAD_INPUT, "preset takes one of default, portmeld, tarnlink");
  Preset preset = *chosen;
  return ChangePorts(line, outcome, [&](DeviceRecord* record, Outcome*) {
    return ApplyPreset(record, preset);
  });
}

// A reporter that keeps the first report's text, for a refusal.
int KeepFirstText(void* context, const Report* report) {
  std::string* text = static_cast<std::string*>(context);
  if (text->empty()) *text = report->Text;
  return IDOK;
}

int RunLoad(const CommandLine& line, Outcome* outcome) {
  if (line.Arguments.size() != 1) return Refuse(outcome, EXIT_BAD_INPUT, "load needs PORT FILE");
  const std::string& file = line.Arguments[0];
  // The file is read whole before any port is touched.
  std::string problem;
  Reporter keep = {KeepFirstText, &problem};
  DeviceRecord scratch = {};
  if (!ReadConfigurationFile(file.c_str(), &scratch, &keep))
    return Refuse(outcome, EXIT_BAD_INPUT, file + ": " + problem);
  Reporter reporter = OutcomeReporter(outcome);
  return ChangePorts(line, outcome, [&](DeviceRecord* record, Outcome*) {
    return ReadConfigurationFile(file.c_str(), record, &reporter);
  });
}

int RunSave(const CommandLine& line, Outcome* outcome) {
  if (line.Arguments.size() != 1) return Refuse(outcome, EXIT_BAD_INPUT, "save needs PORT FILE");
  Machine machine;
  LoadMachine(&machine, READ_SETTINGS, outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  if (indexes.size() != 1)
    return Refuse(outcome, EXIT_BAD_INPUT, "save writes one port's settings: name one port");
  const DeviceRecord& record = machine.Registered.Records[indexes[0]];
  Json port = PortObject(record, AttachedState(machine, record));
  port["file"] = line.Arguments[0];
  outcome->Document["ports"].push_back(port);
  if (!line.Check) {
    Reporter reporter = OutcomeReporter(outcome);
    if (!WriteConfigurationFile(line.Arguments[0].c_str(), &record, &reporter))
      return Finish(outcome);
  }
  outcome->Changed = true;
  outcome->Lines.push_back(ShownName(record) + "  saved to " + line.Arguments[0]);
  return Finish(outcome);
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

int RunRename(const CommandLine& line, Outcome* outcome) {
  int number = line.Arguments.size() == 1 ? ComNumberOf(line.Arguments[0]) : 0;
  if (number < 1 || number > COMDB_MAX_NUMBER)
    return Refuse(outcome, EXIT_BAD_INPUT, "rename takes PORT COMn, n from 1 to 256");
  std::string newName = "COM" + std::to_string(number);
  Machine machine;
  LoadMachine(&machine, READ_PORT_NAMES, outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  if (indexes.size() != 1)
    return Refuse(outcome, EXIT_BAD_INPUT, "rename gives one port a number: name one port");
  uint32_t index = indexes[0];
  DeviceRecord* record = &machine.Registered.Records[index];
  std::string oldName = PortNameOf(*record);
  int oldNumber = ComNumberOf(oldName);
  Json port = PortObject(*record, AttachedState(machine, *record));
  port["changes"] = Json::array();
  if (oldNumber == number) {
    outcome->Document["ports"].push_back(port);
    return Finish(outcome);
  }

  // In use: another device's PortName, or reserved in ComDB.
  std::vector<bool> self(machine.Registered.count, false);
  self[index] = true;
  bool inUse = NumbersInUse(machine, self).count(number) > 0;
  ComDbValue comDb = {nullptr, 0};
  unsigned char field[COMDB_SIZE];
  Reporter reporter = OutcomeReporter(outcome);
  if (!ReadComDb(&comDb, field, &reporter)) return Finish(outcome);
  FreeComDbValue(&comDb);
  inUse = inUse || (field[(number - 1) / 8] & (1 << ((number - 1) % 8)));
  if (inUse && !line.Force)
    return Refuse(outcome, EXIT_BAD_INPUT,
                  newName + " is in use (ComDB or another adapter): use --force to take it anyway");

  if (!line.Check) {
    HKEY parameters;
    LONG rc = OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_SET_VALUE, &parameters);
    if (rc == ERROR_SUCCESS) {
      rc = RegSetValueExA(parameters, "PortName", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(newName.c_str()),
                          (DWORD)newName.size() + 1);
      RegCloseKey(parameters);
    }
    char path[DEVICE_KEY_PATH_SIZE];
    if (rc != ERROR_SUCCESS) {
      // Without the new PortName the port keeps its number: nothing else is written.
      FormatDeviceKeyPath(path, sizeof path, record, DEVICE_PARAMETERS_KEY);
      AddDeviceError(outcome, *record, "cannot write PortName: the port keeps " + oldName,
                     "PortName", path, (unsigned long)rc);
      outcome->Document["ports"].push_back(port);
      return Finish(outcome);
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
    bool oldShared = NumbersInUse(machine, self).count(oldNumber) > 0;
    int release[1] = {oldNumber};
    ChangeComDb(&number, 1, release, oldNumber > 0 && !oldShared ? 1 : 0, &reporter);
  }
  outcome->Changed = true;
  Json entry = Json::object();
  entry["setting"] = "port";
  entry["from"] = oldName;
  entry["to"] = newName;
  port["changes"].push_back(entry);
  outcome->Document["ports"].push_back(port);
  outcome->Lines.push_back(ShownName(*record) + "  port  " + oldName + " -> " + newName);
  ReloadAfterWrites(line, outcome);
  return Finish(outcome);
}

int RunIgnoreSerial(const CommandLine& line, Outcome* outcome) {
  bool current = false;
  ReadIgnoreSerialSetting(&current);
  if (line.Arguments.empty()) {
    outcome->Document["ignoreSerial"] = current;
    outcome->Lines.push_back(std::string("ignoreSerial  ") + (current ? "on" : "off"));
    return Finish(outcome);
  }
  SettingSpec onOff = {"ignoreSerial", SETTING_OPTION, VALUE_CONFIG_DATA, nullptr, {0, 1}, 0,
                       {0, 0}, 0};
  SettingValue wanted;
  std::string reason;
  if (line.Arguments.size() != 1 || !ParseSettingValue(onOff, line.Arguments[0], &wanted, &reason))
    return Refuse(outcome, EXIT_BAD_INPUT, "ignore-serial takes on or off");
  bool on = wanted.Number != 0;
  outcome->Document["ignoreSerial"] = on;
  outcome->Document["changes"] = Json::array();
  if (on == current) return Finish(outcome);
  if (!line.Check && !ApplyIgnoreSerialSetting(on)) {
    outcome->Document["ignoreSerial"] = current;
    AddError(outcome, "cannot write the ignore-serial-number values", "", "",
             "IgnoreHWSerNum04036001", "SYSTEM\\CurrentControlSet\\Control\\UsbFlags",
             ERROR_ACCESS_DENIED);
    return Finish(outcome);
  }
  outcome->Changed = true;
  outcome->Document["changes"].push_back({{"setting", "ignoreSerial"}, {"from", current}, {"to", on}});
  outcome->Lines.push_back(std::string("ignoreSerial  ") + (current ? "on" : "off") + " -> " +
                           (on ? "on" : "off"));
  ReloadAfterWrites(line, outcome);
  return Finish(outcome);
}

int RunReload(const CommandLine& line, Outcome* outcome) {
  if (line.Check) return Finish(outcome);
  FT_STATUS status = ReloadDriver();
  if (status != FT_OK)
    AddError(outcome,
             status == FT_LIBRARY_MISSING ? "FTD2XX.dll could not be loaded: no reload"
                                          : "the driver reload failed (FT_Reload status " +
                                                std::to_string(status) + ")",
             "", "", "", "", status == FT_LIBRARY_MISSING ? ERROR_MOD_NOT_FOUND : 0);
  else
    outcome->Lines.push_back("driver reloaded");
  return Finish(outcome);
}

// The registered devices that PORT names and that are not attached.
int StaleDevices(const CommandLine& line, const Machine& machine, std::vector<uint32_t>* stale,
                 Outcome* outcome) {
  if (!machine.AttachedKnown)
    return Refuse(outcome, EXIT_FAILED,
                  "FTD2XX.dll could not be loaded: which adapters are attached cannot be known");
  std::vector<uint32_t> indexes;
  if (machine.Registered.count == 0 && EqualsIgnoringCase(line.Port, "all")) return EXIT_DONE;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  for (uint32_t i : indexes)
    if (AttachedState(machine, machine.Registered.Records[i]) == 0) stale->push_back(i);
  if (stale->empty() && !EqualsIgnoringCase(line.Port, "all"))
    return Refuse(outcome, EXIT_BAD_INPUT,
                  line.Port + " is attached: only adapters that are not attached are stale");
  return EXIT_DONE;
}

Json StaleObject(const Machine& machine, const DeviceRecord& record) {
  Json port = PortObject(record, AttachedState(machine, record));
  int number = ComNumberOf(PortNameOf(record));
  port["comNumber"] = number ? Json(number) : Json(nullptr);
  return port;
}

int RunStale(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  LoadMachine(&machine, READ_PORT_NAMES, outcome);
  std::vector<uint32_t> stale;
  CommandLine all = line;
  all.Port = "all";
  if (int code = StaleDevices(all, machine, &stale, outcome)) return code;
  for (uint32_t i : stale) {
    const DeviceRecord& record = machine.Registered.Records[i];
    outcome->Document["ports"].push_back(StaleObject(machine, record));
    outcome->Lines.push_back(Pad(PortNameOf(record), 8) + Pad(SerialOf(record), 14) +
                             VidPidOf(record));
  }
  return Finish(outcome);
}

int RunRemoveStale(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  LoadMachine(&machine, READ_PORT_NAMES, outcome);
  std::vector<uint32_t> stale;
  if (int code = StaleDevices(line, machine, &stale, outcome)) return code;
  if (stale.empty()) return Finish(outcome);
  DeviceSetHolder devices;
  std::vector<bool> removed(machine.Registered.count, false);
  for (uint32_t i : stale) {
    const DeviceRecord& record = machine.Registered.Records[i];
    Json port = StaleObject(machine, record);
    if (!line.Check) {
      DeviceSet* set = devices.Get();
      LONG rc = set ? RemoveDeviceInstance(set, &record) : (LONG)devices.Error;
      if (rc != ERROR_SUCCESS) {
        char path[DEVICE_KEY_PATH_SIZE];
        FormatDeviceKeyPath(path, sizeof path, &record, DEVICE_INSTANCE_KEY);
        AddDeviceError(outcome, record, "cannot remove the device instance: not removed", "",
                       path, (unsigned long)rc);
        continue;
      }
    }
    removed[i] = true;
    outcome->Changed = true;
    port["removed"] = true;
    outcome->Document["ports"].push_back(port);
    outcome->Lines.push_back(ShownName(record) + "  removed  " + SerialOf(record));
  }
  // Only numbers a removed device held, and that no remaining device holds.
  std::set<int> inUse = NumbersInUse(machine, removed);
  std::vector<int> release;
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    int n = removed[i] ? ComNumberOf(PortNameOf(machine.Registered.Records[i])) : 0;
    if (n >= 1 && n <= COMDB_MAX_NUMBER && !inUse.count(n) &&
        std::find(release.begin(), release.end(), n) == release.end())
      release.push_back(n);
  }
  Json freed = Json::array();
  for (int n : release) freed.push_back("COM" + std::to_string(n));
  outcome->Document["freed"] = freed;
  if (!release.empty() && !line.Check) {
    Reporter reporter = OutcomeReporter(outcome);
    if (!ChangeComDb(nullptr, 0, release.data(), (int)release.size(), &reporter))
      outcome->Document["freed"] = Json::array();
  }
  ReloadAfterWrites(line, outcome);
  return Finish(outcome);
}

}  // namespace

const CommandSpec Commands[] = {
    {"list", RunList, false},
    {"show", RunShow, false},
    {"set", RunSet, true},
    {"preset", RunPreset, true},
    {"save", RunSave, false},
    {"load", RunLoad, true},
    {"rename", RunRename, true},
    {"ignore-serial", RunIgnoreSerial, true},
    {"reload", RunReload, true},
    {"stale", RunStale, false},
    {"remove-stale", RunRemoveStale, true},
};
const int CommandCount = sizeof Commands / sizeof Commands[0];

int RunCommand(const CommandLine& line) {
  Outcome outcome;
  outcome.JsonOutput = line.Json;
  outcome.CheckOnly = line.Check;
  for (const CommandSpec& command : Commands) {
    if (line.Command != command.Name) continue;
    // ignore-serial without on/off only reads.
    bool writes = command.Writes && !line.Check &&
                  !(line.Command == "ignore-serial" && line.Arguments.empty());
    if (writes && !IsAdministrator())
      return Refuse(&outcome, EXIT_NOT_ALLOWED,
                    "'" + line.Command +
                        "' changes the machine's settings and needs an elevated prompt "
                        "(Run as administrator); --check works without");
    return command.Run(line, &outcome);
  }
  return Refuse(&outcome, EXIT_BAD_INPUT, "unknown command '" + line.Command + "'");
}
