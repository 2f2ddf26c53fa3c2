#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/journal_reader.h"

typedef nlohmann::ordered_json Json;

namespace {

ValueImage Value(uint32_t type, std::vector<unsigned char> data) {
  ValueImage v;
  v.Present = true;
  v.Type = type;
  v.Data = data;
  return v;
}
const ValueImage Absent;
ValueImage Dword(unsigned char low) { return Value(4, {low, 0, 0, 0}); }

std::string Begun(int id, const std::string& command, const std::string& changes) {
  return "{\"id\": " + std::to_string(id) +
         ", \"time\": \"2026-12-08T13:07:32Z\", \"user\": "
         "\"D\\\\u\", \"program\": \"portmeld 1.0\", \"command\": \"" +
         command + "\", \"state\": \"begun\", \"changes\": [" + changes + "]}\n";
}
std::string End(int id, const char* state = "done") {
  return "{\"id\": " + std::to_string(id) + ", \"state\": \"" + state + "\"}\n";
}
const std::string Latency =
    "{\"port\": \"COM5\", \"serial\": \"FT12AB34A\", \"key\": \"HKLM\\\\K\", \"value\": "
    "\"LatencyTimer\", \"before\": {\"type\": \"REG_DWORD\", \"data\": \"10000000\"}, "
    "\"after\": {\"type\": \"REG_DWORD\", \"data\": \"02000000\"}}";
const std::string Removal =
    "{\"port\": \"COM7\", \"serial\": \"FT77ZZ11A\", \"key\": \"HKLM\\\\K\", \"value\": null, "
    "\"action\": \"remove-device\"}";

}  // namespace

TEST(JournalReader, Values) {
  const struct {
    const char* Image;
    bool Ok;
    ValueImage Value;
    const char* Shown;
  } cases[] = {
      {"null", true, Absent, "absent"},
      {R"({"type": "REG_DWORD", "data": "10000000"})", true, Dword(16), "16"},
      {R"({"type": "REG_DWORD", "data": "ffffffff"})", true, Value(4, {255, 255, 255, 255}),
       "4294967295"},
      {R"({"type": "REG_DWORD", "data": "0102"})", true, Value(4, {1, 2}), "0102"},
      {R"({"type": "REG_SZ", "data": "434f4d3500"})", true, Value(1, {'C', 'O', 'M', '5', 0}),
       "COM5"},
      {R"({"type": "REG_MULTI_SZ", "data": "730000"})", true, Value(7, {'s', 0, 0}), "730000"},
      {R"({"type": "REG_BINARY", "data": ""})", true, Value(3, {}), ""},
      {R"({"type": "12", "data": "AB"})", true, Value(12, {0xab}), "AB"},
      {R"({"type": "REG_BOGUS", "data": "00"})", false, Absent, "?"},
      {R"({"type": "4294967296", "data": "00"})", false, Absent, "?"},
      {R"({"type": "REG_DWORD", "data": "123"})", false, Absent, "?"},
      {R"({"type": "REG_DWORD", "data": "zz"})", false, Absent, "?"},
      {R"({"type": "REG_DWORD"})", false, Absent, "?"},
      {R"("10000000")", false, Absent, "?"},
  };
  for (const auto& c : cases) {
    ValueImage value;
    Json image = Json::parse(c.Image);
    EXPECT_EQ(ParseJournalValue(image, &value), c.Ok) << c.Image;
    if (c.Ok) {
      EXPECT_TRUE(value == c.Value) << c.Image;
    }
    EXPECT_EQ(ShownJournalValue(image), c.Shown) << c.Image;
  }
}

