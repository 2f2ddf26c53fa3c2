// portmeld watch as a fleet runs it: started in the background on the
// bench, adapters arriving as Windows installs them (their keys made in
// the order the installation writes them, and added to the D2XX
// stand-in's list), and its --json lines read as they come. Ctrl+C stops
// it. The program's test build answers the restarts.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "console_harness.h"

namespace {

const char PortsClass[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
const uint32_t FT_X = 0x04036015;  // no bench adapter has these ids
const DWORD EventWaitMs = 20000;

// --- A watch running in the background -----------------------------------------

struct WatchRun {
  RunningProcess Process;
  Launch How;
  std::vector<nlohmann::json> Events;  // every line read so far
};

std::vector<nlohmann::json> ReadEvents(const WatchRun& watch) {
  std::vector<nlohmann::json> events;
  std::string text = ReadTextFile(watch.How.OutPath);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    std::string line = text.substr(at, end - at);
    at = end + 1;
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object()) {
      ADD_FAILURE() << "not a JSON line: " << line;
      continue;
    }
    EXPECT_TRUE(event.contains("time") && event.contains("port") && event.contains("serial"))
        << line;
    events.push_back(event);
  }
  return events;
}

int CountEvents(const std::vector<nlohmann::json>& events, const std::string& name,
                const std::string& serial = "") {
  int count = 0;
  for (const nlohmann::json& event : events)
    if (event["event"] == name && (serial.empty() || event["serial"] == serial)) ++count;
  return count;
}

std::string Shown(const std::vector<nlohmann::json>& events) {
  std::string text;
  for (const nlohmann::json& event : events) text += event.dump() + "\n";
  return text;
}

// Waits until `count` lines of the event (of that serial) are out.
bool AwaitEvent(WatchRun* watch, const std::string& name, const std::string& serial = "",
                int count = 1, DWORD timeoutMs = EventWaitMs) {
  for (DWORD waited = 0;; waited += 100) {
    watch->Events = ReadEvents(*watch);
    if (CountEvents(watch->Events, name, serial) >= count) return true;
    if (waited >= timeoutMs || !ProcessRunning(watch->Process)) {
      ADD_FAILURE() << "no " << count << " \"" << name << "\" " << serial << " within "
                    << timeoutMs << " ms; the lines:\n"
                    << Shown(watch->Events) << ReadTextFile(watch->How.ErrPath);
      return false;
    }
    Sleep(100);
  }
}

bool StartWatch(const std::string& args, const std::string& folder, WatchRun* watch) {
  // A console of this program's own for watch to share (the one Wine gives
  // a program started from a pipe carries no control events); this program
  // ignores the Ctrl+C it sends there.
  static bool console = [] {
    FreeConsole();
    AllocConsole();
    SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    return true;
  }();
  (void)console;
  watch->How = PortmeldLaunch(args, "watch", folder);
  watch->How.Detached = false;
  watch->How.NewGroup = true;
  WriteBytes(watch->How.InputPath, {});
  std::string error;
  if (!StartProcess(watch->How, &watch->Process, &error)) {
    ADD_FAILURE() << error;
    return false;
  }
  if (!AwaitEvent(watch, "started")) return false;
  // The first pass over the bench's three ports ends before a case makes
  // its arrivals: a key made during the pass would be both in it and an
  // arrival. Bounded: a case whose ports say nothing goes on after 5 s.
  for (DWORD waited = 0; waited < 5000; waited += 100) {
    watch->Events = ReadEvents(*watch);
    int seen = 0;
    for (const char* serial : {"FT12AB34A", "FT9XK2L1A", "FT77ZZ11A"})
      for (const nlohmann::json& event : watch->Events)
        if (event["serial"] == serial) {
          ++seen;
          break;
        }
    if (seen == 3) break;
    Sleep(100);
  }
  return true;
}

