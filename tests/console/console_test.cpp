// portmeld.exe run as scripts run it, against Wine's registry and the D2XX
// stand-in: each case is a bench (three registered ports, two attached), a
// command line, the exit code, fields of the --json output and every value
// the run may change. Any other registry difference fails the case.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include "console_harness.h"

namespace {

// The 84-byte file: ConfigData, low bytes of MinReadTimeout, MinWriteTimeout
// and LatencyTimer, UpperFilters, low byte of PollingPeriod.
Bytes FileImage(const Bytes& config, Bytes timings, bool serenum, unsigned char polling) {
  Bytes image = config;
  image.insert(image.end(), timings.begin(), timings.end());
  Bytes filters(16, 0);
  if (serenum) memcpy(filters.data(), "serenum", 7);
  image.insert(image.end(), filters.begin(), filters.end());
  image.push_back(polling);
  return image;
}

const Bytes LoadImage = FileImage(Config(0x80), {10, 0, 2}, true, 5);

using Case = ConsoleCase;

class Console : public OnBench<::testing::TestWithParam<Case>> {};

TEST_P(Console, Run) { RunConsoleCase(GetParam()); }

// clang-format off

#define CASES(table, ...) \
  INSTANTIATE_TEST_SUITE_P(table, Console, ::testing::ValuesIn(std::vector<Case>{__VA_ARGS__}), CaseName)

// --- Usage -------------------------------------------------------------------

CASES(Usage,
  {"Help", nullptr, "--help", {0}, "{}", {}, {"remove-stale", "ignore-serial"}},
  {"SlashQuestionMark", nullptr, "/?", {0}, "{}", {}, {"remove-stale"}},
  {"CommandHelp", nullptr, "set --help", {0}, "{}", {}, {"latencyTimer", "baudAlias"}},
  {"Version", nullptr, "--version", {0}, "{}", {}, {"portmeld 1.0"}},
  {"UnknownCommand", nullptr, "frobnicate COM5", {3}},
  {"UnknownOption", nullptr, "list --frobnicate", {3}});

// --- Reading: list, show, stale, ignore-serial -----------------------------------

CASES(Read,
  {"List", nullptr, "list --json", {0}, R"({"/changed": false, "/ports/#": 3,
      "/ports/[FT12AB34A]/port": "COM5", "/ports/[FT12AB34A]/vidpid": "0403:6001",
      "/ports/[FT12AB34A]/attached": true, "/ports/[FT12AB34A]/open": false,
      "/ports/[FT12AB34A]/description": "Portmeld USB UART",
      "/ports/[FT9XK2L1A]/vidpid": "0403:6010", "/ports/[FT9XK2L1A]/open": true,
      "/ports/[FT77ZZ11A]/port": "COM7", "/ports/[FT77ZZ11A]/attached": false})"},
  // The serials put COM10's key before COM2's and the unnumbered one first.
  {"ListInComOrder", [] {
      Register(FT232R, "FT02TENAA", "COM10");
      Register(FT232R, "FT88TWOAA", "COM2");
      Register(FT232R, "FT00NONEA", "");
    }, "list --json", {0}, R"({"/ports/#": 6, "/ports/0/port": "COM2", "/ports/1/port": "COM5",
      "/ports/2/port": "COM6", "/ports/3/port": "COM7", "/ports/4/port": "COM10",
      "/ports/5/serial": "FT00NONEA"})"},
  {"ListAttached", nullptr, "list --attached --json", {0},
      R"({"/ports/#": 2, "/ports/[COM5]/attached": true, "/ports/[COM6]/attached": true})"},
  {"ListWithoutD2xx", nullptr, "list --json", {0},
      R"({"/ports/#": 3, "/ports/[COM5]/attached": null, "/ports/[COM7]/attached": null})",
      {}, {}, {}, {}, true},
  {"Show", nullptr, "show com5 --json", {0}, R"({"/ports/#": 1, "/ports/0/port": "COM5",
      "/ports/0/serial": "FT12AB34A", "/ports/0/attached": true,
      "/ports/0/settings/minReadTimeout": 0, "/ports/0/settings/minWriteTimeout": 0,
      "/ports/0/settings/pollingPeriod": 0, "/ports/0/settings/latencyTimer": 16,
      "/ports/0/settings/serialPrinter": false, "/ports/0/settings/cancelIfPowerOff": false,
      "/ports/0/settings/eventOnSurpriseRemoval": false, "/ports/0/settings/setRtsOnClose": false,
      "/ports/0/settings/disableModemCtrlAtStartup": false,
      "/ports/0/settings/bufferedWrites": false, "/ports/0/settings/serialEnumerator": false,
      "/ports/0/settings/writeBufferSize": null, "/ports/0/settings/writeBufferThreshold": null,
      "/ports/0/settings/writeLatency": null, "/ports/0/settings/baudAliases": "default",
      "/ports/0/settings/baudAlias.300": 300, "/ports/0/settings/baudAlias.9600": 9600,
      "/ports/0/settings/baudAlias.921600": 923076.923, "/ports/0/settings/baudAlias.14400": 14405.762})"},
  {"ShowBySerial", [] {
      SetBinary(P6, "ConfigData", Config(0xA8, 0x06, TarnlinkAliasTable));
      SetDword(P6, "MinReadTimeout", 1000);
      SetDword(P6, "WriteBufferSize", 512);
      SetDword(P6, "WriteBufferThreshold", 5);
      SetDword(P6, "WriteLatency", 3);
    }, "show FT9XK2L1A --json", {0}, R"({"/ports/#": 1, "/ports/0/port": "COM6",
      "/ports/0/vidpid": "0403:6010", "/ports/0/settings/minReadTimeout": 1000,
      "/ports/0/settings/serialPrinter": true, "/ports/0/settings/cancelIfPowerOff": false,
      "/ports/0/settings/eventOnSurpriseRemoval": true, "/ports/0/settings/setRtsOnClose": true,
      "/ports/0/settings/disableModemCtrlAtStartup": true,
      "/ports/0/settings/bufferedWrites": true, "/ports/0/settings/serialEnumerator": true,
      "/ports/0/settings/writeBufferSize": 512, "/ports/0/settings/writeBufferThreshold": 5,
      "/ports/0/settings/writeLatency": 3, "/ports/0/settings/baudAliases": "tarnlink",
      "/ports/0/settings/baudAlias.9600": 3000000, "/ports/0/settings/baudAlias.115200": 115384.615})"},
  {"ShowUnreadable", [] {
      DeleteValue(P5, "MinReadTimeout");
      SetBinary(P5, "ConfigData", Bytes(65, 0x11));
    }, "show COM5 --json", {0}, R"({"/ports/0/settings/minReadTimeout": null,
      "/ports/0/settings/latencyTimer": 16, "/ports/0/settings/serialPrinter": null,
      "/ports/0/settings/baudAliases": null, "/ports/0/settings/baudAlias.9600": null})"},
  {"ShowNoMatch", nullptr, "show COM99 --json", {4}, R"({"/ports/#": 0})"},
  {"ShowAmbiguous", [] {
      Register(FT232R, "FT55OLD1A", "COM8");
      Register(FT232R, "FT55OLD2A", "COM8");
    }, "show COM8", {3}, "{}", {}, {"FT55OLD1A", "FT55OLD2A"}},
  {"Stale", nullptr, "stale --json", {0}, R"({"/ports/#": 1, "/ports/0/serial": "FT77ZZ11A",
      "/ports/0/port": "COM7", "/ports/0/comNumber": 7, "/ports/0/attached": false})"},
  {"IgnoreSerialShows", [] { SetBinary(Flags, "IgnoreHWSerNum04036010", {1}); },
      "ignore-serial --json", {0}, R"({"/ignoreSerial": true, "/changed": false})"});

