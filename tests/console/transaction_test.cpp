// The one write transaction as scripts meet it: undo renames back through
// the rename rules, ComDB is undone bit by bit, a value that cannot be read
// is never recorded as absent, a rename keeps a port's own name, and a
// reload is a change set of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "console_harness.h"

namespace {

std::string PortName(const std::string& parameters) {
  Bytes data;
  DWORD type = 0;
  if (!ReadValue(parameters, "PortName", &data, &type)) return "";
  return std::string(data.begin(), data.end()).c_str();
}

std::string Friendly(const std::string& instance) {
  Bytes data;
  DWORD type = 0;
  if (!ReadValue(instance, "FriendlyName", &data, &type)) return "";
  return std::string(data.begin(), data.end()).c_str();
}

bool Reserved(int number) {
  Bytes data;
  DWORD type = 0;
  if (!ReadValue(Arbiter, "ComDB", &data, &type)) return false;
  size_t byte = (size_t)(number - 1) / 8;
  return byte < data.size() && (data[byte] >> ((number - 1) % 8)) & 1;
}

class Transaction : public OnJournalBench {};

// A step of a case: a command line, or a change another program makes
// directly.
struct Step {
  const char* Args;  // nullptr: Tweak
  DWORD Exit;
  void (*Tweak)();
  const char* Text;  // found in standard error when given
};

struct RenameCase {
  const char* Name;
  std::vector<Step> Steps;
  const char* Com5PortName;  // what the bench's COM5 (FT12AB34A) holds at the end
  int ReservedAfter;         // a number ComDB holds at the end; 0 none to check
};

void PrintTo(const RenameCase& c, std::ostream* os) { *os << c.Name; }

class RenameRules : public Transaction, public ::testing::WithParamInterface<RenameCase> {};

void GhostTakesCom5() { SetString(P7, "PortName", "COM5"); }
void ComDbReservesCom5() { SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6, 7, 8})); }

