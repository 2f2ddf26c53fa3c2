#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devices/journal_lines.h"

namespace {

const unsigned char Sixteen[] = {0x10, 0, 0, 0}, Two[] = {2, 0, 0, 0};
const unsigned char Name[] = {'C', 'O', 'M', '5', 0};

JournalImage Image(uint32_t type, const unsigned char* data, size_t size) {
  return {true, type, data, size};
}
const JournalImage Absent = {false, 0, nullptr, 0};

}  // namespace

TEST(JournalLines, TextsAsJsonStrings) {
  const struct {
    std::string In, Out;
  } cases[] = {{"", "\"\""},
               {"set COM5 latencyTimer=2", "\"set COM5 latencyTimer=2\""},
               {"DOMAIN\\name", "\"DOMAIN\\\\name\""},
               {"say \"hi\"", "\"say \\\"hi\\\"\""},
               {"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
               {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
               {"caf\xc3\xa9", "\"caf\xc3\xa9\""}};
  for (const auto& c : cases) {
    EXPECT_EQ(JsonString(c.In), c.Out);
    // Whatever the writer escapes, a JSON reader gives back as it was.
    EXPECT_EQ(nlohmann::json::parse(JsonString(c.In)).get<std::string>(), c.In);
  }
}

TEST(JournalLines, TypesHexAndTime) {
  const struct {
    uint32_t Type;
    const char* Name;
  } types[] = {
      {0, "REG_NONE"},     {1, "REG_SZ"},     {3, "REG_BINARY"}, {4, "REG_DWORD"},
      {7, "REG_MULTI_SZ"}, {11, "REG_QWORD"}, {12, "12"},        {0xFFFFFFFFu, "4294967295"}};
  for (const auto& t : types) EXPECT_EQ(RegistryTypeName(t.Type), t.Name);
  const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff};
  EXPECT_EQ(HexOfBytes(bytes, 4), "000fa0ff");
  EXPECT_EQ(HexOfBytes(Sixteen, 4), "10000000");
  EXPECT_EQ(HexOfBytes(nullptr, 0), "");
  EXPECT_EQ(JournalTime(2026, 12, 8, 13, 7, 32), "2026-12-08T13:07:32Z");
}

TEST(JournalLines, BegunLineCarriesEveryChange) {
  std::vector<JournalEntry> entries = {
      {JOURNAL_VALUE, "COM5", "FT12AB34A",
       "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FT12AB34A\\0000\\Device "
       "Parameters",
       "LatencyTimer", Image(4, Sixteen, 4), Image(4, Two, 4)},
      {JOURNAL_VALUE, "", "", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags",
       "IgnoreHWSerNum04036001", Absent, Image(3, Two, 1)},
      {JOURNAL_VALUE, "COM5", "FT12AB34A", "HKLM\\X", "PortName", Image(1, Name, 5), Absent},
      {JOURNAL_REMOVE_DEVICE, "COM7", "FT77ZZ11A", "HKLM\\Y", "", Absent, Absent},
      {JOURNAL_RELOAD_DRIVER, "", "", "", "", Absent, Absent}};
  std::string line = FormatBegunLine(12, "2026-12-08T13:07:32Z", "DOMAIN\\name", "portmeld 1.0",
                                     "set COM5 latencyTimer=2", entries);
  ASSERT_EQ(line.back(), '\n');
  ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line";
  nlohmann::json doc = nlohmann::json::parse(line);
  EXPECT_EQ(doc["id"], 12);
  EXPECT_EQ(doc["time"], "2026-12-08T13:07:32Z");
  EXPECT_EQ(doc["user"], "DOMAIN\\name");
  EXPECT_EQ(doc["program"], "portmeld 1.0");
  EXPECT_EQ(doc["command"], "set COM5 latencyTimer=2");
  EXPECT_EQ(doc["state"], "begun");
  ASSERT_EQ(doc["changes"].size(), 5u);
  const nlohmann::json& latency = doc["changes"][0];
  EXPECT_EQ(latency["port"], "COM5");
  EXPECT_EQ(latency["serial"], "FT12AB34A");
  EXPECT_EQ(latency["key"], entries[0].Key);
  EXPECT_EQ(latency["value"], "LatencyTimer");
  EXPECT_EQ(latency["before"], nlohmann::json({{"type", "REG_DWORD"}, {"data", "10000000"}}));
  EXPECT_EQ(latency["after"], nlohmann::json({{"type", "REG_DWORD"}, {"data", "02000000"}}));
  EXPECT_TRUE(doc["changes"][1]["before"].is_null());
  EXPECT_EQ(doc["changes"][1]["after"]["data"], "02");
  EXPECT_EQ(doc["changes"][2]["before"]["data"], "434f4d3500");
  EXPECT_TRUE(doc["changes"][2]["after"].is_null());
  EXPECT_EQ(doc["changes"][3]["action"], "remove-device");
  EXPECT_TRUE(doc["changes"][3]["value"].is_null());
  EXPECT_EQ(doc["changes"][4]["action"], "reload-driver");
  EXPECT_EQ(LineId(line.data(), line.size()), 12u);
}

TEST(JournalLines, EndLines) {
  nlohmann::json done = nlohmann::json::parse(FormatEndLine(3, {}));
  EXPECT_EQ(done, nlohmann::json({{"id", 3}, {"state", "done"}}));
  nlohmann::json partial =
      nlohmann::json::parse(FormatEndLine(4, {{"HKLM\\A", "LatencyTimer", 5}, {"HKLM\\B", "", 2}}));
  EXPECT_EQ(partial["state"], "partial");
  ASSERT_EQ(partial["failed"].size(), 2u);
  EXPECT_EQ(partial["failed"][0],
            nlohmann::json({{"key", "HKLM\\A"}, {"value", "LatencyTimer"}, {"error", 5}}));
  EXPECT_EQ(partial["failed"][1]["error"], 2);
}

TEST(JournalLines, RestartLine) {
  std::string line = FormatRestartLine(
      12, {{"COM5", "FT12AB34A", "restarted"}, {"", "FT\"Q", "restart-pending"}});
  ASSERT_EQ(line.back(), '\n');
  EXPECT_EQ(LineId(line.data(), line.size()), 12u);
  EXPECT_EQ(nlohmann::json::parse(line),
            nlohmann::json::parse(R"({"id": 12, "restart": [
              {"port": "COM5", "serial": "FT12AB34A", "result": "restarted"},
              {"port": "", "serial": "FT\"Q", "result": "restart-pending"}]})"));
}

