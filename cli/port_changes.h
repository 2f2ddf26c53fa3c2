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

// Brings the record to desired: writes every value in which a setting
// differs, reports each change written and each value that could not be.
// With --check, only says what would change.
// The changes go to (*port)["changes"]. With named, only those settings
// count: what the command or profile asked for, not what follows from it
// (a changed alias makes the table "custom"; an option set on a ConfigData
// that could not be read gives it its other bits too).
void ApplyChanges(DeviceRecord* record, const DeviceRecord& desired, DeviceSetHolder* devices,
                  Outcome* outcome, Json* port,
                  const std::vector<const SettingSpec*>* named = nullptr);

// Gives the registered device at index the number: PortName, FriendlyName
// and ComDB, as the windowed program does. A number another device holds,
// or ComDB marks taken, is refused (EXIT_BAD_INPUT with the reason) unless
// force. EXIT_DONE otherwise, also after a failed write (in the outcome).
int RenamePort(Machine* machine, uint32_t index, int number, bool force, Outcome* outcome,
               Json* port, std::string* reason);

// The COM numbers the registered devices' PortNames hold, but for those
// marked skipped.
std::set<int> NumbersInUse(const Machine& machine, const std::vector<bool>& skipped);

// After a command wrote something: one reload of the driver, unless asked
// not to.
void ReloadAfterWrites(const CommandLine& line, Outcome* outcome);
