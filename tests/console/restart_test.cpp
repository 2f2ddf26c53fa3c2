// One device restarted: `portmeld restart` and --restart device of the
// writing commands, run by the program's test build whose SetupAPI device
// calls answer as the stand-in's file says (attached, open in another
// program, needing a replug, failing), and by portmeld.exe itself, which
// under Wine can only report that the restart failed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "console_harness.h"

namespace {

const char Com5[] = "restart FTDIBUS\\VID_0403+PID_6001+FT12AB34A\\0000 -> ";
const char Com6[] = "restart FTDIBUS\\VID_0403+PID_6010+FT9XK2L1A\\0000 -> ";
const char JournalPath[] = "C:\\ProgramData\\Portmeld\\changes.jsonl";

struct RestartCase {
  ConsoleCase Run;
  std::vector<std::string> Log;  // the restart lines of the stand-ins' log, in order
};
void PrintTo(const RestartCase& c, std::ostream* os) { PrintTo(c.Run, os); }
std::string Name(const ::testing::TestParamInfo<RestartCase>& info) { return info.param.Run.Name; }

std::vector<std::string> RestartLines(const std::string& log) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    if (log.compare(at, 8, "restart ") == 0) lines.push_back(log.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

class Restart : public OnBench<::testing::TestWithParam<RestartCase>> {};

TEST_P(Restart, Run) {
  const RestartCase& c = GetParam();
  RunConsoleCase(c.Run);
  EXPECT_EQ(c.Log, RestartLines(ReadStandinLog())) << ReadStandinLog();
}

#define ONE_RULE(rule) "{\"schema\": \"portmeld-profile/1\", \"ports\": [" rule "]}"
const std::vector<Change> Latency2All = {
    {P5, "LatencyTimer", Dw(2)}, {P6, "LatencyTimer", Dw(2)}, {P7, "LatencyTimer", Dw(2)}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Console, Restart, ::testing::ValuesIn(std::vector<RestartCase>{
  {{"Attached", nullptr, "restart COM5 --json", 0, R"({"/changed": true, "/restart/#": 1,
      "/restart/0/port": "COM5", "/restart/0/serial": "FT12AB34A", "/restart/0/result": "restarted",
      "/errors/#": 0})", {}, {}, {}, {}, false, 0, "", nullptr, ""},
   {std::string(Com5) + "restarted"}},
  // COM6 is open in another program: left alone unless --force.
  {{"OpenInAnotherProgram", nullptr, "restart COM6 --json", 2, R"({"/restart/0/port": "COM6",
      "/restart/0/result": "restart-pending", "/errors/0/error": 170})", {}, {}, {}, {}, false, 0,
      "", nullptr, ""}, {}},
  {{"OpenForced", nullptr, "restart FT9XK2L1A --force", 0, "{}", {}, {"COM6  restarted"}, {}, {},
      false, 0, "", nullptr, ""}, {std::string(Com6) + "restarted"}},
  {{"NeedsReplug", nullptr, "restart COM5", 2, "{}", {},
      {"restart pending: replug the adapter or restart Windows"}, {}, {}, false, 0, "", nullptr,
      "FT12AB34A replug\n"}, {std::string(Com5) + "replug"}},
  {{"Fails", nullptr, "restart COM5 --json", 2, R"({"/restart/0/result": "failed",
      "/errors/0/error": 1167})", {}, {}, {}, {}, false, 0, "", nullptr, "FT12AB34A fail 1167\n"},
   {std::string(Com5) + "failed 1167"}},
  {{"UnknownToWindows", nullptr, "restart COM5 --json", 2, R"({"/restart/0/result": "failed",
      "/errors/0/error": 3758096907})", {}, {}, {}, {}, false, 0, "", nullptr, "FT12AB34A absent\n"},
   {std::string(Com5) + "absent"}},
  // Attached adapters only: COM7 is registered but unplugged.
  {{"All", nullptr, "restart all --json", 2, R"({"/ports/#": 2, "/restart/#": 2,
      "/restart/[COM5]/result": "restarted", "/restart/[COM6]/result": "restart-pending"})", {}, {},
      {}, {}, false, 0, "", nullptr, ""}, {std::string(Com5) + "restarted"}},
  {{"NotAttached", nullptr, "restart COM7", 4, "{}", {}, {}, {}, {}, false, 0, "", nullptr, ""}, {}},
  {{"Check", nullptr, "restart all --check", 1, "{}", {}, {"COM5  would be restarted"}, {}, {},
      false, 0, "", nullptr, ""}, {}},
  {{"WithoutD2xx", nullptr, "restart COM5", 2, "{}", {}, {}, {}, {}, true, 0}, {}},
  // Wine's SetupAPI restarts nothing: portmeld.exe says so and changes nothing.
  {{"RealSetupApiUnderWine", nullptr, "restart COM5 --json", 2,
      R"({"/restart/0/result": "failed"})", {}, {}, {}, {}, false, 0}, {}},

  // --restart on the writing commands: only the written, attached adapters.
  {{"SetRestartDevice", nullptr, "set all latencyTimer=2 --restart device --json", 2,
      R"({"/changed": true, "/restart/#": 2, "/restart/[COM5]/result": "restarted",
      "/restart/[COM6]/result": "restart-pending"})", Latency2All, {}, {}, {}, false, 0, "",
      nullptr, ""}, {std::string(Com5) + "restarted"}},
  {{"SetRestartDeviceNothingWritten", nullptr, "set COM5 latencyTimer=16 --restart device", 0, "{}",
      {}, {}, {}, {}, false, 0, "", nullptr, ""}, {}},
  {{"PresetRestartDevice", nullptr, "preset COM5 tarnlink --restart device", 0, "{}",
      {{P5, "LatencyTimer", Dw(1)}, {P5, "ConfigData", Bin(Config(0x20, 0, TarnlinkAliasTable))}},
      {"COM5  restarted"}, {}, {}, false, 0, "", nullptr, ""}, {std::string(Com5) + "restarted"}},
  {{"ApplyRestartDevice", nullptr, "apply %P --restart device --json", 0,
      R"({"/compliant": true, "/restart/0/port": "COM5"})", {{P5, "LatencyTimer", Dw(2)}}, {}, {},
      {}, false, 0, "", ONE_RULE(R"({"match": {"port": "COM5"}, "latencyTimer": 2})"), ""},
   {std::string(Com5) + "restarted"}},
  {{"SetRestartDriver", nullptr, "set COM5 latencyTimer=2 --restart driver", 0, "{}",
      {{P5, "LatencyTimer", Dw(2)}}, {}, {}, {}, false, 1, "", nullptr, ""}, {}},
  {{"SetRestartNone", nullptr, "set COM5 latencyTimer=2 --restart none", 0, "{}",
      {{P5, "LatencyTimer", Dw(2)}}, {}, {}, {}, false, 0, "", nullptr, ""}, {}},
  {{"SetRestartReplugStaysWritten", nullptr, "set COM5 latencyTimer=2 --restart device", 2, "{}",
      {{P5, "LatencyTimer", Dw(2)}}, {"restart pending: replug the adapter or restart Windows"},
      {}, {}, false, 0, "", nullptr, "FT12AB34A replug\n"}, {std::string(Com5) + "replug"}},
  {{"BadRestartWord", nullptr, "set COM5 latencyTimer=2 --restart later", 3, "{}", {}, {}, {}, {},
      false, 0, "", nullptr, ""}, {}},
  {{"NotOnRename", nullptr, "rename COM5 COM9 --restart device", 3, "{}", {}, {}, {}, {}, false, 0,
      "", nullptr, ""}, {}},
}), Name);
// clang-format on

