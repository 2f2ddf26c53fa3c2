// The commands that fleet engines run: test and apply a profile, export the
// ports as a profile or a .reg file, and the DSC resource's get, set, test.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/device_restarts.h"
#include "cli/profile_access.h"
#include "cli/machine.h"
#include "cli/port_changes.h"
#include "cli/profile.h"
#include "cli/profile_commands.h"
#include "history/port_settings.h"
#include "devices/device_names.h"
#include "devices/device_keys.h"
#include "devices/settings_store.h"

namespace {

// What one registered port should become under the profile.
struct PortPlan {
  uint32_t Index;
  DeviceRecord Desired;
  int ComNumber;                          // 0 when no rule asks for one
  std::vector<const SettingSpec*> Named;  // settings some rule names, once each
};

struct ProfilePlan {
  std::vector<PortPlan> Ports;
  std::vector<int> UnmatchedRules;  // 1-based
};

// A profile is UTF-8, the record's names ANSI.
bool RuleMatches(const ProfileMatch& match, const DeviceRecord& record) {
  if (!match.Port.empty() && !EqualsIgnoringCase(match.Port, Utf8(PortNameOf(record)).c_str()))
    return false;
  if (!match.Serial.empty() && !MatchesGlob(match.Serial, Utf8(SerialOf(record)))) return false;
  if (match.HasVidPid && record.DeviceId != match.DeviceId) return false;
  return true;
}

// Rules apply in order, so a later rule wins for the same setting. With
// only, just the ports it marks.
ProfilePlan PlanProfile(const Machine& machine, const Profile& profile,
                        const std::vector<bool>* only = nullptr) {
  ProfilePlan plan;
  std::vector<bool> used(profile.Rules.size(), false);
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    if (record.DeviceId == 0 || (only && (i >= only->size() || !(*only)[i]))) continue;
    PortPlan port = {i, record, 0, {}};
    bool matched = false;
    for (size_t r = 0; r < profile.Rules.size(); ++r) {
      const ProfileRule& rule = profile.Rules[r];
      if (!RuleMatches(rule.Match, record)) continue;
      matched = used[r] = true;
      for (const ProfileSetting& setting : rule.Settings) {
        ApplySetting(*setting.Definition, setting.Value, &port.Desired);
        bool seen = false;
        for (const SettingSpec* named : port.Named) seen = seen || named == setting.Definition;
        if (!seen) port.Named.push_back(setting.Definition);
      }
      if (rule.ComNumber) port.ComNumber = rule.ComNumber;
    }
    if (matched) plan.Ports.push_back(port);
  }
  for (size_t r = 0; r < used.size(); ++r)
    if (!used[r]) plan.UnmatchedRules.push_back((int)r + 1);
  return plan;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
  FILE* file = path == "-" ? stdin : fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got;
  bool ok = true;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text->append(buffer, got);
    if (text->size() > 64u * 1024 * 1024) ok = false;  // no profile is this large
    if (!ok) break;
  }
  if (ferror(file)) ok = false;
  if (file != stdin) fclose(file);
  // Notepad's byte-order mark.
  if (text->compare(0, 3, "\xEF\xBB\xBF") == 0) text->erase(0, 3);
  return ok;
}

bool LoadProfile(const std::string& path, ProfileSource source, Profile* profile, Outcome* outcome,
                 int* exitCode) {
  std::string text, reason;
  if (!ReadWholeFile(path, &text)) {
    *exitCode = Refuse(outcome, EXIT_BAD_INPUT,
                       (path == "-" ? std::string("standard input") : path) + ": cannot be read");
    return false;
  }
  if (!ReadProfile(text, source, profile, &reason)) {
    *exitCode = Refuse(outcome, EXIT_BAD_INPUT,
                       (path == "-" ? std::string("profile") : path) + ": " + reason);
    return false;
  }
  return true;
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

}  // namespace

