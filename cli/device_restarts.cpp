#include "cli/device_restarts.h"

#include <windows.h>
#include <string.h>

#include <algorithm>

#include "cli/port_changes.h"
#include "devices/device_keys.h"
#include "devices/journal.h"
#include "platform/device_restart.h"

const char RestartPendingText[] = "restart pending: replug the adapter or restart Windows";
const char RestartNeedsX64Text[] =
    "a 32-bit program cannot restart devices on 64-bit Windows: use portmeld.exe of the x64 "
    "package (portmeld-1.0-x64.msi)";

std::string DeviceKeyName(const DeviceRecord& record) {
  char path[DEVICE_KEY_PATH_SIZE];
  if (!FormatDeviceKeyPath(path, sizeof path, &record, DEVICE_INSTANCE_KEY)) return "";
  const char* bus = strstr(path, "FTDIBUS\\");
  if (!bus) return "";
  std::string name = bus + 8;
  return name.substr(0, name.find('\\'));
}

// "FTDIBUS\VID_0403+PID_6001+FT12AB34A\0000".
static std::string InstanceIdOf(const DeviceRecord& record) {
  char path[DEVICE_KEY_PATH_SIZE];
  if (!FormatDeviceKeyPath(path, sizeof path, &record, DEVICE_INSTANCE_KEY)) return "";
  const char* bus = strstr(path, "FTDIBUS\\");
  return bus ? bus : "";
}

std::vector<JournalRestartEntry> RestartPorts(const Machine& machine,
                                              const std::vector<uint32_t>& indexes, bool force,
                                              Outcome* outcome) {
  std::vector<JournalRestartEntry> entries;
  if (indexes.empty()) return entries;
  if (!outcome->Document.contains("restart")) outcome->Document["restart"] = Json::array();
  DeviceRestartCalls calls;
  bool loaded = LoadDeviceRestartCalls(&calls);
  for (uint32_t i : indexes) {
    const DeviceRecord& record = machine.Registered.Records[i];
    const DeviceRecord* live = AttachedRecord(machine, record);
    std::string result = "restarted", message;
    DWORD error = ERROR_SUCCESS;
    if (live && (live->Flags & D2XX_FLAG_OPENED) && !force) {
      result = "restart-pending";
      message = "restart pending: the port is open in another program (--force restarts it anyway)";
      error = ERROR_BUSY;
    } else if (!loaded) {
      result = "failed";
      message = "the device could not be restarted: SetupAPI's device functions are missing";
      error = ERROR_PROC_NOT_FOUND;
    } else {
      switch (RestartDeviceInstance(&calls, InstanceIdOf(record).c_str(), &error)) {
        case DEVICE_RESTARTED:
          break;
        case DEVICE_NEEDS_REPLUG:
          result = "restart-pending";
          message = RestartPendingText;
          error = ERROR_SUCCESS_REBOOT_REQUIRED;
          break;
        case DEVICE_RESTART_FAILED:
          result = "failed";
          message = "the device could not be restarted; its values are written and take effect "
                    "when it is replugged";
          break;
      }
    }
    entries.push_back({PortNameOf(record), SerialOf(record), result});
    outcome->Document["restart"].push_back(
        {{"port", Utf8(PortNameOf(record))}, {"serial", Utf8(SerialOf(record))}, {"result", result}});
    if (message.empty())
      outcome->Lines.push_back(ShownName(record) + "  restarted");
    else
      AddDeviceError(outcome, record, message, "", "", error);
  }
  UnloadDeviceRestartCalls(&calls);
  return entries;
}

RestartMode RestartModeOf(const CommandLine& line) {
  if (line.Restart == "device") return RESTART_DEVICE;
  if (line.Restart == "none") return RESTART_NONE;
  if (line.Restart == "driver") return RESTART_DRIVER;
  return line.NoReload ? RESTART_NONE : RESTART_DRIVER;
}

