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

std::string ReadText(const std::string& path) {
  Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string ExeFolder() {
  char path[MAX_PATH] = "";
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, n);
  return text.substr(0, text.find_last_of('\\'));
}

std::string ScratchPath(const char* name) { return ScratchFolder() + "\\" + name; }

ProgramRun RunPortmeld(const std::string& args, const std::string& input, const std::string& dir) {
  ProgramRun run;
  std::string folder = dir.empty() ? ExeFolder() : dir;
  std::string exe = folder + "\\portmeld.exe";
  if (GetFileAttributesA(exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ADD_FAILURE() << "program not found: " << exe;
    return run;
  }
  std::string inPath = ScratchPath("stdin.txt"), outPath = ScratchPath("stdout.txt"),
              errPath = ScratchPath("stderr.txt");
  WriteBytes(inPath, Bytes(input.begin(), input.end()));
  std::string commandLine = "\"" + exe + "\" " + args;
  PROCESS_INFORMATION process = {};
  // Wine now and then fails a start with ERROR_INTERNAL_ERROR before any of
  // the program ran (its loader's heap landed where Windows' shared user
  // data must go); the next start gets another layout. One more try, said
  // in the test's output.
  for (int attempt = 1;; ++attempt) {
    HANDLE in = Inheritable(inPath, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = Inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = Inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  DETACHED_PROCESS, nullptr, folder.c_str(), &startup, &process);
    DWORD startError = GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (started) break;
    if (startError == ERROR_INTERNAL_ERROR && attempt == 1) {
      printf("[ NOTE     ] Wine failed to start portmeld.exe (error 1359); starting it once more\n");
      Sleep(200);
      continue;
    }
    ADD_FAILURE() << "CreateProcessA failed with " << startError << ": " << commandLine;
    return run;
  }
  if (WaitForSingleObject(process.hProcess, RunTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 0xDEADBEEF);
    WaitForSingleObject(process.hProcess, 5000);
    ADD_FAILURE() << "still running after " << RunTimeoutMs << " ms: " << commandLine;
  }
  GetExitCodeProcess(process.hProcess, &run.ExitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  run.Out = ReadText(outPath);
  run.Err = ReadText(errPath);
  return run;
}

std::string FolderWithoutD2xx() {
  std::string folder = ScratchPath("no-d2xx");
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string from = ExeFolder() + "\\portmeld.exe", to = folder + "\\portmeld.exe";
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
  return folder;
}

// --- Registry snapshots ------------------------------------------------------

static void SnapshotKey(const std::string& path, Snapshot* snapshot) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  (*snapshot)[path + "|"] = {REG_KEY_MARK, {}};
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    Bytes data;
    ReadValue(path, name, &data, &type);
    (*snapshot)[path + "|" + name] = {type, data};
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.push_back(path + "\\" + name);
  }
  RegCloseKey(key);
  for (const std::string& subkey : subkeys) SnapshotKey(subkey, snapshot);
}

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  for (const char* path : {FtdibusKeyPath, ComNameArbiterKeyPath, UsbFlagsKeyPath})
    SnapshotKey(path, &snapshot);
  return snapshot;
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

Expected Dw(DWORD value) {
  Bytes data(4);
  memcpy(data.data(), &value, 4);
  return {Expected::EXACT, {REG_DWORD, data}, "", {}};
}
Expected Sz(const char* text) {
  return {Expected::EXACT, {REG_SZ, Bytes(text, text + strlen(text) + 1)}, "", {}};
}
Expected Bin(const Bytes& data) { return {Expected::EXACT, {REG_BINARY, data}, "", {}}; }
Expected SzHas(const char* text) { return {Expected::TEXT_HAS, {}, text, {}}; }
Expected Filters(std::vector<std::string> strings) {
  return {Expected::FILTERS, {}, "", std::move(strings)};
}
Expected Gone() { return {Expected::GONE, {}, "", {}}; }

static std::string Describe(const Snapshot& snapshot, const std::string& id) {
  auto found = snapshot.find(id);
  if (found == snapshot.end()) return "(missing)";
  if (found->second.Type == REG_KEY_MARK) return "(key)";
  std::string text = "type " + std::to_string(found->second.Type) + ":";
  char hex[4];
  for (unsigned char b : found->second.Data) {
    snprintf(hex, sizeof hex, " %02x", b);
    text += hex;
  }
  return text;
}

static bool Matches(const Expected& expected, const Snapshot& after, const std::string& id) {
  auto found = after.find(id);
  if (expected.What == Expected::GONE) return found == after.end();
  if (found == after.end()) return false;
  const StoredValue& value = found->second;
  if (expected.What == Expected::EXACT) return value == expected.Value;
  if (expected.What == Expected::TEXT_HAS)
    return value.Type == REG_SZ &&
           std::string(value.Data.begin(), value.Data.end()).find(expected.Text) !=
               std::string::npos;
  // REG_MULTI_SZ: its strings up to the first empty one.
  if (value.Type != REG_MULTI_SZ) return false;
  std::vector<std::string> strings;
  std::string data(value.Data.begin(), value.Data.end());
  for (size_t at = 0; at < data.size() && data[at] != '\0';) {
    size_t end = data.find('\0', at);
    if (end == std::string::npos) end = data.size();
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return strings == expected.Strings;
}

void ExpectOnlyChanges(const Snapshot& before, const Snapshot& after,
                       const std::vector<Change>& changes) {
  std::string problems;
  std::map<std::string, bool> accounted;
  for (const Change& change : changes) {
    if (change.Name == "*") {
      int left = 0;
      for (const Snapshot* s : {&before, &after})
        for (const auto& entry : *s) {
          const std::string& id = entry.first;
          bool under = id.compare(0, change.Key.size(), change.Key) == 0 &&
                       (id[change.Key.size()] == '|' || id[change.Key.size()] == '\\');
          if (!under || accounted[id]) continue;
          accounted[id] = true;
          if (after.count(id)) ++left;
        }
      if (left)
        problems += "\nstill there: " + std::to_string(left) + " keys and values of " + change.Key;
      continue;
    }
    std::string id = change.Key + "|" + change.Name;
    accounted[id] = true;
    if (!Matches(change.After, after, id))
      problems += "\nnot as expected: " + id + "\n  before: " + Describe(before, id) +
                  "\n  after:  " + Describe(after, id);
  }
  for (const Snapshot* s : {&before, &after})
    for (const auto& entry : *s) {
      const std::string& id = entry.first;
      if (accounted[id]) continue;
      accounted[id] = true;
      auto b = before.find(id), a = after.find(id);
      if (b == before.end() || a == after.end() || !(b->second == a->second))
        problems += "\nunexpected change: " + id + "\n  before: " + Describe(before, id) +
                    "\n  after:  " + Describe(after, id);
    }
  if (!problems.empty()) ADD_FAILURE() << "registry:" << problems;
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
