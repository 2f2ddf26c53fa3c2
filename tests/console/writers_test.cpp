// Many writers, one truth: portmeld.exe while another Portmeld program holds
// the writer lock, and several portmeld.exe writing at once.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "console_harness.h"
#include "runner/lock_holder.h"

namespace {

const char Busy[] = "another Portmeld program is writing the driver settings";
const DWORD Forever = 60000;  // longer than any wait below; the holder is ended after the case

// A configuration file for load: the bench's values but latency 2.
Bytes LoadFile() {
  Bytes file = Config(0);
  file.resize(84, 0);
  file[66] = 2;
  return file;
}

#define ONE_PORT(rule) "{\"schema\": \"portmeld-profile/1\", \"ports\": [" rule "]}"

struct LockCase {
  DWORD HoldMs;        // how long the other writer holds the lock once it has it
  bool Abandon;        // it ends without releasing it
  DWORD MinMs, MaxMs;  // how long the run may take
  ConsoleCase Run;
};
void PrintTo(const LockCase& c, std::ostream* os) { PrintTo(c.Run, os); }

class WriterLock : public OnBench<::testing::TestWithParam<LockCase>> {};

TEST_P(WriterLock, Run) {
  const LockCase& c = GetParam();
  RunningProcess holder;
  std::string error;
  ASSERT_TRUE(HoldWriterLock(c.HoldMs, c.Abandon, &holder, &error)) << error;
  ProgramRun run = RunConsoleCase(c.Run);
  EndProcess(&holder);
  EXPECT_GE(run.ElapsedMs, c.MinMs) << "the run ended too soon";
  EXPECT_LE(run.ElapsedMs, c.MaxMs) << "the run took too long";
}

std::string LockName(const ::testing::TestParamInfo<LockCase>& info) { return info.param.Run.Name; }

const std::vector<Change> Latency2 = {{P5, "LatencyTimer", Dw(2)}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, WriterLock, ::testing::ValuesIn(std::vector<LockCase>{
  // Every writing command waits --wait seconds, then writes nothing.
  {Forever, false, 900, 8000, {"SetWaitsItsTime", nullptr, "set COM5 latencyTimer=2 --wait 1", 2,
      "{}", {}, {Busy}}},
  {Forever, false, 900, 8000, {"SetJson", nullptr, "set COM5 latencyTimer=2 --wait 1 --json", 2,
      R"({"/changed": false})", {}, {Busy}}},
  {Forever, false, 900, 8000, {"Preset", nullptr, "preset COM5 tarnlink --wait 1", 2, "{}", {}, {Busy}}},
  {Forever, false, 900, 8000, {"Load", nullptr, "load COM5 %F --wait 1", 2, "{}", {}, {Busy},
      LoadFile()}},
  {Forever, false, 900, 8000, {"Rename", nullptr, "rename COM5 COM9 --wait 1", 2, "{}", {}, {Busy}}},
  {Forever, false, 900, 8000, {"IgnoreSerialOn", nullptr, "ignore-serial on --wait 1", 2, "{}", {},
      {Busy}}},
  {Forever, false, 900, 8000, {"RemoveStale", nullptr, "remove-stale all --wait 1", 2, "{}", {},
      {Busy}}},
  {Forever, false, 900, 8000, {"Apply", nullptr, "apply %P --wait 1", 2, "{}", {}, {Busy}, {}, {},
      false, AUTO_RELOADS, "", ONE_PORT(R"({"latencyTimer": 2})")}},
  {Forever, false, 900, 8000, {"DscSet", nullptr, "dsc set --wait 1", 2, "{}", {}, {Busy}, {}, {},
      false, AUTO_RELOADS, R"({"ports":[{"match":{"port":"COM5"},"latencyTimer":2}]})"}},
  // Ten seconds unless told otherwise.
  {Forever, false, 9500, 19000, {"DefaultWait", nullptr, "set COM5 latencyTimer=2", 2, "{}", {},
      {Busy}}},
  // A lock given up within the wait: the write follows it.
  {2500, false, 1500, 9000, {"ReleasedWithinWait", nullptr, "set COM5 latencyTimer=2", 0, "{}",
      Latency2}},
  // Its holder died holding it: nobody holds it any more.
  {0, true, 0, 4000, {"Abandoned", nullptr, "set COM5 latencyTimer=2 --wait 5", 0, "{}", Latency2}},
  // Reading takes no lock.
  {Forever, false, 0, 4000, {"ShowReadsMeanwhile", nullptr, "show COM5 --json", 0,
      R"({"/ports/0/settings/latencyTimer": 16})"}},
}), LockName);
// clang-format on

// --- Several at once ---------------------------------------------------------------

struct Together {
  const char* Name;
  // Command lines started at once; %P is the profile beside it, when given.
  std::vector<std::pair<const char*, const char*>> Runs;
  std::vector<Change> Changes;  // of all of them together
};
void PrintTo(const Together& c, std::ostream* os) { *os << c.Name; }

class ManyWriters : public OnBench<::testing::TestWithParam<Together>> {};

const int Rounds = 10;  // a lost write shows now and then (here about once in ten rounds)

TEST_P(ManyWriters, EveryChangeLands) {
  const Together& c = GetParam();
  for (int round = 1; round <= Rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    CleanBench();
    Bench();
    Snapshot before = TakeSnapshot();
    std::string error;
    std::vector<Launch> launches;
    std::vector<RunningProcess> runs(c.Runs.size());
    for (size_t i = 0; i < c.Runs.size(); ++i) {
      std::string name = "together-" + std::to_string(i);
      std::string args = c.Runs[i].first;
      if (c.Runs[i].second) {
        std::string profile = ScratchPath((name + ".json").c_str());
        WriteBytes(profile, Bytes(c.Runs[i].second, c.Runs[i].second + strlen(c.Runs[i].second)));
        args.replace(args.find("%P"), 2, profile);
      }
      launches.push_back(PortmeldLaunch(args, name));
      launches.back().Suspended = true;
      WriteBytes(launches.back().InputPath, {});
      if (!StartProcess(launches.back(), &runs[i], &error)) {
        for (RunningProcess& started : runs) EndProcess(&started);  // none left held
        FAIL() << error;
      }
    }
    for (RunningProcess& run : runs) ResumeProcess(&run);  // all in one moment
    for (size_t i = 0; i < runs.size(); ++i) {
      DWORD code = 0xDEADBEEF;
      bool ended = WaitProcess(&runs[i], 30000, &code);
      EndProcess(&runs[i]);
      EXPECT_TRUE(ended && code == 0)
          << "portmeld " << launches[i].Args << (ended ? "" : ": still running") << " exit code "
          << code << "\n"
          << ReadTextFile(launches[i].OutPath) << ReadTextFile(launches[i].ErrPath);
    }
    ExpectOnlyChanges(before, TakeSnapshot(), c.Changes);
  }
}

std::string TogetherName(const ::testing::TestParamInfo<Together>& info) { return info.param.Name; }

const std::string I7 = DeviceKey(FT232R, "FT77ZZ11A");

// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, ManyWriters, ::testing::ValuesIn(std::vector<Together>{
  // ComDB ends holding exactly the numbers in use: COM1 (another kind) and the new ones.
  {"RenamesOfThreeAdapters",
      {{"rename COM5 COM9", nullptr}, {"rename COM6 COM10", nullptr}, {"rename COM7 COM11", nullptr}},
      {{P5, "PortName", Sz("COM9")}, {I5, "FriendlyName", SzHas("(COM9)")},
       {P6, "PortName", Sz("COM10")}, {I6, "FriendlyName", SzHas("(COM10)")},
       {P7, "PortName", Sz("COM11")}, {I7, "FriendlyName", SzHas("(COM11)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 9, 10, 11}))}}},
  // 3,000,000 / 10,000 = 300: the 300 and 9600 entries (1 and 6) hold
  // divisor 300, each written by another process into the same ConfigData.
  {"SettingsOfOneAdapter",
      {{"set COM5 latencyTimer=2", nullptr}, {"set COM5 minReadTimeout=50", nullptr},
       {"set COM5 baudAlias.9600=10000", nullptr}, {"set COM5 baudAlias.300=10000", nullptr}},
      {{P5, "LatencyTimer", Dw(2)}, {P5, "MinReadTimeout", Dw(50)},
       {P5, "ConfigData", Bin(WithEntry(WithEntry(Config(0), 6, 300), 1, 300))}}},
  {"TwoProfiles",
      {{"apply %P", ONE_PORT(R"({"latencyTimer": 2})")},
       {"apply %P", ONE_PORT(R"({"minReadTimeout": 50})")}},
      {{P5, "LatencyTimer", Dw(2)}, {P6, "LatencyTimer", Dw(2)}, {P7, "LatencyTimer", Dw(2)},
       {P5, "MinReadTimeout", Dw(50)}, {P6, "MinReadTimeout", Dw(50)}, {P7, "MinReadTimeout", Dw(50)}}},
}), TogetherName);
// clang-format on

}  // namespace
