#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "devices/config_data.h"
#include "devices/journal_lines.h"
#include "history/history_words.h"

typedef nlohmann::ordered_json Json;

namespace {

const char DeviceKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FT99XY00A\\0000";
const std::string ParametersKey = std::string(DeviceKey) + "\\Device Parameters";

Json Image(const char* type, const std::vector<unsigned char>& data) {
  return {{"type", type}, {"data", HexOfBytes(data.data(), data.size())}};
}
Json Dword(uint32_t n) {
  return Image("REG_DWORD", {(unsigned char)n, (unsigned char)(n >> 8), (unsigned char)(n >> 16),
                             (unsigned char)(n >> 24)});
}
Json Text(const char* type, const std::string& text) {
  std::vector<unsigned char> data(text.begin(), text.end());
  data.push_back(0);
  if (std::string(type) == "REG_MULTI_SZ") data.push_back(0);
  return Image(type, data);
}
// A 64-byte ConfigData with the standard aliases, then the edits.
Json ConfigData(std::vector<std::pair<int, unsigned char>> edits, size_t size = 64) {
  std::vector<unsigned char> data(64, 0);
  data[2] = data[3] = 63;
  memcpy(&data[ALIAS_TABLE_OFFSET], DefaultAliasTable, ALIAS_TABLE_SIZE);
  for (auto edit : edits) data[edit.first] = edit.second;
  data.resize(size, 0);
  return Image("REG_BINARY", data);
}
Json Change(const std::string& key, const char* value, Json before, Json after,
            const char* port = "COM5") {
  return {{"port", port}, {"serial", "FT99XY00A"}, {"key", key},
          {"value", value},  {"before", before},    {"after", after}};
}
Json Machine(const std::string& key, const char* value, Json before, Json after) {
  return {{"port", ""}, {"serial", ""}, {"key", key}, {"value", value}, {"before", before}, {"after", after}};
}
Json Access(const char* before, const char* after) {
  return {{"port", ""}, {"serial", ""}, {"key", "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS"},
          {"value", nullptr}, {"before", {{"type", "SDDL"}, {"data", before}}},
          {"after", {{"type", "SDDL"}, {"data", after}}}};
}

JournalSet SetOf(Json changes) {
  JournalSet set;
  set.Id = 14;
  set.State = "done";
  set.Begun = {{"id", 14}, {"time", "2026-12-09T09:12:40Z"}, {"user", "BENCH\\tech"},
               {"program", "portmeld 1.0"}, {"command", "set"}, {"state", "begun"},
               {"changes", changes}};
  return set;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace

// Each kind of recorded change against the lines history prints and the
// settings history --json adds to it.
TEST(HistoryWords, ChangesInTheWordsOfSet) {
  const std::string comDbKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
  const struct {
    const char* Name;
    Json Changes;
    const char* Lines;
    const char* Settings;  // of each change, one array per change
  } cases[] = {
      {"a number", Json::array({Change(ParametersKey, "LatencyTimer", Dword(16), Dword(2))}),
       "  COM5  latencyTimer  16 -> 2\n",
       R"J([[{"setting": "latencyTimer", "from": 16, "to": 2}]])J"},
      {"an option bit and a buffered-write bit",
       Json::array({Change(ParametersKey, "ConfigData", ConfigData({}),
                           ConfigData({{0, 0x80}, {1, 0x04}}))}),
       "  COM5  serialPrinter  off -> on\n  COM5  bufferedWrites  off -> on\n",
       R"J([[{"setting": "serialPrinter", "from": false, "to": true},
            {"setting": "bufferedWrites", "from": false, "to": true}]])J"},
      {"an alias entry as the rate of its divisor",
       Json::array({Change(ParametersKey, "ConfigData", ConfigData({}),
                           ConfigData({{24, 0x35}, {25, 0x81}, {26, 0}, {27, 0}}))}),
       "  COM5  baudAlias.9600  9600 -> 9700.889\n",
       R"J([[{"setting": "baudAlias.9600", "from": 9600, "to": 9700.889}]])J"},
      {"a transfer size", Json::array({Change(ParametersKey, "ConfigData", ConfigData({}),
                                              ConfigData({{2, 7}}))}),
       "  COM5  usbTransferSizeIn  4096 -> 512\n",
       R"J([[{"setting": "usbTransferSizeIn", "from": 4096, "to": 512}]])J"},
      {"bits no setting names stay as the journal spells them",
       Json::array({Change(ParametersKey, "ConfigData", ConfigData({}, 4), ConfigData({{0, 0x01}}, 4))}),
       "  COM5  ConfigData  00003f3f -> 01003f3f\n", "[[]]"},
      {"a short value, decoded up to its end",
       Json::array({Change(ParametersKey, "ConfigData", ConfigData({}, 8),
                           ConfigData({{0, 0x80}}, 64))}),
       // entry 1 (baudAlias.300) is stored in both; the rest was not stored before
       nullptr, nullptr},
      {"a value longer than the driver reads",
       Json::array({Change(ParametersKey, "ConfigData", ConfigData({}, 64), ConfigData({}, 66))}),
       nullptr, "[[]]"},
      {"the serial enumerator",
       Json::array({Change(DeviceKey, "UpperFilters", nullptr, Text("REG_MULTI_SZ", "serenum"))}),
       "  COM5  serialEnumerator  off -> on\n",
       R"J([[{"setting": "serialEnumerator", "from": false, "to": true}]])J"},
      {"another product's filter replaced",
       Json::array({Change(DeviceKey, "UpperFilters", Text("REG_MULTI_SZ", "acmefilter"),
                           Text("REG_MULTI_SZ", "serenum"))}),
       "  COM5  UpperFilters  acmefilter -> serenum\n",
       R"J([[{"setting": "UpperFilters", "from": ["acmefilter"], "to": ["serenum"]}]])J"},
      {"a buffered-write value",
       Json::array({Change(ParametersKey, "WriteBufferSize", Dword(4096), Dword(1024))}),
       "  COM5  writeBufferSize  4096 -> 1024\n",
       R"J([[{"setting": "writeBufferSize", "from": 4096, "to": 1024}]])J"},
      {"ignore-serial",
       Json::array({Machine("HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags",
                            "IgnoreHWSerNum04036001", nullptr, Image("REG_BINARY", {1}))}),
       "  0403:6001  ignoreSerial  off -> on\n",
       R"J([[{"setting": "ignoreSerial", "from": false, "to": true, "vidPid": "0403:6001"}]])J"},
      {"a rename with its FriendlyName and ComDB",
       Json::array({Change(ParametersKey, "PortName", Text("REG_SZ", "COM6"), Text("REG_SZ", "COM8"), "COM6"),
                    Change(DeviceKey, "FriendlyName", Text("REG_SZ", "USB Serial Port (COM6)"),
                           Text("REG_SZ", "USB Serial Port (COM8)"), "COM6"),
                    Machine(comDbKey, "ComDB", Image("REG_BINARY", {0x20, 0, 0, 0}),
                            Image("REG_BINARY", {0x80, 0, 0, 0}))}),
       "  COM6 -> COM8  (FT99XY00A)\n  ComDB  COM8 reserved, COM6 freed\n",
       R"J([[{"setting": "port", "from": "COM6", "to": "COM8"}], [],
           [{"setting": "comDB", "reserved": ["COM8"], "freed": ["COM6"]}]])J"},
      {"a rename that reserves first and frees last, said as one ComDB line",
       Json::array({Machine(comDbKey, "ComDB", Image("REG_BINARY", {0x20, 0, 0, 0}),
                            Image("REG_BINARY", {0xa0, 0, 0, 0})),
                    Change(ParametersKey, "PortName", Text("REG_SZ", "COM6"), Text("REG_SZ", "COM8"), "COM6"),
                    Machine(comDbKey, "ComDB", Image("REG_BINARY", {0xa0, 0, 0, 0}),
                            Image("REG_BINARY", {0x80, 0, 0, 0}))}),
       "  COM6 -> COM8  (FT99XY00A)\n  ComDB  COM8 reserved, COM6 freed\n",
       R"J([[{"setting": "comDB", "reserved": ["COM8"], "freed": []}],
           [{"setting": "port", "from": "COM6", "to": "COM8"}],
           [{"setting": "comDB", "reserved": [], "freed": ["COM6"]}]])J"},
      {"an access list set without its owner",
       Json::array({Access("O:BAD:(A;;KA;;;BA)", "D:(A;;KA;;;BA)(A;;KR;;;WD)")}),
       "  FTDIBUS  access  Everyone read added\n",
       R"J([[{"setting": "access", "removed": [], "added": ["Everyone read"]}]])J"},
      {"an access list, accounts by name",
       Json::array({Access("O:BAD:(A;CIIO;GR;;;BU)(A;;KA;;;BA)",
                           "O:SYD:P(A;OICI;KR;;;WD)(A;;KA;;;BA)")}),
       "  FTDIBUS  owner  BUILTIN\\Administrators -> NT AUTHORITY\\SYSTEM\n"
       "  FTDIBUS  access  BUILTIN\\Users read (subkeys only) removed\n"
       "  FTDIBUS  access  Everyone read (and subkeys) added\n",
       R"J([[{"setting": "owner", "from": "BUILTIN\\Administrators", "to": "NT AUTHORITY\\SYSTEM"},
            {"setting": "access", "removed": ["BUILTIN\\Users read (subkeys only)"],
             "added": ["Everyone read (and subkeys)"]}]])J"},
      {"an absent value", Json::array({Change(ParametersKey, "MinReadTimeout", nullptr, Dword(0))}),
       "  COM5  minReadTimeout  absent -> 0\n",
       R"J([[{"setting": "minReadTimeout", "from": null, "to": 0}]])J"},
      {"a value of an odd size",
       Json::array({Change(ParametersKey, "LatencyTimer", Image("REG_DWORD", {1, 2}), Dword(16))}),
       "  COM5  LatencyTimer  0102 -> 16\n", "[[]]"},
      {"a value the table does not know",
       Json::array({Change(ParametersKey, "Foo", Dword(1), Dword(2))}),
       "  COM5  Foo  1 -> 2\n", "[[]]"},
      {"a removal", Json::array({{{"port", "COM7"}, {"serial", "FT7Q3M5RA"}, {"key", DeviceKey},
                                  {"value", nullptr}, {"action", "remove-device"}}}),
       "  COM7  device removed\n", "[[]]"},
  };
  for (const auto& c : cases) {
    JournalSet set = SetOf(c.Changes);
    std::string lines = Joined(SetChangeLines(set));
    if (c.Lines) {
      EXPECT_EQ(lines, c.Lines) << c.Name;
    }
    Json settings = Json::array();
    for (size_t i = 0; i < c.Changes.size(); ++i) settings.push_back(ChangeSettings(set, i));
    if (c.Settings) {
      EXPECT_EQ(settings, Json::parse(c.Settings)) << c.Name;
    }
  }
  // The short value: what it did not store shows as absent, its bits as they were.
  std::string shortLines =
      Joined(SetChangeLines(SetOf(Json::array({Change(ParametersKey, "ConfigData", ConfigData({}, 8),
                                                      ConfigData({{0, 0x80}}, 64))}))));
  EXPECT_NE(shortLines.find("  COM5  serialPrinter  off -> on\n"), std::string::npos) << shortLines;
  EXPECT_NE(shortLines.find("  COM5  baudAlias.600  absent -> 600\n"), std::string::npos) << shortLines;
  EXPECT_EQ(shortLines.find("baudAlias.300"), std::string::npos) << shortLines;
  // The long value: hex, and why.
  std::string longLines = Joined(SetChangeLines(
      SetOf(Json::array({Change(ParametersKey, "ConfigData", ConfigData({}, 64), ConfigData({}, 66))}))));
  EXPECT_NE(longLines.find("(longer than 64 bytes: not decoded)"), std::string::npos) << longLines;
  EXPECT_NE(longLines.find("3f3f"), std::string::npos) << longLines;
}