// --- set ---------------------------------------------------------------------

CASES(Set,
  {"OneValue", nullptr, "set COM5 latencyTimer=2", {0}, "{}", {{P5, "LatencyTimer", Dw(2)}},
      {"COM5  latencyTimer  16 -> 2"}},
  {"Json", nullptr, "set COM5 latencyTimer=2 minReadTimeout=10000 --json", {0},
      R"({"/changed": true, "/ports/0/serial": "FT12AB34A", "/ports/0/changes/#": 2,
      "/ports/0/changes/[latencyTimer]/from": 16, "/ports/0/changes/[latencyTimer]/to": 2,
      "/ports/0/changes/[minReadTimeout]/to": 10000})",
      {{P5, "LatencyTimer", Dw(2)}, {P5, "MinReadTimeout", Dw(10000)}}},
  {"SameValueWritesNothing", nullptr, "set COM5 latencyTimer=16 --json", {0},
      R"({"/changed": false, "/ports/0/changes/#": 0})"},
  {"OptionsNoReload", nullptr, "set COM5 serialPrinter=on cancelIfPowerOff=true setRtsOnClose=1 "
      "eventOnSurpriseRemoval=on disableModemCtrlAtStartup=true bufferedWrites=1 --no-reload",
      {0}, "{}", {{P5, "ConfigData", Bin(Config(0xE8, 0x06))}}},
  {"OptionsOffByMask", [] { SetBinary(P5, "ConfigData", Config(0xFF, 0xFF)); },
      "set COM5 serialPrinter=off cancelIfPowerOff=false setRtsOnClose=0 bufferedWrites=off", {0},
      "{}", {{P5, "ConfigData", Bin(Config(0x37, 0xFB))}}},
  {"SerialEnumeratorOff", nullptr, "set COM6 serialEnumerator=off", {0}, "{}",
      {{I6, "UpperFilters", Gone()}}},
  {"ForeignFilterKeptOnOff", [] { SetMultiSz(I5, "UpperFilters", "fltr\0", 6); },
      "set COM5 serialEnumerator=off --json", {0}, R"({"/changed": false})"},
  {"ForeignFilterReplacedOnOn", [] { SetMultiSz(I5, "UpperFilters", "fltr\0", 6); },
      "set COM5 serialEnumerator=on", {0}, "{}", {{I5, "UpperFilters", Filters({"serenum"})}}},
  {"BufferedWriteValues", nullptr,
      "set COM5 writeBufferSize=4096 writeBufferThreshold=20 writeLatency=16", {0}, "{}",
      {{P5, "WriteBufferSize", Dw(4096)}, {P5, "WriteBufferThreshold", Dw(20)},
       {P5, "WriteLatency", Dw(16)}}},
  {"AliasTable", nullptr, "set COM5 baudAliases=tarnlink", {0}, "{}",
      {{P5, "ConfigData", Bin(Config(0, 0, TarnlinkAliasTable))}}},
  // 3,000,000 / 7000 = 428.57: the closest eighth is 428.625 (code 5 in bits 14-16).
  {"AliasGenerated", nullptr, "set COM5 baudAlias.300=7000 baudAlias.921600=3000000", {0}, "{}",
      {{P5, "ConfigData", Bin(WithEntry(WithEntry(Config(0), 1, 428 | 5 << 14), 13, 0))}}},
  {"MissingValueStaysMissing", [] { DeleteValue(P5, "MinReadTimeout"); },
      "set COM5 latencyTimer=2", {0}, "{}", {{P5, "LatencyTimer", Dw(2)}}},
  {"LongConfigDataUntouched", [] { SetBinary(P5, "ConfigData", Bytes(65, 0x11)); },
      "set COM5 latencyTimer=2", {0}, "{}", {{P5, "LatencyTimer", Dw(2)}}},
  {"All", nullptr, "set all latencyTimer=2 --json", {0}, R"({"/ports/#": 3})",
      {{P5, "LatencyTimer", Dw(2)}, {P6, "LatencyTimer", Dw(2)}, {P7, "LatencyTimer", Dw(2)}}},
  {"AllOfOneVidPid", nullptr, "set all latencyTimer=2 --vidpid 0403:6010", {0}, "{}",
      {{P6, "LatencyTimer", Dw(2)}}});

