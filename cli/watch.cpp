// portmeld watch: waits on change notifications of the driver's FTDIBUS key
// and of the profile's folder (never on a timer while nothing happens),
// collects the adapters that arrive within a settle time of each other,
// waits for each one's installation to finish, and applies the profile to
// them as apply does: one change set, then a restart of each adapter written.
#include "cli/watch.h"

#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "access/file_access.h"
#include "cli/device_restarts.h"
#include "cli/machine.h"
#include "cli/port_changes.h"
#include "cli/profile.h"
#include "cli/profile_commands.h"
#include "devices/registry_paths.h"
#include "platform/agent_service.h"
#include "platform/device_restart.h"

namespace {

const DWORD SettleMs = 1000;  // quiet after the last notification before acting

HANDLE ConsoleStop, StoppedEvent;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  SetEvent(ConsoleStop);
  // Windows ends the process once this returns from a close, log-off or
  // shut-down: the stopped line must be out first.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    WaitForSingleObject(StoppedEvent, 4000);
  return TRUE;
}

// One adapter key seen arriving, not yet written.
struct Arrival {
  std::string Device;    // "VID_0403+PID_6001+FT12AB34A"
  std::string Instance;  // "0000"
  DWORD Since;           // GetTickCount when it was seen
  bool Told;             // its "waiting" line is out
};

struct Watch {
  const CommandLine* Line;
  bool ToEventLog;      // run as the agent service: each action in the Application log too
  std::string Path;     // the profile as given
  std::string Command;  // the journal's "command"
  Profile Current;
  std::string Text;  // the profile's bytes as last read
  std::string Restart;  // device, driver or none
  bool Refused = false;  // the profile's access list was last found refused
  std::set<std::string> Known;  // "device\instance" of every key seen
  std::vector<Arrival> Pending;
};

std::string Now() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char text[32];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", now.wYear, now.wMonth, now.wDay,
           now.wHour, now.wMinute, now.wSecond);
  return text;
}

std::string Shown(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

// One action: a line of text, or with --json one object.
void Tell(const Watch& watch, const char* event, const std::string& port = "",
          const std::string& serial = "", const Json* changes = nullptr,
          const std::string& message = "") {
  if (watch.Line->Json) {
    Json line = {{"time", Now()}, {"event", event}, {"port", port}, {"serial", serial}};
    if (changes) line["changes"] = *changes;
    if (!message.empty()) line["message"] = message;
    PrintLine(line.dump(-1, ' ', false, Json::error_handler_t::replace));
  } else {
    std::string text = Now() + "  " + event;
    if (!port.empty()) text += "  " + port;
    if (!serial.empty()) text += "  " + serial;
    if (changes)
      for (size_t i = 0; i < changes->size(); ++i)
        text += (i ? ", " : "  ") + Shown((*changes)[i]["setting"]) + " " +
                Shown((*changes)[i]["from"]) + " -> " + Shown((*changes)[i]["to"]);
    if (!message.empty()) text += "  " + message;
    PrintLine(text);
  }
  fflush(stdout);
  if (watch.ToEventLog) {
    // No one reads a service's output.
    std::string event_ = event;
    std::string text = "portmeld watch " + watch.Path + ": " + event_;
    if (!port.empty()) text += " " + port;
    if (!serial.empty()) text += " (" + serial + ")";
    if (changes)
      for (size_t i = 0; i < changes->size(); ++i)
        text += (i ? ", " : ": ") + Shown((*changes)[i]["setting"]) + " " +
                Shown((*changes)[i]["from"]) + " -> " + Shown((*changes)[i]["to"]);
    if (!message.empty()) text += ": " + message;
    WORD type = event_ == "error"                                               ? EVENTLOG_ERROR_TYPE
                : event_ == "gave-up" || event_ == "profile-invalid" || event_ == "restart-pending"
                    ? EVENTLOG_WARNING_TYPE
                    : EVENTLOG_INFORMATION_TYPE;
    ReportAgentEvent(type, text);
  }
}

bool ReadFileText(const std::string& path, std::string* text) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got;
  text->clear();
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0 && text->size() < (64u << 20))
    text->append(buffer, got);
  bool ok = !ferror(file) && text->size() < (64u << 20);
  fclose(file);
  return ok;
}

