// Profiles as fleet engines use them: portmeld test, apply, export and the
// DSC resource, run against the bench (console_harness.h). Each case is a
// profile, a command line, the exit codes allowed, fields of the JSON
// output and every registry value the run may change; any other registry
// difference fails the case.
#include <gtest/gtest.h>
#include <windows.h>
#include <ctype.h>

#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "console_harness.h"

namespace {

using nlohmann::json;

#define PROFILE(rules) "{\"schema\": \"portmeld-profile/1\", \"ports\": [" rules "]}"
#define MACHINE(ignore, rules) \
  "{\"schema\": \"portmeld-profile/1\", \"ignoreSerial\": " ignore ", \"ports\": [" rules "]}"
// A good first rule and a bad second one: nothing may be written.
#define SECOND(bad) PROFILE(R"({"latencyTimer": 2}, )" bad)

constexpr uint32_t FT232H = 0x04036015;
const std::string P9 = DeviceKey(FT232H, "FT55DUPA", true);

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

void WriteProfile(const std::string& text) {
  ASSERT_TRUE(WriteBytes(ProfilePath(), Bytes(text.begin(), text.end())));
}

// The command line with the profile's path for %P.
std::string WithProfile(std::string args, const std::string& path) {
  for (size_t at; (at = args.find("%P")) != std::string::npos;) args.replace(at, 2, path);
  return args;
}

// The output of --json, or the one line of state a dsc command answers.
json Document(const std::string& args, const ProgramRun& run) {
  json doc = json::parse(run.Out, nullptr, false);
  EXPECT_TRUE(doc.is_object()) << "standard output is not one JSON object";
  if (!doc.is_object()) return json::object();
  if (args.compare(0, 4, "dsc ") != 0) {
    ExpectJsonFields(doc, {{"/schema", "portmeld/1"}});
    EXPECT_TRUE(doc.contains("changed") && doc["changed"].is_boolean());
    EXPECT_TRUE(doc.contains("errors") && doc["errors"].is_array());
  }
  return doc;
}

// A row of the tables below, in the order profiles read best; run as a ConsoleCase.
struct Case {
  const char* Name;
  void (*Tweak)();      // changes to the bench before the run
  const char* Profile;  // the file %P stands for; nullptr for none
  const char* Args;
  DWORD Exit;
  const char* Json = "{}";  // fields of the JSON output, see ExpectJsonFields
  std::vector<Change> Changes = {};
  std::vector<const char*> Texts = {};  // each in standard output or error
  const char* Input = "";               // standard input
};

void PrintTo(const Case& c, std::ostream* os) { *os << "portmeld " << c.Args; }

class Profiles : public OnBench<::testing::TestWithParam<Case>> {};

TEST_P(Profiles, Run) {
  const Case& c = GetParam();
  ConsoleCase run = {c.Name, c.Tweak, c.Args, c.Exit, c.Json, c.Changes, c.Texts};
  run.Input = c.Input;
  run.Profile = c.Profile;
  RunConsoleCase(run);
}

std::string ProfileCaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.Name; }

// clang-format off

#define CASES(table, ...) \
  INSTANTIATE_TEST_SUITE_P(table, Profiles, ::testing::ValuesIn(std::vector<Case>{__VA_ARGS__}), ProfileCaseName)

const Expected Two = Dw(2);

// --- Which ports a rule is for, and which rule wins ------------------------------

