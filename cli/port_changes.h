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
#include "cli/settings.h"
#include "devices/device_properties.h"

// The JSON form of a setting's value: numbers, booleans, the alias table's
// name, an alias's generated rate; null when unknown.
Json JsonValue(const SettingSpec& definition, const SettingValue& value);

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

// SetupAPI's list of FTDIBUS devices, opened when first needed.
struct DeviceSetHolder {
  DeviceSet Set = {nullptr, 0};
  bool Tried = false;
  DWORD Error = 0;
  DeviceSet* Get();
  DeviceSetHolder() = default;
  DeviceSetHolder(const DeviceSetHolder&) = delete;
  DeviceSetHolder& operator=(const DeviceSetHolder&) = delete;
  ~DeviceSetHolder();
};

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
};

// Brings the ports to what is desired, as one change set under the writer
// lock: only the settings that differ, merged onto what the registry holds
// now. Each change written goes to its port's "changes" and the lines, each
// value that could not be written to the errors; the records take what was
// written. With --check, only says what would change.
void ApplyPortChanges(Machine* machine, std::vector<PortChange>* ports, const std::string& command,
                      Outcome* outcome);

// Gives the registered device at index the number: PortName, FriendlyName
// and ComDB as one change, as the windowed program does. A number another
// device holds, or ComDB marks taken, is refused (EXIT_BAD_INPUT with the
// reason) unless force. EXIT_DONE otherwise, also after a failed write (in
// the outcome, with nothing changed).
int RenamePort(Machine* machine, uint32_t index, int number, bool force,
               const std::string& command, Outcome* outcome, Json* port, std::string* reason);

// The COM numbers the registered devices' PortNames hold, but for those
// marked skipped.
std::set<int> NumbersInUse(const Machine& machine, const std::vector<bool>& skipped);

// The machine-wide ignore-serial-number option, written as one change;
// false with the error (its real Win32 code) in the outcome.
bool WriteIgnoreSerialOption(bool on, const std::string& command, Outcome* outcome);

// After a command wrote something: one reload of the driver, unless asked
// not to.
void ReloadAfterWrites(const CommandLine& line, Outcome* outcome);
