#include "cli/commands.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "cli/agent.h"
#include "cli/device_restarts.h"
#include "cli/history.h"
#include "cli/profile_commands.h"
#include "cli/machine.h"
#include "cli/port_changes.h"
#include "history/port_settings.h"
#include "cli/watch.h"
#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "comdb/rename.h"
#include "devices/device_names.h"
#include "devices/change_set.h"
#include "devices/write_transaction.h"
#include "configfile/config_codec.h"
#include "configfile/config_file.h"
#include "devices/device_keys.h"
#include "devices/device_properties.h"
#include "devices/ports.h"
#include "devices/settings_rules.h"
#include "devices/settings_store.h"
#include "platform/administrator.h"
#include "platform/device_restart.h"

namespace {

const std::vector<const SettingSpec*> NoSettings;

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
  if (!LoadMachine(&machine, READ_PORT_NAMES, outcome)) return Finish(outcome);
  if (line.AttachedOnly && !machine.AttachedKnown)
    return Refuse(outcome, EXIT_FAILED,
                  "FTD2XX.dll could not be loaded: which adapters are attached cannot be known");
  outcome->Lines.push_back(Pad("PORT", 8) + Pad("SERIAL", 14) + Pad("VID:PID", 11) +
                           Pad("ATTACHED", 10) + Pad("OPEN", 6) + "DESCRIPTION");
  std::vector<uint32_t> listed;
  for (uint32_t i = 0; i < machine.Registered.count; ++i)
    if (machine.Registered.Records[i].DeviceId != 0) listed.push_back(i);
  SortForListing(machine, &listed);
  for (uint32_t i : listed) {
    const DeviceRecord& record = machine.Registered.Records[i];
    int attached = AttachedState(machine, record);
    if (line.AttachedOnly && attached != 1) continue;
    const DeviceRecord* live = AttachedRecord(machine, record);
    Json port = PortObject(record, attached);
    port["open"] = attached < 0 ? Json(nullptr) : Json(live && (live->Flags & D2XX_FLAG_OPENED) != 0);
    port["description"] = live ? Utf8(live->Description) : std::string();
    outcome->Document["ports"].push_back(port);
    outcome->Lines.push_back(Pad(PortNameOf(record), 8) + Pad(SerialOf(record), 14) +
                             Pad(VidPidOf(record), 11) +
                             Pad(attached < 0 ? "unknown"
                                 : attached   ? "yes"
                                              : "no",
                                 10) +
                             Pad(attached < 0                ? "-"
                                 : live && (live->Flags & D2XX_FLAG_OPENED) ? "yes"
                                                             : "no",
                                 6) +
                             (live ? live->Description : ""));
  }
  return Finish(outcome);
}