// Ctrl+C to its process group, as a user stops it: a "stopped" line and
// exit 0. (Wine turns Ctrl+Break into a signal that ends a program without
// its handlers.)
void StopWatch(WatchRun* watch) {
  if (!watch->Process.Started) return;
  EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, watch->Process.Info.dwProcessId))
      << GetLastError();
  DWORD code = 0xDEADBEEF;
  EXPECT_TRUE(WaitProcess(&watch->Process, 10000, &code)) << "watch did not stop";
  EXPECT_EQ(0u, code);
  watch->Events = ReadEvents(*watch);
  EXPECT_EQ(1, CountEvents(watch->Events, "stopped")) << Shown(watch->Events);
  EndProcess(&watch->Process);
}

// --- Adapters arriving -----------------------------------------------------------

std::string Instance(const char* serial) { return DeviceKey(FT_X, serial); }
std::string Parameters(const char* serial) { return DeviceKey(FT_X, serial, true); }

std::string ExtraDevices;  // the D2XX list beyond the bench's

// The device key as Windows begins it: the instance and the driver's
// defaults, no Driver value and no PortName yet; attached, it is in the
// D2XX list.
void BeginInstall(const char* serial, bool attach = true) {
  SetString(Instance(serial), "ClassGUID", PortsClass);
  SetString(Instance(serial), "Class", "Ports");
  SetDword(Parameters(serial), "LatencyTimer", 16);
  SetDword(Parameters(serial), "MinReadTimeout", 0);
  if (attach) {
    ExtraDevices += std::string("device 0 8 04036015 2011 ") + serial + " Portmeld USB UART\n";
    WriteStandinDevices(BenchDevices + ExtraDevices);
  }
}

// The installation's last steps.
void FinishInstall(const char* serial, const char* port) {
  SetString(Instance(serial), "Driver", (std::string(PortsClass) + "\\0042").c_str());
  SetString(Parameters(serial), "PortName", port);
}

void Arrive(const char* serial, const char* port) {
  BeginInstall(serial);
  FinishInstall(serial, port);
}

#define PROFILE(rules) "{\"schema\": \"portmeld-profile/1\", \"ports\": [" rules "]}"

void WriteProfile(const std::string& text) {
  ASSERT_TRUE(WriteBytes(ProfilePath(), Bytes(text.begin(), text.end())));
}

// Everyone may change the file (under Wine: its mode becomes 0666).
void OpenToEveryone(const std::string& file) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  std::string path = file;
  EXPECT_EQ(ERROR_SUCCESS, SetNamedSecurityInfoA(&path[0], SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                                 nullptr));
  LocalFree(sd);
}

// A profile others may change, made before the case runs (its Profile is nullptr).
void WritableProfile() {
  DeleteFileA(ProfilePath().c_str());
  WriteProfile(PROFILE(R"({"latencyTimer": 2})"));
  OpenToEveryone(ProfilePath());
}

// One line a case expects: the event, of that serial, that many times.
struct Expect {
  const char* Event;
  const char* Serial;
  int Count;
};

struct ArrivalCase {
  const char* Name;
  const char* Profile;
  const char* Options;           // beside "watch %P --json"
  std::function<void()> During;  // what happens while watch runs
  std::vector<Expect> Events;    // awaited in order
  std::vector<Expect> Never;     // lines that must not come
  std::vector<Change> Changes;   // besides the arrivals' own keys
  int ChangeSets;                // sets "watch PROFILE" recorded
};
void PrintTo(const ArrivalCase& c, std::ostream* os) { *os << c.Name; }
std::string Name(const ::testing::TestParamInfo<ArrivalCase>& info) { return info.param.Name; }

const char JournalPath[] = "C:\\ProgramData\\Portmeld\\changes.jsonl";

