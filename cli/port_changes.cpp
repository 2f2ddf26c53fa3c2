#include "cli/port_changes.h"

#include "cli/device_restarts.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "comdb/rename.h"
#include "devices/device_changes.h"
#include "devices/write_transaction.h"
#include "devices/device_keys.h"
#include "devices/ports.h"
#include "devices/registry_paths.h"
#include "devices/settings_store.h"
#include "devices/settings_rules.h"

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

// The differences of one port that count: those the command or profile
// named, or every one.
static std::vector<Change> CountedDifferences(const DeviceRecord& record, const PortChange& port) {
  std::vector<Change> changes = Differences(record, port.Desired);
  if (!port.Named) return changes;
  std::vector<Change> asked;
  for (const Change& change : changes)
    if (std::find(port.Named->begin(), port.Named->end(), change.Definition) != port.Named->end())
      asked.push_back(change);
  return asked;
}

ReloadRequest ReloadOf(const CommandLine& line) {
  return line.Check || RestartModeOf(line) != RESTART_DRIVER ? RELOAD_NONE : RELOAD_WHEN_WRITTEN;
}

void RenderReload(const ChangeSet& set, Outcome* outcome) {
  if (set.Reload != RELOAD_FAILED) return;
  bool missing = set.ReloadStatus == FT_LIBRARY_MISSING;
  AddError(outcome,
           missing ? "the settings were written, but FTD2XX.dll is missing: the driver was not "
                     "reloaded (re-plug the adapters, or use --no-reload)"
                   : "the settings were written, but the driver reload failed (FT_Reload status " +
                         std::to_string(set.ReloadStatus) + ")",
           "", "", "", "", missing ? ERROR_MOD_NOT_FOUND : 0);
}

std::string RenameRefusal(const Machine& machine, const DeviceRecord& record, int number,
                          bool force, int* code) {
  ComDbValue comDb = {nullptr, 0};
  unsigned char field[COMDB_SIZE];
  if (!ReadComDb(&comDb, field, nullptr)) memset(field, 0, sizeof field);  // the plan reports it
  FreeComDbValue(&comDb);
  std::string holder;
  NumberHolder held = FindNumberHolder(&record, number,
                                       machine.AttachedKnown ? &machine.Attached : nullptr, field,
                                       &holder);
  if (MayTakeNumber(held, force)) return "";
  std::string name = "COM" + std::to_string(number);
  if (held == NUMBER_HELD_ATTACHED && force) {
    *code = EXIT_FAILED;
    return ShownName(record) + ": " + name + " is held by the attached adapter " + holder +
           ": --force never takes the number of an attached adapter";
  }
  *code = EXIT_BAD_INPUT;
  return ShownName(record) + ": " + name + " is in use (" +
         (held == NUMBER_RESERVED ? std::string("reserved in ComDB") : "held by " + holder) +
         "): use --force to take it anyway";
}