// The restarts are a line of the change set that wrote the values: history
// shows them, and undo --restart device restarts what it put back.
class RestartJournal : public OnBench<::testing::Test> {};

TEST_F(RestartJournal, HistoryShowsTheRestartsAndUndoRestartsToo) {
  DeleteFileA(JournalPath);
  Bench();
  std::string folder = FolderWithRestartSeam("");
  ProgramRun set = RunPortmeld("set all latencyTimer=2 --restart device", "", folder);
  EXPECT_EQ(2u, set.ExitCode) << set.Out << set.Err;  // COM6 is open: pending
  ProgramRun history = RunPortmeld("history --json");
  nlohmann::json document = nlohmann::json::parse(history.Out, nullptr, false);
  ASSERT_TRUE(document.is_object()) << history.Out;
  ExpectJsonFields(document, nlohmann::json::parse(R"({"/history/0/command":
      "set all latencyTimer=2 --restart device", "/history/0/state": "done",
      "/history/0/restart/#": 2, "/history/0/restart/[COM5]/result": "restarted",
      "/history/0/restart/[COM6]/result": "restart-pending", "/warnings/#": 0})"));
  ProgramRun text = RunPortmeld("history");
  EXPECT_NE(std::string::npos, text.Out.find("COM5  restart  restarted")) << text.Out;

  ProgramRun undo = RunPortmeld("undo --restart device --json", "", folder);
  EXPECT_EQ(2u, undo.ExitCode) << undo.Out << undo.Err;
  document = nlohmann::json::parse(undo.Out, nullptr, false);
  ASSERT_TRUE(document.is_object()) << undo.Out;
  ExpectJsonFields(document, nlohmann::json::parse(R"({"/restart/#": 2,
      "/restart/[COM5]/result": "restarted"})"));
  EXPECT_EQ(2, CountLines(ReadStandinLog(), std::string(Com5) + "restarted")) << ReadStandinLog();
  EXPECT_EQ(0, CountLines(ReadStandinLog(), "FT_Reload")) << ReadStandinLog();
}

}  // namespace
