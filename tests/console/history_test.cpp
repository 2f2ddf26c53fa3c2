// The change journal as scripts see it: every writing command recorded
// with exactly the values it changed, history over it, and undo putting
// the same bytes back.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "comdb/rename.h"
#include "component/core_calls.h"
#include "console_harness.h"
#include "devices/journal.h"
#include "devices/settings_rules.h"

namespace {

const std::string JournalDir = "C:\\ProgramData\\Portmeld";
const std::string JournalPath = JournalDir + "\\changes.jsonl";
const std::string RotatedPath = JournalDir + "\\changes.1.jsonl";

std::string Hex(const Bytes& data) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : data) (text += digits[b >> 4]) += digits[b & 15];
  return text;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return "REG_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:
      return std::to_string(type);
  }
}

nlohmann::json ImageOf(const Snapshot& snapshot, const std::string& id) {
  auto found = snapshot.find(id);
  if (found == snapshot.end()) return nullptr;
  return {{"type", TypeName(found->second.Type)}, {"data", Hex(found->second.Data)}};
}

// Standard output in text mode ends lines with CR LF.
std::string Unix(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string ReadText(const std::string& path) {
  Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
  ASSERT_TRUE(WriteBytes(path, Bytes(text.begin(), text.end()))) << path;
}

// Lets Everyone change the file: under Wine its mode becomes 0666.
void OpenToEveryone(const std::string& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  BOOL present, defaulted;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  std::string name = path;
  ASSERT_EQ(SetNamedSecurityInfoA(&name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, dacl, nullptr),
            (DWORD)ERROR_SUCCESS);
  LocalFree(sd);
}

nlohmann::json History(const std::string& args = "") {
  ProgramRun run = RunPortmeld("history --json" + args);
  EXPECT_EQ(run.ExitCode, 0u) << run.Err;
  nlohmann::json doc = nlohmann::json::parse(run.Out, nullptr, false);
  EXPECT_TRUE(doc.is_object()) << run.Out;
  if (!doc.is_object() || !doc["history"].is_array()) return {{"history", {}}, {"warnings", {}}};
  return doc;
}

// The set must hold exactly the values that differ between the two
// snapshots, each with its bytes before and after.
void ExpectRecorded(const nlohmann::json& set, const Snapshot& before, const Snapshot& after) {
  std::set<std::string> changed, recorded;
  for (const auto& value : before)
    if (value.second.Type != REG_KEY_MARK &&
        (!after.count(value.first) || !(after.at(value.first) == value.second)))
      changed.insert(value.first);
  for (const auto& value : after)
    if (value.second.Type != REG_KEY_MARK && !before.count(value.first))
      changed.insert(value.first);
  // A value written twice (a rename takes its number in ComDB, then frees
  // the old one) is a chain: each write starts where the one before ended.
  std::map<std::string, nlohmann::json> first, last;
  for (const nlohmann::json& change : set["changes"]) {
    std::string key = change["key"];
    ASSERT_EQ(key.compare(0, 5, "HKLM\\"), 0) << key;
    std::string id = key.substr(5) + "|" + change["value"].get<std::string>();
    recorded.insert(id);
    if (!first.count(id)) first[id] = change["before"];
    if (last.count(id)) {
      EXPECT_EQ(change["before"], last[id]) << id;
    }
    last[id] = change["after"];
  }
  for (const std::string& id : recorded) {
    EXPECT_EQ(first[id], ImageOf(before, id)) << id;
    EXPECT_EQ(last[id], ImageOf(after, id)) << id;
  }
  EXPECT_EQ(recorded, changed);
}

class Journal : public OnJournalBench {};

struct Case {
  const char* Name;
  const char* Args;  // %P: a profile file holding Profile; for Window, the set's command
  const char* Profile = "";
  const char* Input = "";
  void (*Tweak)() = nullptr;
  // The windowed program's write instead of a command line: the core's
  // write path as the window calls it, in this process.
  void (*Window)() = nullptr;
  // Lines history prints for the set, in the words of set.
  const char* Words = "";
};

// The bench's COM5 as the window reads it: listed, its settings read and
// kept as read.
DeviceRecord* WindowRecordOfCom5() {
  static DeviceInventory inventory;
  FreeInventory(&inventory);
  HKEY ftdibus;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus), 0);
  inventory.ShowDisconnected = true;
  ListRegisteredDevices(&inventory, ftdibus, nullptr);
  RegCloseKey(ftdibus);
  ReadDeviceSettings(&inventory, nullptr);
  for (uint32_t i = 0; i < inventory.count; ++i)
    if (strcmp(inventory.Records[i].SerialNumber, "FT12AB34A") == 0) {
      Inventory = inventory;  // the window's inventory, for the dialogs' writes
      return &inventory.Records[i];
    }
  ADD_FAILURE() << "COM5 not listed";
  return nullptr;
}

