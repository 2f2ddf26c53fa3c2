#include "console_harness.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

namespace {

const DWORD RunTimeoutMs = 30000;
// wineboot of a new prefix takes about ten seconds on the 2-core machines.
const DWORD FreshPrefixTimeoutMs = 180000;

std::string ScratchFolder() {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "portmeld_console_test";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

std::string ReadText(const std::string& path) { return ReadTextFile(path); }

}  // namespace

std::string ExeFolder() { return ProgramFolder(); }

std::string ScratchPath(const char* name) { return ScratchFolder() + "\\" + name; }

Launch PortmeldLaunch(const std::string& args, const std::string& name, const std::string& dir) {
  Launch launch;
  std::string folder = dir.empty() ? ExeFolder() : dir;
  launch.Exe = folder + "\\portmeld.exe";
  launch.Args = args;
  launch.Folder = folder;
  launch.InputPath = ScratchPath((name + "-stdin.txt").c_str());
  launch.OutPath = ScratchPath((name + "-stdout.txt").c_str());
  launch.ErrPath = ScratchPath((name + "-stderr.txt").c_str());
  launch.Detached = true;
  return launch;
}

ProgramRun RunPortmeld(const std::string& args, const std::string& input, const std::string& dir) {
  Launch launch = PortmeldLaunch(args, "run", dir);
  WriteBytes(launch.InputPath, Bytes(input.begin(), input.end()));
  ProcessResult result = RunProcess(launch, RunTimeoutMs);
  if (!result.Ended) ADD_FAILURE() << result.Error << ": portmeld " << args;
  ProgramRun run;
  if (result.Ended) run.ExitCode = result.ExitCode;
  run.Out = result.Out;
  run.Err = result.Err;
  run.ElapsedMs = result.ElapsedMs;
  return run;
}

std::string FolderWithoutD2xx() {
  std::string folder = ScratchPath("no-d2xx");
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string from = ExeFolder() + "\\portmeld.exe", to = folder + "\\portmeld.exe";
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
  return folder;
}

std::string FolderWithRestartSeam(const std::string& answers) {
  std::string folder = ScratchPath("restart-seam");
  CreateDirectoryA(folder.c_str(), nullptr);
  struct {
    const char* From;
    const char* To;
  } copies[] = {{"portmeld_restart_seam.exe", "portmeld.exe"}, {"FTD2XX.dll", "FTD2XX.dll"}};
  for (const auto& copy : copies) {
    std::string from = ExeFolder() + "\\" + copy.From, to = folder + "\\" + copy.To;
    EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
  }
  std::string file = ScratchPath("restart-answers.txt");
  EXPECT_TRUE(WriteBytes(file, Bytes(answers.begin(), answers.end())));
  SetEnvironmentVariableA("PORTMELD_RESTART_ANSWERS", file.c_str());
  return folder;
}

// --- A fresh prefix ------------------------------------------------------------

// The file's name on the Linux side; "" when Wine cannot tell.
static std::string UnixPath(const std::string& windowsPath) {
  typedef char*(CDECL * ToUnix)(const WCHAR*);
  FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (!found) return "";
  WCHAR wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH)) return "";
  char* name = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(found))(wide);
  if (!name) return "";
  std::string path = name;
  HeapFree(GetProcessHeap(), 0, name);
  return path;
}