CASES(Match,
  {"EmptyMatchIsEveryPort", nullptr, PROFILE(R"({"match": {}, "latencyTimer": 2})"), "apply %P",
      {0}, "{}", {{P5, "LatencyTimer", Two}, {P6, "LatencyTimer", Two}, {P7, "LatencyTimer", Two}}},
  {"NoMatchIsEveryPort", nullptr, PROFILE(R"({"latencyTimer": 2})"), "apply %P", {0}, "{}",
      {{P5, "LatencyTimer", Two}, {P6, "LatencyTimer", Two}, {P7, "LatencyTimer", Two}}},
  {"SerialStar", nullptr, PROFILE(R"({"match": {"serial": "FT12*"}, "latencyTimer": 2})"),
      "apply %P", {0}, "{}", {{P5, "LatencyTimer", Two}}},
  {"SerialQuestionMarks", nullptr, PROFILE(R"({"match": {"serial": "FT?7ZZ1?A"}, "latencyTimer": 2})"),
      "apply %P", {0}, "{}", {{P7, "LatencyTimer", Two}}},
  {"SerialIsTheWholeName", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34"}, "latencyTimer": 2})"),
      "apply %P --json", {0}, R"({"/changed": false, "/unmatchedRules": [1]})"},
  {"VidPid", nullptr, PROFILE(R"({"match": {"vidpid": "0403:6010"}, "latencyTimer": 2})"),
      "apply %P", {0}, "{}", {{P6, "LatencyTimer", Two}}},
  {"PortInAnyCase", nullptr, PROFILE(R"({"match": {"port": "com7"}, "latencyTimer": 2})"),
      "apply %P", {0}, "{}", {{P7, "LatencyTimer", Two}}},
  {"EveryMatchKeyMustHold", nullptr,
      PROFILE(R"({"match": {"port": "COM5", "vidpid": "0403:6010"}, "latencyTimer": 2})"),
      "apply %P --json", {0}, R"({"/changed": false, "/unmatchedRules": [1]})"},
  {"LaterRuleWins", nullptr, PROFILE(R"({"latencyTimer": 3}, {"match": {"vidpid": "0403:6001"}, "latencyTimer": 4})"),
      "apply %P", {0}, "{}",
      {{P5, "LatencyTimer", Dw(4)}, {P6, "LatencyTimer", Dw(3)}, {P7, "LatencyTimer", Dw(4)}}},
  {"LaterRuleWinsOverNarrowerOne", nullptr,
      PROFILE(R"({"match": {"vidpid": "0403:6001"}, "latencyTimer": 4}, {"latencyTimer": 3})"),
      "apply %P", {0}, "{}",
      {{P5, "LatencyTimer", Dw(3)}, {P6, "LatencyTimer", Dw(3)}, {P7, "LatencyTimer", Dw(3)}}},
  {"RulesAddUpPerSetting", nullptr,
      PROFILE(R"({"latencyTimer": 3, "minReadTimeout": 50}, {"match": {"port": "COM5"}, "latencyTimer": 9})"),
      "apply %P", {0}, "{}",
      {{P5, "LatencyTimer", Dw(9)}, {P6, "LatencyTimer", Dw(3)}, {P7, "LatencyTimer", Dw(3)},
       {P5, "MinReadTimeout", Dw(50)}, {P6, "MinReadTimeout", Dw(50)}, {P7, "MinReadTimeout", Dw(50)}}},
  {"UnmatchedRuleIsReported", nullptr,
      PROFILE(R"({"match": {"port": "COM5"}, "latencyTimer": 2}, {"match": {"serial": "XX*"}, "pollingPeriod": 1})"),
      "apply %P --json", {0}, R"({"/changed": true, "/compliant": true, "/unmatchedRules": [2]})",
      {{P5, "LatencyTimer", Two}}},
  {"TestListsEachDifference", nullptr,
      PROFILE(R"({"match": {"port": "COM5"}, "latencyTimer": 2}, {"match": {"serial": "XX*"}, "pollingPeriod": 1})"),
      "test %P", {1}, "{}", {}, {"COM5  latencyTimer  16 -> 2", "rule 2 matches no port"}});

// --- Bad input: exit 3 naming the rule and the key, nothing written ------------------

CASES(BadInput,
  {"UnknownKey", nullptr, SECOND(R"({"latencyTimr": 2})"), "apply %P", {3}, "{}", {}, {"rule 2", "latencyTimr"}},
  {"UnknownMatchKey", nullptr, SECOND(R"({"match": {"serail": "FT*"}})"), "apply %P", {3}, "{}", {}, {"rule 2", "serail"}},
  {"TextForNumber", nullptr, SECOND(R"({"latencyTimer": "2"})"), "apply %P --json", {3},
      R"({"/changed": false})", {}, {"rule 2", "latencyTimer"}},
  {"FractionForNumber", nullptr, SECOND(R"({"pollingPeriod": 2.5})"), "apply %P", {3}, "{}", {}, {"rule 2", "pollingPeriod"}},
  {"NumberForTrueFalse", nullptr, SECOND(R"({"serialPrinter": 1})"), "apply %P", {3}, "{}", {}, {"rule 2", "serialPrinter"}},
  {"WordForTrueFalse", nullptr, SECOND(R"({"serialEnumerator": "on"})"), "apply %P", {3}, "{}", {}, {"rule 2", "serialEnumerator"}},
  {"BelowRange", nullptr, SECOND(R"({"latencyTimer": 0})"), "apply %P", {3}, "{}", {}, {"rule 2", "latencyTimer"}},
  {"AboveRange", nullptr, SECOND(R"({"writeBufferSize": 4097})"), "apply %P", {3}, "{}", {}, {"rule 2", "writeBufferSize"}},
  {"Negative", nullptr, SECOND(R"({"minReadTimeout": -1})"), "apply %P", {3}, "{}", {}, {"rule 2", "minReadTimeout"}},
  {"BeyondDword", nullptr, SECOND(R"({"latencyTimer": 4294967298})"), "apply %P", {3}, "{}", {}, {"rule 2", "latencyTimer"}},
  {"AliasRateTooLow", nullptr, SECOND(R"({"baudAlias.9600": 100})"), "apply %P", {3}, "{}", {}, {"rule 2", "baudAlias.9600"}},
  {"NoSuchAliasTable", nullptr, SECOND(R"({"baudAliases": "fast"})"), "apply %P", {3}, "{}", {}, {"rule 2", "baudAliases"}},
  {"MalformedVidPid", nullptr, SECOND(R"({"match": {"vidpid": "0403-6001"}})"), "apply %P", {3}, "{}", {}, {"rule 2", "vidpid"}},
  {"PortNotCom", nullptr, SECOND(R"({"port": "LPT1"})"), "apply %P", {3}, "{}", {}, {"rule 2", "port"}},
  {"PortBeyondCom256", nullptr, SECOND(R"({"port": "COM257"})"), "apply %P", {3}, "{}", {}, {"rule 2", "port"}},
  {"IgnoreSerialNotTrueFalse", nullptr, MACHINE("1", R"({"latencyTimer": 2})"), "apply %P", {3}, "{}", {}, {"ignoreSerial"}},
  {"UnknownTopLevelKey", nullptr, R"({"schema": "portmeld-profile/1", "port": [{"latencyTimer": 2}]})",
      "apply %P", {3}, "{}", {}, {"\"port\""}},
  {"NoSchema", nullptr, R"({"ports": [{"latencyTimer": 2}]})", "apply %P", {3}, "{}", {}, {"schema"}},
  {"OtherSchema", nullptr, R"({"schema": "portmeld-profile/2", "ports": [{"latencyTimer": 2}]})",
      "apply %P", {3}, "{}", {}, {"schema"}},
  {"NotJson", nullptr, R"({"schema": "portmeld-profile/1", "ports": [{"latencyTimer": 2})", "apply %P", {3}},
  {"NoSuchFile", nullptr, nullptr, "apply Z:\\nonexistent\\bench.json", {3}},
  {"TestChecksToo", nullptr, SECOND(R"({"latencyTimr": 2})"), "test %P", {3}, "{}", {}, {"rule 2", "latencyTimr"}});