void WindowApply() {
  SetJournalProgram("PortmeldConfigurator 1.0");
  DeviceRecord* record = WindowRecordOfCom5();
  if (!record) return;
  record->LatencyTimer = 7;
  SetOptionBit(record->ConfigData, CancelIfPowerOff, true);
  SetSerialEnumerator(record, true);
  SettingsWrite write = {"Apply", THROUGH_REGISTRY, IGNORE_SERIAL_ON, RELOAD_NONE, true};
  ChangeSet set;
  EXPECT_EQ(WRITE_DONE, WriteChangedSettings(&Inventory, write, &set, nullptr));
  SetJournalProgram("portmeld 1.0");
}

void WindowBaudRateMapping() {
  SetJournalProgram("PortmeldConfigurator 1.0");
  DeviceRecord* record = WindowRecordOfCom5();
  if (!record) return;
  SetConfigEntry(record->ConfigData, 6, 0x4137);
  EXPECT_TRUE(WriteConfigData(record));
  SetJournalProgram("portmeld 1.0");
}

void WindowBufferedWrites() {
  SetJournalProgram("PortmeldConfigurator 1.0");
  DeviceRecord* record = WindowRecordOfCom5();
  if (!record) return;
  SetOptionBit(record->ConfigData, BufferedWritesEnabled, true);
  const char* typed[BUFFERED_WRITE_VALUE_COUNT] = {"2048", "10", "2"};
  bool rejected[BUFFERED_WRITE_VALUE_COUNT];
  EXPECT_TRUE(SaveBufferedWrites(record, typed, rejected));
  SetJournalProgram("portmeld 1.0");
}

void WindowRename() {
  SetJournalProgram("PortmeldConfigurator 1.0");
  DeviceRecord* record = WindowRecordOfCom5();
  if (!record) return;
  EXPECT_EQ(RenameDevice(record, 9, THROUGH_REGISTRY, "Rename COM Port", nullptr), 0u);
  SetJournalProgram("portmeld 1.0");
}

// As Windows names a port. Under Wine, SetupAPI told to remove a
// FriendlyName leaves it empty instead, so the bench gives one to the
// port a case renames.
void Named() { SetString(I5, "FriendlyName", "Portmeld USB UART (COM5)"); }

void PrintTo(const Case& c, std::ostream* os) { *os << c.Name; }

class Recorded : public Journal, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(Recorded, AndUndoneToTheSameBytes) {
  const Case& c = GetParam();
  if (c.Tweak) c.Tweak();
  std::string args = c.Args, profile = ScratchPath("history-profile.json");
  size_t at = args.find("%P");
  if (at != std::string::npos) {
    args.replace(at, 2, profile);
    WriteText(profile, c.Profile);
  }
  Snapshot before = TakeSnapshot();
  ProgramRun run;
  if (c.Window) {
    c.Window();
  } else {
    run = RunPortmeld(args, c.Input);
    ASSERT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  }
  Snapshot changed = TakeSnapshot();
  ASSERT_FALSE(changed == before) << "the command changed nothing";