// The restarts after a set's writes are a line of that set, in any later file.
TEST(JournalReader, RestartLinesJoinTheirSet) {
  JournalContents contents;
  ReadJournalText(Begun(3, "watch C:\\\\p.json", Latency) + End(3), "changes.1.jsonl", &contents);
  ReadJournalText(
      "{\"id\": 3, \"restart\": [{\"port\": \"COM5\", \"serial\": \"FT12AB34A\", "
      "\"result\": \"restarted\"}]}\n"
      "{\"id\": 9, \"restart\": []}\n"
      "{\"id\": 3, \"restart\": [{\"port\": \"COM6\", \"serial\": \"FT9XK2L1A\", "
      "\"result\": \"failed\"}]}\n",
      "changes.jsonl", &contents);
  // A command's restarts and reload are in its end line.
  ReadJournalText(Begun(4, "set COM5 latencyTimer=2 --restart device", Latency) +
                      "{\"id\": 4, \"state\": \"done\", \"reload\": {\"failed\": \"FTD2XX.dll is "
                      "missing\"}, \"restart\": [{\"port\": \"COM5\", \"serial\": \"FT12AB34A\", "
                      "\"result\": \"restart-pending\"}]}\n",
                  "changes.jsonl", &contents);
  ASSERT_EQ(contents.Sets.size(), 2u);
  EXPECT_EQ(contents.Sets[1].State, "done");
  EXPECT_EQ(contents.Sets[1].Reload, Json::parse(R"({"failed": "FTD2XX.dll is missing"})"));
  EXPECT_EQ(contents.Sets[1].Restart.size(), 1u);
  EXPECT_EQ(contents.Sets[0].State, "done");
  EXPECT_EQ(contents.Sets[0].Restart,
            Json::parse(R"([{"port": "COM5", "serial": "FT12AB34A", "result": "restarted"},
                            {"port": "COM6", "serial": "FT9XK2L1A", "result": "failed"}])"));
  const std::vector<std::string> warnings = {
      "changes.jsonl line 2 adds restarts to change set 9, which the journal does not hold: "
      "skipped"};
  EXPECT_EQ(contents.Warnings, warnings);
}

TEST(JournalReader, SetsFromLines) {
  JournalContents contents;
  ReadJournalText(Begun(3, "set COM5 latencyTimer=2", Latency) + End(3), "changes.1.jsonl",
                  &contents);
  std::string text = Begun(4, "Apply", Latency + ", " + Removal) +  // never ended
                     "{\"id\": 5, \"time\": \"2026-12-0\n" +        // cut by a power cut
                     "[1, 2]\n" + "\n" + Begun(6, "undo 3", Latency) + End(6) +
                     "{\"id\": 6, \"state\": \"resting\"}\n" + End(9) +
                     Begun(7, "remove-stale all", Removal) + End(7, "partial") +
                     Begun(8, "undo 4", Latency);  // an undo that died: 4 stays undoable
  ReadJournalText(text, "changes.jsonl", &contents);
  LinkUndoneSets(&contents);

  ASSERT_EQ(contents.Sets.size(), 5u);
  const struct {
    uint64_t Id;
    const char* State;
    uint64_t Undoes, UndoneBy;
  } sets[] = {{3, "done", 0, 6},
              {4, "incomplete", 0, 0},
              {6, "done", 3, 0},
              {7, "partial", 0, 0},
              {8, "incomplete", 4, 0}};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(contents.Sets[i].Id, sets[i].Id);
    EXPECT_EQ(contents.Sets[i].State, sets[i].State) << sets[i].Id;
    EXPECT_EQ(contents.Sets[i].Undoes, sets[i].Undoes) << sets[i].Id;
    EXPECT_EQ(contents.Sets[i].UndoneBy, sets[i].UndoneBy) << sets[i].Id;
  }
  const std::vector<std::string> warnings = {
      "changes.jsonl line 2 is not valid JSON (cut short?): skipped",
      "changes.jsonl line 3 is not a change journal entry: skipped",
      "changes.jsonl line 7 has an unknown state 'resting': skipped",
      "changes.jsonl line 8 ends change set 9, which the journal does not hold: skipped"};
  EXPECT_EQ(contents.Warnings, warnings);

  EXPECT_TRUE(SetTouches(contents.Sets[0], "com5"));
  EXPECT_TRUE(SetTouches(contents.Sets[0], "FT12AB34A"));
  EXPECT_FALSE(SetTouches(contents.Sets[0], "COM7"));
  EXPECT_TRUE(SetTouches(contents.Sets[3], "COM7"));
  // 7 only removed a device, 3 is undone: the newest with a value to put back is 6.
  ASSERT_NE(NewestUndoable(contents), nullptr);
  EXPECT_EQ(NewestUndoable(contents)->Id, 6u);
  EXPECT_FALSE(IsValueChange(contents.Sets[3].Begun["changes"][0]));
  EXPECT_TRUE(IsValueChange(contents.Sets[0].Begun["changes"][0]));
}