// --- Exit codes of test and apply ------------------------------------------------------

CASES(ExitCodes,
  {"TestCompliant", nullptr, PROFILE(R"({"latencyTimer": 16, "serialEnumerator": false, "match": {"port": "COM5"}})"),
      "test %P --json", {0}, R"({"/changed": false, "/compliant": true})"},
  {"TestNotCompliant", nullptr, PROFILE(R"({"match": {"port": "COM5"}, "latencyTimer": 2})"),
      "test %P --json", {1}, R"({"/changed": true, "/compliant": false, "/ports/#": 1,
      "/ports/[COM5]/changes/#": 1, "/ports/[COM5]/changes/[latencyTimer]/from": 16,
      "/ports/[COM5]/changes/[latencyTimer]/to": 2})"},
  {"TestFromStandardInput", nullptr, nullptr, "test -", {1}, "{}", {}, {"COM6  latencyTimer  16 -> 2"},
      PROFILE(R"({"match": {"port": "COM6"}, "latencyTimer": 2})")},
  {"TestMachineOption", nullptr, MACHINE("true", ""), "test %P --json", {1},
      R"({"/compliant": false, "/changes/0/setting": "ignoreSerial", "/changes/0/to": true})"},
  {"Apply", nullptr, PROFILE(R"({"match": {"port": "COM5"}, "latencyTimer": 2})"), "apply %P --json", {0},
      R"({"/changed": true, "/compliant": true, "/ports/[COM5]/changes/[latencyTimer]/to": 2})",
      {{P5, "LatencyTimer", Two}}},
  {"ApplyNoReload", nullptr, PROFILE(R"({"match": {"port": "COM5"}, "latencyTimer": 2})"),
      "apply %P --no-reload", {0}, "{}", {{P5, "LatencyTimer", Two}}},
  {"ApplyFromStandardInput", nullptr, nullptr, "apply -", {0}, "{}", {{P6, "LatencyTimer", Two}}, {},
      PROFILE(R"({"match": {"port": "COM6"}, "latencyTimer": 2})")},
  {"ApplyMachineOption", nullptr, MACHINE("true", ""), "apply %P", {0}, "{}",
      {{Flags, "IgnoreHWSerNum04036001", Bin({1})}, {Flags, "IgnoreHWSerNum04036010", Bin({1})},
       {Flags, "IgnoreHWSerNum04036011", Bin({1})}}},
  {"CheckWouldWrite", nullptr, PROFILE(R"({"latencyTimer": 2})"), "apply %P --check --json", {1},
      R"({"/changed": true, "/ports/#": 3})"},
  {"CheckCompliant", nullptr, PROFILE(R"({"latencyTimer": 16})"), "apply %P --check --json", {0},
      R"({"/changed": false, "/compliant": true})"},
  // Exit 5 where every failure was a refused access.
  {"WriteRefused", [] { Deny(P5); }, PROFILE(R"({"latencyTimer": 2})"), "apply %P --json", {5},
      R"({"/compliant": false, "/errors/#": 1, "/errors/0/serial": "FT12AB34A", "/errors/0/error": 5})",
      {{P6, "LatencyTimer", Two}, {P7, "LatencyTimer", Two}}},
  // A value that could not be read is never written back, not even for a
  // setting stored in it.
  // A ConfigData that could not be read is written once a profile sets one of
  // its options, as the windowed program writes it once a box is ticked:
  // that option over the standard aliases. What is not named stays.
  {"UnreadableConfigDataSetOnce", [] { SetBinary(P5, "ConfigData", Bytes(65, 0x11)); },
      PROFILE(R"({"match": {"port": "COM5"}, "serialPrinter": true})"), "apply %P --json", {0},
      R"({"/ports/[COM5]/changes/#": 1, "/ports/[COM5]/changes/0/from": null})",
      {{P5, "ConfigData", Bin(Config(0x80))}}},
  {"UnreadableValueKept", [] { SetBinary(P5, "ConfigData", Bytes(65, 0x11)); },
      PROFILE(R"({"match": {"port": "COM5"}, "latencyTimer": 2})"), "apply %P", {0}, "{}",
      {{P5, "LatencyTimer", Two}}});