// `reg query KEY /s` as Wine prints it: a line per key, then a line per
// value: four blanks, name, type and data apart by four blanks.
static void ReadRegQuery(const std::string& text, Snapshot* snapshot) {
  static const std::string Root = "HKEY_LOCAL_MACHINE\\", Gap = "    ";
  static const std::map<std::string, DWORD> Types = {
      {"REG_SZ", REG_SZ}, {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}};
  std::string key;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, Root.size(), Root) == 0) {
      key = line.substr(Root.size());
      (*snapshot)[key + "|"] = {REG_KEY_MARK, {}};
      continue;
    }
    if (line.compare(0, Gap.size(), Gap) != 0) continue;
    size_t typeAt = line.find(Gap, Gap.size());
    if (typeAt == std::string::npos) continue;
    std::string name = line.substr(Gap.size(), typeAt - Gap.size());
    size_t dataAt = line.find(Gap, typeAt + Gap.size());
    std::string type =
        line.substr(typeAt + Gap.size(),
                    dataAt == std::string::npos ? std::string::npos : dataAt - typeAt - Gap.size());
    std::string data = dataAt == std::string::npos ? "" : line.substr(dataAt + Gap.size());
    auto known = Types.find(type);
    StoredValue value = {known == Types.end() ? REG_NONE : known->second, {}};
    if (value.Type == REG_DWORD) {
      DWORD number = strtoul(data.c_str(), nullptr, 16);
      value.Data.resize(4);
      memcpy(value.Data.data(), &number, 4);
    } else if (value.Type == REG_BINARY) {
      for (size_t i = 0; i + 1 < data.size(); i += 2)
        value.Data.push_back(
            static_cast<unsigned char>(strtoul(data.substr(i, 2).c_str(), nullptr, 16)));
    } else {
      value.Data.assign(data.begin(), data.end());  // shown as text: compares unequal
      if (value.Type == REG_SZ) value.Data.push_back(0);
    }
    (*snapshot)[key + "|" + name] = value;
  }
}

bool ImportIntoFreshPrefix(const std::string& regFile, const std::string& key, Snapshot* imported) {
  std::string out = ScratchPath("fresh-prefix.txt");
  for (const char* suffix : {"", ".done", ".log"}) DeleteFileA((out + suffix).c_str());
  std::string unixReg = UnixPath(regFile), unixOut = UnixPath(out);
  if (unixReg.empty() || unixOut.empty()) {
    ADD_FAILURE() << "no Linux path for " << regFile << " or " << out;
    return false;
  }
  std::string commandLine = "/bin/bash \"" PORTMELD_FRESH_PREFIX_SCRIPT "\" \"" + unixReg +
                            "\" \"" + key + "\" \"" + unixOut + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA("Z:\\bin\\bash", &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcessA failed with " << GetLastError() << ": " << commandLine;
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine does not wait for a Linux process: the script's last step makes
  // the .done file, holding its exit status.
  std::string done = out + ".done";
  for (DWORD waited = 0; GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES;
       waited += 250) {
    if (waited >= FreshPrefixTimeoutMs) {
      ADD_FAILURE() << "the fresh prefix's import did not end in " << FreshPrefixTimeoutMs
                    << " ms; its log:\n"
                    << ReadText(out + ".log");
      return false;
    }
    Sleep(250);
  }
  if (ReadText(done).compare(0, 1, "0") != 0) {
    ADD_FAILURE() << "the fresh prefix's import failed; its log:\n" << ReadText(out + ".log");
    return false;
  }
  ReadRegQuery(ReadText(out), imported);
  return true;
}

// --- JSON --------------------------------------------------------------------

static const nlohmann::json* Find(const nlohmann::json& document, const std::string& pointer,
                                  std::string* last) {
  const nlohmann::json* at = &document;
  size_t start = 1;
  while (start <= pointer.size()) {
    size_t end = pointer.find('/', start);
    if (end == std::string::npos) end = pointer.size();
    std::string token = pointer.substr(start, end - start);
    start = end + 1;
    if (start > pointer.size() && token == "#") {
      *last = token;
      return at;
    }
    if (token.size() > 2 && token.front() == '[' && token.back() == ']') {
      std::string key = token.substr(1, token.size() - 2);
      const nlohmann::json* match = nullptr;
      if (at->is_array())
        for (const nlohmann::json& item : *at)
          for (const char* field : {"serial", "port", "setting"})
            if (!match && item.is_object() && item.contains(field) && (*item.find(field)) == key)
              match = &item;
      if (!match) return nullptr;
      at = match;
    } else if (at->is_array()) {
      size_t index = strtoul(token.c_str(), nullptr, 10);
      if (index >= at->size()) return nullptr;
      at = &(*at)[index];
    } else if (at->is_object() && at->contains(token)) {
      at = &*at->find(token);
    } else {
      return nullptr;
    }
  }
  last->clear();
  return at;
}

void ExpectJsonFields(const nlohmann::json& document, const nlohmann::json& expected) {
  std::string problems;
  for (const auto& item : expected.items()) {
    std::string last;
    const nlohmann::json* found = Find(document, item.key(), &last);
    if (!found)
      problems += "\n" + item.key() + ": missing, expected " + item.value().dump();
    else if (last == "#" && !(found->is_array() && found->size() == item.value().get<size_t>()))
      problems += "\n" + item.key() + ": expected " + item.value().dump() + " items";
    else if (last != "#" && !(*found == item.value()))
      problems += "\n" + item.key() + ": " + found->dump() + ", expected " + item.value().dump();
  }
  if (!problems.empty()) ADD_FAILURE() << "JSON output:" << problems;
}

// --- The bench ---------------------------------------------------------------

const char BenchDevices[] =
    "device 0 5 04036001 1011 FT12AB34 Portmeld USB UART\n"
    "device 1 6 04036010 1021 FT9XK2L1A Portmeld Dual RS232 A\n";

static const char PortsClassGuid[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
static std::vector<std::string> Denied;

void Bench() {
  Register(FT232R, "FT12AB34A", "COM5");
  Register(FT2232, "FT9XK2L1A", "COM6", true);
  Register(FT232R, "FT77ZZ11A", "COM7");
  SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6, 7}));  // COM1: a port of another kind
  SetDword(Flags, "Unrelated", 1);
  WriteStandinDevices(BenchDevices);
}

