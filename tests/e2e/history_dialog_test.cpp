// The Change History dialog's stories, each from a journal the program
// itself wrote: COM5's latency timer set from 16 to 3 by Apply (set 2,
// after the start's own access set 1). The journal as the dialog lists it
// (nothing recorded, a bad line, unreadable, a set it cannot undo), and
// Undo with its questions: the Main window's pending edits, a value changed
// since, "Undo anyway".
#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "history/history_dialog_ids.h"
#include "listview_remote.h"
#include "main_window_ids.h"
#include "runner/process_runner.h"
#include "stories.h"

namespace {

const uint32_t Ft232r = 0x04036001;
std::string Com5Params() { return DeviceKey(Ft232r, "FT12AB34A", true); }

// Columns of the list, in the dialog's order.
enum { ID_COLUMN, TIME_COLUMN, USER_COLUMN, PROGRAM_COLUMN, COMMAND_COLUMN, STATE_COLUMN };

const char Question[] = "Undo change set 2? The values it changed are put back.";
const char CancelQuestion[] = "Abort Configuration?\nUnsaved Data will be lost";

std::string JournalFolder() {
  char folder[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA("ProgramData", folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return "C:\\ProgramData\\Portmeld";
  return std::string(folder) + "\\Portmeld";
}
std::string JournalFile() { return JournalFolder() + "\\changes.jsonl"; }

// No journal at all: both files gone, and a folder in the file's place too.
void RemoveJournal() {
  DeleteFileA(JournalFile().c_str());
  DeleteFileA((JournalFolder() + "\\changes.1.jsonl").c_str());
  RemoveDirectoryA(JournalFile().c_str());
}

void AppendBadLine() {
  std::vector<unsigned char> bytes = ReadBytes(JournalFile());
  ASSERT_FALSE(bytes.empty()) << "the program recorded nothing";
  const std::string bad = "{\"id\": 3, \"state\": \"beg\n";
  bytes.insert(bytes.end(), bad.begin(), bad.end());
  ASSERT_TRUE(WriteBytes(JournalFile(), bytes));
}

// A folder where the file should be: opening it for reading is refused.
void MakeJournalUnreadable() {
  RemoveJournal();
  ASSERT_TRUE(CreateDirectoryA(JournalFile().c_str(), nullptr));
}

// Someone else changes the value after Apply.
void LatencyChangedSince() { SetDword(Com5Params(), "LatencyTimer", 7); }

// The shared story: COM5 attached, its latency timer applied as 3 (set 2).
const std::vector<Step> ApplyLatency3 = Then(Start, {
    {Do::SelectRow, IDL_DEVICES, "0"},
    {Do::Type, IDE_LATENCY_TIMER, "3"},
    {Do::Click, IDB_APPLY},
    {Do::NoMessage},
});

const std::vector<Step> OpenHistory = {
    {Do::Window, MainTitle},
    {Do::Command, IDM_CHANGE_HISTORY},
    {Do::Window, CHANGE_HISTORY_TITLE},
    {Do::NoMessage},
};

class HistoryScenario : public E2eScenario {
 protected:
  void SetUp() override {
    E2eScenario::SetUp();
    RemoveJournal();
    AddRegisteredDevice(Ft232r, "FT12AB34A", "COM5");
    WriteStandinDevices("device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n");
  }
  void TearDown() override {
    E2eScenario::TearDown();
    RemoveJournal();  // the folder in the file's place would stop the next tests' writes
  }

  std::string Cell(int row, int column) {
    std::string text = "(unread)";
    if (!ReadListViewCell(&App, IDV_CHANGE_SETS, row, column, &text)) ADD_FAILURE() << App.Error;
    return text;
  }
  int SetCount() {
    int count = -1;
    if (!ReadListViewCount(&App, IDV_CHANGE_SETS, &count)) ADD_FAILURE() << App.Error;
    return count;
  }
  std::string Text(int id) {
    std::string text = "(unread)";
    if (!ReadControlText(&App, id, &text)) ADD_FAILURE() << App.Error;
    return text;
  }
  // A box of the dialog whose words are partly the core's: each part must
  // be in it; answered with OK.
  void ExpectBoxWith(const std::vector<std::string>& parts) {
    if (HasFatalFailure()) return;
    HWND box = WaitForMessageBox(&App, CHANGE_HISTORY_TITLE, WINDOW_WAIT_MS);
    ASSERT_TRUE(box) << App.Error;
    std::string text = MessageBoxText(box);
    for (const std::string& part : parts)
      EXPECT_NE(text.find(part), std::string::npos) << "'" << part << "' not in: " << text;
    ASSERT_TRUE(AnswerMessageBox(&App, IDOK)) << App.Error;
  }
};

// ---- The journal as the dialog lists it --------------------------------

struct JournalView {
  const char* Story;
  void (*Prepare)();   // after Apply, before the dialog opens; nullptr: as written
  int SelectRow;       // the row selected then; -1 leaves the dialog's choice
  int Sets;            // rows listed
  const char* Warning;  // a part of the text above the list; "" for none
  const char* Reason;   // a part of the text under the list; "" for none
  bool UndoEnabled;
};

const JournalView JournalViews[] = {
    {"NothingRecorded", RemoveJournal, -1, 0, "", "No changes recorded yet.", false},
    {"ABadLine", AppendBadLine, -1, 2, "changes.jsonl line 5 is not valid JSON", "", true},
    {"Unreadable", MakeJournalUnreadable, -1, 0, "",
     "The change journal cannot be read: C:\\ProgramData\\Portmeld\\changes.jsonl: ", false},
    {"StartUpAccessSet", nullptr, 1, 2, "",
     "Change set 1 gave this program the access lists it needs", false},
};

void PrintTo(const JournalView& view, std::ostream* out) { *out << view.Story; }

class HistoryJournal : public HistoryScenario,
                       public ::testing::WithParamInterface<JournalView> {};

TEST_P(HistoryJournal, IsListedAsItIs) {
  const JournalView& view = GetParam();
  Run(ApplyLatency3);
  if (view.Prepare) view.Prepare();
  Run(OpenHistory);
  if (view.SelectRow != -1 && !SelectListViewRows(&App, IDV_CHANGE_SETS, {view.SelectRow}))
    FAIL() << App.Error;
  EXPECT_EQ(view.Sets, SetCount());
  std::string warnings = Text(IDT_HISTORY_WARNINGS), reason = Text(IDT_UNDO_REASON);
  if (*view.Warning)
    EXPECT_NE(warnings.find(view.Warning), std::string::npos) << warnings;
  else
    EXPECT_EQ("", warnings);
  if (*view.Reason)
    EXPECT_NE(reason.find(view.Reason), std::string::npos) << reason;
  else
    EXPECT_EQ("", reason);
  Run({{view.UndoEnabled ? Do::ExpectEnabled : Do::ExpectDisabled, IDB_UNDO},
       {Do::ExpectDisabled, IDB_UNDO_ANYWAY},
       {Do::Key, VK_ESCAPE},
       {Do::Window, MainTitle},
       {Do::NoMessage}});
  Run(CancelAndExit);
}

INSTANTIATE_TEST_SUITE_P(Views, HistoryJournal, ::testing::ValuesIn(JournalViews),
                         [](const ::testing::TestParamInfo<JournalView>& info) {
                           return std::string(info.param.Story);
                         });

// ---- Undo ---------------------------------------------------------------

struct UndoStory {
  const char* Story;
  void (*Meanwhile)();           // another program's write after Apply; nullptr for none
  const char* TypedLatency;      // typed into the Main window and not applied; nullptr for none
  std::vector<Step> Before;      // in the dialog, up to a box whose text is partly the core's
  std::vector<std::string> Box;  // parts of that box, answered OK; empty when none comes
  std::vector<Step> After;       // in the dialog after it
  DWORD Latency;                 // LatencyTimer in the registry at the end
  const char* Shown;             // the Main window's field at the end
  int Reloads;                   // FT_Reload calls, Apply's included
  const char* Newest;            // the command of the list's first row at the end
  const char* Reason;            // the text under the list, set 2 selected, at the end
};

const UndoStory UndoStories[] = {
    {"OkPutsTheSetBackAndTheWindowShowsIt", nullptr, nullptr,
     {{Do::Click, IDB_UNDO}, {Do::Message, IDOK, Question, CHANGE_HISTORY_TITLE}, {Do::NoMessage}},
     {}, {{Do::ExpectDisabled, IDB_UNDO}},
     16, "16", 2, "undo 2", "Change set 2 is already undone by change set 3."},
    {"CancelAtTheQuestionWritesNothing", nullptr, nullptr,
     {{Do::Click, IDB_UNDO}, {Do::Message, IDCANCEL, Question, CHANGE_HISTORY_TITLE},
      {Do::NoMessage}},
     {}, {{Do::ExpectEnabled, IDB_UNDO}},
     3, "3", 1, "Apply", ""},
    {"AValueChangedSinceIsLeftAloneThenUndoneAnyway", LatencyChangedSince, nullptr,
     {{Do::ExpectDisabled, IDB_UNDO_ANYWAY},
      {Do::Click, IDB_UNDO},
      {Do::Message, IDOK, Question, CHANGE_HISTORY_TITLE}},
     {"Change set 2 was not undone", "COM5", "7 now, not 3", "\"Undo anyway\" puts them back too."},
     {{Do::NoMessage},
      {Do::ExpectEnabled, IDB_UNDO_ANYWAY},
      {Do::Click, IDB_UNDO_ANYWAY},
      {Do::Message, IDOK,
       "Undo change set 2 anyway? The values changed since it are put back to what it found too.",
       CHANGE_HISTORY_TITLE},
      {Do::NoMessage},
      {Do::ExpectDisabled, IDB_UNDO_ANYWAY}},
     16, "16", 2, "undo 2", "Change set 2 is already undone by change set 3."},
    {"PendingEditsKeptUndoesNothing", nullptr, "9",
     {{Do::Click, IDB_UNDO},
      {Do::Message, IDOK, Question, CHANGE_HISTORY_TITLE},
      {Do::Message, IDCANCEL, CancelQuestion, "Warning"},
      {Do::NoMessage}},
     {}, {},
     3, "9", 1, "Apply", ""},
    {"PendingEditsGivenUpTheWindowShowsTheRegistry", nullptr, "9",
     {{Do::Click, IDB_UNDO},
      {Do::Message, IDOK, Question, CHANGE_HISTORY_TITLE},
      {Do::Message, IDOK, CancelQuestion, "Warning"},
      {Do::NoMessage}},
     {}, {},
     16, "16", 2, "undo 2", "Change set 2 is already undone by change set 3."},
};

void PrintTo(const UndoStory& story, std::ostream* out) { *out << story.Story; }

class HistoryUndo : public HistoryScenario, public ::testing::WithParamInterface<UndoStory> {};

TEST_P(HistoryUndo, FollowsTheStory) {
  const UndoStory& story = GetParam();
  Run(ApplyLatency3);
  if (story.Meanwhile) story.Meanwhile();
  if (story.TypedLatency) Run({{Do::Type, IDE_LATENCY_TIMER, story.TypedLatency}});
  Run(OpenHistory);
  EXPECT_EQ("#2", Cell(0, ID_COLUMN));
  EXPECT_EQ("Apply", Cell(0, COMMAND_COLUMN));
  Run(story.Before);
  if (!story.Box.empty()) ExpectBoxWith(story.Box);
  Run(story.After);
  EXPECT_EQ(story.Newest, Cell(0, COMMAND_COLUMN));
  Run({{Do::ExpectText, IDT_UNDO_REASON, story.Reason},
       {Do::Key, VK_ESCAPE},
       {Do::Window, MainTitle},
       {Do::NoMessage},
       {Do::ExpectText, IDE_LATENCY_TIMER, story.Shown}});
  EXPECT_EQ(story.Latency, ReadDword(Com5Params(), "LatencyTimer"));
  EXPECT_EQ(story.Reloads, CountStandinCalls("FT_Reload"));
  Run(CancelAndExit);
}

INSTANTIATE_TEST_SUITE_P(Stories, HistoryUndo, ::testing::ValuesIn(UndoStories),
                         [](const ::testing::TestParamInfo<UndoStory>& info) {
                           return std::string(info.param.Story);
                         });

// ---- The list itself ----------------------------------------------------

// The recorded UTC time of a set, as the journal's begun line holds it.
std::string RecordedTime(int id) {
  std::vector<unsigned char> bytes = ReadBytes(JournalFile());
  std::string text(bytes.begin(), bytes.end());
  size_t line = text.find("{\"id\": " + std::to_string(id) + ", \"time\": \"");
  return line == std::string::npos ? "" : text.substr(text.find("\"time\": \"", line) + 9, 20);
}

// "2026-12-09T09:12:40Z" as this machine's local time says it.
std::string LocalTime(const std::string& utc) {
  SYSTEMTIME time = {}, local = {};
  if (sscanf(utc.c_str(), "%4hu-%2hu-%2huT%2hu:%2hu:%2hu", &time.wYear, &time.wMonth, &time.wDay,
             &time.wHour, &time.wMinute, &time.wSecond) != 6 ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &time, &local))
    return "(no time)";
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth,
           local.wDay, local.wHour, local.wMinute, local.wSecond);
  return text;
}

// Sets of both programs, newest first, each with its local time, program
// and command; the selected set's lines below.
TEST_F(HistoryScenario, ListsTheSetsOfBothProgramsNewestFirst) {
  Run(ApplyLatency3);
  Launch launch;
  launch.Exe = ExeDirectory() + "\\portmeld.exe";
  launch.Args = "set COM5 serialPrinter=on --no-reload";
  launch.OutPath = ResultsDirectory() + "\\e2e-output\\" + CurrentTestName() + "-portmeld.txt";
  launch.Detached = true;
  ProcessResult run = RunProcess(launch, 30000);
  ASSERT_TRUE(run.Ended && run.ExitCode == 0) << run.Error << run.Out;

  Run(OpenHistory);
  ASSERT_EQ(3, SetCount());
  EXPECT_EQ("#3", Cell(0, ID_COLUMN));
  EXPECT_EQ("portmeld 1.0", Cell(0, PROGRAM_COLUMN));
  EXPECT_EQ("set COM5 serialPrinter=on --no-reload", Cell(0, COMMAND_COLUMN));
  EXPECT_EQ("done", Cell(0, STATE_COLUMN));
  EXPECT_EQ("#2", Cell(1, ID_COLUMN));
  EXPECT_EQ("PortmeldConfigurator 1.0", Cell(1, PROGRAM_COLUMN));
  EXPECT_EQ("done, driver reloaded", Cell(1, STATE_COLUMN));
  EXPECT_EQ(LocalTime(RecordedTime(2)), Cell(1, TIME_COLUMN));
  EXPECT_FALSE(Cell(1, USER_COLUMN).empty());
  EXPECT_EQ("Start-up access", Cell(2, COMMAND_COLUMN));

  ASSERT_TRUE(SelectListViewRows(&App, IDV_CHANGE_SETS, {1})) << App.Error;
  std::string lines = Text(IDE_SET_LINES);
  EXPECT_EQ(0u, lines.find("  COM5  latencyTimer  16 -> 3")) << lines;
  Run({{Do::ExpectText, IDT_UNDO_REASON, ""}, {Do::ExpectEnabled, IDB_UNDO}, {Do::CloseBox},
       {Do::Window, MainTitle}});
  Run(CancelAndExit);
}

}  // namespace