// An FTDIBUS key that cannot be read is no answer: never "compliant".
CASES(NoAnswer,
  {"Test", [] { DenyReading(FtdibusKeyPath); }, PROFILE(R"({"latencyTimer": 16})"), "test %P --json",
      5, R"({"/compliant": false, "/errors/0/error": 5})"},
  {"Apply", [] { DenyReading(FtdibusKeyPath); }, PROFILE(R"({"latencyTimer": 2})"), "apply %P --json",
      5, R"({"/changed": false, "/errors/0/error": 5})"});

// --- the USB transfer sizes and selective suspend ---------------------------------------------

#define TUNED R"({"match": {"serial": "FT12AB34A"}, "usbTransferSizeIn": 512, )" \
              R"("usbTransferSizeOut": 1024, "selectiveSuspend": true, )" \
              R"("selectiveSuspendIdleTimeout": 5000})"

Bytes TunedConfig() {
  Bytes config = Config(0, 0x10);
  config[2] = 7;
  config[3] = 15;
  return config;
}

CASES(DriverSettings,
  {"AppliedAllFour", nullptr, PROFILE(TUNED), "apply %P", {0}, "{}",
      {{P5, "ConfigData", Bin(TunedConfig())}, {P5, "SSIdleTimeout", Dw(5000)}}},
  {"TestedCompliant", [] {
      SetBinary(P5, "ConfigData", TunedConfig());
      SetDword(P5, "SSIdleTimeout", 5000);
    }, PROFILE(TUNED), "test %P --json", {0}, R"({"/compliant": true})"},
  {"RefusedBeforeAnythingIsWritten",  nullptr,
      PROFILE(R"({"usbTransferSizeIn": 100, "latencyTimer": 2})"), "apply %P", {3}, "{}", {},
      {"usbTransferSizeIn"}});

// --- "port": "COMn" ------------------------------------------------------------------------

CASES(Rename,
  {"ToFreeNumber", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "COM9"})"),
      "apply %P --json", {0}, R"({"/ports/[FT12AB34A]/changes/[port]/from": "COM5",
      "/ports/[FT12AB34A]/changes/[port]/to": "COM9"})",
      {{P5, "PortName", Sz("COM9")}, {I5, "FriendlyName", SzHas("(COM9)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 6, 7, 9}))}}},
  {"OwnNumberInAnyCase", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "com5"})"),
      "apply %P --json", {0}, R"({"/changed": false})"},
  {"NumberOfAnotherAdapter", nullptr,
      PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "COM7", "latencyTimer": 2})"),
      "apply %P --json", {2}, R"({"/errors/#": 1, "/errors/0/serial": "FT12AB34A"})",
      {{P5, "LatencyTimer", Two}}},
  {"OneNumberForTwoPorts", nullptr, PROFILE(R"({"match": {"vidpid": "0403:6001"}, "port": "COM9"})"),
      "apply %P --json", {2}, R"({"/errors/#": 1, "/errors/0/serial": "FT77ZZ11A"})",
      {{P5, "PortName", Sz("COM9")}, {I5, "FriendlyName", SzHas("(COM9)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 6, 7, 9}))}}},
  {"NumberTakenInComDb", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "COM1"})"),
      "apply %P", {2}},
  // test answers 0 or 1, whatever apply would meet.
  {"TestOfTakenNumber", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "COM7"})"),
      "test %P", {1}},
  {"TestOfFreeNumber", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "COM9"})"),
      "test %P", {1}, "{}", {}, {"COM5  port  COM5 -> COM9"}});

// --- The DSC resource's input ----------------------------------------------------------------

CASES(Dsc,
  {"ReadOnlyPropertiesIgnored", nullptr, nullptr, "dsc test", {0},
      R"({"/_inDesiredState": true, "/ports/0/latencyTimer": 16})", {}, {},
      R"({"ports":[{"match":{"port":"COM5"},"latencyTimer":16}],"_inDesiredState":false})"},
  {"NoSchemaNeeded", nullptr, nullptr, "dsc set", {0},
      R"({"/ports/0/match/serial": "FT9XK2L1A", "/ports/0/latencyTimer": 2})", {{P6, "LatencyTimer", Two}},
      {}, R"({"ports":[{"match":{"port":"COM6"},"latencyTimer":2}]})"},
  {"UnknownKeyRefused", nullptr, nullptr, "dsc set", {3}, "{}", {}, {"latencyTimr"},
      R"({"ports":[{"latencyTimer":2},{"latencyTimr":2}]})"});

// clang-format on

// --- apply twice: the second run finds nothing to do ------------------------------------

struct Twice {
  const char* Name;
  void (*Tweak)();
  const char* Profile;
};
void PrintTo(const Twice& c, std::ostream* os) { *os << c.Profile; }