// The USB transfer sizes (ConfigData bytes 2 and 3, whole bytes), selective
// suspend (byte 1 bit 0x10) and its idle time (SSIdleTimeout): each changes
// its own byte or bit, the neighbours stay.
Bytes Tuned() {
  Bytes config = Config(0x08, 0x02);
  config[2] = config[3] = 63;
  return config;
}
Bytes TunedWith(int byte, unsigned char value) {
  Bytes config = Tuned();
  config[byte] = value;
  return config;
}
void UseTuned() { SetBinary(P5, "ConfigData", Tuned()); }

CASES(DriverSettings,
  {"TransferSizeIn", UseTuned, "set COM5 usbTransferSizeIn=512", {0}, "{}",
      {{P5, "ConfigData", Bin(TunedWith(2, 7))}}, {"usbTransferSizeIn  4096 -> 512"}},
  {"TransferSizeOut", UseTuned, "set COM5 usbTransferSizeOut=64", {0}, "{}",
      {{P5, "ConfigData", Bin(TunedWith(3, 0))}}},
  {"SelectiveSuspend", UseTuned, "set COM5 selectiveSuspend=on", {0}, "{}",
      {{P5, "ConfigData", Bin(TunedWith(1, 0x12))}}},
  {"IdleTimeout", UseTuned, "set COM5 selectiveSuspendIdleTimeout=5000", {0}, "{}",
      {{P5, "SSIdleTimeout", Dw(5000)}}},
  {"Show", UseTuned, "show COM5 --json", {0}, R"({"/ports/0/settings/usbTransferSizeIn": 4096,
      "/ports/0/settings/usbTransferSizeOut": 4096, "/ports/0/settings/selectiveSuspend": false,
      "/ports/0/settings/selectiveSuspendIdleTimeout": null})"},
  {"ShowWithoutConfigData", [] { DeleteValue(P5, "ConfigData"); }, "show COM5 --json", {0},
      R"({"/ports/0/settings/usbTransferSizeIn": null, "/ports/0/settings/selectiveSuspend": null})"},
  {"CreatedFromTheDriversDefaults", [] { DeleteValue(P5, "ConfigData"); },
      "set COM5 usbTransferSizeOut=1024", {0}, "{}",
      {{P5, "ConfigData", Bin([] { Bytes c = Config(0); c[2] = 63; c[3] = 15; return c; }())}}},
  {"SizeNotAMultipleOf64", nullptr, "set COM5 usbTransferSizeIn=100", {3}, "{}", {},
      {"usbTransferSizeIn takes 64 to 4096 bytes, a multiple of 64"}},
  {"SizeZero", nullptr, "set COM5 usbTransferSizeOut=0", {3}},
  {"SizeTooLarge", nullptr, "set COM5 usbTransferSizeIn=4160", {3}},
  {"IdleTooShort", nullptr, "set COM5 selectiveSuspendIdleTimeout=999", {3}, "{}", {},
      {"selectiveSuspendIdleTimeout takes a whole number from 1000 to 3600000"}},
  {"IdleTooLong", nullptr, "set COM5 selectiveSuspendIdleTimeout=3600001", {3}});