// Compares the machine with the profile and, unless only testing
// (outcome->CheckOnly), writes the differences as one change set: the
// machine-wide option, every port's settings and each number asked for;
// with only, just the registered ports it marks.
void Enforce(Machine* machine, const Profile& profile, const CommandLine& line, Outcome* outcome,
             const std::vector<bool>* only) {
  ProfilePlan plan = PlanProfile(*machine, profile, only);
  outcome->Document["unmatchedRules"] = plan.UnmatchedRules;
  for (int rule : plan.UnmatchedRules)
    outcome->Lines.push_back("rule " + std::to_string(rule) + " matches no port");
  outcome->Document["changes"] = Json::array();
  PortWrites writes;
  if (profile.HasIgnoreSerial) {
    ReadIgnoreSerialSetting(&writes.IgnoreSerialWas);
    if (writes.IgnoreSerialWas != profile.IgnoreSerial) writes.IgnoreSerial = profile.IgnoreSerial;
  }
  std::vector<PortChange> ports;
  for (PortPlan& planned : plan.Ports) {
    const DeviceRecord& record = machine->Registered.Records[planned.Index];
    PortChange port = {planned.Index, planned.Desired, &planned.Named,
                       PortObject(record, AttachedState(*machine, record)), planned.ComNumber};
    port.Port["changes"] = Json::array();
    ports.push_back(port);
  }
  writes.Ports = &ports;
  // A profile never takes a number in use: that would need --force. A test
  // still lists the difference: the port is not as it should be.
  std::string reason;
  WritePorts(machine, &writes, line, false, outcome, &reason);
  if (writes.IgnoreSerial >= 0 && writes.IgnoreSerialWritten) {
    outcome->Document["changes"].push_back(
        {{"setting", "ignoreSerial"}, {"from", writes.IgnoreSerialWas}, {"to", profile.IgnoreSerial}});
    outcome->Lines.insert(outcome->Lines.begin() + plan.UnmatchedRules.size(),
                          "machine  ignoreSerial  " + OnOff(writes.IgnoreSerialWas) + " -> " +
                              OnOff(profile.IgnoreSerial));
  }
  for (PortChange& port : ports)
    if (!port.Port["changes"].empty()) outcome->Document["ports"].push_back(port.Port);
  outcome->Document["compliant"] = !outcome->Changed && !outcome->Failed;
}

namespace {

// test compares only; apply writes unless --check.
int RunProfile(const CommandLine& line, Outcome* outcome, bool testOnly) {
  if (int code = CheckProfileAccess(line, line.Port, !testOnly && !line.Check, outcome)) return code;
  Profile profile;
  int code;
  if (!LoadProfile(line.Port, PROFILE_FILE, &profile, outcome, &code)) return code;
  Machine machine;
  if (!LoadMachine(&machine, READ_SETTINGS, outcome)) {
    outcome->Document["compliant"] = false;  // not known to be: never a yes
    return Finish(outcome);
  }
  if (testOnly) outcome->CheckOnly = true;
  bool write = !outcome->CheckOnly;
  Enforce(&machine, profile, line, outcome);
  if (write) outcome->Document["compliant"] = !outcome->Failed;
  return Finish(outcome);
}

}  // namespace

int RunTest(const CommandLine& line, Outcome* outcome) { return RunProfile(line, outcome, true); }
int RunApply(const CommandLine& line, Outcome* outcome) { return RunProfile(line, outcome, false); }