class ApplyTwice : public OnBench<::testing::TestWithParam<Twice>> {};

TEST_P(ApplyTwice, SecondWritesNothing) {
  const Twice& c = GetParam();
  Bench();
  if (c.Tweak) c.Tweak();
  WriteProfile(c.Profile);
  if (::testing::Test::HasFatalFailure()) return;
  std::string args = "apply \"" + ProfilePath() + "\" --json";
  ProgramRun first = RunPortmeld(args);
  EXPECT_EQ(0u, first.ExitCode) << first.Out << first.Err;
  ExpectJsonFields(Document(args, first), {{"/changed", true}});

  WriteStandinDevices(BenchDevices);  // empties the call log
  Snapshot before = TakeSnapshot();
  ProgramRun second = RunPortmeld(args);
  SCOPED_TRACE("second run:\n" + second.Out + second.Err);
  EXPECT_EQ(0u, second.ExitCode);
  ExpectJsonFields(Document(args, second), {{"/changed", false}, {"/compliant", true}});
  ExpectOnlyChanges(before, TakeSnapshot(), {});
  EXPECT_EQ(0, CountLines(ReadStandinLog(), "FT_Reload")) << ReadStandinLog();
}

std::string TwiceName(const ::testing::TestParamInfo<Twice>& info) { return info.param.Name; }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Profiles, ApplyTwice, ::testing::ValuesIn(std::vector<Twice>{
  {"EveryKindOfSetting", nullptr, MACHINE("true", R"(
      {"minReadTimeout": 50, "minWriteTimeout": 60, "pollingPeriod": 5, "latencyTimer": 2,
       "serialPrinter": true, "cancelIfPowerOff": true, "eventOnSurpriseRemoval": true,
       "setRtsOnClose": true, "disableModemCtrlAtStartup": true, "serialEnumerator": true,
       "bufferedWrites": true, "writeBufferSize": 512, "writeBufferThreshold": 5,
       "writeLatency": 3, "baudAliases": "tarnlink"},
      {"match": {"port": "COM5"}, "serialEnumerator": false, "baudAlias.9600": 9700,
       "baudAlias.300": 7000, "baudAlias.14400": 299.996})")},
  {"Rename", nullptr, PROFILE(R"({"match": {"serial": "FT12AB34A"}, "port": "COM9"})")},
  {"ForeignFilterKept", [] { SetMultiSz(I5, "UpperFilters", "fltr\0", 6); },
      PROFILE(R"({"serialEnumerator": false, "latencyTimer": 2})")},
}), TwiceName);
// clang-format on

// --- export --profile, then test ---------------------------------------------------------

struct Export {
  const char* Name;
  void (*Tweak)();
  const char* Port;    // exported
  const char* Change;  // a command line run after the export
  DWORD TestAfter;     // test's exit code after it
  const char* Json;    // fields of test --json after it
};
void PrintTo(const Export& c, std::ostream* os) { *os << "export " << c.Port << "; " << c.Change; }

class ExportThenTest : public OnBench<::testing::TestWithParam<Export>> {};

TEST_P(ExportThenTest, Run) {
  const Export& c = GetParam();
  Bench();
  if (c.Tweak) c.Tweak();
  if (::testing::Test::HasFatalFailure()) return;
  DeleteFileA(ProfilePath().c_str());
  Snapshot before = TakeSnapshot();
  ProgramRun exported =
      RunPortmeld(std::string("export ") + c.Port + " --profile " + ProfilePath());
  EXPECT_EQ(0u, exported.ExitCode) << exported.Out << exported.Err;
  ExpectOnlyChanges(before, TakeSnapshot(), {});
  std::string profile = Text(ReadBytes(ProfilePath()));
  SCOPED_TRACE("the exported profile:\n" + profile);
  EXPECT_TRUE(json::parse(profile, nullptr, false).is_object());

  std::string test = "test \"" + ProfilePath() + "\" --json";
  ProgramRun right = RunPortmeld(test);
  EXPECT_EQ(0u, right.ExitCode) << "right after the export:\n" << right.Out << right.Err;
  ExpectJsonFields(Document(test, right), {{"/changed", false}, {"/compliant", true}});

  ProgramRun change = RunPortmeld(c.Change);
  EXPECT_EQ(0u, change.ExitCode) << c.Change << "\n" << change.Out << change.Err;
  ProgramRun after = RunPortmeld(test);
  SCOPED_TRACE("after " + std::string(c.Change) + ":\n" + after.Out + after.Err);
  EXPECT_EQ(c.TestAfter, after.ExitCode);
  ExpectJsonFields(Document(test, after), json::parse(c.Json));
}