// Every argument is checked before anything is written.
CASES(SetRefused,
  {"SecondValueOutOfRange", nullptr, "set COM5 latencyTimer=2 pollingPeriod=256", {3}},
  {"LatencyTimerZero", nullptr, "set COM5 latencyTimer=0", {3}},
  {"WriteBufferSizeTooLarge", nullptr, "set COM5 writeBufferSize=4097 --json", {3},
      R"({"/changed": false})"},
  {"NotAnOnOffWord", nullptr, "set COM5 serialPrinter=yes", {3}},
  {"NoSuchAliasTable", nullptr, "set COM5 baudAliases=fast", {3}},
  {"AliasRateTooLow", nullptr, "set COM5 baudAlias.300=183", {3}},
  {"AliasRateTooHigh", nullptr, "set COM5 baudAlias.300=3000001", {3}},
  {"NoSuchAliasRate", nullptr, "set COM5 baudAlias.1234=9600", {3}},
  {"UnknownSetting", nullptr, "set COM5 bogus=1", {3}});

// --- preset, save, load --------------------------------------------------------

CASES(PresetAndFiles,
  {"PresetPortmeld", nullptr, "preset COM5 portmeld --json", {0},
      R"({"/ports/0/changes/[latencyTimer]/from": 16, "/ports/0/changes/[latencyTimer]/to": 1,
      "/ports/0/changes/[eventOnSurpriseRemoval]/to": true})",
      {{P5, "LatencyTimer", Dw(1)}, {P5, "ConfigData", Bin(Config(0x20))}}},
  {"PresetTarnlink", nullptr, "preset COM5 tarnlink", {0}, "{}",
      {{P5, "LatencyTimer", Dw(1)}, {P5, "ConfigData", Bin(Config(0x20, 0, TarnlinkAliasTable))}}},
  {"PresetDefaultTurnsOnEnumerator", nullptr, "preset COM5 default", {0}, "{}",
      {{I5, "UpperFilters", Filters({"serenum"})}}},
  {"PresetNothingToDo", nullptr, "preset COM6 default --json", {0}, R"({"/changed": false})"},
  {"PresetUnknown", nullptr, "preset COM5 fastest", {3}},
  {"Save", [] {
      SetDword(P6, "MinReadTimeout", 1000);
      SetDword(P6, "MinWriteTimeout", 0x1234);
      SetDword(P6, "LatencyTimer", 2);
      SetDword(P6, "PollingPeriod", 7);
    }, "save COM6 %F", {0}, "{}", {}, {}, {},
      FileImage(Config(0), {0xE8, 0x34, 2}, true, 7)},
  {"SaveUnwritable", nullptr, "save COM5 Z:\\nonexistent\\folder\\x.dat", {2}},
  {"Load", nullptr, "load COM5 %F --json", {0},
      R"({"/changed": true, "/ports/0/changes/[latencyTimer]/to": 2,
      "/ports/0/changes/[serialEnumerator]/to": true})",
      {{P5, "ConfigData", Bin(Config(0x80))}, {P5, "MinReadTimeout", Dw(10)},
       {P5, "LatencyTimer", Dw(2)}, {P5, "PollingPeriod", Dw(5)},
       {I5, "UpperFilters", Filters({"serenum"})}},
      {}, LoadImage},
  {"LoadShortFile", nullptr, "load COM5 %F", {3}, "{}", {}, {},
      Bytes(LoadImage.begin(), LoadImage.end() - 1)},
  {"LoadMissingFile", nullptr, "load COM5 Z:\\nonexistent\\x.dat", {3}});

