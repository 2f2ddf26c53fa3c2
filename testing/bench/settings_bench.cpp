// Benchmark of the registered listing's start-up sequence and of the settings
// write, each beside a bare loop of the same registry calls (the floor).
//
//   portmeld_bench [repetitions] [N ...]      defaults: 5 and 10 100 1000
//
// Seeds N registered devices with every value under FTDIBUS of the registry
// it runs against (Wine's, here), removes them afterwards, and prints one
// line per N: median milliseconds of the program's code and of the floor,
// and their ratio. The recording message sink is linked in place of the
// message box, so a message shows as a failed check rather than a hang.
#include <windows.h>
#include <aclapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "access/access.h"
#include "component/core_calls.h"
#include "devices/inventory.h"
#include "devices/journal.h"
#include "devices/registry_paths.h"
#include "devices/settings_store.h"

namespace {

const uint32_t BenchDeviceId = 0x04036001;

void SerialOf(int index, char* serial, size_t size) { snprintf(serial, size, "BN%07dA", index); }

void InstancePath(int index, bool params, char* path, size_t size) {
  char serial[32];
  SerialOf(index, serial, sizeof serial);
  snprintf(path, size, "%s\\VID_%04x+PID_%04x+%s\\0000%s", FtdibusKeyPath, BenchDeviceId >> 16,
           BenchDeviceId & 0xFFFF, serial, params ? "\\Device Parameters" : "");
}

int SetValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
  return RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

int Seed(int count) {
  static const char serenum[16] = "serenum";
  unsigned char config[64];
  for (int i = 0; i < 64; ++i) config[i] = static_cast<unsigned char>(i);
  for (int i = 0; i < count; ++i) {
    char path[256];
    HKEY key;
    InstancePath(i, false, path, sizeof path);
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return 0;
    int ok = SetValue(key, "UpperFilters", REG_MULTI_SZ, serenum, sizeof serenum);
    RegCloseKey(key);
    InstancePath(i, true, path, sizeof path);
    if (!ok || RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                               &key, nullptr) != ERROR_SUCCESS)
      return 0;
    char port[16];
    snprintf(port, sizeof port, "COM%d", 10 + i);
    DWORD read = 0, write = 0, polling = 0, latency = 16;
    ok = SetValue(key, "ConfigData", REG_BINARY, config, sizeof config) &&
         SetValue(key, "PortName", REG_SZ, port, static_cast<DWORD>(strlen(port) + 1)) &&
         SetValue(key, "MinReadTimeout", REG_DWORD, &read, 4) &&
         SetValue(key, "MinWriteTimeout", REG_DWORD, &write, 4) &&
         SetValue(key, "PollingPeriod", REG_DWORD, &polling, 4) &&
         SetValue(key, "LatencyTimer", REG_DWORD, &latency, 4);
    RegCloseKey(key);
    if (!ok) return 0;
  }
  return 1;
}

double NowMs() {
  static LARGE_INTEGER frequency = {};
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// --- The program's code -----------------------------------------------------

int ProgramStartup(int count) {
  FreeInventory();
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS)
    return 0;
  int ok = ListRegisteredDevices(ftdibus) && ReadDeviceSettings() && SetDeviceKeyPermissions();
  RegCloseKey(ftdibus);
  return ok && Inventory.count == static_cast<uint32_t>(count);
}

// Apply after the user changed every device's latency: a new value each
// run, so that every run writes one value a device.
DWORD BenchLatency = 16;
// What the change journal grew by in the program's last write: the floor
// writes as many bytes, as two flushed lines, as the journal's begun and
// end lines are.
unsigned long long JournalBytes = 0;

unsigned long long JournalSize() {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(JournalFilePath().c_str(), GetFileExInfoStandard, &data)) return 0;
  return (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

int ProgramWrite(int) {
  for (uint32_t i = 0; i < Inventory.count; ++i) Inventory.Records[i].LatencyTimer = BenchLatency;
  unsigned long long before = JournalSize();
  int ok = WriteDeviceSettings();
  unsigned long long after = JournalSize();
  JournalBytes = after >= before ? after - before : after;  // a rotation starts a new file
  return ok;
}

// --- The floor: the same registry calls, nothing else ------------------------

struct FloorSecurity {
  PSID Sids[3];
  PACL Dacl;
  SECURITY_DESCRIPTOR Descriptor;
};

int BuildFloorSecurity(FloorSecurity* s) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &s->Sids[0]) ||
      !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &s->Sids[1]) ||
      !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                &s->Sids[2]))
    return 0;
  const DWORD masks[3] = {KEY_READ, GENERIC_ALL, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY};
  const TRUSTEE_TYPE types[3] = {TRUSTEE_IS_WELL_KNOWN_GROUP, TRUSTEE_IS_GROUP, TRUSTEE_IS_UNKNOWN};
  EXPLICIT_ACCESS_A access[3];
  ZeroMemory(access, sizeof access);
  for (int i = 0; i < 3; ++i) {
    access[i].grfAccessPermissions = masks[i];
    access[i].grfAccessMode = SET_ACCESS;
    access[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[i].Trustee.TrusteeType = types[i];
    access[i].Trustee.ptstrName = static_cast<LPSTR>(s->Sids[i]);
  }
  return SetEntriesInAclA(3, access, nullptr, &s->Dacl) == ERROR_SUCCESS &&
         InitializeSecurityDescriptor(&s->Descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&s->Descriptor, TRUE, s->Dacl, FALSE);
}