// Why the profile may not be used: unreadable, invalid, or changeable by
// others than SYSTEM and Administrators (as apply judges it). "" when fine.
std::string ReadWatchedProfile(const Watch& watch, std::string* text, Profile* profile,
                               int* exitCode) {
  if (!ReadFileText(watch.Path, text)) {
    *exitCode = EXIT_BAD_INPUT;
    return watch.Path + ": cannot be read";
  }
  std::string body = text->compare(0, 3, "\xEF\xBB\xBF") == 0 ? text->substr(3) : *text;
  std::string reason;
  if (!ReadProfile(body, PROFILE_FILE, profile, &reason)) {
    *exitCode = EXIT_BAD_INPUT;
    return watch.Path + ": " + reason;
  }
  if (!watch.Line->AllowWritableProfile) {
    OtherAccess other;
    DWORD rc = FindFileWriter(watch.Path.c_str(), &other);
    *exitCode = EXIT_NOT_ALLOWED;
    if (rc != ERROR_SUCCESS)
      return watch.Path + ": its access list cannot be read (Win32 error " + std::to_string(rc) +
             "), so who may change it is not known";
    if (other.Found)
      return watch.Path + ": " + other.Account + " may change this profile (through " +
             other.Through + "), not only SYSTEM and Administrators";
  }
  *exitCode = EXIT_DONE;
  return "";
}