  nlohmann::json history = History();
  ASSERT_EQ(history["history"].size(), 1u);
  const nlohmann::json& set = history["history"][0];
  EXPECT_EQ(set["id"], 1);
  EXPECT_EQ(set["command"], args);
  EXPECT_EQ(set["program"], c.Window ? "PortmeldConfigurator 1.0" : "portmeld 1.0");
  EXPECT_EQ(set["state"], "done");
  EXPECT_NE(set["user"], "");
  EXPECT_TRUE(history["warnings"].empty()) << history["warnings"];
  ExpectRecorded(set, before, changed);
  // Every change in words: only a rename's FriendlyName goes without, said
  // by the rename's line.
  for (const nlohmann::json& change : set["changes"])
    EXPECT_EQ(change["settings"].empty(), change["value"] == "FriendlyName") << change;
  ProgramRun text = RunPortmeld("history");
  EXPECT_NE(Unix(text.Out).find(c.Words), std::string::npos) << c.Words << "\nin:\n" << text.Out;

  run = RunPortmeld("undo");
  EXPECT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  ExpectOnlyChanges(before, TakeSnapshot(), {});
  history = History();
  ASSERT_EQ(history["history"].size(), 2u);
  EXPECT_EQ(history["history"][0]["command"], "undo 1");
  EXPECT_EQ(history["history"][0]["state"], "done");
  EXPECT_EQ(history["history"][1]["undoneBy"], 2);
  ExpectRecorded(history["history"][0], changed, before);
}