int RunShow(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  if (!LoadMachine(&machine, READ_SETTINGS, outcome)) return Finish(outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  SortForListing(machine, &indexes);
  // Only the output asked for is built: for thousands of ports the other
  // would cost as much as reading them.
  for (uint32_t i : indexes) {
    const DeviceRecord& record = machine.Registered.Records[i];
    int attached = AttachedState(machine, record);
    if (outcome->JsonOutput) {
      Json port = PortObject(record, attached);
      Json settings = Json::object();
      for (const SettingSpec& definition : Settings)
        settings[definition.Name] = SettingJson(definition, CurrentValue(definition, record));
      port["settings"] = settings;
      outcome->Document["ports"].push_back(port);
      continue;
    }
    outcome->Lines.push_back(ShownName(record) + "  " + SerialOf(record) + "  " + VidPidOf(record) +
                             "  " +
                             (attached < 0 ? "attachment unknown"
                              : attached   ? "attached"
                                           : "not attached"));
    for (const SettingSpec& definition : Settings)
      outcome->Lines.push_back("  " + Pad(definition.Name, 29) +
                               FormatSettingValue(definition, CurrentValue(definition, record)));
  }
  return Finish(outcome);
}

// Brings every selected port to what change() makes of its record, as one
// change set; with named, only those settings count.
template <typename ChangeFn>
int ChangePorts(const CommandLine& line, Outcome* outcome, ChangeFn change,
                const std::vector<const SettingSpec*>* named = nullptr) {
  Machine machine;
  if (!LoadMachine(&machine, READ_SETTINGS, outcome)) return Finish(outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  std::vector<PortChange> ports;
  for (uint32_t i : indexes) {
    const DeviceRecord& record = machine.Registered.Records[i];
    PortChange port = {i, record, named, PortObject(record, AttachedState(machine, record)), 0};
    if (!change(&port.Desired, outcome)) return Finish(outcome);
    port.Port["changes"] = Json::array();
    ports.push_back(port);
  }
  PortWrites writes;
  writes.Ports = &ports;
  std::string reason;
  WritePorts(&machine, &writes, line, false, outcome, &reason);
  for (PortChange& port : ports) outcome->Document["ports"].push_back(port.Port);
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
    const SettingSpec* definition = FindSetting(name);
    if (equals == std::string::npos || !definition)
      return Refuse(outcome, EXIT_BAD_INPUT,
                    definition ? "'" + argument + "' is not NAME=VALUE"
                               : "unknown setting '" + name + "' (portmeld set --help lists them)");
    SettingValue value;
    std::string reason;
    if (!ParseSettingValue(*definition, argument.substr(equals + 1), &value, &reason))
      return Refuse(outcome, EXIT_BAD_INPUT,
                    name + " " + reason + ", not '" + argument.substr(equals + 1) + "'");
    wanted.push_back({definition, value});
  }
  std::vector<const SettingSpec*> named;
  for (const auto& setting : wanted) named.push_back(setting.first);
  return ChangePorts(
      line, outcome,
      [&](DeviceRecord* record, Outcome*) {
        for (const auto& setting : wanted) ApplySetting(*setting.first, setting.second, record);
        return true;
      },
      &named);
}

int RunPreset(const CommandLine& line, Outcome* outcome) {
  static const struct {
    const char* Name;
    Preset Value;
  } presets[] = {
      {"default", PRESET_DEFAULT}, {"portmeld", PRESET_PORTMELD}, {"tarnlink", PRESET_TARNLINK}};
  const Preset* chosen = nullptr;
  if (line.Arguments.size() == 1)
    for (const auto& preset : presets)
      if (EqualsIgnoringCase(line.Arguments[0], preset.Name)) chosen = &preset.Value;
  if (!chosen)
    return Refuse(outcome, EXIT_BAD_INPUT, "preset takes one of default, portmeld, tarnlink");
  Preset preset = *chosen;
  return ChangePorts(line, outcome,
                     [&](DeviceRecord* record, Outcome*) { return ApplyPreset(record, preset); });
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
  // Every port gets that one content: the file is not read again.
  unsigned char image[CONFIG_FILE_SIZE];
  EncodeConfigFile(&scratch, image);
  return ChangePorts(line, outcome, [&](DeviceRecord* record, Outcome*) {
    return DecodeConfigFile(image, sizeof image, record);
  });
}

int RunSave(const CommandLine& line, Outcome* outcome) {
  if (line.Arguments.size() != 1) return Refuse(outcome, EXIT_BAD_INPUT, "save needs PORT FILE");
  Machine machine;
  if (!LoadMachine(&machine, READ_SETTINGS, outcome)) return Finish(outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  if (indexes.size() != 1)
    return Refuse(outcome, EXIT_BAD_INPUT, "save writes one port's settings: name one port");
  const DeviceRecord& record = machine.Registered.Records[indexes[0]];
  Json port = PortObject(record, AttachedState(machine, record));
  port["file"] = Utf8(line.Arguments[0]);
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

int RunRename(const CommandLine& line, Outcome* outcome) {
  int number = line.Arguments.size() == 1 ? ComNumberOf(line.Arguments[0]) : 0;
  if (number < 1 || number > COMDB_MAX_NUMBER)
    return Refuse(outcome, EXIT_BAD_INPUT, "rename takes PORT COMn, n from 1 to 256");
  Machine machine;
  if (!LoadMachine(&machine, READ_PORT_NAMES, outcome)) return Finish(outcome);
  std::vector<uint32_t> indexes;
  if (int code = Selected(line, machine, &indexes, outcome)) return code;
  if (indexes.size() != 1)
    return Refuse(outcome, EXIT_BAD_INPUT, "rename gives one port a number: name one port");
  const DeviceRecord& record = machine.Registered.Records[indexes[0]];
  std::vector<PortChange> ports = {
      {indexes[0], record, &NoSettings, PortObject(record, AttachedState(machine, record)), number}};
  ports[0].Port["changes"] = Json::array();
  PortWrites writes;
  writes.Ports = &ports;
  writes.RenameOnly = true;
  std::string reason;
  if (int code = WritePorts(&machine, &writes, line, line.Force, outcome, &reason))
    return Refuse(outcome, code, reason);
  outcome->Document["ports"].push_back(ports[0].Port);
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
  SettingValue wanted;
  std::string reason;
  if (line.Arguments.size() != 1 || !ParseSettingValue(IgnoreSerialSetting, line.Arguments[0], &wanted, &reason))
    return Refuse(outcome, EXIT_BAD_INPUT, "ignore-serial takes on or off");
  bool on = wanted.Number != 0;
  outcome->Document["ignoreSerial"] = on;
  outcome->Document["changes"] = Json::array();
  if (on == current) return Finish(outcome);
  Machine machine;
  std::vector<PortChange> none;
  PortWrites writes;
  writes.Ports = &none;
  writes.IgnoreSerial = on ? 1 : 0;
  WritePorts(&machine, &writes, line, false, outcome, &reason);
  if (!writes.IgnoreSerialWritten) {
    outcome->Document["ignoreSerial"] = current;
    return Finish(outcome);
  }
  outcome->Document["changes"].push_back(
      {{"setting", "ignoreSerial"}, {"from", current}, {"to", on}});
  outcome->Lines.push_back(std::string("ignoreSerial  ") + (current ? "on" : "off") + " -> " +
                           (on ? "on" : "off"));
  return Finish(outcome);
}

int RunReload(const CommandLine& line, Outcome* outcome) {
  if (line.Check) return Finish(outcome);
  ChangeSet set;
  Reporter reporter = OutcomeReporter(outcome);
  if (RunWrite("reload", RELOAD_ALWAYS, &set, &reporter, nullptr) == WRITE_WITHHELD)
    return Finish(outcome);
  FT_STATUS status = set.Reload == RELOAD_DONE ? (FT_STATUS)FT_OK : (FT_STATUS)set.ReloadStatus;
  if (status != FT_OK)
    AddError(outcome,
             status == FT_LIBRARY_MISSING
                 ? "FTD2XX.dll could not be loaded: no reload"
                 : "the driver reload failed (FT_Reload status " + std::to_string(status) + ")",
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
  if (!LoadMachine(&machine, READ_PORT_NAMES, outcome)) return Finish(outcome);
  std::vector<uint32_t> stale;
  CommandLine all = line;
  all.Port = "all";
  if (int code = StaleDevices(all, machine, &stale, outcome)) return code;
  SortForListing(machine, &stale);
  for (uint32_t i : stale) {
    const DeviceRecord& record = machine.Registered.Records[i];
    outcome->Document["ports"].push_back(StaleObject(machine, record));
    outcome->Lines.push_back(Pad(PortNameOf(record), 8) + Pad(SerialOf(record), 14) +
                             VidPidOf(record));
  }
  return Finish(outcome);
}

// Each stale device's removal and the freeing of the number only it held
// (no device that stays holds it; among stale devices that share one, the
// last frees it), each device one group: a removal that fails frees nothing.
bool PlanRemovals(const Machine& machine, const std::vector<uint32_t>& stale, ChangeSet* set,
                  const Reporter* held) {
  std::vector<bool> leaving(machine.Registered.count, false);
  for (uint32_t i : stale) leaving[i] = true;
  std::set<int> staying = NumbersInUse(machine, leaving);
  for (size_t k = 0; k < stale.size(); ++k) {
    const DeviceRecord& record = machine.Registered.Records[stale[k]];
    ValueChange change;
    change.Kind = CHANGE_REMOVE_DEVICE;
    change.Port = PortNameOf(record);
    change.Serial = SerialOf(record);
    char path[DEVICE_KEY_PATH_SIZE];
    FormatDeviceKeyPath(path, sizeof path, &record, DEVICE_INSTANCE_KEY);
    change.Key = path;
    change.Device = record;
    change.Group = (int)k;
    set->Changes.push_back(change);
    int n = ComNumberOf(PortNameOf(record));
    bool sharedLater = false;
    for (size_t later = k + 1; later < stale.size(); ++later)
      sharedLater = sharedLater ||
                    ComNumberOf(PortNameOf(machine.Registered.Records[stale[later]])) == n;
    if (n >= 1 && n <= COMDB_MAX_NUMBER && !staying.count(n) && !sharedLater &&
        !PlanComDbChange(set, 0, n, (int)k, held))
      return false;
  }
  return true;
}

int RunRemoveStale(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  if (!LoadMachine(&machine, READ_PORT_NAMES, outcome)) return Finish(outcome);
  std::vector<uint32_t> stale;
  if (int code = StaleDevices(line, machine, &stale, outcome)) return code;
  if (stale.empty()) return Finish(outcome);
  ChangeSet set;
  if (!line.Check) {
    Reporter reporter = OutcomeReporter(outcome);
    RunWrite(line.Text.c_str(), ReloadOf(line), &set, &reporter,
             [&](ChangeSet* planned, const Reporter* held) {
               return PlanRemovals(machine, stale, planned, held);
             });
    if (set.Withheld) return Finish(outcome);
  } else {
    PlanRemovals(machine, stale, &set, nullptr);
  }
  Json freed = Json::array();
  for (size_t k = 0; k < stale.size(); ++k) {
    const DeviceRecord& record = machine.Registered.Records[stale[k]];
    bool removed = line.Check;
    for (const ValueChange& change : set.Changes) {
      if (change.Group != (int)k) continue;
      if (change.Kind == CHANGE_REMOVE_DEVICE) removed = line.Check || change.Written;
      if (change.Kind == CHANGE_VALUE && (line.Check || change.Written))
        freed.push_back(PortNameOf(record));
    }
    if (!removed) continue;
    outcome->Changed = true;
    Json port = StaleObject(machine, record);
    port["removed"] = true;
    outcome->Document["ports"].push_back(port);
    outcome->Lines.push_back(ShownName(record) + "  removed  " + SerialOf(record));
  }
  for (const FailedChange& failed : set.Failed) {
    const ValueChange& change = set.Changes[failed.Index];
    if (change.Kind == CHANGE_REMOVE_DEVICE)
      AddDeviceError(outcome, change.Device, "cannot remove the device instance: not removed", "",
                     change.Key, failed.Error);
    else
      AddError(outcome, "Can't open COMDB", "", "", "ComDB", change.Key, failed.Error);
  }
  outcome->Document["freed"] = freed;
  RenderReload(set, outcome);
  return Finish(outcome);
}

}  // namespace

const CommandArgument PortArgument = {"PORT", "COMn, a serial number, or all", TO_PORT, true,
                                      false};
const CommandArgument NoArgument = {nullptr, nullptr, TO_PORT, false, false};
const CommandArgument ProfileArgument = {"PROFILE", "the profile file, or - for standard input",
                                         TO_PORT, true, false};

const CommandSpec Commands[] = {
    {"list", "every registered FTDI port: attached and open now or not",
     {NoArgument, NoArgument}, OPTION_ATTACHED, NEVER_WRITES, nullptr, RunList},
    {"show", "every setting of the ports; a value missing in the registry shows as missing",
     {PortArgument, NoArgument}, 0, NEVER_WRITES, nullptr, RunShow},
    {"set", "changes the named settings; writes only values that differ",
     {PortArgument, {"NAME=VALUE", "settings to change", TO_ARGUMENTS, true, true}},
     OPTION_SETTINGS_HELP | OPTION_RESTART, ALWAYS_WRITES, nullptr, RunSet},
    {"preset", "one of the windowed program's three presets",
     {PortArgument, {"PRESET", "default, portmeld or tarnlink", TO_ARGUMENTS, true, false}},
     OPTION_RESTART,
     ALWAYS_WRITES, nullptr, RunPreset},
    {"save", "writes one port's settings to an 84-byte configuration file",
     {PortArgument, {"FILE", "the file to write", TO_ARGUMENTS, true, false}}, 0, NEVER_WRITES,
     nullptr, RunSave},
    {"load", "writes a configuration file's values to the ports",
     {PortArgument, {"FILE", "the file to read", TO_ARGUMENTS, true, false}}, OPTION_RESTART,
     ALWAYS_WRITES,
     nullptr, RunLoad},
    {"rename", "gives one port a new COM number, kept in ComDB",
     {PortArgument, {"COMn", "the new name, COM1 to COM256", TO_ARGUMENTS, true, false}},
     OPTION_FORCE_NUMBER, ALWAYS_WRITES, nullptr, RunRename},
    {"ignore-serial",
     "shows, or sets, the machine-wide option to ignore the adapters' hardware serial numbers",
     {{"STATE", "on or off", TO_ARGUMENTS, false, false}, NoArgument}, 0, WRITES_WITH_ARGUMENT,
     nullptr, RunIgnoreSerial},
    {"reload", "asks the D2XX library to reload the driver", {NoArgument, NoArgument}, 0,
     ALWAYS_WRITES, nullptr, RunReload},
    {"stale", "registered adapters not attached now, with the COM numbers they hold",
     {NoArgument, NoArgument}, 0, NEVER_WRITES, nullptr, RunStale},
    {"test", "compares the ports with a profile: exit 0 compliant, 1 not",
     {ProfileArgument, NoArgument}, 0, NEVER_WRITES, nullptr, RunTest},
    {"apply",
     "writes what differs from a profile (and reloads the driver once); exit 0 when compliant "
     "afterwards",
     {ProfileArgument, NoArgument}, OPTION_RESTART, ALWAYS_WRITES, nullptr, RunApply},
    {"export",
     "writes the ports' current settings as a profile (matched by serial) or as a .reg file of "
     "their Device Parameters values",
     {PortArgument, NoArgument}, OPTION_EXPORT_FILES, NEVER_WRITES, nullptr, RunExport},
    {"dsc",
     "the PowerShell DSC v3 resource (portmeld.dsc.resource.json): the desired state as JSON on "
     "standard input",
     {{"OPERATION", "get, set or test", TO_PORT, true, false}, NoArgument}, 0, WRITES_FOR_SET,
     nullptr, RunDsc},
    {"remove-stale",
     "removes adapters that are not attached, and frees the COM numbers only they held",
     {{"PORT", "COMn, a serial number, or all", TO_PORT, false, false}, NoArgument}, 0,
     ALWAYS_WRITES, "all", RunRemoveStale},
    {"history", "the change sets both programs recorded, newest first, each with the values it wrote",
     {{"PORT", "COMn, a serial number, or all", TO_PORT, false, false}, NoArgument}, OPTION_LAST,
     NEVER_WRITES, nullptr, RunHistory},
    {"undo",
     "puts back the values a change set wrote (default: the newest not undone); a value changed "
     "since is left alone unless --force",
     {{"ID", "the change set's number, as history shows it", TO_CHANGE_ID, false, false},
      NoArgument},
     OPTION_FORCE_UNDO | OPTION_RESTART, ALWAYS_WRITES, nullptr, RunUndo},
    {"restart",
     "restarts attached adapters' devices as the Device Manager does, each on its own; a port "
     "open in another program only with --force",
     {PortArgument, NoArgument}, OPTION_FORCE_RESTART, ALWAYS_WRITES, nullptr, RunRestart},
    {"watch",
     "applies a profile to every adapter now and to each one that arrives, once Windows has "
     "installed it, and restarts the adapters it wrote; runs until Ctrl+C",
     {ProfileArgument, NoArgument}, OPTION_RESTART | OPTION_WATCH, ALWAYS_WRITES, nullptr,
     RunWatch},
    {"agent",
     "the service PortmeldAgent that runs watch on a profile: install PROFILE (or change it), "
     "remove, status (exit 0 running, 1 installed but stopped, 4 not installed)",
     {{"ACTION", "install, remove, status or run", TO_PORT, true, false},
      {"PROFILE", "the profile file (install)", TO_ARGUMENTS, false, false}},
     0, WRITES_FOR_AGENT, nullptr, RunAgent},
};
const int CommandCount = sizeof Commands / sizeof Commands[0];

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command : Commands)
    if (name == command.Name) return &command;
  return nullptr;
}

bool CommandWrites(const CommandSpec& command, const CommandLine& line) {
  if (line.Check) return false;
  switch (command.Writes) {
    case NEVER_WRITES:
      return false;
    case ALWAYS_WRITES:
      return true;
    case WRITES_WITH_ARGUMENT:
      return !line.Arguments.empty();
    case WRITES_FOR_SET:
      return line.Port == "set";
    case WRITES_FOR_AGENT:
      return line.Port == "install" || line.Port == "remove";
  }
  return false;
}

int RunCommand(const CommandLine& line) {
  Outcome outcome;
  outcome.JsonOutput = line.Json;
  outcome.CheckOnly = line.Check;
  const CommandSpec* command = FindCommand(line.Command);
  if (!command) return Refuse(&outcome, EXIT_BAD_INPUT, "unknown command '" + line.Command + "'");
  SetWriteWait((unsigned long)(line.WaitSeconds * 1000));
  if (CommandWrites(*command, line) && !IsAdministrator())
    return Refuse(&outcome, EXIT_NOT_ALLOWED,
                  "'" + line.Command +
                      "' changes the machine's settings and needs an elevated prompt "
                      "(Run as administrator); --check works without");
  // Device installation calls fail from a 32-bit program on 64-bit
  // Windows: refused before anything is written.
  if (!line.Check && (line.Command == "restart" || RestartModeOf(line) == RESTART_DEVICE) &&
      RunsUnderWow64())
    return Refuse(&outcome, EXIT_FAILED, RestartNeedsX64Text);
  return command->Run(line, &outcome);
}