void FreeFloorSecurity(FloorSecurity* s) {
  for (PSID sid : s->Sids)
    if (sid) FreeSid(sid);
  if (s->Dacl) LocalFree(s->Dacl);
}

FloorSecurity Security;
// Every floor lists FTDIBUS the same way: the subkey count and every name.
bool ListFloorNames(std::vector<std::string>* names) {
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS)
    return false;
  DWORD subkeys = 0;
  RegQueryInfoKeyA(ftdibus, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
  names->assign(subkeys, std::string());
  for (DWORD i = 0; i < subkeys; ++i) {
    char name[256];
    DWORD length = 255;
    if (RegEnumKeyExA(ftdibus, i, name, &length, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS)
      (*names)[i].assign(name, length);
  }
  RegCloseKey(ftdibus);
  return true;
}

std::vector<std::string> FloorNames;

int FloorStartup(int count) {
  if (!ListFloorNames(&FloorNames)) return 0;

  // Settings: UpperFilters, then the six values.
  static const char* const valueNames[] = {"ConfigData",      "PortName",      "MinReadTimeout",
                                           "MinWriteTimeout", "PollingPeriod", "LatencyTimer"};
  int ok = 1;
  for (int i = 0; i < count; ++i) {
    char path[256];
    unsigned char buffer[64];
    HKEY key;
    InstancePath(i, false, path, sizeof path);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      DWORD size = 16;
      RegQueryValueExA(key, "UpperFilters", nullptr, nullptr, buffer, &size);
      RegCloseKey(key);
    }
    InstancePath(i, true, path, sizeof path);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    for (const char* name : valueNames) {
      DWORD size = sizeof buffer;
      ok &= RegQueryValueExA(key, name, nullptr, nullptr, buffer, &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
  }

  // Access: owner, WRITE_DAC open, DACL.
  for (int i = 0; i < count; ++i) {
    char path[256], object[256];
    HKEY key;
    InstancePath(i, false, path, sizeof path);
    snprintf(object, sizeof object, "MACHINE\\%s", path);
    SetNamedSecurityInfoA(object, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, Security.Sids[1],
                          nullptr, nullptr, nullptr);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return 0;
    ok &= RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &Security.Descriptor) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  return ok;
}

// What Apply must do for one changed value a device: read it again, write it.
int FloorWrite(int count) {
  int ok = 1;
  for (int i = 0; i < count; ++i) {
    char path[1024];
    HKEY key;
    InstancePath(i, true, path, sizeof path);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
      return 0;
    DWORD type, number, size = 0;
    RegQueryValueExA(key, "LatencyTimer", nullptr, &type, nullptr, &size);
    size = sizeof number;
    ok &= RegQueryValueExA(key, "LatencyTimer", nullptr, &type,
                           reinterpret_cast<BYTE*>(&number), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 0;
    ok &= SetValue(key, "LatencyTimer", REG_DWORD, &BenchLatency, 4);
    RegCloseKey(key);
  }
  std::string scratch = JournalFolder() + "\\bench-floor.jsonl";
  HANDLE file = CreateFileA(scratch.c_str(), FILE_APPEND_DATA, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::string line(JournalBytes > 64 ? (size_t)JournalBytes - 32 : 1, 'x');
  DWORD written;
  ok &= WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr) &&
        FlushFileBuffers(file) && WriteFile(file, line.data(), 32 < line.size() ? 32 : 1, &written,
                                            nullptr) &&
        FlushFileBuffers(file);
  CloseHandle(file);
  DeleteFileA(scratch.c_str());
  return ok;
}

double Median(std::vector<double> values);

// --- The console program ------------------------------------------------------
//
// portmeld.exe runs as a process of its own, so its floor does too: this
// program started again with "floor-list" or "floor-show" does the bare
// reads of the same values and ends. Both pay Wine's process start alike.

// What `list` reads: the subkeys, and each device's PortName.
int FloorList() {
  std::vector<std::string> names;
  if (!ListFloorNames(&names)) return 0;
  int ok = 1;
  for (const std::string& name : names) {
    char path[512];
    snprintf(path, sizeof path, "%s\\%s\\0000\\Device Parameters", FtdibusKeyPath, name.c_str());
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    char port[16];
    DWORD size = sizeof port, type = 0;
    ok &= RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &size) ==
          ERROR_SUCCESS;
    RegCloseKey(key);
  }
  return ok;
}

// What `show all`, `test` and `apply` read: UpperFilters and the nine values.
int FloorShow() {
  static const char* const valueNames[] = {
      "ConfigData",   "PortName",        "MinReadTimeout", "MinWriteTimeout",     "PollingPeriod",
      "LatencyTimer", "WriteBufferSize", "WriteLatency",   "WriteBufferThreshold"};
  std::vector<std::string> names;
  if (!ListFloorNames(&names)) return 0;
  for (const std::string& name : names) {
    char path[512];
    unsigned char buffer[64];
    DWORD size, type;
    snprintf(path, sizeof path, "%s\\%s\\0000", FtdibusKeyPath, name.c_str());
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      size = 16;
      RegQueryValueExA(key, "UpperFilters", nullptr, &type, buffer, &size);
      RegCloseKey(key);
    }
    snprintf(path, sizeof path, "%s\\%s\\0000\\Device Parameters", FtdibusKeyPath, name.c_str());
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    for (const char* value : valueNames) {
      size = sizeof buffer;
      RegQueryValueExA(key, value, nullptr, &type, buffer, &size);
    }
    RegCloseKey(key);
  }
  return 1;
}

std::string SelfPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

std::string BesideSelf(const char* file) {
  std::string path = SelfPath();
  return path.substr(0, path.find_last_of('\\') + 1) + file;
}

// Runs a command line with its output thrown away; the milliseconds it took,
// or a negative number when it did not end with one of the exit codes.
double TimeProcess(const std::string& commandLine, DWORD expectedExit) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = nul;
  startup.hStdError = nul;
  PROCESS_INFORMATION process;
  std::string line = commandLine;
  double t0 = NowMs();
  BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  CloseHandle(nul);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, 600000);
  double t1 = NowMs();
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return exitCode == expectedExit ? t1 - t0 : -1;
}