INSTANTIATE_TEST_SUITE_P(
    Console, Recorded,
    ::testing::Values(
        Case{"Number", "set COM5 latencyTimer=2", "", "", nullptr, nullptr,
             "  COM5  latencyTimer  16 -> 2\n"},
        Case{"OptionBit", "set COM5 serialPrinter=on", "", "", nullptr, nullptr,
             "  COM5  serialPrinter  off -> on\n"},
        Case{"AliasEntry", "set COM5 baudAlias.9600=9700", "", "", nullptr, nullptr,
             "  COM5  baudAlias.9600  9600 -> 9700.889\n"},
        Case{"SerialEnumeratorOn", "set COM5 serialEnumerator=on", "", "", nullptr, nullptr,
             "  COM5  serialEnumerator  off -> on\n"},
        Case{"SerialEnumeratorOff", "set COM6 serialEnumerator=off", "", "", nullptr, nullptr,
             "  COM6  serialEnumerator  on -> off\n"},
        Case{"BufferedWrites", "set COM5 bufferedWrites=on writeBufferSize=2048", "", "", nullptr,
             nullptr, "  COM5  bufferedWrites  off -> on\n"},
        Case{"Rename", "rename FT12AB34A COM9", "", "", Named, nullptr,
             "  COM5 -> COM9  (FT12AB34A)\n"},
        Case{"IgnoreSerial", "ignore-serial on", "", "", nullptr, nullptr,
             "  0403:6001  ignoreSerial  off -> on\n"},
        Case{"ProfileApply", "apply %P",
             R"({"schema": "portmeld-profile/1", "ports": [{"match": {"vidpid": "0403:6001"},
                 "latencyTimer": 3, "minReadTimeout": 40}]})", "", nullptr, nullptr,
             "  COM5  minReadTimeout  0 -> 40\n"},
        Case{"DscSet", "dsc set", "",
             R"({"ports":[{"match":{"serial":"FT9XK2L1A"},"latencyTimer":4}]})", nullptr, nullptr,
             "  COM6  latencyTimer  16 -> 4\n"},
        Case{"WindowApply", "Apply", "", "", nullptr, WindowApply,
             "  COM5  cancelIfPowerOff  off -> on\n"},
        Case{"WindowBaudRateMapping", "Baud Rate Mapping", "", "", nullptr,
             WindowBaudRateMapping, "  COM5  baudAlias.9600  9600 -> "},
        Case{"WindowBufferedWrites", "Buffered Writes", "", "", nullptr, WindowBufferedWrites,
             "  COM5  writeBufferSize  "},
        Case{"WindowRename", "Rename COM Port", "", "", Named, WindowRename,
             "  COM5 -> COM9  (FT12AB34A)\n"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST_F(Journal, HistoryTextAndFilters) {
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=2").ExitCode, 0u);
  ASSERT_EQ(RunPortmeld("set COM6 serialEnumerator=off").ExitCode, 0u);

  ProgramRun run = RunPortmeld("history");
  ASSERT_EQ(run.ExitCode, 0u) << run.Err;
  run.Out = Unix(run.Out);
  EXPECT_EQ(run.Out.compare(0, 4, "#2  "), 0) << run.Out;
  EXPECT_NE(run.Out.find("  set COM6 serialEnumerator=off  done, driver reloaded\n"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("  set COM5 latencyTimer=2  done, driver reloaded\n"
                         "  COM5  latencyTimer  16 -> 2\n"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("  COM6  serialEnumerator  on -> off\n"), std::string::npos) << run.Out;

  const struct {
    const char* Args;
    DWORD Exit;
    std::vector<int> Ids;
  } filters[] = {{"", 0, {2, 1}},         {" all", 0, {2, 1}},   {" COM6", 0, {2}},
                 {" FT12AB34A", 0, {1}},  {" --last 1", 0, {2}}, {" COM99", 4, {}},
                 {" all --last 0", 3, {}}};
  for (const auto& f : filters) {
    run = RunPortmeld(std::string("history --json") + f.Args);
    EXPECT_EQ(run.ExitCode, f.Exit) << f.Args << run.Err;
    if (f.Exit == 3) continue;
    nlohmann::json doc = nlohmann::json::parse(run.Out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << run.Out;
    EXPECT_EQ(doc["schema"], "portmeld/1");
    std::vector<int> ids;
    for (const nlohmann::json& set : doc["history"]) ids.push_back(set["id"]);
    EXPECT_EQ(ids, f.Ids) << f.Args;
  }
}

TEST_F(Journal, UndoRefusesAValueChangedSinceUnlessForced) {
  DWORD original = ReadDword(P5, "LatencyTimer");
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=2 serialPrinter=on").ExitCode, 0u);
  Bytes config;
  DWORD type;
  ASSERT_TRUE(ReadValue(P5, "ConfigData", &config, &type));
  SetDword(P5, "LatencyTimer", 7);  // someone else, since

  ProgramRun run = RunPortmeld("undo 1 --check");
  EXPECT_EQ(run.ExitCode, 2u) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("LatencyTimer is 7 now, not 2 as change set 1 left it"), std::string::npos)
      << run.Err;
  run = RunPortmeld("undo 1");
  EXPECT_EQ(run.ExitCode, 2u) << run.Out << run.Err;
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 7u);
  Bytes restored;
  ASSERT_TRUE(ReadValue(P5, "ConfigData", &restored, &type));
  EXPECT_NE(restored, config) << "the value not changed since is put back";
  // The partial undo counts: set 1 is undone by set 2.
  run = RunPortmeld("undo 1 --force");
  EXPECT_EQ(run.ExitCode, 3u) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("change set 1 is already undone by 2"), std::string::npos) << run.Err;

  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=3").ExitCode, 0u);  // set 3
  SetDword(P5, "LatencyTimer", 9);
  EXPECT_EQ(RunPortmeld("undo").ExitCode, 2u);
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 9u);
  run = RunPortmeld("undo 3 --force");
  EXPECT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 7u);  // set 3 found 7
  (void)original;
}