std::string ExportName(const ::testing::TestParamInfo<Export>& info) { return info.param.Name; }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Profiles, ExportThenTest, ::testing::ValuesIn(std::vector<Export>{
  {"Bench", nullptr, "all", "set COM5 latencyTimer=3", 1,
      R"({"/changed": true, "/compliant": false, "/ports/#": 1,
      "/ports/[COM5]/changes/[latencyTimer]/from": 3, "/ports/[COM5]/changes/[latencyTimer]/to": 16})"},
  {"EveryKindOfValue", [] {
      SetBinary(P6, "ConfigData", Config(0xA8, 0x06, TarnlinkAliasTable));
      SetDword(P6, "MinReadTimeout", 1000);
      SetDword(P6, "WriteBufferSize", 512);
      SetDword(P6, "WriteBufferThreshold", 5);
      SetDword(P6, "WriteLatency", 3);
      for (const char* name : {"IgnoreHWSerNum04036001", "IgnoreHWSerNum04036010", "IgnoreHWSerNum04036011"})
        SetBinary(Flags, name, {1});
    }, "all", "set COM6 writeLatency=4", 1,
      R"({"/ports/[COM6]/changes/#": 1, "/ports/[COM6]/changes/[writeLatency]/to": 3})"},
  // 3,000,000 / 7000 = 428.57: divisor 428.625, no table of the two.
  {"OwnAliasTable", [] { SetBinary(P5, "ConfigData", WithEntry(Config(0), 6, 428 | 5 << 14)); },
      "all", "set COM5 baudAliases=default", 1,
      R"({"/ports/[COM5]/changes/[baudAlias.9600]/from": 9600,
      "/ports/[COM5]/changes/[baudAlias.9600]/to": 6999.125})"},
  {"MissingValueAndForeignFilter", [] {
      DeleteValue(P5, "MinReadTimeout");
      SetMultiSz(I5, "UpperFilters", "fltr\0", 6);
    }, "all", "set COM5 serialEnumerator=on", 1,
      R"({"/ports/[COM5]/changes/[serialEnumerator]/to": false})"},
  {"DriverSettings", [] {
      Bytes config = Config(0, 0x10);
      config[2] = 7;
      config[3] = 15;
      SetBinary(P5, "ConfigData", config);
      SetDword(P5, "SSIdleTimeout", 10000);
    }, "COM5", "set COM5 usbTransferSizeIn=4096 selectiveSuspendIdleTimeout=2000", 1,
      R"({"/ports/[COM5]/changes/#": 2, "/ports/[COM5]/changes/[usbTransferSizeIn]/to": 512,
      "/ports/[COM5]/changes/[selectiveSuspendIdleTimeout]/to": 10000})"},
  {"OnePortOnly", nullptr, "COM5", "set COM6 latencyTimer=3", 0, R"({"/changed": false})"},
  {"MachineOption", nullptr, "all", "ignore-serial on", 1,
      R"({"/changes/0/setting": "ignoreSerial", "/changes/0/to": false})"},
  {"RenamedPort", nullptr, "all", "rename COM5 COM9", 1,
      R"({"/ports/[FT12AB34A]/changes/[port]/to": "COM5"})"},
  // One serial number under two product ids (an adapter given another PID).
  {"SerialUnderTwoIds", [] {
      Register(FT232R, "FT55DUPA", "COM8");
      Register(FT232H, "FT55DUPA", "COM9");
      SetDword(P9, "LatencyTimer", 4);
      SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6, 7, 8, 9}));
    }, "all", "set COM8 latencyTimer=3", 1,
      R"({"/ports/[COM8]/changes/[latencyTimer]/to": 16})"},
}), ExportName);
// clang-format on

// --- export --reg, imported on another machine --------------------------------------------

class Fleet : public OnBench<::testing::Test> {};

TEST_F(Fleet, RegExportImportsIntoFreshPrefix) {
  Bench();
  SetBinary(P6, "ConfigData", Config(0xA8, 0x06, TarnlinkAliasTable));
  SetDword(P6, "MinReadTimeout", 1000);
  SetDword(P6, "WriteBufferSize", 512);
  SetDword(P6, "WriteBufferThreshold", 5);
  SetDword(P6, "WriteLatency", 3);
  SetBinary(P7, "ConfigData", Bytes(65, 0x11));    // longer than the program reads
  SetBinary(P7, "MinWriteTimeout", {9, 0, 0, 0});  // stored with another type
  std::string file = ScratchPath("ports.reg");
  DeleteFileA(file.c_str());
  Snapshot source = TakeSnapshot();
  ProgramRun run = RunPortmeld("export all --reg " + file);
  ASSERT_EQ(0u, run.ExitCode) << run.Out << run.Err;

  Bytes bytes = ReadBytes(file);
  std::wstring head = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
  ASSERT_GE(bytes.size(), head.size() * 2);
  for (size_t i = 0; i < head.size(); ++i)
    ASSERT_TRUE(bytes[2 * i] == (head[i] & 0xFF) && bytes[2 * i + 1] == head[i] >> 8)
        << "not UTF-16LE with a byte-order mark and the Version 5.00 line, at character " << i;

  // Every Device Parameters value but PortName, with its type and bytes.
  Snapshot expected;
  const std::string params = "\\Device Parameters|";
  for (const auto& entry : source) {
    size_t at = entry.first.find(params);
    if (at != std::string::npos && entry.first.substr(at + params.size()) != "PortName" &&
        entry.first.size() > at + params.size())
      expected.insert(entry);
  }
  ASSERT_EQ(3u * 5 + 3, expected.size());
  Snapshot imported;
  ASSERT_TRUE(ImportIntoFreshPrefix(file, "HKLM\\" + std::string(FtdibusKeyPath), &imported));
  for (auto at = imported.begin(); at != imported.end();)
    at = at->second.Type == REG_KEY_MARK ? imported.erase(at) : std::next(at);
  ExpectOnlyChanges(expected, imported, {});
}