namespace {

// Which changes of the set belong to which port, and how.
enum { RENAME_GROUPS = 1 << 24 };

struct PlannedWrites {
  Machine* Owner;
  PortWrites* Writes;
  std::vector<std::vector<Change>> Differences;
  std::vector<size_t> PortOfChange;  // per change: its port, or (size_t)-1
};

bool PlanPortWrites(PlannedWrites* planned, ChangeSet* set, const Reporter* held) {
  PortWrites* writes = planned->Writes;
  if (writes->IgnoreSerial >= 0) PlanIgnoreSerial(set, writes->IgnoreSerial == 1, IGNORE_SERIAL_GROUP);
  planned->PortOfChange.assign(set->Changes.size(), (size_t)-1);
  std::vector<PortChange>& ports = *writes->Ports;
  for (size_t k = 0; k < ports.size(); ++k) {
    if (planned->Differences[k].empty()) continue;
    size_t first = set->Changes.size();
    PlanDeviceChanges(set, &planned->Owner->Registered.Records[ports[k].Index], &ports[k].Desired,
                      THROUGH_SETUPAPI, 0);
    // Each value on its own: one refused value keeps no other from being
    // written (a value that cannot be read still stops its whole port).
    for (size_t j = first; j < set->Changes.size(); ++j) {
      set->Changes[j].Group = (int)j + 1;
      planned->PortOfChange.push_back(k);
    }
  }
  for (size_t k = 0; k < ports.size(); ++k) {
    if (!ports[k].ComNumber) continue;
    size_t first = set->Changes.size();
    int group = RENAME_GROUPS + (int)k;
    if (!PlanRename(set, &planned->Owner->Registered.Records[ports[k].Index], ports[k].ComNumber,
                    THROUGH_SETUPAPI, group, held)) {
      set->Changes.resize(first);  // ComDB could not be read: reported, not renamed
      continue;
    }
    planned->PortOfChange.resize(set->Changes.size(), k);
  }
  return true;
}

bool GroupWritten(const ChangeSet& set, int group) {
  bool any = false;
  for (const ValueChange& change : set.Changes) {
    if (change.Group != group) continue;
    if (!change.Written) return false;
    any = true;
  }
  return any;
}

void AddSettingChanges(const PortChange& port, const DeviceRecord& record,
                       const std::vector<Change>& changes, const std::vector<bool>& failed,
                       Json* object, Outcome* outcome) {
  for (const Change& change : changes) {
    if (failed[change.Definition->Value]) continue;
    outcome->Changed = true;
    Json entry = Json::object();
    entry["setting"] = change.Definition->Name;
    entry["from"] = SettingJson(*change.Definition, change.From);
    entry["to"] = SettingJson(*change.Definition, change.To);
    (*object)["changes"].push_back(entry);
    outcome->Lines.push_back(ShownName(record) + "  " + change.Definition->Name + "  " +
                             FormatSettingValue(*change.Definition, change.From) + " -> " +
                             FormatSettingValue(*change.Definition, change.To));
  }
  (void)port;
}

void AddPortNumberChange(const std::string& oldName, int number, const DeviceRecord& record,
                         Json* object, Outcome* outcome) {
  std::string newName = "COM" + std::to_string(number);
  outcome->Changed = true;
  (*object)["changes"].push_back({{"setting", "port"}, {"from", oldName}, {"to", newName}});
  outcome->Lines.push_back(ShownName(record) + "  port  " + oldName + " -> " + newName);
}

}  // namespace

