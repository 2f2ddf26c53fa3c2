// What the commands that change ports share: comparing a record with the
// one wanted, writing the values that differ, renaming a port, reloading
// the driver once afterwards.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/machine.h"
#include "cli/output.h"
#include "history/port_settings.h"
#include "devices/write_transaction.h"


// The port's name, or its serial when it has none.
std::string ShownName(const DeviceRecord& record);
std::string Pad(const std::string& text, size_t width);

// One setting of one port that differs.
struct Change {
  const SettingSpec* Definition;
  SettingValue From;
  SettingValue To;
};
std::vector<Change> Differences(const DeviceRecord& before, const DeviceRecord& after);

// How a command reloads the driver after it wrote: once when anything was
// written, unless --no-reload or --check.
ReloadRequest ReloadOf(const CommandLine& line);
// A reload the set asked for that failed, as an error of the outcome.
void RenderReload(const ChangeSet& set, Outcome* outcome);
// Why the record may not take the number under the rename rule, "" when
// it may; *code the exit code of a refusal.
std::string RenameRefusal(const Machine& machine, const DeviceRecord& record, int number,
                          bool force, int* code);
// The COM numbers the registered devices' PortNames hold, but for those
// marked skipped.
std::set<int> NumbersInUse(const Machine& machine, const std::vector<bool>& skipped);

// One port a command changes: what it should become, and which settings
// count (nullptr: every one that differs). With named, only those count:
// what the command or profile asked for, not what follows from it (a
// changed alias makes the table "custom"; an option set on a ConfigData
// that could not be read gives it its other bits too).
struct PortChange {
  uint32_t Index;  // into the machine's registered devices
  DeviceRecord Desired;
  const std::vector<const SettingSpec*>* Named;
  Json Port;  // the port's object; its "changes" get what was written
  int ComNumber;  // a number to give the port; 0 for none
};

// What one command writes, as one change set through the core's one write
// transaction: the ports' settings, the machine-wide ignore-serial option
// (IgnoreSerial -1 for unchanged) and the ports' new numbers; then one
// reload of the driver when anything was written, unless --no-reload.
struct PortWrites {
  std::vector<PortChange>* Ports = nullptr;
  int IgnoreSerial = -1;
  bool IgnoreSerialWas = false;
  bool IgnoreSerialWritten = false;  // set by WritePorts
  bool RenameOnly = false;  // rename: a refused number refuses the command
};

// Only the settings that differ are written, merged onto what the registry
// holds now. Each change written goes to its port's "changes" and the
// lines, each value that could not be written to the errors; the records
// take what was written. With --check, only says what would change. A new
// number is given only when the rename rule allows it (MayTakeNumber; a
// profile's number never with force): else EXIT_BAD_INPUT, or EXIT_FAILED
// for a number an attached adapter holds, with the reason in *reason.
int WritePorts(Machine* machine, PortWrites* writes, const CommandLine& line, bool force,
               Outcome* outcome, std::string* reason);