TEST_F(Fleet, RegExportToStandardOutputIsTheFileByteForByte) {
  Bench();
  SetBinary(P6, "ConfigData", Config(0xA8, 0x06, TarnlinkAliasTable));
  std::string file = ScratchPath("ports.reg");
  DeleteFileA(file.c_str());
  ProgramRun toFile = RunPortmeld("export all --reg " + file);
  ProgramRun toOut = RunPortmeld("export all --reg -");
  ASSERT_EQ(0u, toFile.ExitCode) << toFile.Err;
  ASSERT_EQ(0u, toOut.ExitCode) << toOut.Err;
  Bytes written = ReadBytes(file);
  ASSERT_FALSE(written.empty());
  EXPECT_TRUE(Bytes(toOut.Out.begin(), toOut.Out.end()) == written)
      << "standard output has " << toOut.Out.size() << " bytes, the file " << written.size();
}

// --- The DSC resource as DSC runs it --------------------------------------------------------

json Manifest() {
  json manifest =
      json::parse(Text(ReadBytes(ExeFolder() + "\\portmeld.dsc.resource.json")), nullptr, false);
  EXPECT_TRUE(manifest.is_object()) << "no portmeld.dsc.resource.json beside portmeld.exe";
  return manifest.is_object() ? manifest : json::object();
}

// The manifest's command line for the operation, fed the state on stdin.
ProgramRun RunOperation(const json& manifest, const char* operation, const std::string& state) {
  json method = manifest.value(operation, json::object());
  std::string executable = method.value("executable", "");
  EXPECT_TRUE(executable == "portmeld" || executable == "portmeld.exe") << executable;
  EXPECT_EQ("stdin", method.value("input", "")) << operation;
  std::string args;
  for (const json& arg : method.value("args", json::array()))
    args += (args.empty() ? "" : " ") + arg.get<std::string>();
  return RunPortmeld(args, state);
}

TEST_F(Fleet, DscManifestCommandLines) {
  json manifest = Manifest();
  EXPECT_EQ("Orvane.Portmeld/Profile", manifest.value("type", ""));
  Bench();
  std::string desired =
      json::parse(
          R"({"ignoreSerial": false, "ports": [{"match": {"vidpid": "0403:6001"}, "latencyTimer": 2}]})")
          .dump();
  struct Step {
    const char* Operation;
    json InDesiredState;
    DWORD Latency;  // what the answer gives for each matched port
    int Reloads;    // FT_Reload calls up to here
  };
  for (const Step& step : std::vector<Step>{{"test", false, 16, 0},
                                            {"get", nullptr, 16, 0},
                                            {"set", nullptr, 2, 1},
                                            {"test", true, 2, 1}}) {
    ProgramRun run = RunOperation(manifest, step.Operation, desired);
    SCOPED_TRACE(std::string(step.Operation) + ":\n" + run.Out + run.Err);
    EXPECT_EQ(0u, run.ExitCode);
    size_t newline = run.Out.find('\n');
    EXPECT_TRUE(newline != std::string::npos && newline + 1 == run.Out.size()) << "not one line";
    json state = json::parse(run.Out, nullptr, false);
    ASSERT_TRUE(state.is_object());
    ExpectJsonFields(state, {{"/_inDesiredState", step.InDesiredState},
                             {"/ignoreSerial", false},
                             {"/ports/#", 2},
                             {"/ports/0/latencyTimer", step.Latency},
                             {"/ports/1/latencyTimer", step.Latency}});
    EXPECT_EQ(step.Latency, ReadDword(P5, "LatencyTimer"));
    EXPECT_EQ(step.Latency, ReadDword(P7, "LatencyTimer"));
    EXPECT_EQ(16u, ReadDword(P6, "LatencyTimer"));
    EXPECT_EQ(step.Reloads, CountLines(ReadStandinLog(), "FT_Reload 0 0"));
  }
}

// The names `set --help` gives, baudAlias.N once for each N it lists.
std::set<std::string> SettingNamesOfHelp(const std::string& help) {
  std::set<std::string> names;
  size_t from = help.find("Settings"), to = help.find("Options of every command");
  if (from == std::string::npos || to == std::string::npos || to < from) return names;
  std::string text = help.substr(from, to - from);
  std::vector<std::string> rates;
  size_t list = text.find("N one of");
  if (list != std::string::npos)
    for (size_t at = list + 8; at < text.size() && text[at] != ')';) {
      size_t end = text.find_first_not_of("0123456789", at);
      if (end > at) rates.push_back(text.substr(at, end - at));
      at = end == at ? at + 1 : end;
    }
  // camelCase words are setting names.
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find_first_not_of(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.", at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty() || !islower((unsigned char)word[0]) ||
        word.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos)
      continue;
    if (word == "baudAlias.N")
      for (const std::string& rate : rates) names.insert("baudAlias." + rate);
    else
      names.insert(word);
  }
  return names;
}