TEST(JournalReader, NothingToUndo) {
  JournalContents contents;
  EXPECT_EQ(NewestUndoable(contents), nullptr);
  ReadJournalText(Begun(1, "set", Latency) + Begun(2, "remove-stale all", Removal) + End(2),
                  "changes.jsonl", &contents);
  LinkUndoneSets(&contents);
  EXPECT_EQ(NewestUndoable(contents), nullptr);
}

TEST(JournalReader, UndoOfAValue) {
  const ValueImage name = Value(1, {'C', 'O', 'M', '5', 0});
  const struct {
    const char* Name;
    ValueImage Current, Before, After;
    bool Force;
    UndoStep Step;
  } cases[] = {
      {"still as the set left it", Dword(2), Dword(16), Dword(2), false, UNDO_WRITE},
      {"already as before", Dword(16), Dword(16), Dword(2), false, UNDO_NOTHING},
      {"changed since", Dword(5), Dword(16), Dword(2), false, UNDO_CONFLICT},
      {"changed since, forced", Dword(5), Dword(16), Dword(2), true, UNDO_WRITE},
      {"created: deleted again", name, Absent, name, false, UNDO_WRITE},
      {"deleted: written again", Absent, name, Absent, false, UNDO_WRITE},
      {"deleted, then made again", Value(1, {'X', 0}), name, Absent, false, UNDO_CONFLICT},
      {"same bytes, other type", Value(3, {2, 0, 0, 0}), Dword(16), Dword(2), false, UNDO_CONFLICT},
  };
  for (const auto& c : cases) {
    ValueImage write;
    EXPECT_EQ(PlanValueUndo(c.Current, c.Before, c.After, c.Force, &write), c.Step) << c.Name;
    if (c.Step == UNDO_WRITE) {
      EXPECT_TRUE(write == c.Before) << c.Name;
    }
  }
}

TEST(JournalReader, UndoOfComDbBitByBit) {
  // The set took COM5 (byte 0 bit 4) and gave up COM7 (bit 6).
  const ValueImage before = Value(3, {0x41, 0, 0, 0}), after = Value(3, {0x11, 0, 0, 0});
  const struct {
    const char* Name;
    ValueImage Current, Before, After;
    bool Force;
    UndoStep Step;
    std::vector<unsigned char> Written;
  } cases[] = {
      {"others took COM9 since",
       Value(3, {0x11, 0x01, 0, 0}),
       before,
       after,
       false,
       UNDO_WRITE,
       {0x41, 0x01, 0, 0}},
      {"others gave up COM1 since",
       Value(3, {0x10, 0, 0, 0}),
       before,
       after,
       false,
       UNDO_WRITE,
       {0x40, 0, 0, 0}},
      {"COM7 taken again since",
       Value(3, {0x51, 0, 0, 0}),
       before,
       after,
       false,
       UNDO_CONFLICT,
       {0x51, 0, 0, 0}},
      {"COM7 taken again, forced",
       Value(3, {0x51, 0, 0, 0}),
       before,
       after,
       true,
       UNDO_WRITE,
       {0x41, 0, 0, 0}},
      {"already as before",
       Value(3, {0x41, 0x80, 0, 0}),
       before,
       after,
       false,
       UNDO_NOTHING,
       {0x41, 0x80, 0, 0}},
      {"a longer ComDB keeps its tail",
       Value(3, {0x11, 0, 0, 0, 0xff}),
       before,
       after,
       false,
       UNDO_WRITE,
       {0x41, 0, 0, 0, 0xff}},
      {"a shorter one grows only as needed",
       Value(3, {0x01}),
       Value(3, {0x01, 0, 0x02}),
       Value(3, {0x01}),
       false,
       UNDO_WRITE,
       {0x01, 0, 0x02}},
      {"created by the set",
       Value(3, {0x10, 0x01}),
       Absent,
       Value(3, {0x10}),
       false,
       UNDO_WRITE,
       {0x00, 0x01}},
  };
  for (const auto& c : cases) {
    ValueImage write;
    EXPECT_EQ(PlanComDbUndo(c.Current, c.Before, c.After, c.Force, &write), c.Step) << c.Name;
    EXPECT_TRUE(write.Present) << c.Name;
    EXPECT_EQ(write.Data, c.Written) << c.Name;
  }
}