TEST_F(Journal, UndoOfAnUndoRedoes) {
  Named();
  Snapshot before = TakeSnapshot();
  ASSERT_EQ(RunPortmeld("rename FT12AB34A COM9").ExitCode, 0u);
  Snapshot renamed = TakeSnapshot();
  ASSERT_EQ(RunPortmeld("undo 1").ExitCode, 0u);
  ExpectOnlyChanges(before, TakeSnapshot(), {});
  ProgramRun run = RunPortmeld("undo 1");
  EXPECT_EQ(run.ExitCode, 3u);
  EXPECT_NE(run.Err.find("change set 1 is already undone by 2"), std::string::npos) << run.Err;
  run = RunPortmeld("undo --check");  // the newest not undone: the undo itself
  EXPECT_EQ(run.ExitCode, 1u) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("undo of change set 2"), std::string::npos) << run.Out;
  ASSERT_EQ(RunPortmeld("undo").ExitCode, 0u);
  ExpectOnlyChanges(renamed, TakeSnapshot(), {});
  EXPECT_EQ(History()["history"][0]["command"], "undo 2");
  EXPECT_EQ(RunPortmeld("undo 99").ExitCode, 3u);
  EXPECT_EQ(RunPortmeld("undo x1").ExitCode, 3u);
}

TEST_F(Journal, CutLineAndIncompleteSet) {
  DWORD original = ReadDword(P5, "LatencyTimer");
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=2").ExitCode, 0u);
  // The writer stopped before its end line, then a power cut cut a line.
  std::string text = ReadText(JournalPath);
  size_t end = text.find("{\"id\": 1, \"state\": \"done\", \"reload\": \"done\"}\n");
  ASSERT_NE(end, std::string::npos) << text;
  WriteText(JournalPath, text.substr(0, end) + "{\"id\": 2, \"time\": \"2026-12-");

  ProgramRun run = RunPortmeld("history");
  ASSERT_EQ(run.ExitCode, 0u) << run.Err;
  EXPECT_EQ(run.Out.compare(0, 9, "warning: "), 0) << run.Out;
  EXPECT_NE(run.Out.find("changes.jsonl line 2 is not valid JSON"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("set COM5 latencyTimer=2  incomplete"), std::string::npos) << run.Out;
  nlohmann::json doc = History();
  ASSERT_EQ(doc["warnings"].size(), 1u);
  ASSERT_EQ(doc["history"].size(), 1u);
  EXPECT_EQ(doc["history"][0]["state"], "incomplete");

  // Without an id undo takes only what ended; by its id the incomplete set goes back.
  run = RunPortmeld("undo");
  EXPECT_EQ(run.ExitCode, 3u) << run.Out << run.Err;
  run = RunPortmeld("undo 1");
  EXPECT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), original);
  // The next set starts on a line of its own, after the cut one.
  text = ReadText(JournalPath);
  EXPECT_NE(text.find("\"time\": \"2026-12-\n{\"id\": 3, "), std::string::npos) << text;
}

TEST_F(Journal, AccessListOfTheJournal) {
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=2").ExitCode, 0u);
  EXPECT_TRUE(History()["warnings"].empty());
  OpenToEveryone(JournalPath);
  ProgramRun run = RunPortmeld("history");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Out.compare(0, 9 + JournalPath.size(), "warning: " + JournalPath), 0) << run.Out;
  EXPECT_NE(run.Out.find("Everyone has access"), std::string::npos) << run.Out;
  // It is used as it is.
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=3").ExitCode, 0u);
  nlohmann::json doc = History();
  EXPECT_EQ(doc["history"].size(), 2u);
  EXPECT_EQ(doc["warnings"].size(), 1u);
}