int WritePorts(Machine* machine, PortWrites* writes, const CommandLine& line, bool force,
               Outcome* outcome, std::string* reason) {
  std::vector<PortChange>& ports = *writes->Ports;
  PlannedWrites planned = {machine, writes, {}, {}};
  // The numbers asked for are checked before anything is written.
  std::vector<std::string> oldNames(ports.size());
  // A test lists a number in use as a difference: the port is not as it
  // should be. Two ports never take one number in one set.
  bool mayForce = force || (outcome->CheckOnly && !writes->RenameOnly);
  std::map<int, size_t> claimed;
  for (size_t k = 0; k < ports.size(); ++k) {
    planned.Differences.push_back(CountedDifferences(machine->Registered.Records[ports[k].Index],
                                                     ports[k]));
    const DeviceRecord& record = machine->Registered.Records[ports[k].Index];
    oldNames[k] = PortNameOf(record);
    if (ports[k].ComNumber == ComNumberOf(oldNames[k])) ports[k].ComNumber = 0;
    if (!ports[k].ComNumber) continue;
    int code = EXIT_DONE;
    std::string refusal = RenameRefusal(*machine, record, ports[k].ComNumber, mayForce, &code);
    auto earlier = claimed.find(ports[k].ComNumber);
    if (refusal.empty() && earlier != claimed.end()) {
      code = EXIT_FAILED;
      refusal = ShownName(record) + ": COM" + std::to_string(ports[k].ComNumber) +
                " is given to " + ShownName(machine->Registered.Records[ports[earlier->second].Index]) +
                " in the same change";
    }
    if (refusal.empty()) {
      claimed[ports[k].ComNumber] = k;
      continue;
    }
    if (writes->RenameOnly) {
      *reason = refusal;
      return code;
    }
    // Within a profile: the other ports go on, this one keeps its number.
    AddDeviceError(outcome, record, refusal, "PortName", "", ERROR_ALREADY_EXISTS);
    ports[k].ComNumber = 0;
  }
  ChangeSet set;
  if (!outcome->CheckOnly) {
    Reporter reporter = OutcomeReporter(outcome);
    RestartAfterWrite restart = {&line, outcome};
    RunWrite(
        line.Text.c_str(), ReloadOf(line), &set, &reporter,
        [&](ChangeSet* changes, const Reporter* held) {
          return PlanPortWrites(&planned, changes, held);
        },
        RestartModeOf(line) == RESTART_DEVICE ? RestartWrittenDevices : nullptr, &restart);
    if (set.Withheld) {
      for (PortChange& port : ports) port.ComNumber = 0;
      for (std::vector<Change>& changes : planned.Differences) changes.clear();
      return EXIT_DONE;
    }
  }
  // Per port, the values not written.
  std::vector<std::vector<bool>> failed(ports.size(), std::vector<bool>(VALUE_NAME_COUNT, false));
  for (size_t j = 0; j < set.Changes.size(); ++j) {
    const ValueChange& change = set.Changes[j];
    size_t k = j < planned.PortOfChange.size() ? planned.PortOfChange[j] : (size_t)-1;
    if (k == (size_t)-1 || change.Group >= RENAME_GROUPS) continue;
    DeviceRecord* record = &machine->Registered.Records[ports[k].Index];
    DriverValueId value = DriverValueNamed(change.Value);
    if (change.Written)
      AdoptWrittenChange(change, record);
    else if (value != VALUE_NAME_COUNT)
      failed[k][value] = true;
  }
  for (const FailedChange& failure : set.Failed) {
    const ValueChange& change = set.Changes[failure.Index];
    if (change.Group >= RENAME_GROUPS) {
      Reporter reporter = OutcomeReporter(outcome);
      ReportRenameFailure(set, failure, &reporter);
      continue;
    }
    std::string text = failure.Unread ? "cannot read " + change.Value +
                                            ": nothing of this port was written"
                                      : "cannot write " + change.Value + ": not written";
    AddError(outcome, text, change.Port, change.Serial, change.Value, change.Key, failure.Error);
  }
  if (writes->IgnoreSerial >= 0)
    writes->IgnoreSerialWritten = outcome->CheckOnly || GroupWritten(set, IGNORE_SERIAL_GROUP);
  if (writes->IgnoreSerialWritten) outcome->Changed = true;
  for (size_t k = 0; k < ports.size(); ++k) {
    const DeviceRecord& record = machine->Registered.Records[ports[k].Index];
    // A port whose values could not be read wrote nothing.
    bool unread = false;
    for (const FailedChange& failure : set.Failed)
      unread = unread || (failure.Unread && set.Changes[failure.Index].Serial == SerialOf(record));
    if (unread) failed[k].assign(VALUE_NAME_COUNT, true);
    AddSettingChanges(ports[k], record, planned.Differences[k], failed[k], &ports[k].Port, outcome);
    if (ports[k].ComNumber &&
        (outcome->CheckOnly || GroupWritten(set, RENAME_GROUPS + (int)k))) {
      AddPortNumberChange(oldNames[k], ports[k].ComNumber, record, &ports[k].Port, outcome);
      if (!outcome->CheckOnly)
        snprintf(machine->Registered.Records[ports[k].Index].PortName, PORT_NAME_SIZE, "COM%d",
                 ports[k].ComNumber);
    }
  }
  if (set.JournalId) outcome->Document["id"] = set.JournalId;
  outcome->JournalId = set.JournalId;
  RenderReload(set, outcome);
  return EXIT_DONE;
}

std::set<int> NumbersInUse(const Machine& machine, const std::vector<bool>& skipped) {
  std::set<int> numbers;
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    if (record.DeviceId == 0 || (i < skipped.size() && skipped[i])) continue;
    if (int n = ComNumberOf(PortNameOf(record))) numbers.insert(n);
  }
  return numbers;
}