int WatchSets() {
  ProgramRun history = RunPortmeld("history --json --last 1000");
  nlohmann::json document = nlohmann::json::parse(history.Out, nullptr, false);
  int sets = 0;
  if (document.is_object() && document["history"].is_array())
    for (const nlohmann::json& set : document["history"])
      if (set["command"] == "watch " + ProfilePath()) ++sets;
  return sets;
}

class Watch : public OnBench<::testing::TestWithParam<ArrivalCase>> {};

TEST_P(Watch, Arrivals) {
  const ArrivalCase& c = GetParam();
  DeleteFileA(JournalPath);
  DeleteFileA(ProfilePath().c_str());  // a new file: no access list a case left
  Bench();
  ExtraDevices.clear();
  WriteProfile(c.Profile);
  std::string folder = FolderWithRestartSeam("");
  Snapshot before = TakeSnapshot();
  WatchRun watch;
  std::string args = "watch " + ProfilePath() + " --json " + c.Options;
  if (!StartWatch(args, folder, &watch)) return EndProcess(&watch.Process);
  c.During();
  for (const Expect& expect : c.Events)
    if (!AwaitEvent(&watch, expect.Event, expect.Serial ? expect.Serial : "", expect.Count)) break;
  Sleep(1500);  // one settle time more: nothing else may follow
  StopWatch(&watch);
  SCOPED_TRACE("the lines:\n" + Shown(watch.Events));
  for (const Expect& expect : c.Events)
    EXPECT_EQ(expect.Count,
              CountEvents(watch.Events, expect.Event, expect.Serial ? expect.Serial : ""))
        << expect.Event << " " << (expect.Serial ? expect.Serial : "");
  for (const Expect& never : c.Never)
    EXPECT_EQ(0, CountEvents(watch.Events, never.Event, never.Serial ? never.Serial : ""))
        << never.Event << " " << (never.Serial ? never.Serial : "");
  // The arrivals' keys as they were made, but for the changes expected.
  Snapshot after = TakeSnapshot();
  Snapshot made = before;
  for (const auto& entry : after)
    if (entry.first.find("PID_6015") != std::string::npos && !before.count(entry.first)) {
      bool expected = false;
      for (const Change& change : c.Changes)
        expected = expected || entry.first == change.Key + "|" + change.Name;
      if (!expected) made[entry.first] = entry.second;
    }
  ExpectOnlyChanges(made, after, c.Changes);
  EXPECT_EQ(c.ChangeSets, WatchSets());
  DeleteFileA(ProfilePath().c_str());
}