// Every "device\instance" key under FTDIBUS now.
std::set<std::string> InstanceKeys() {
  std::set<std::string> keys;
  HKEY bus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &bus) != ERROR_SUCCESS)
    return keys;
  char device[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof device;
    LONG rc = RegEnumKeyExA(bus, i, device, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    HKEY key;
    if (RegOpenKeyExA(bus, device, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    char instance[256];
    for (DWORD j = 0;; ++j) {
      DWORD length = sizeof instance;
      LONG got = RegEnumKeyExA(key, j, instance, &length, nullptr, nullptr, nullptr, nullptr);
      if (got == ERROR_MORE_DATA) continue;
      if (got != ERROR_SUCCESS) break;
      keys.insert(std::string(device) + "\\" + instance);
    }
    RegCloseKey(key);
  }
  RegCloseKey(bus);
  return keys;
}

bool HasValue(const std::string& path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  bool found = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return found;
}

// Windows has finished installing the adapter: its instance has its driver,
// and its Device Parameters its port name. Written before that, the
// installation would overwrite the values.
bool Installed(const Arrival& arrival) {
  std::string instance =
      std::string(FtdibusKeyPath) + "\\" + arrival.Device + "\\" + arrival.Instance;
  return HasValue(instance, "Driver") && HasValue(instance + "\\Device Parameters", "PortName");
}

// Applies the current profile to the devices named (all when devices is
// null) and restarts what was written, each step told as it happened.
void ApplyPass(Watch* watch, const std::set<std::string>* devices) {
  Machine machine;
  Outcome outcome;
  outcome.JsonOutput = watch->Line->Json;
  if (!LoadMachine(&machine, READ_SETTINGS, &outcome)) {
    for (const Json& error : outcome.Document["errors"])
      Tell(*watch, "error", "", "", nullptr, error["message"].get<std::string>());
    return;
  }
  std::vector<bool> only(machine.Registered.count, devices == nullptr);
  Profile profile = watch->Current;
  if (devices) {
    // An arrival is about its own settings; the machine-wide option was
    // enforced when watch started or the profile changed.
    profile.HasIgnoreSerial = false;
    for (uint32_t i = 0; i < machine.Registered.count; ++i)
      only[i] = devices->count(DeviceKeyName(machine.Registered.Records[i])) > 0;
  }
  CommandLine writing = *watch->Line;
  writing.Text = watch->Command;
  // A driver reload is the write's own; device restarts come after the
  // lock is let go, a hundred of them must not hold other writers.
  writing.Restart = watch->Restart == "device" ? "none" : watch->Restart;
  Enforce(&machine, profile, writing, &outcome, &only);

  for (const Json& change : outcome.Document["changes"])  // the machine-wide option
    if (change.is_object()) {
      Json changes = Json::array({change});
      Tell(*watch, "applied", "", "", &changes);
    }
  std::set<std::string> changed;
  for (const Json& port : outcome.Document["ports"]) {
    Tell(*watch, "applied", port["port"], port["serial"], &port["changes"]);
    changed.insert(port["serial"].get<std::string>() + "|" + port["vidpid"].get<std::string>());
  }
  size_t errorsBefore = outcome.Document["errors"].size();
  std::set<std::string> failed;
  for (const Json& error : outcome.Document["errors"]) {
    Tell(*watch, "error", error["port"], error["serial"], nullptr, error["message"]);
    failed.insert(error["serial"].get<std::string>());
  }
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    std::string serial = Utf8(SerialOf(record));
    if (!only[i] || record.DeviceId == 0 || changed.count(serial + "|" + VidPidOf(record)) ||
        failed.count(serial))
      continue;
    Json none = Json::array();
    Tell(*watch, "compliant", Utf8(PortNameOf(record)), serial, &none);
  }

  // The restarts, after the writer lock was let go.
  CommandLine after = *watch->Line;
  after.Restart = watch->Restart;
  AfterWrites(after, ChangedDeviceKeys(machine, outcome.Document["ports"]), outcome.JournalId,
              &outcome);
  std::set<std::string> told;
  if (outcome.Document.contains("restart"))
    for (const Json& restart : outcome.Document["restart"]) {
      std::string result = restart["result"];
      told.insert(restart["serial"].get<std::string>());
      if (result == "restarted") {
        Tell(*watch, "restarted", restart["port"], restart["serial"]);
        continue;
      }
      std::string message;
      for (size_t k = errorsBefore; k < outcome.Document["errors"].size(); ++k)
        if (outcome.Document["errors"][k]["serial"] == restart["serial"])
          message = outcome.Document["errors"][k]["message"];
      Tell(*watch, result == "failed" ? "error" : "restart-pending", restart["port"],
           restart["serial"], nullptr, message);
    }
  for (size_t k = errorsBefore; k < outcome.Document["errors"].size(); ++k) {
    const Json& error = outcome.Document["errors"][k];
    if (!told.count(error["serial"].get<std::string>()))
      Tell(*watch, "error", error["port"], error["serial"], nullptr, error["message"]);
  }
}

// Notices new keys; those not installed yet are told once that they wait.
void NoteArrivals(Watch* watch) {
  std::set<std::string> now = InstanceKeys();
  for (const std::string& key : now) {
    if (watch->Known.count(key)) continue;
    watch->Known.insert(key);
    size_t cut = key.find('\\');
    Arrival arrival = {key.substr(0, cut), key.substr(cut + 1), GetTickCount(), false};
    watch->Pending.push_back(arrival);
  }
  // A key that went away (the adapter removed) is seen again when it comes back.
  for (auto key = watch->Known.begin(); key != watch->Known.end();)
    key = now.count(*key) ? std::next(key) : watch->Known.erase(key);
}

// The arrivals whose installation has finished are written together; the
// others wait, until they are given up.
void SettleArrivals(Watch* watch) {
  std::set<std::string> ready;
  std::vector<Arrival> waiting;
  DWORD giveUpMs = (DWORD)(watch->Line->GiveUpSeconds * 1000);
  for (Arrival& arrival : watch->Pending) {
    std::string serial = arrival.Device.substr(arrival.Device.find_last_of('+') + 1);
    if (!arrival.Told) {
      Tell(*watch, "arrived", "", serial);
      arrival.Told = true;
      if (!Installed(arrival)) Tell(*watch, "waiting", "", serial, nullptr, "its installation has not finished");
    }
    if (Installed(arrival)) {
      ready.insert(arrival.Device);
    } else if (GetTickCount() - arrival.Since >= giveUpMs) {
      Tell(*watch, "gave-up", "", serial, nullptr,
           "its installation did not finish within " +
               std::to_string((unsigned long)watch->Line->GiveUpSeconds) +
               " seconds: nothing written");
    } else {
      waiting.push_back(arrival);
    }
  }
  watch->Pending = waiting;
  if (!ready.empty()) ApplyPass(watch, &ready);
}

// The next time something is due: the settle time after the last
// notification, or the give-up of the oldest arrival; INFINITE for none.
DWORD NextWait(const Watch& watch, bool settling, DWORD lastNotice) {
  DWORD now = GetTickCount(), wait = INFINITE;
  if (settling) {
    DWORD since = now - lastNotice;
    wait = since >= SettleMs ? 0 : SettleMs - since;
  }
  DWORD giveUpMs = (DWORD)(watch.Line->GiveUpSeconds * 1000);
  for (const Arrival& arrival : watch.Pending) {
    DWORD since = now - arrival.Since;
    DWORD left = since >= giveUpMs ? 0 : giveUpMs - since;
    wait = std::min(wait, left);
  }
  return wait;
}

// Asks for a signal at the next change below FTDIBUS, or, while the driver
// has no such key yet, at the next key made beside it. The keys stay open:
// closing one ends its request with a signal.
struct WatchedKeys {
  HKEY Bus = nullptr;
  HKEY Parent = nullptr;
};

void ArmRegistry(WatchedKeys* keys, HANDLE event) {
  if (!keys->Bus &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_NOTIFY | KEY_READ, &keys->Bus) !=
          ERROR_SUCCESS)
    keys->Bus = nullptr;
  if (keys->Bus) {
    if (keys->Parent) RegCloseKey(keys->Parent);
    keys->Parent = nullptr;
    RegNotifyChangeKeyValue(keys->Bus, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                            event, TRUE);
    return;
  }
  if (!keys->Parent) {
    std::string enumPath = FtdibusKeyPath;
    enumPath = enumPath.substr(0, enumPath.find_last_of('\\'));
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, enumPath.c_str(), 0, KEY_NOTIFY, &keys->Parent) !=
        ERROR_SUCCESS)
      keys->Parent = nullptr;
  }
  if (keys->Parent)
    RegNotifyChangeKeyValue(keys->Parent, FALSE, REG_NOTIFY_CHANGE_NAME, event, TRUE);
}

}  // namespace

