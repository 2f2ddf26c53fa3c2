#include "cli/port_changes.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "comdb/rename.h"
#include "devices/device_changes.h"
#include "platform/writer_lock.h"
#include "devices/device_keys.h"
#include "devices/ports.h"
#include "devices/registry_paths.h"
#include "devices/settings_store.h"
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

DeviceSet* DeviceSetHolder::Get() {
  if (!Tried) {
    Tried = true;
    OpenDeviceSet(&Set, &Error);
  }
  return Set.Handle ? &Set : nullptr;
}

DeviceSetHolder::~DeviceSetHolder() { CloseDeviceSet(&Set); }

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

void ApplyPortChanges(Machine* machine, std::vector<PortChange>* ports, const std::string& command,
                      Outcome* outcome) {
  std::vector<std::vector<Change>> differences;
  bool any = false;
  for (const PortChange& port : *ports) {
    differences.push_back(CountedDifferences(machine->Registered.Records[port.Index], port));
    any = any || !differences.back().empty();
  }
  // Per port, the values not written.
  std::vector<std::vector<bool>> failed(ports->size(), std::vector<bool>(VALUE_NAME_COUNT, false));
  if (!outcome->CheckOnly && any) {
    Reporter reporter = OutcomeReporter(outcome);
    WriterLock lock;
    if (!TakeWriterLock(&reporter, &lock)) {
      for (std::vector<bool>& values : failed) values.assign(VALUE_NAME_COUNT, true);
    } else {
      ChangeSet set;
      set.Command = command;
      std::vector<size_t> owner;  // the port of each change
      for (size_t k = 0; k < ports->size(); ++k) {
        if (differences[k].empty()) continue;
        size_t first = set.Changes.size();
        PlanDeviceChanges(&set, &machine->Registered.Records[(*ports)[k].Index],
                          &(*ports)[k].Desired, THROUGH_SETUPAPI, 0);
        // Each value on its own: one refused value keeps no other from
        // being written.
        for (size_t j = first; j < set.Changes.size(); ++j) {
          set.Changes[j].Group = (int)j;
          owner.push_back(k);
        }
      }
      CommitChangeSet(&set, &reporter);
      ReleaseWriterLock(&lock);
      outcome->JournalId = set.JournalId;
      for (size_t j = 0; j < set.Changes.size(); ++j) {
        const ValueChange& change = set.Changes[j];
        DeviceRecord* record = &machine->Registered.Records[(*ports)[owner[j]].Index];
        DriverValueId value = DriverValueNamed(change.Value);
        if (change.Written) {
          AdoptWrittenChange(change, record);
        } else if (value != VALUE_NAME_COUNT) {
          failed[owner[j]][value] = true;
        }
      }
      for (const FailedChange& failure : set.Failed) {
        const ValueChange& change = set.Changes[failure.Index];
        AddDeviceError(outcome, machine->Registered.Records[(*ports)[owner[failure.Index]].Index],
                       "cannot write " + change.Value + ": not written", change.Value, change.Key,
                       failure.Error);
      }
    }
  }
  for (size_t k = 0; k < ports->size(); ++k) {
    PortChange& port = (*ports)[k];
    const DeviceRecord& record = machine->Registered.Records[port.Index];
    for (const Change& change : differences[k]) {
      if (failed[k][change.Definition->Value]) continue;
      outcome->Changed = true;
      Json entry = Json::object();
      entry["setting"] = change.Definition->Name;
      entry["from"] = JsonValue(*change.Definition, change.From);
      entry["to"] = JsonValue(*change.Definition, change.To);
      port.Port["changes"].push_back(entry);
      outcome->Lines.push_back(ShownName(record) + "  " + change.Definition->Name + "  " +
                               FormatSettingValue(*change.Definition, change.From) + " -> " +
                               FormatSettingValue(*change.Definition, change.To));
    }
  }
}

bool WriteIgnoreSerialOption(bool on, const std::string& command, Outcome* outcome) {
  Reporter reporter = OutcomeReporter(outcome);
  DWORD rc = WriteIgnoreSerial(on, command.c_str(), &reporter);
  if (rc == ERROR_SUCCESS) return true;
  if (rc != WAIT_TIMEOUT && rc != ERROR_CANCELLED)
    AddError(outcome, "cannot write the ignore-serial-number values", "", "",
             "IgnoreHWSerNum04036001", UsbFlagsKeyPath, rc);
  return false;
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

int RenamePort(Machine* machine, uint32_t index, int number, bool force,
               const std::string& command, Outcome* outcome, Json* port, std::string* reason) {
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

  if (!outcome->CheckOnly &&
      RenameDevice(record, number, THROUGH_SETUPAPI, command.c_str(), &reporter) != ERROR_SUCCESS)
    return EXIT_DONE;  // reported; every step done was put back
  outcome->Changed = true;
  Json entry = Json::object();
  entry["setting"] = "port";
  entry["from"] = oldName;
  entry["to"] = newName;
  (*port)["changes"].push_back(entry);
  outcome->Lines.push_back(ShownName(*record) + "  port  " + oldName + " -> " + newName);
  return EXIT_DONE;
}