// --- rename --------------------------------------------------------------------

CASES(Rename,
  {"ToFreeNumber", nullptr, "rename COM5 COM9 --json", {0},
      R"({"/changed": true, "/ports/0/changes/0/setting": "port",
      "/ports/0/changes/0/from": "COM5", "/ports/0/changes/0/to": "COM9"})",
      {{P5, "PortName", Sz("COM9")}, {I5, "FriendlyName", SzHas("(COM9)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 6, 7, 9}))}}},
  {"NumberOfAnotherDevice", [] { SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6})); },
      "rename COM5 COM7", {3}},
  {"NumberTakenInComDb", nullptr, "rename COM5 COM1", {3}},
  {"Forced", nullptr, "rename COM5 COM1 --force", {0}, "{}",
      {{P5, "PortName", Sz("COM1")}, {I5, "FriendlyName", SzHas("(COM1)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 6, 7}))}}},
  {"LongComDbKeptWhole", [] { SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6, 7}, 64, 0xA5)); },
      "rename COM5 COM9", {0}, "{}",
      {{P5, "PortName", Sz("COM9")}, {I5, "FriendlyName", SzHas("(COM9)")},
       {Arbiter, "ComDB", Bin(ComDb({1, 6, 7, 9}, 64, 0xA5))}}},
  {"NumberOutOfRange", nullptr, "rename COM5 COM257", {3}},
  // A ComDB that was not read is never written, and then neither is PortName.
  {"ComDbUnreadable", [] { DeleteValue(Arbiter, "ComDB"); }, "rename COM5 COM9", {2}});

// A rename is one change: ComDB, PortName, FriendlyName in turn; a refused
// step undoes the ones before it and the error names the refused value.
#define RENAME_REFUSED(value) \
  R"({"/changed": false, "/errors/#": 1, "/errors/0/value": ")" value R"(", "/errors/0/error": 5})"
CASES(RenameRefused,
  {"ComDb", [] { Deny(Arbiter); }, "rename COM5 COM9 --json", 5, RENAME_REFUSED("ComDB")},
  {"PortName", [] { Deny(P5); }, "rename COM5 COM9 --json", 5, RENAME_REFUSED("PortName")},
  {"FriendlyName", [] { Deny(I5); }, "rename COM5 COM9 --json", 5, RENAME_REFUSED("FriendlyName")},
  {"FriendlyNameText", [] { Deny(I5); }, "rename COM5 COM9", 5, "{}", {},
      {"FriendlyName", "(Win32 error 5)"}});