namespace {

// --- export ----------------------------------------------------------------

Json ExportedRule(const DeviceRecord& record) {
  Json rule = Json::object();
  // The serial, and the ids: one serial number can have keys under two.
  rule["match"] = {{"serial", Utf8(SerialOf(record))}, {"vidpid", VidPidOf(record)}};
  if (ComNumberOf(PortNameOf(record))) rule["port"] = PortNameOf(record);
  for (const SettingSpec& definition : Settings) {
    SettingValue value = CurrentValue(definition, record);
    // A table of its own is in the baudAlias.N entries; "custom" is no value.
    if (definition.Kind == SETTING_ALIAS_TABLE && value.Number == ALIASES_CUSTOM) continue;
    if (value.Known) rule[definition.Name] = SettingJson(definition, value);
  }
  return rule;
}

// A .reg file's lines are UTF-16LE; the values are written as the registry
// holds them, type and bytes, so that an import gives the same bytes.
void AppendRegValue(std::wstring* out, const wchar_t* name, DWORD type,
                    const std::vector<unsigned char>& data) {
  *out += L"\"";
  *out += name;
  *out += L"\"=";
  wchar_t text[32];
  if (type == REG_DWORD && data.size() == 4) {
    unsigned value = data[0] | data[1] << 8 | data[2] << 16 | (unsigned)data[3] << 24;
    swprintf(text, 32, L"dword:%08x", value);
    *out += text;
  } else {
    if (type == REG_BINARY) {
      *out += L"hex:";
    } else {
      swprintf(text, 32, L"hex(%x):", (unsigned)type);
      *out += text;
    }
    size_t column = out->size() - out->rfind(L'\n');
    for (size_t i = 0; i < data.size(); ++i) {
      swprintf(text, 32, i + 1 < data.size() ? L"%02x," : L"%02x", data[i]);
      *out += text;
      column += 3;
      if (column > 76 && i + 1 < data.size()) {
        *out += L"\\\r\n  ";
        column = 2;
      }
    }
  }
  *out += L"\r\n";
}

// Every setting's value of the port's Device Parameters key, as stored.
void AppendRegKey(std::wstring* out, const DeviceRecord& record) {
  char path[DEVICE_KEY_PATH_SIZE];
  FormatDeviceKeyPath(path, sizeof path, &record, DEVICE_PARAMETERS_KEY);
  *out += L"\r\n[HKEY_LOCAL_MACHINE\\";
  for (const char* c = path; *c; ++c) *out += (wchar_t)(unsigned char)*c;
  *out += L"]\r\n";
  HKEY key;
  if (OpenDeviceKey(&record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (int name = 0; name < VALUE_NAME_COUNT; ++name) {
    // Device Parameters values only, and no PortName: COM numbers belong to
    // each machine's ComDB.
    if (DriverValues[name].Key != DEVICE_PARAMETERS_KEY || name == VALUE_PORT_NAME) continue;
    wchar_t wide[64];
    MultiByteToWideChar(CP_ACP, 0, DriverValues[name].Name, -1, wide, 64);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, wide, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) continue;
    std::vector<unsigned char> data(size ? size : 1);
    if (RegQueryValueExW(key, wide, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) continue;
    data.resize(size);
    AppendRegValue(out, wide, type, data);
  }
  RegCloseKey(key);
}

bool WriteTextFile(const std::string& path, const void* data, size_t size) {
  FILE* file = path == "-" ? stdout : fopen(path.c_str(), "wb");
  if (!file) return false;
  // Byte for byte as a file gets it: in text mode every line feed of a
  // UTF-16 .reg file would gain a carriage return, and reg import fails.
  if (file == stdout) {
    fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
  }
  bool ok = fwrite(data, 1, size, file) == size;
  if (file != stdout)
    ok = fclose(file) == 0 && ok;
  else
    fflush(stdout);
  return ok;
}

}  // namespace

int RunExport(const CommandLine& line, Outcome* outcome) {
  bool asProfile = !line.ProfileFile.empty(), asReg = !line.RegFile.empty();
  if (asProfile == asReg)
    return Refuse(outcome, EXIT_BAD_INPUT, "export takes one of --profile FILE or --reg FILE");
  Machine machine;
  if (!LoadMachine(&machine, READ_SETTINGS, outcome)) return Finish(outcome);
  std::vector<uint32_t> indexes;
  std::string reason;
  int code = SelectPorts(machine, line.Port, line.VidPid, &indexes, &reason);
  if (code != EXIT_DONE) return Refuse(outcome, code, reason);

  std::string file = asProfile ? line.ProfileFile : line.RegFile;
  bool written;
  if (asProfile) {
    Json profile = Json::object();
    profile["schema"] = "portmeld-profile/1";
    bool ignoreSerial = false;
    ReadIgnoreSerialSetting(&ignoreSerial);
    profile["ignoreSerial"] = ignoreSerial;
    profile["ports"] = Json::array();
    for (uint32_t i : indexes)
      profile["ports"].push_back(ExportedRule(machine.Registered.Records[i]));
    std::string text = profile.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    written = WriteTextFile(file, text.data(), text.size());
  } else {
    std::wstring text = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
    for (uint32_t i : indexes) AppendRegKey(&text, machine.Registered.Records[i]);
    text += L"\r\n";
    std::vector<unsigned char> bytes;
    for (wchar_t c : text) {
      bytes.push_back((unsigned char)(c & 0xFF));
      bytes.push_back((unsigned char)(c >> 8));
    }
    written = WriteTextFile(file, bytes.data(), bytes.size());
  }
  for (uint32_t i : indexes) {
    const DeviceRecord& record = machine.Registered.Records[i];
    outcome->Document["ports"].push_back(PortObject(record, AttachedState(machine, record)));
  }
  if (!written) {
    AddError(outcome, "cannot write " + file, "", "", "", file, GetLastError());
  } else if (file != "-") {
    outcome->Changed = true;
    outcome->Lines.push_back("exported " + std::to_string(indexes.size()) + " port(s) to " + file);
  }
  // Written to standard output, the file is the output.
  if (file == "-") return outcome->Failed ? EXIT_FAILED : EXIT_DONE;
  return Finish(outcome);
}

namespace {

// --- DSC --------------------------------------------------------------------

// The actual state in the shape of the desired one: a rule for each port
// any rule matched, with the current values of the settings named for it.
Json ActualState(const Machine& machine, const Profile& profile, const ProfilePlan& plan) {
  Json state = Json::object();
  if (profile.HasIgnoreSerial) {
    bool current = false;
    ReadIgnoreSerialSetting(&current);
    state["ignoreSerial"] = current;
  }
  state["ports"] = Json::array();
  for (const PortPlan& port : plan.Ports) {
    const DeviceRecord& record = machine.Registered.Records[port.Index];
    Json rule = Json::object();
    rule["match"] = {{"serial", Utf8(SerialOf(record))}};
    if (port.ComNumber) rule["port"] = Utf8(PortNameOf(record));
    for (const SettingSpec* definition : port.Named)
      rule[definition->Name] = SettingJson(*definition, CurrentValue(*definition, record));
    state["ports"].push_back(rule);
  }
  return state;
}

}  // namespace

int RunDsc(const CommandLine& line, Outcome* outcome) {
  const std::string& operation = line.Port;
  if (operation != "get" && operation != "set" && operation != "test")
    return Refuse(outcome, EXIT_BAD_INPUT, "dsc takes get, set or test");
  Profile profile;
  int code;
  if (!LoadProfile("-", PROFILE_DSC, &profile, outcome, &code)) return code;
  Machine machine;
  if (!LoadMachine(&machine, READ_SETTINGS, outcome)) return Finish(outcome);
  Json inDesiredState = nullptr;
  if (operation != "get") {
    outcome->CheckOnly = operation == "test";
    Enforce(&machine, profile, line, outcome);
    if (operation == "test") inDesiredState = !outcome->Changed;
  }
  Json state = ActualState(machine, profile, PlanProfile(machine, profile));
  state["_inDesiredState"] = inDesiredState;
  PrintLine(state.dump(-1, ' ', false, Json::error_handler_t::replace));
  fflush(stdout);
  for (const Json& error : outcome->Document["errors"])
    fprintf(stderr, "portmeld: %s\n", error["message"].get<std::string>().c_str());
  if (outcome->Failed) return outcome->Denied ? EXIT_NOT_ALLOWED : EXIT_FAILED;
  return EXIT_DONE;  // DSC reads the state, not the exit code, for compliance
}