TEST(JournalLines, IdsOfLinesAndOfATail) {
  const struct {
    std::string Line;
    uint64_t Id;
  } lines[] = {{"{\"id\": 7, \"state\": \"done\"}", 7},
               {"{\"id\": 18446744073, \"state\": \"done\"}", 18446744073ull},
               {"{\"id\": 12", 0},  // cut short: may have been 123
               {"{\"id\": , ", 0},
               {"{\"id\":7,", 0},
               {"garbage", 0},
               {"", 0}};
  for (const auto& l : lines) EXPECT_EQ(LineId(l.Line.data(), l.Line.size()), l.Id) << l.Line;

  const struct {
    std::string Text;
    bool AtStart;
    uint64_t Last;
  } tails[] = {{"", true, 0},
               {"{\"id\": 1, \"state\": \"begun\"}\n{\"id\": 1, \"state\": \"done\"}\n", true, 1},
               {"{\"id\": 4, \"x\": 1}\n{\"id\": 5, \"x\": 1}\n{\"id\": 5, \"st", true, 5},
               // A begun line cut in its id after a whole one: the whole one counts.
               {"{\"id\": 9, \"x\": 1}\n{\"id\": 1", true, 9},
               // Read from the middle: the first piece may be another line's tail.
               {"id\": 99, \"x\"}\n{\"id\": 8, \"x\": 1}\n", false, 8},
               {"{\"id\": 99, \"x\"}\n{\"id\": 8, \"x\": 1}\n", true, 99},
               {"no line end at all", false, 0},
               {"\n\n{\"id\": 3, \"a\": 1}\r\n", true, 3}};
  for (const auto& t : tails)
    EXPECT_EQ(LastJournalId(t.Text.data(), t.Text.size(), t.AtStart), t.Last) << t.Text;
}