// An applied line's changes are apply --json's.
void ExpectLatencyChange(const std::vector<nlohmann::json>& events, const char* serial, int from,
                         int to) {
  for (const nlohmann::json& event : events)
    if (event["event"] == "applied" && event["serial"] == serial) {
      ExpectJsonFields(event, {{"/changes/#", 1}, {"/changes/0/setting", "latencyTimer"},
                               {"/changes/0/from", from}, {"/changes/0/to", to}});
      return;
    }
  ADD_FAILURE() << "no applied line of " << serial;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, Watch, ::testing::Values(
  // Written only once PortName is there: the install would overwrite it.
  ArrivalCase{"VidPidAfterInstall", PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"),
      "", [] {
        BeginInstall("FTX00001A");
        Sleep(2500);  // two settle times: watch has seen it and must wait
        EXPECT_EQ(16u, ReadDword(Parameters("FTX00001A"), "LatencyTimer")) << "written before PortName";
        FinishInstall("FTX00001A", "COM9");
      },
      {{"arrived", "FTX00001A", 1}, {"waiting", "FTX00001A", 1}, {"applied", "FTX00001A", 1},
       {"restarted", "FTX00001A", 1}},
      {{"applied", "FT12AB34A", 1}, {"compliant", "FTX00001A", 1}},
      {{Parameters("FTX00001A"), "LatencyTimer", Dw(2)}}, 1},
  ArrivalCase{"SerialGlob", PROFILE(R"({"match": {"serial": "FTG*"}, "minReadTimeout": 50})"),
      "", [] { Arrive("FTG00001A", "COM9"); },
      {{"applied", "FTG00001A", 1}, {"restarted", "FTG00001A", 1}}, {},
      {{Parameters("FTG00001A"), "MinReadTimeout", Dw(50)}}, 1},
  // The bench's three are compliant at the start, as is an adapter no rule names.
  ArrivalCase{"MatchedByNothing", PROFILE(R"({"match": {"serial": "FTZZ*"}, "latencyTimer": 2})"),
      "", [] { Arrive("FTN00001A", "COM9"); },
      {{"compliant", "", 4}, {"compliant", "FTN00001A", 1}},
      {{"applied", nullptr, 1}, {"restarted", nullptr, 1}}, {}, 0},
  ArrivalCase{"PinnedNumberFree", PROFILE(R"({"match": {"serial": "FTP00001A"}, "port": "COM12"})"),
      "--restart none", [] { Arrive("FTP00001A", "COM9"); },
      {{"applied", "FTP00001A", 1}}, {{"restarted", nullptr, 1}},
      {{Parameters("FTP00001A"), "PortName", Sz("COM12")},
       {Instance("FTP00001A"), "FriendlyName", SzHas("(COM12)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 5, 6, 7, 12}))}}, 1},
  // COM7 belongs to the bench's unplugged adapter.
  ArrivalCase{"PinnedNumberTaken", PROFILE(R"({"match": {"serial": "FTP00001A"}, "port": "COM7"})"),
      "", [] { Arrive("FTP00001A", "COM9"); },
      {{"arrived", "FTP00001A", 1}, {"error", "FTP00001A", 1}},
      {{"applied", nullptr, 1}}, {}, 0},
  ArrivalCase{"InstallNeverFinishes", PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"),
      "--give-up 3", [] { BeginInstall("FTX00002A"); },
      {{"waiting", "FTX00002A", 1}, {"gave-up", "FTX00002A", 1}}, {{"applied", nullptr, 1}}, {}, 0},
  // A rack of a hundred: one change set, one lock.
  ArrivalCase{"HundredAtOnce", PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"),
      "--restart none", [] {
        for (int i = 0; i < 100; ++i) {
          char serial[16];
          snprintf(serial, sizeof serial, "FTH%05dA", i);
          char port[16];
          snprintf(port, sizeof port, "COM%d", 20 + i);
          BeginInstall(serial, false);
          FinishInstall(serial, port);
        }
      },
      {{"applied", "", 100}}, {},
      [] {
        std::vector<Change> changes;
        for (int i = 0; i < 100; ++i) {
          char serial[16];
          snprintf(serial, sizeof serial, "FTH%05dA", i);
          changes.push_back({Parameters(serial), "LatencyTimer", Dw(2)});
        }
        return changes;
      }(), 1},
  // The profile edited: every adapter again; made invalid: the last good one stays.
  ArrivalCase{"ProfileEditedThenInvalid", PROFILE(R"({"match": {"serial": "FT12AB34A"}, "latencyTimer": 2})"),
      "--restart none", [] {
        Sleep(1200);
        WriteProfile(PROFILE(R"({"match": {"serial": "FT12AB34A"}, "latencyTimer": 3})"));
        Sleep(3000);
        WriteProfile(PROFILE(R"({"match": {"serial": "FT12AB34A"}, "latencyTimer": 0})"));
        Sleep(3000);
        Arrive("FTX00003A", "COM9");
      },
      {{"applied", "FT12AB34A", 2}, {"profile-changed", "", 2}, {"profile-invalid", "", 1},
       {"compliant", "FTX00003A", 1}}, {},
      {{P5, "LatencyTimer", Dw(3)}}, 2},
  // Made writable by others: refused, the last good one stays.
  ArrivalCase{"ProfileMadeWritable", PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"),
      "--restart none", [] {
        Sleep(1200);
        OpenToEveryone(ProfilePath());
        Sleep(3000);
        Arrive("FTX00004A", "COM9");
      },
      {{"profile-invalid", "", 1}, {"applied", "FTX00004A", 1}}, {},
      {{Parameters("FTX00004A"), "LatencyTimer", Dw(2)}}, 1}
), Name);
// clang-format on

// The change of an arrival is apply --json's change, and history and undo
// cover it.
class WatchJournal : public OnBench<::testing::Test> {};

TEST_F(WatchJournal, AppliedLineHistoryAndRestartLine) {
  DeleteFileA(JournalPath);
  Bench();
  ExtraDevices.clear();
  WriteProfile(PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"));
  WatchRun watch;
  if (!StartWatch("watch " + ProfilePath() + " --json", FolderWithRestartSeam(""), &watch))
    return EndProcess(&watch.Process);
  Arrive("FTX00005A", "COM9");
  AwaitEvent(&watch, "restarted", "FTX00005A");
  StopWatch(&watch);
  ExpectLatencyChange(watch.Events, "FTX00005A", 16, 2);
  ProgramRun history = RunPortmeld("history --json");
  nlohmann::json document = nlohmann::json::parse(history.Out, nullptr, false);
  ASSERT_TRUE(document.is_object()) << history.Out;
  ExpectJsonFields(document, {{"/history/0/command", "watch " + ProfilePath()},
                              {"/history/0/program", "portmeld 1.0"},
                              {"/history/0/state", "done"},
                              {"/history/0/restart/0/serial", "FTX00005A"},
                              {"/history/0/restart/0/result", "restarted"},
                              {"/warnings/#", 0}});
  ProgramRun undo = RunPortmeld("undo --restart none");
  EXPECT_EQ(0u, undo.ExitCode) << undo.Out << undo.Err;
  EXPECT_EQ(16u, ReadDword(Parameters("FTX00005A"), "LatencyTimer"));
}

// While nothing happens, watch waits on notifications: no processor time.
TEST_F(WatchJournal, IdleWatchUsesNoProcessorTime) {
  Bench();
  WriteProfile(PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"));
  WatchRun watch;
  if (!StartWatch("watch " + ProfilePath() + " --json", "", &watch))
    return EndProcess(&watch.Process);
  Sleep(1500);  // past the start's own work
  auto cpuMs = [&] {
    FILETIME created, ended, kernel, user;
    EXPECT_TRUE(GetProcessTimes(watch.Process.Info.hProcess, &created, &ended, &kernel, &user));
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}},
                   u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (k.QuadPart + u.QuadPart) / 10000;
  };
  unsigned long long first = cpuMs();
  // The measure sees this process's work: its start took some.
  EXPECT_GT(first, 0u) << "no processor time counted for watch's start";
  Sleep(5000);
  unsigned long long idle = cpuMs() - first;
  EXPECT_LE(idle, 20u) << "ms of processor time in 5 s of idling";
  StopWatch(&watch);
}

// Refused at the start, as apply refuses.
class WatchStart : public OnBench<::testing::TestWithParam<ConsoleCase>> {};
TEST_P(WatchStart, Run) {
  RunConsoleCase(GetParam());
  DeleteFileA(ProfilePath().c_str());  // no access list left for later cases
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, WatchStart, ::testing::ValuesIn(std::vector<ConsoleCase>{
  {"InvalidProfile", nullptr, "watch %P", 3, "{}", {}, {"latencyTimer"}, {}, {}, false, 0, "",
      PROFILE(R"({"latencyTimer": 0})")},
  {"MissingProfile", nullptr, "watch Z:\\nonexistent\\p.json", 3, "{}", {}, {}, {}, {}, false, 0},
  {"StandardInput", nullptr, "watch -", 3, "{}", {}, {}, {}, {}, false, 0},
  {"BadRestartWord", nullptr, "watch %P --restart later", 3, "{}", {}, {}, {}, {}, false, 0, "",
      PROFILE("")},
  {"WritableProfile", WritableProfile, "watch %P", 5, "{}", {}, {"may change this profile"}, {}, {},
      false, 0},
}), CaseName);
// clang-format on

}  // namespace

// --- The agent service -------------------------------------------------------------

namespace {

const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\PortmeldAgent";
const char SourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Portmeld Agent";

// Whatever happens in a test, the agent goes: an automatic service starts
// again with the reused prefix and would write into later tests.
void RemoveAgent() {
  RunPortmeld("agent remove");
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return;
  SC_HANDLE service = OpenServiceA(manager, "PortmeldAgent", SERVICE_ALL_ACCESS);
  if (service) {
    ADD_FAILURE() << "portmeld agent remove left the service";
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SourceKey);
}

// Closed on every way out of a test: an open handle keeps a deleted
// service in the manager's list.
struct ServiceHandle {
  SC_HANDLE Handle;
  ~ServiceHandle() {
    if (Handle) CloseServiceHandle(Handle);
  }
};

class Agent : public OnBench<::testing::Test> {
 protected:
  void SetUp() override {
    OnBench::SetUp();
    RunPortmeld("agent remove");
  }
  void TearDown() override {
    RemoveAgent();
    OnBench::TearDown();
  }
};

nlohmann::json AgentState(DWORD* exitCode) {
  ProgramRun status = RunPortmeld("agent status --json");
  *exitCode = status.ExitCode;
  nlohmann::json document = nlohmann::json::parse(status.Out, nullptr, false);
  return document.is_object() && document.contains("agent") ? document["agent"] : nlohmann::json();
}

std::string AgentProfile(const char* name, const char* text) {
  std::string path = ScratchPath(name);
  EXPECT_TRUE(WriteBytes(path, Bytes(text, text + strlen(text))));
  return path;
}

TEST_F(Agent, InstalledStartedChangedStoppedRemoved) {
  DeleteFileA(JournalPath);
  Bench();
  // A space in the path: the command line must quote it.
  std::string profile = AgentProfile("agent profile.json",
                                     PROFILE(R"({"match": {"vidpid": "0403:6015"}, "latencyTimer": 2})"));
  ProgramRun install = RunPortmeld("agent install \"" + profile + "\" --json");
  ASSERT_EQ(0u, install.ExitCode) << install.Out << install.Err;
  DWORD code = 0;
  nlohmann::json state = AgentState(&code);
  EXPECT_EQ(0u, code);
  EXPECT_EQ(nlohmann::json({{"installed", true}, {"running", true}, {"profile", profile}}), state);

  // Automatic, LocalSystem, both paths quoted; the event source registered.
  // (Wine keeps no failure actions: restart on failure is not seen here.)
  {
    ServiceHandle manager = {OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
    ServiceHandle service = {OpenServiceA(manager.Handle, "PortmeldAgent", SERVICE_QUERY_CONFIG)};
    ASSERT_TRUE(service.Handle != nullptr);
    std::vector<unsigned char> buffer(8192);
    DWORD size = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigA(service.Handle, config, (DWORD)buffer.size(), &size));
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, config->dwStartType);
    EXPECT_STREQ("LocalSystem", config->lpServiceStartName);
    EXPECT_STREQ("Portmeld Agent", config->lpDisplayName);
    EXPECT_EQ("\"" + ExeFolder() + "\\portmeld.exe\" agent run \"" + profile + "\"",
              std::string(config->lpBinaryPathName));
  }
  EXPECT_TRUE(KeyExists(SourceKey));

  // The service watches: an adapter arriving gets the profile.
  Arrive("FTA00001A", "COM9");
  DWORD value = 0;
  for (int i = 0; i < 100 && (value = ReadDword(Parameters("FTA00001A"), "LatencyTimer")) != 2; ++i)
    Sleep(200);
  EXPECT_EQ(2u, value) << "the agent did not configure the arriving adapter";
  ProgramRun history = RunPortmeld("history");
  EXPECT_NE(std::string::npos, history.Out.find("watch " + profile)) << history.Out;

  // Run again with another profile: changed and restarted.
  std::string other = AgentProfile("agent-other.json", PROFILE(R"({"latencyTimer": 3})"));
  install = RunPortmeld("agent install " + other);
  EXPECT_EQ(0u, install.ExitCode) << install.Out << install.Err;
  state = AgentState(&code);
  EXPECT_EQ(0u, code);
  EXPECT_EQ(other, state.value("profile", ""));
  for (int i = 0; i < 100 && (value = ReadDword(P5, "LatencyTimer")) != 3; ++i) Sleep(200);
  EXPECT_EQ(3u, value) << "the changed agent did not apply its new profile at its start";

  // Stopped: installed but not running.
  {
    ServiceHandle manager = {OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
    ServiceHandle service = {
        OpenServiceA(manager.Handle, "PortmeldAgent", SERVICE_STOP | SERVICE_QUERY_STATUS)};
    SERVICE_STATUS status = {};
    EXPECT_TRUE(ControlService(service.Handle, SERVICE_CONTROL_STOP, &status));
    for (int i = 0; i < 100 && QueryServiceStatus(service.Handle, &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      Sleep(100);
    EXPECT_EQ((DWORD)SERVICE_STOPPED, status.dwCurrentState);
    EXPECT_EQ((DWORD)NO_ERROR, status.dwWin32ExitCode) << "a stop is no failure";
  }
  state = AgentState(&code);
  EXPECT_EQ(1u, code);
  EXPECT_EQ(false, state.value("running", true));

  ProgramRun remove = RunPortmeld("agent remove");
  EXPECT_EQ(0u, remove.ExitCode) << remove.Out << remove.Err;
  state = AgentState(&code);
  EXPECT_EQ(4u, code);
  EXPECT_FALSE(KeyExists(ServiceKey));
  EXPECT_FALSE(KeyExists(SourceKey));
  remove = RunPortmeld("agent remove");
  EXPECT_EQ(0u, remove.ExitCode) << "removing no agent is done too";
}

class AgentRefused : public Agent, public ::testing::WithParamInterface<ConsoleCase> {};
TEST_P(AgentRefused, Run) {
  RunConsoleCase(GetParam());
  DeleteFileA(ProfilePath().c_str());
  DWORD code = 0;
  AgentState(&code);
  EXPECT_EQ(4u, code) << "an agent was installed";
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, AgentRefused, ::testing::ValuesIn(std::vector<ConsoleCase>{
  {"InvalidProfile", nullptr, "agent install %P", 3, "{}", {}, {"latencyTimer"}, {}, {}, false, 0,
      "", PROFILE(R"({"latencyTimer": 0})")},
  {"MissingProfile", nullptr, "agent install Z:\\nonexistent\\p.json", 3, "{}", {}, {}, {}, {},
      false, 0},
  {"NoProfile", nullptr, "agent install", 3, "{}", {}, {}, {}, {}, false, 0},
  {"WritableProfile", WritableProfile, "agent install %P", 5, "{}", {}, {"may change this profile"},
      {}, {}, false, 0},
  {"UnknownAction", nullptr, "agent frobnicate", 3, "{}", {}, {}, {}, {}, false, 0},
  {"RunAtAPrompt", nullptr, "agent run %P", 3, "{}", {}, {"started by Windows", "portmeld watch"},
      {}, {}, false, 0, "", PROFILE("")},
  {"StatusNone", nullptr, "agent status --json", 4,
      R"({"/agent/installed": false, "/agent/running": false, "/agent/profile": null})", {}, {},
      {}, {}, false, 0},
}), CaseName);
// clang-format on

}  // namespace