TEST_F(Journal, RotatesAtFourMegabytes) {
  CreateDirectoryA(JournalDir.c_str(), nullptr);
  std::string head =
      "{\"id\": 41, \"time\": \"2026-12-01T08:00:00Z\", \"user\": \"D\\\\u\", \"program\": "
      "\"portmeld 1.0\", \"command\": \"old\", \"state\": \"begun\", \"changes\": [], \"pad\": \"";
  std::string tail = "{\"id\": 41, \"state\": \"done\"}\n";
  WriteText(JournalPath, head + std::string(4 * 1024 * 1024 - head.size(), 'x') + "\"}\n" + tail);
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=2").ExitCode, 0u);
  EXPECT_EQ(ReadText(RotatedPath).size(), 4u * 1024 * 1024 + 3 + tail.size());
  EXPECT_EQ(ReadText(JournalPath).compare(0, 12, "{\"id\": 42, \""), 0);
  nlohmann::json doc = History();
  std::vector<int> ids;
  for (const nlohmann::json& set : doc["history"]) ids.push_back(set["id"]);
  EXPECT_EQ(ids, (std::vector<int>{42, 41}));
}

TEST_F(Journal, CannotBeWrittenOrNotWanted) {
  CreateDirectoryA(JournalDir.c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryA(JournalPath.c_str(), nullptr));  // not a file: cannot be opened
  Snapshot before = TakeSnapshot();
  ProgramRun run = RunPortmeld("set COM5 latencyTimer=2");
  EXPECT_EQ(run.ExitCode, 2u) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("journal cannot be written"), std::string::npos) << run.Err;
  ExpectOnlyChanges(before, TakeSnapshot(), {});

  run = RunPortmeld("set COM5 latencyTimer=2 --no-journal");
  EXPECT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 2u);
  RemoveDirectoryA(JournalPath.c_str());
  EXPECT_EQ(GetFileAttributesA(JournalPath.c_str()), INVALID_FILE_ATTRIBUTES);

  // undo, too, writes nothing it cannot record.
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=3").ExitCode, 0u);
  std::string text = ReadText(JournalPath);
  DeleteFileA(JournalPath.c_str());
  CreateDirectoryA(JournalPath.c_str(), nullptr);
  run = RunPortmeld("undo 1");
  EXPECT_NE(run.ExitCode, 0u) << run.Out << run.Err;  // the journal cannot even be read
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 3u);
  RemoveDirectoryA(JournalPath.c_str());
  WriteText(JournalPath, text);
  OpenToEveryone(JournalPath);  // readable, and used as it is
}

TEST_F(Journal, WritableProfileRefused) {
  std::string profile = ScratchPath("history-writable.json");
  WriteText(profile,
            R"({"schema": "portmeld-profile/1", "ports": [{"match": {}, "latencyTimer": 3}]})");
  OpenToEveryone(profile);
  Snapshot before = TakeSnapshot();
  ProgramRun run = RunPortmeld("apply " + profile);
  EXPECT_EQ(run.ExitCode, 5u) << run.Out << run.Err;
  EXPECT_NE(run.Err.find(profile + ": Everyone may change this profile"), std::string::npos)
      << run.Err;
  ExpectOnlyChanges(before, TakeSnapshot(), {});
  run = RunPortmeld("test " + profile + " --json");
  EXPECT_EQ(run.ExitCode, 1u) << run.Out << run.Err;
  nlohmann::json doc = nlohmann::json::parse(run.Out, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << run.Out;
  ASSERT_EQ(doc["warnings"].size(), 1u) << run.Out;
  run = RunPortmeld("apply " + profile + " --allow-writable-profile");
  EXPECT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 3u);
  DeleteFileA(profile.c_str());
}

TEST(Readme, UndoingAChangeStartsWithHistoryAndUndo) {
  Bytes bytes = ReadBytes("Z:" PORTMELD_README);
  std::string readme(bytes.begin(), bytes.end());
  size_t at = readme.find("\n## Undoing a change\n");
  ASSERT_NE(at, std::string::npos);
  size_t start = readme.find_first_not_of('\n', at + 21);
  std::string first = readme.substr(start, readme.find('\n', start) - start);
  EXPECT_EQ(first.compare(0, 18, "`portmeld history`"), 0) << first;
  EXPECT_NE(readme.find("`portmeld undo`", start), std::string::npos);
  EXPECT_LT(readme.find("`portmeld undo`", start), readme.find("\n\n", start));
}