std::vector<std::string> ChangedDeviceKeys(const Machine& machine, const Json& ports) {
  std::vector<std::string> keys;
  for (const Json& port : ports) {
    if (!port.is_object() || !port.contains("changes") || port["changes"].empty()) continue;
    for (uint32_t i = 0; i < machine.Registered.count; ++i) {
      const DeviceRecord& record = machine.Registered.Records[i];
      if (record.DeviceId && port["serial"] == Utf8(SerialOf(record)) &&
          port["vidpid"] == VidPidOf(record))
        keys.push_back(DeviceKeyName(record));
    }
  }
  return keys;
}

// The attached devices among those named, restarted; false (with the
// error) when which are attached cannot be known.
static bool RestartNamedDevices(const std::vector<std::string>& deviceKeys, bool force,
                                Outcome* outcome, std::vector<JournalRestartEntry>* entries) {
  Machine machine;
  if (!LoadMachine(&machine, READ_PORT_NAMES, outcome)) return false;
  if (!machine.AttachedKnown) {
    AddError(outcome,
             "the settings were written, but FTD2XX.dll is missing: which adapters are attached "
             "cannot be known, none was restarted (re-plug them)",
             "", "", "", "", ERROR_MOD_NOT_FOUND);
    return false;
  }
  std::vector<uint32_t> indexes;
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    if (record.DeviceId == 0 || AttachedState(machine, record) != 1) continue;
    if (std::find(deviceKeys.begin(), deviceKeys.end(), DeviceKeyName(record)) != deviceKeys.end())
      indexes.push_back(i);
  }
  *entries = RestartPorts(machine, indexes, force, outcome);
  return true;
}

void RestartWrittenDevices(void* context, ChangeSet* set) {
  RestartAfterWrite* after = static_cast<RestartAfterWrite*>(context);
  std::vector<std::string> written;  // the devices' key names
  for (const ValueChange& change : set->Changes) {
    size_t bus = change.Key.find("FTDIBUS\\");
    if (change.Written && bus != std::string::npos)
      written.push_back(change.Key.substr(bus + 8, change.Key.find('\\', bus + 8) - bus - 8));
  }
  try {
    RestartNamedDevices(written, false, after->Result, &set->Restarts);
  } catch (...) {  // the core is built without exceptions: none may reach it
  }
}

void AfterWrites(const CommandLine& line, const std::vector<std::string>& deviceKeys,
                 uint64_t journalId, Outcome* outcome) {
  // A driver reload is part of the write's transaction.
  if (RestartModeOf(line) != RESTART_DEVICE || line.Check || !outcome->Changed) return;
  std::vector<JournalRestartEntry> entries;
  if (!RestartNamedDevices(deviceKeys, false, outcome, &entries)) return;
  DWORD rc = JournalRestart(journalId, entries);
  if (rc != ERROR_SUCCESS)
    AddError(outcome, "the restarts could not be recorded in the change journal", "", "", "",
             JournalFilePath(), rc);
}

int RunRestart(const CommandLine& line, Outcome* outcome) {
  Machine machine;
  if (!LoadMachine(&machine, READ_PORT_NAMES, outcome)) return Finish(outcome);
  if (!machine.AttachedKnown)
    return Refuse(outcome, EXIT_FAILED,
                  "FTD2XX.dll could not be loaded: which adapters are attached cannot be known");
  std::vector<uint32_t> indexes, attached;
  std::string reason;
  int code = SelectPorts(machine, line.Port, line.VidPid, &indexes, &reason);
  if (code != EXIT_DONE) return Refuse(outcome, code, reason);
  for (uint32_t i : indexes)
    if (AttachedState(machine, machine.Registered.Records[i]) == 1) attached.push_back(i);
  if (attached.empty())
    return Refuse(outcome, EXIT_NO_PORT,
                  "no attached adapter matches '" + line.Port +
                      "': only attached adapters can be restarted");
  for (uint32_t i : attached) {
    const DeviceRecord& record = machine.Registered.Records[i];
    outcome->Document["ports"].push_back(PortObject(record, 1));
  }
  if (line.Check) {
    outcome->Changed = true;
    for (uint32_t i : attached)
      outcome->Lines.push_back(ShownName(machine.Registered.Records[i]) + "  would be restarted");
    return Finish(outcome);
  }
  RestartPorts(machine, attached, line.Force, outcome);
  outcome->Changed = true;
  return Finish(outcome);
}