struct ConsoleCase {
  const char* Name;
  const char* Arguments;  // of portmeld.exe
  const char* Floor;      // of this program
};

const ConsoleCase ConsoleCases[] = {
    {"list --json", "list --json", "floor-list"},
    {"show all --json", "show all --json", "floor-show"},
    {"test (1 rule)", "test PROFILE --json", "floor-show"},
    {"apply (1 rule)", "apply PROFILE --json", "floor-show"},
};

// A one-rule profile that the seeded devices already meet.
std::string WriteBenchProfile() {
  std::string path = BesideSelf("bench-profile.json");
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return "";
  fputs(
      "{\"schema\": \"portmeld-profile/1\", \"ports\": [{\"match\": {\"vidpid\": "
      "\"0403:6001\"}, \"latencyTimer\": 16}]}\n",
      file);
  fclose(file);
  return path;
}

int MeasureConsole(int count, int repetitions) {
  std::string portmeld = "\"" + BesideSelf("portmeld.exe") + "\" ";
  std::string self = "\"" + SelfPath() + "\" ";
  std::string profile = WriteBenchProfile();
  for (const ConsoleCase& c : ConsoleCases) {
    std::string arguments = c.Arguments;
    size_t at = arguments.find("PROFILE");
    if (at != std::string::npos) arguments.replace(at, 7, "\"" + profile + "\"");
    std::vector<double> program, floor;
    for (int r = 0; r < repetitions; ++r) {
      double a = TimeProcess(portmeld + arguments, 0);
      double b = TimeProcess(self + c.Floor, 0);
      if (a < 0 || b < 0) {
        fprintf(stderr, "%s failed at N=%d\n", a < 0 ? c.Name : c.Floor, count);
        return 0;
      }
      program.push_back(a);
      floor.push_back(b);
    }
    double p = Median(program), f = Median(floor);
    printf("%-6d %-18s %12.1f %10.1f %7.2f\n", count, c.Name, p, f, p / f);
    fflush(stdout);
  }
  return 1;
}

// --- Measuring ---------------------------------------------------------------