TEST(HistoryWords, HeadlineSaysHowTheSetEnded) {
  const struct {
    const char* State;
    const char* Reload;
    const char* Restart;
    const char* Outcome;
  } cases[] = {
      {"done", "null", "[]", "done"},
      {"done", R"("done")", "[]", "done, driver reloaded"},
      {"partial", R"({"failed": "FTD2XX.dll is missing"})", "[]",
       "partial, driver not reloaded: FTD2XX.dll is missing"},
      {"done", R"("done")",
       R"J([{"port": "COM5", "result": "restarted"}, {"port": "COM6", "result": "restart-pending"},
           {"port": "COM7", "result": "restarted"}])J",
       "done, driver reloaded, restarted COM5 COM7, restart pending COM6"},
      {"incomplete", "null", R"J([{"port": "COM5", "result": "failed"}])J",
       "incomplete, restart failed COM5"},
  };
  for (const auto& c : cases) {
    JournalSet set = SetOf(Json::array());
    set.State = c.State;
    set.Reload = Json::parse(c.Reload);
    set.Restart = Json::parse(c.Restart);
    EXPECT_EQ(SetOutcomeText(set), c.Outcome);
    EXPECT_EQ(SetHeadline(set),
              std::string("#14  2026-12-09 09:12:40Z  BENCH\\tech  portmeld 1.0  set  ") + c.Outcome);
  }
}