TEST(DscManifest, SchemaNamesEverySettingOfSetHelp) {
  ProgramRun help = RunPortmeld("set --help");
  ASSERT_EQ(0u, help.ExitCode);
  std::set<std::string> names = SettingNamesOfHelp(help.Out);
  ASSERT_GE(names.size(), 29u) << help.Out;
  json rule = Manifest()["schema"]["embedded"]["properties"]["ports"]["items"]["properties"];
  ASSERT_TRUE(rule.is_object()) << "no schema.embedded.properties.ports.items.properties";
  for (const std::string& name : names) EXPECT_TRUE(rule.contains(name)) << name;
  for (const auto& property : rule.items()) {
    if (property.key() == "match" || property.key() == "port") continue;
    EXPECT_TRUE(names.count(property.key())) << property.key() << " is no setting of set --help";
  }
}

// --- The README's Fleets examples ----------------------------------------------------------

struct Example {
  std::string Line, Args, Input;
};

// Every line of the Fleets section's code blocks that runs portmeld, with
// the profile's path as %P.
std::vector<Example> FleetExamples(const std::string& section) {
  std::vector<Example> examples;
  bool inCode = false;
  for (size_t at = 0; at < section.size();) {
    size_t end = section.find('\n', at);
    if (end == std::string::npos) end = section.size();
    std::string line = section.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, 3, "```") == 0) inCode = !inCode;
    if (!inCode) continue;
    Example example = {line, "", ""};
    size_t found;
    if ((found = line.find("| portmeld ")) != std::string::npos) {
      size_t open = line.find('\''), close = line.rfind('\'', found);
      if (open < close && close != std::string::npos)
        example.Input = line.substr(open + 1, close - open - 1);
      example.Args = line.substr(found + 11);
    } else if ((found = line.find("& $portmeld ")) != std::string::npos) {
      example.Args = line.substr(found + 12);
    } else if ((found = line.find("portmeld.exe")) != std::string::npos) {
      std::string rest = line.substr(found + 12);
      rest.erase(0, rest.find_first_not_of("\\\""));
      if (rest.empty() || rest[0] != ' ') continue;  // $portmeld = "...\portmeld.exe"
      example.Args = rest.substr(1, rest.find_last_not_of("'\""));
    } else if (line.compare(0, 9, "portmeld ") == 0) {
      example.Args = line.substr(9);
    } else {
      continue;
    }
    // The profile, wherever the example keeps it.
    std::string args;
    for (size_t word = 0; word < example.Args.size();) {
      size_t stop = example.Args.find(' ', word);
      if (stop == std::string::npos) stop = example.Args.size();
      std::string token = example.Args.substr(word, stop - word);
      std::string bare = token;
      bare.erase(0, bare.find_first_not_of('"'));
      bare.erase(bare.find_last_not_of('"') + 1);
      if (bare.size() > 5 && bare.compare(bare.size() - 5, 5, ".json") == 0) token = "%P";
      args += (args.empty() ? "" : " ") + token;
      word = stop + 1;
    }
    example.Args = args;
    examples.push_back(example);
  }
  return examples;
}

TEST_F(Fleet, ReadmeExamplesRun) {
  std::string readme = Text(ReadBytes("Z:" PORTMELD_README));
  size_t from = readme.find("\n## Fleets");
  ASSERT_NE(std::string::npos, from) << "no Fleets section in " PORTMELD_README;
  std::string section = readme.substr(from, readme.find("\n## ", from + 1) - from);
  // The section's own profile stands for bench.json.
  size_t open = section.find("```json\n"), close = section.find("\n```", open + 1);
  ASSERT_TRUE(open != std::string::npos && close != std::string::npos);
  std::string profile = section.substr(open + 8, close - open - 8);

  std::set<std::string> commands;
  std::vector<Example> examples = FleetExamples(section);
  for (const Example& example : examples) {
    CleanBench();
    Bench();
    WriteProfile(profile);
    std::string args = WithProfile(example.Args, "\"" + ProfilePath() + "\"");
    ProgramRun run = RunPortmeld(args, example.Input);
    SCOPED_TRACE(example.Line + "\nran: portmeld " + args + "\n" + run.Out + run.Err);
    EXPECT_TRUE(run.ExitCode == 0 || run.ExitCode == 1) << "exit code " << run.ExitCode;
    if (args.find("--json") != std::string::npos || args.compare(0, 4, "dsc ") == 0)
      Document(args, run);
    // An automatic service would start again with the prefix: never left.
    if (args.compare(0, 14, "agent install ") == 0) {
      EXPECT_EQ(0u, RunPortmeld("agent remove").ExitCode) << "agent remove";
    }
    commands.insert(args.substr(0, args.find(' ', args.compare(0, 4, "dsc ") == 0 ? 4 : 0)));
  }
  for (const char* command : {"test", "apply", "dsc test", "dsc set"})
    EXPECT_TRUE(commands.count(command))
        << "no example of portmeld " << command << " found in " << examples.size() << " examples";
}

}  // namespace