std::string DeviceRoot(const char* name) { return std::string(FtdibusKeyPath) + "\\" + name; }

void Register(uint32_t id, const char* serial, const char* port, bool serenum) {
  AddRegisteredDevice(id, serial, port, serenum);
  SetString(DeviceKey(id, serial), "ClassGUID", PortsClassGuid);
  SetString(DeviceKey(id, serial), "Class", "Ports");
}

void DeleteValue(const std::string& path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

void Deny(const std::string& path) {
  RefuseWrites(path, true);
  Denied.push_back(path);
}

// Everyone is refused what `denied` names on the key and allowed all else;
// READ_CONTROL and WRITE_DAC stay allowed, so that it can be lifted again.
static bool SetDenial(const std::string& path, DWORD denied) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return false;
  alignas(DWORD) unsigned char aclBuffer[256];
  PACL acl = reinterpret_cast<PACL>(aclBuffer);
  SECURITY_DESCRIPTOR sd;
  bool made = InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
              (!denied || AddAccessDeniedAce(acl, ACL_REVISION, denied, everyone)) &&
              AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
              InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  FreeSid(everyone);
  HKEY key;
  if (!made || RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

static std::vector<std::string> ReadDenied;

void DenyReading(const std::string& path) {
  ASSERT_TRUE(SetDenial(path, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS)) << path;
  ReadDenied.push_back(path);
}

Bytes ComDb(std::initializer_list<int> taken, size_t size, unsigned char beyond) {
  Bytes data(size, 0);
  for (size_t i = 32; i < size; ++i) data[i] = beyond;
  for (int n : taken) data[(n - 1) / 8] |= static_cast<unsigned char>(1 << ((n - 1) % 8));
  return data;
}

Bytes Config(unsigned char byte0, unsigned char byte1, const unsigned char* aliases) {
  Bytes data(64, 0);
  data[0] = byte0;
  data[1] = byte1;
  memcpy(&data[4], aliases, ALIAS_TABLE_SIZE);
  return data;
}

Bytes WithEntry(Bytes config, int entry, uint32_t value) {
  for (int i = 0; i < 4; ++i) config[entry * 4 + i] = static_cast<unsigned char>(value >> 8 * i);
  return config;
}

void CleanBench() {
  // Whether UsbFlags was there before the first test: then only the
  // bench's own value goes.
  static const bool hadUsbFlags = KeyExists(UsbFlagsKeyPath);
  // First what hides keys from KeyExists.
  for (const std::string& path : ReadDenied) SetDenial(path, 0);
  ReadDenied.clear();
  for (const std::string& path : Denied)
    if (KeyExists(path)) RefuseWrites(path, false);
  Denied.clear();
  ResetFtdiRegistry();
  if (hadUsbFlags)
    DeleteValue(UsbFlagsKeyPath, "Unrelated");
  else
    DeleteKeyTree(UsbFlagsKeyPath);
}

int CountLines(const std::string& text, const std::string& start) {
  int count = 0;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, start.size(), start) == 0) ++count;
    size_t end = text.find('\n', at);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return count;
}