// An FTDIBUS key that cannot be read is no answer, not "no ports".
const auto Unreadable = [] { DenyReading(FtdibusKeyPath); };
#define NO_ANSWER R"({"/changed": false, "/errors/0/error": 5})"
CASES(NoAnswer,
  {"List", Unreadable, "list --json", 5, NO_ANSWER},
  {"ListText", Unreadable, "list", 5, "{}", {}, {"(Win32 error 5)"}},
  {"ShowAll", Unreadable, "show all --json", 5, NO_ANSWER},
  {"ShowPort", Unreadable, "show COM5 --json", 5, NO_ANSWER},
  {"Set", Unreadable, "set all latencyTimer=2 --json", 5, NO_ANSWER},
  {"Stale", Unreadable, "stale --json", 5, NO_ANSWER},
  {"MissingKeyIsNoPorts", [] { DeleteKeyTree(FtdibusKeyPath); }, "list --json", 0,
      R"({"/ports/#": 0, "/errors/#": 0})"});

// --- ignore-serial, reload, remove-stale ------------------------------------------

CASES(Machine,
  {"IgnoreSerialOn", nullptr, "ignore-serial on --json", {0},
      R"({"/changed": true, "/ignoreSerial": true})",
      {{Flags, "IgnoreHWSerNum04036001", Bin({1})}, {Flags, "IgnoreHWSerNum04036010", Bin({1})},
       {Flags, "IgnoreHWSerNum04036011", Bin({1})}}},
  {"IgnoreSerialOff", [] {
      for (const char* name :
           {"IgnoreHWSerNum04036001", "IgnoreHWSerNum04036010", "IgnoreHWSerNum04036011"})
        SetBinary(Flags, name, {1});
    }, "ignore-serial off", {0}, "{}",
      {{Flags, "IgnoreHWSerNum04036001", Gone()}, {Flags, "IgnoreHWSerNum04036010", Gone()},
       {Flags, "IgnoreHWSerNum04036011", Gone()}}},
  {"Reload", nullptr, "reload", {0}, "{}", {}, {}, {}, {}, false, 1},
  {"ReloadFails", [] { WriteStandinDevices(std::string(BenchDevices) + "reload 4\n"); },
      "reload", {2}, "{}", {}, {}, {}, {}, false, 1},
  {"RemoveStale", nullptr, "remove-stale --json", {0},
      R"({"/changed": true, "/ports/#": 1, "/ports/0/serial": "FT77ZZ11A"})",
      {{DeviceRoot("VID_0403+PID_6001+FT77ZZ11A"), "*", Gone()},
       {Arbiter, "ComDB", Bin(ComDb({1, 5, 6}))}}},
  // COM5 stays taken (the attached device uses it), COM8 was not taken and
  // is not set, COM9 belongs to another kind of port.
  {"RemoveStaleFreesOnlyItsNumbers", [] {
      Register(FT232R, "FT55OLD1A", "COM5");
      Register(FT232R, "FT55OLD2A", "COM8");
      SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6, 7, 9}));
    }, "remove-stale all", {0}, "{}",
      {{DeviceRoot("VID_0403+PID_6001+FT77ZZ11A"), "*", Gone()},
       {DeviceRoot("VID_0403+PID_6001+FT55OLD1A"), "*", Gone()},
       {DeviceRoot("VID_0403+PID_6001+FT55OLD2A"), "*", Gone()},
       {Arbiter, "ComDB", Bin(ComDb({1, 5, 6, 9}))}}},
  {"RemoveStaleRefusesAttached", nullptr, "remove-stale COM5", {3}},
  {"RemoveStaleWithoutD2xx", nullptr, "remove-stale all", {2}, "{}", {}, {}, {}, {}, true});

// --- --check writes nothing; refused writes ----------------------------------------

CASES(Check,
  {"Set", nullptr, "set COM5 latencyTimer=2 --check --json", {1},
      R"({"/changed": true, "/ports/0/changes/[latencyTimer]/to": 2})"},
  {"Preset", nullptr, "preset COM5 tarnlink --check", {1}},
  {"Rename", nullptr, "rename COM5 COM9 --check", {1}},
  {"RemoveStale", nullptr, "remove-stale all --check", {1}});

CASES(Refused,
  {"DeviceParametersText", [] { Deny(P5); }, "set COM5 latencyTimer=2", 5, "{}", {},
      {"(Win32 error 5)"}},
  {"DeviceParameters", [] { Deny(P5); }, "set COM5 latencyTimer=2 --json", {5},
      R"({"/changed": false, "/errors/#": 1, "/errors/0/port": "COM5",
      "/errors/0/serial": "FT12AB34A", "/errors/0/error": 5})"},
  // Values that already hold what is asked are not written again.
  {"NothingToWrite", [] { Deny(P5); }, "set COM5 latencyTimer=16 minReadTimeout=0", {0}},
  // What could be written is written, and the output says which port failed.
  {"OneOfAll", [] { Deny(P5); }, "set all latencyTimer=2 --json", {5},
      R"({"/changed": true, "/errors/#": 1, "/errors/0/serial": "FT12AB34A",
      "/errors/0/error": 5})",
      {{P6, "LatencyTimer", Dw(2)}, {P7, "LatencyTimer", Dw(2)}}});

// clang-format on

}  // namespace