TEST(HistoryWords, WhatUndoCanPutBack) {
  Json value = Change(ParametersKey, "LatencyTimer", Dword(16), Dword(2));
  Json removal = {{"port", "COM7"}, {"key", DeviceKey}, {"value", nullptr}, {"action", "remove-device"}};
  const struct {
    Json Changes;
    const char* Command;
    uint64_t UndoneBy;
    UndoAbility Expected;
  } cases[] = {
      {Json::array({value}), "set", 0, UNDO_ABLE},
      {Json::array({value}), "set", 15, UNDO_ABLE_ALREADY_UNDONE},
      {Json::array({removal}), "remove-stale", 0, UNDO_ABLE_NOTHING},
      {Json::array(), "reload", 0, UNDO_ABLE_NOTHING},
      {Json::array({Access("O:BAD:(A;;KA;;;BA)", "O:BAD:(A;;KA;;;BA)(A;;KR;;;WD)")}),
       StartUpAccessCommand, 0, UNDO_ABLE_START_UP_ACCESS},
  };
  for (const auto& c : cases) {
    JournalSet set = SetOf(c.Changes);
    set.Begun["command"] = c.Command;
    set.UndoneBy = c.UndoneBy;
    EXPECT_EQ(UndoAbilityOf(set), c.Expected) << c.Command;
  }
}