TEST_P(RenameRules, NumbersStayUnique) {
  const RenameCase& c = GetParam();
  for (const Step& step : c.Steps) {
    if (!step.Args) {
      step.Tweak();
      continue;
    }
    ProgramRun run = RunPortmeld(step.Args);
    EXPECT_EQ(run.ExitCode, step.Exit) << step.Args << "\n" << run.Out << run.Err;
    if (step.Text) {
      EXPECT_NE(run.Err.find(step.Text), std::string::npos) << step.Args << run.Err;
    }
  }
  EXPECT_EQ(PortName(P5), c.Com5PortName);
  EXPECT_NE(PortName(P5), PortName(P6)) << "two attached adapters with one number";
  if (c.ReservedAfter) {
    EXPECT_TRUE(Reserved(c.ReservedAfter));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Undo, RenameRules,
    ::testing::Values(
        RenameCase{"OldNumberTakenByAnAttachedAdapter",
                   {{"rename COM5 COM8", 0, nullptr, nullptr},
                    {"rename COM6 COM5", 0, nullptr, nullptr},
                    {"undo 1", 2, nullptr, "COM5 is held by COM5 (serial FT9XK2L1A)"},
                    {"undo 1 --force", 2, nullptr, "never taken"},
                    {"list", 0, nullptr, nullptr}},
                   "COM8", 5},
        RenameCase{"OldNumberTakenByAGhost",
                   {{"rename COM5 COM8", 0, nullptr, nullptr},
                    {nullptr, 0, GhostTakesCom5, nullptr},
                    {"undo 1", 2, nullptr, "held by COM5 (serial FT77ZZ11A)"},
                    {"undo 1 --force", 0, nullptr, nullptr}},
                   "COM5", 5},
        RenameCase{"OldNumberReservedInComDbSince",
                   {{"rename COM5 COM8", 0, nullptr, nullptr},
                    {nullptr, 0, ComDbReservesCom5, nullptr},
                    {"undo 1", 2, nullptr, "COM5 is reserved in ComDB"},
                    {"undo 1 --force", 0, nullptr, nullptr}},
                   "COM5", 5},
        RenameCase{"RenamedAgainSince",
                   {{"rename COM5 COM8", 0, nullptr, nullptr},
                    {"rename COM8 COM9", 0, nullptr, nullptr},
                    {"undo 1", 2, nullptr, "PortName is COM9 now, not COM8"}},
                   "COM9", 9},
        RenameCase{"UndoneAsARenameBack",
                   {{"rename COM5 COM8", 0, nullptr, nullptr}, {"undo", 0, nullptr, nullptr}},
                   "COM5", 5},
        RenameCase{"ForceNeverTakesAnAttachedAdaptersNumber",
                   {{"rename COM5 COM6 --force", 2, nullptr, "attached adapter COM6"}},
                   "COM5", 6},
        RenameCase{"ForceTakesAGhostsNumber",
                   {{"rename COM5 COM7", 3, nullptr, "COM7 is in use"},
                    {"rename COM5 COM7 --force", 0, nullptr, nullptr}},
                   "COM7", 7}),
    [](const ::testing::TestParamInfo<RenameCase>& info) { return info.param.Name; });

// A rename frees the old number only when no other adapter holds it; the
// undo of the renamed-back set frees the new one again.
TEST_F(Transaction, ARenameKeepsANumberAnotherAdapterHolds) {
  GhostTakesCom5();
  ASSERT_EQ(RunPortmeld("rename FT12AB34A COM8").ExitCode, 0u);
  EXPECT_TRUE(Reserved(5)) << "the ghost still holds COM5";
  EXPECT_TRUE(Reserved(8));
}

// FriendlyName keeps the text an administrator gave it; the default text
// comes out exactly as before.
TEST_F(Transaction, ARenameKeepsThePortsOwnName) {
  struct {
    const char* Before;
    const char* After;
  } cases[] = {{"Robot arm (COM5)", "Robot arm (COM8)"},
               {"USB Serial Port (COM5)", "USB Serial Port (COM8)"},
               {"Bench scale", "USB Serial Port (COM8)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Before);
    SetString(P5, "PortName", "COM5");
    SetString(I5, "FriendlyName", c.Before);
    ASSERT_EQ(RunPortmeld("rename FT12AB34A COM8").ExitCode, 0u);
    EXPECT_EQ(Friendly(I5), c.After);
    ASSERT_EQ(RunPortmeld("undo").ExitCode, 0u);
    EXPECT_EQ(Friendly(I5), c.Before) << "undo puts the name back as it was";
  }
}

// Undo of a ComDB change touches only the numbers the set changed.
TEST_F(Transaction, ComDbIsUndoneBitByBit) {
  ASSERT_EQ(RunPortmeld("remove-stale").ExitCode, 0u);  // frees COM7
  EXPECT_FALSE(Reserved(7));
  SetBinary(Arbiter, "ComDB", ComDb({1, 5, 6, 20}));  // another writer, since
  ProgramRun run = RunPortmeld("undo --no-reload");
  EXPECT_EQ(run.ExitCode, 0u) << run.Out << run.Err;
  EXPECT_TRUE(Reserved(7));
  EXPECT_TRUE(Reserved(20)) << "another writer's number stays";
}

// A value that exists but cannot be read stops its port before anything is
// written; nothing is recorded as absent, so no undo can delete it.
TEST_F(Transaction, AnUnreadableValueIsNeverRecordedAsAbsent) {
  RefuseReads(P5, true);
  ProgramRun run = RunPortmeld("set all latencyTimer=3 --json");
  RefuseReads(P5, false);
  EXPECT_EQ(run.ExitCode, 5u) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("cannot read LatencyTimer"), std::string::npos) << run.Out;
  EXPECT_EQ(ReadDword(P5, "LatencyTimer"), 16u) << "nothing of COM5 written";
  EXPECT_EQ(ReadDword(P6, "LatencyTimer"), 3u) << "the other ports go on";
  ProgramRun history = RunPortmeld("history --json");
  nlohmann::json doc = nlohmann::json::parse(history.Out, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << history.Out;
  EXPECT_EQ(doc["history"][0]["state"], "partial");
  for (const auto& change : doc["history"][0]["changes"])
    EXPECT_NE(change["serial"], "FT12AB34A") << change.dump();
}

// A reload alone is a change set of its own, and its end says how it went.
TEST_F(Transaction, AReloadIsRecorded) {
  ASSERT_EQ(RunPortmeld("reload").ExitCode, 0u);
  ASSERT_EQ(RunPortmeld("set COM5 latencyTimer=4").ExitCode, 0u);
  ProgramRun history = RunPortmeld("history --json");
  nlohmann::json doc = nlohmann::json::parse(history.Out, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << history.Out;
  ASSERT_EQ(doc["history"].size(), 2u);
  EXPECT_EQ(doc["history"][1]["command"], "reload");
  EXPECT_EQ(doc["history"][1]["changes"].size(), 0u);
  EXPECT_EQ(doc["history"][1]["reload"], "done");
  EXPECT_EQ(doc["history"][0]["reload"], "done");
  // Undo without an id passes the reload by.
  ProgramRun undo = RunPortmeld("undo --check");
  EXPECT_NE(undo.Out.find("undo of change set 2"), std::string::npos) << undo.Out;
}

}  // namespace