typedef int (*Step)(int count);

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Alternates program and floor so that drift of the machine hits both.
// Returns 0 when a run failed or showed a message.
int Measure(Step program, Step floor, int count, int repetitions, double* programMs,
            double* floorMs) {
  std::vector<double> a, b;
  for (int r = 0; r < repetitions; ++r) {
    ClearRecordedMessages();
    double t0 = NowMs();
    int ok = program(count);
    double t1 = NowMs();
    if (!ok || !RecordedMessages.empty()) {
      fprintf(stderr, "program step failed at N=%d (%u messages%s%s)\n", count,
              static_cast<unsigned>(RecordedMessages.size()),
              RecordedMessages.empty() ? "" : ", first: ",
              RecordedMessages.empty() ? "" : RecordedMessages[0].Text.c_str());
      return 0;
    }
    double t2 = NowMs();
    ok = floor(count);
    double t3 = NowMs();
    if (!ok) {
      fprintf(stderr, "floor step failed at N=%d\n", count);
      return 0;
    }
    a.push_back(t1 - t0);
    b.push_back(t3 - t2);
  }
  *programMs = Median(a);
  *floorMs = Median(b);
  return 1;
}

// Each run of the program and of the floor writes a latency the registry
// does not hold yet.
int MeasureWrite(int count, int repetitions, double* programMs, double* floorMs) {
  std::vector<double> a, b;
  for (int r = 0; r < repetitions; ++r) {
    BenchLatency = BenchLatency == 2 ? 3 : 2;
    double program, floor;
    if (!Measure(ProgramWrite, FloorWrite, count, 1, &program, &floor)) return 0;
    a.push_back(program);
    b.push_back(floor);
  }
  *programMs = Median(a);
  *floorMs = Median(b);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Started by the console measurement as its floor.
  if (argc == 2 && strcmp(argv[1], "floor-list") == 0) return FloorList() ? 0 : 1;
  if (argc == 2 && strcmp(argv[1], "floor-show") == 0) return FloorShow() ? 0 : 1;
  // Leaves N devices in the registry, for measuring by hand.
  if (argc == 3 && strcmp(argv[1], "seed") == 0) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, FtdibusKeyPath);
    return Seed(atoi(argv[2])) ? 0 : 1;
  }
  bool console = argc > 1 && strcmp(argv[1], "console") == 0;
  if (console) {
    --argc;
    ++argv;
  }
  int repetitions = argc > 1 ? atoi(argv[1]) : 5;
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(atoi(argv[i]));
  if (sizes.empty()) sizes = {10, 100, 1000};
  if (repetitions < 1) repetitions = 1;

  SetPrivilege("SeTakeOwnershipPrivilege", true);
  if (!BuildFloorSecurity(&Security)) {
    fprintf(stderr, "cannot build the floor's access list\n");
    return 2;
  }
  if (console)
    printf("%-6s %-18s %12s %10s %7s\n", "N", "portmeld.exe", "ms", "floor ms", "ratio");
  else
    printf("%-6s %12s %10s %7s %12s %7s %12s %10s %7s\n", "N", "startup ms", "floor ms", "ratio",
           "list floor", "ratio", "write ms", "floor ms", "ratio");
  int status = 0;
  for (int count : sizes) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, FtdibusKeyPath);
    if (!Seed(count)) {
      fprintf(stderr, "seeding %d devices failed\n", count);
      status = 1;
      break;
    }
    if (console) {
      if (!MeasureConsole(count, repetitions)) {
        status = 1;
        break;
      }
      continue;
    }
    double startup = 0, startupFloor = 0, write = 0, writeFloor = 0;
    // The write runs on the inventory that the last start-up left.
    if (!Measure(ProgramStartup, FloorStartup, count, repetitions, &startup, &startupFloor) ||
        !MeasureWrite(count, repetitions, &write, &writeFloor)) {
      status = 1;
      break;
    }
    // The second floor: only the reads needed to show the list.
    std::vector<double> listFloor;
    for (int r = 0; r < repetitions; ++r) {
      double t0 = NowMs();
      FloorList();
      listFloor.push_back(NowMs() - t0);
    }
    double list = Median(listFloor);
    printf("%-6d %12.2f %10.2f %7.2f %12.2f %7.2f %12.2f %10.2f %7.2f\n", count, startup,
           startupFloor, startup / startupFloor, list, startup / list, write, writeFloor,
           write / writeFloor);
    fflush(stdout);
  }
  FreeInventory();
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, FtdibusKeyPath);
  FreeFloorSecurity(&Security);
  return status;
}