// --- The table runner ----------------------------------------------------------

void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << "portmeld " << c.Args; }

std::string CaseName(const ::testing::TestParamInfo<ConsoleCase>& info) { return info.param.Name; }

std::string ProfilePath() { return ScratchPath("profile.json"); }

static void Substitute(std::string* args, const char* mark, const std::string& path) {
  for (size_t at; (at = args->find(mark)) != std::string::npos;) args->replace(at, 2, path);
}

ProgramRun RunConsoleCase(const ConsoleCase& c) {
  ProgramRun run;
  Bench();
  if (c.Tweak) c.Tweak();
  std::string file = ScratchPath("settings.dat");
  DeleteFileA(file.c_str());
  if (!c.FileIn.empty()) {
    EXPECT_TRUE(WriteBytes(file, c.FileIn));
  }
  if (c.Profile) {
    EXPECT_TRUE(WriteBytes(ProfilePath(), Bytes(c.Profile, c.Profile + strlen(c.Profile))));
  }
  if (::testing::Test::HasFailure()) return run;
  std::string args = c.Args;
  Substitute(&args, "%F", file);
  Substitute(&args, "%P", ProfilePath());

  Snapshot before = TakeSnapshot();
  run = RunPortmeld(args, c.Input,
                    c.NoD2xx     ? FolderWithoutD2xx()
                    : c.Restarts ? FolderWithRestartSeam(c.Restarts)
                                 : "");
  Snapshot after = TakeSnapshot();
  SCOPED_TRACE("portmeld " + args + "\n--- stdout:\n" + run.Out + "--- stderr:\n" + run.Err);

  EXPECT_EQ(c.Exit, run.ExitCode) << "exit code";
  ExpectOnlyChanges(before, after, c.Changes);
  bool dsc = args.compare(0, 4, "dsc ") == 0;
  // A dsc command answers with the state whenever it succeeds.
  if (args.find("--json") != std::string::npos || (dsc && run.ExitCode == 0)) {
    nlohmann::json doc = nlohmann::json::parse(run.Out, nullptr, false);
    EXPECT_TRUE(doc.is_object()) << "standard output is not one JSON object";
    if (!doc.is_object()) doc = nlohmann::json::object();
    if (!dsc) {
      ExpectJsonFields(doc, {{"/schema", "portmeld/1"}});
      EXPECT_TRUE(doc.contains("changed") && doc["changed"].is_boolean());
      EXPECT_TRUE(doc.contains("ports") && doc["ports"].is_array());
      EXPECT_TRUE(doc.contains("errors") && doc["errors"].is_array());
    }
    ExpectJsonFields(doc, nlohmann::json::parse(c.Json));
  }
  for (const char* text : c.Texts)
    if ((run.Out + run.Err).find(text) == std::string::npos)
      ADD_FAILURE() << "no \"" << text << "\" in the output";

  int reloads = c.Reloads;
  if (reloads == AUTO_RELOADS)
    reloads = !c.Changes.empty() && args.find("--no-reload") == std::string::npos &&
              args.find("--check") == std::string::npos;
  EXPECT_EQ(reloads, CountLines(ReadStandinLog(), "FT_Reload 0 0")) << "FT_Reload calls; the log:\n"
                                                                    << ReadStandinLog();
  if (!c.FileOut.empty()) {
    EXPECT_EQ(c.FileOut, ReadBytes(file));
  }
  return run;
}

void ClearJournal() {
  DeleteFileA("C:\\ProgramData\\Portmeld\\changes.jsonl");
  DeleteFileA("C:\\ProgramData\\Portmeld\\changes.1.jsonl");
}