int RunWatch(const CommandLine& line, Outcome* outcome) {
  ConsoleStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  StoppedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!ConsoleStop || !StoppedEvent)
    return Refuse(outcome, EXIT_FAILED, "cannot make an event (Win32 error " +
                                            std::to_string(GetLastError()) + ")");
  // Started in a process group of its own, Ctrl+C would be ignored.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  int code = WatchProfile(line, outcome, ConsoleStop, false);
  SetEvent(StoppedEvent);
  return code;
}

int WatchProfile(const CommandLine& line, Outcome* outcome, HANDLE stopEvent, bool toEventLog) {
  if (line.Port == "-")
    return Refuse(outcome, EXIT_BAD_INPUT, "watch needs a profile file: it is read again when it changes");
  if (line.Check) return Refuse(outcome, EXIT_BAD_INPUT, "watch writes: --check is for test or apply");
  Watch watch;
  watch.Line = &line;
  watch.ToEventLog = toEventLog;
  watch.Path = line.Port;
  watch.Command = "watch " + line.Port;
  watch.Restart = line.Restart.empty() ? (line.NoReload ? "none" : "device") : line.Restart;
  if (watch.Restart == "device" && RunsUnderWow64())
    return Refuse(outcome, EXIT_FAILED, RestartNeedsX64Text);
  int code = EXIT_DONE;
  std::string problem = ReadWatchedProfile(watch, &watch.Text, &watch.Current, &code);
  if (!problem.empty())
    return Refuse(outcome, code,
                  code == EXIT_NOT_ALLOWED
                      ? problem + ": not applied (--allow-writable-profile applies it anyway)"
                      : problem);
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(watch.Path.c_str(), sizeof full, full, nullptr);
  std::string folder = length && length < sizeof full ? full : watch.Path;
  folder = folder.substr(0, folder.find_last_of("\\/") == std::string::npos
                                ? 0
                                : folder.find_last_of("\\/"));
  if (folder.empty() || folder.back() == ':') folder += "\\";

  HANDLE registryEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE folderChange = FindFirstChangeNotificationA(
      folder.c_str(), FALSE,
      FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
          FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY);
  if (!registryEvent || folderChange == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (registryEvent) CloseHandle(registryEvent);
    return Refuse(outcome, EXIT_FAILED,
                  "cannot wait for changes of " + folder + " (Win32 error " + std::to_string(error) + ")");
  }

  // The keys there now are no arrivals: the first pass covers them.
  WatchedKeys keys;
  ArmRegistry(&keys, registryEvent);
  watch.Known = InstanceKeys();
  Tell(watch, "started", "", "", nullptr, watch.Path);
  ApplyPass(&watch, nullptr);

  bool registrySettling = false, profileSettling = false;
  DWORD lastRegistry = 0, lastProfile = 0;
  for (;;) {
    DWORD wait = NextWait(watch, registrySettling, lastRegistry);
    if (profileSettling) {
      DWORD since = GetTickCount() - lastProfile;
      wait = std::min(wait, since >= SettleMs ? 0 : SettleMs - since);
    }
    HANDLE handles[] = {stopEvent, registryEvent, folderChange};
    DWORD woke = WaitForMultipleObjects(3, handles, FALSE, wait);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      ArmRegistry(&keys, registryEvent);
      NoteArrivals(&watch);
      registrySettling = true;
      lastRegistry = GetTickCount();
      continue;
    }
    if (woke == WAIT_OBJECT_0 + 2) {
      FindNextChangeNotification(folderChange);
      profileSettling = true;
      lastProfile = GetTickCount();
      continue;
    }
    if (woke == WAIT_FAILED) {
      Tell(watch, "error", "", "", nullptr,
           "waiting for changes failed (Win32 error " + std::to_string(GetLastError()) + ")");
      break;
    }
    // Quiet for the settle time: act.
    DWORD now = GetTickCount();
    if (profileSettling && now - lastProfile >= SettleMs) {
      profileSettling = false;
      std::string text;
      Profile profile;
      int refused = EXIT_DONE;
      // A write to another file of the folder, such as the journal, is no change.
      bool read = ReadFileText(watch.Path, &text);
      if (read && text != watch.Text) {
        Tell(watch, "profile-changed", "", "", nullptr, watch.Path);
        problem = ReadWatchedProfile(watch, &text, &profile, &refused);
        watch.Text = text;
        watch.Refused = refused == EXIT_NOT_ALLOWED;
        if (!problem.empty()) {
          Tell(watch, "profile-invalid", "", "", nullptr,
               problem + ": the previous profile stays in force");
        } else {
          watch.Current = profile;
          ApplyPass(&watch, nullptr);
        }
      } else if (read) {
        // The same bytes, but perhaps another access list: whoever may
        // change the file now chooses what the next adapter gets.
        problem = ReadWatchedProfile(watch, &text, &profile, &refused);
        bool nowRefused = refused == EXIT_NOT_ALLOWED;
        if (nowRefused && !watch.Refused)
          Tell(watch, "profile-invalid", "", "", nullptr,
               problem + ": the previous profile stays in force");
        watch.Refused = nowRefused;
      } else if (!read && !watch.Text.empty()) {
        watch.Text.clear();
        Tell(watch, "profile-invalid", "", "", nullptr,
             watch.Path + ": cannot be read: the previous profile stays in force");
      }
    }
    if (registrySettling && now - lastRegistry >= SettleMs) registrySettling = false;
    if (!registrySettling && !watch.Pending.empty()) SettleArrivals(&watch);
  }
  Tell(watch, "stopped");
  if (keys.Bus) RegCloseKey(keys.Bus);
  if (keys.Parent) RegCloseKey(keys.Parent);
  FindCloseChangeNotification(folderChange);
  CloseHandle(registryEvent);
  return EXIT_DONE;
}
