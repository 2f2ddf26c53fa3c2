// The change journal in people's words: each recorded value shown as the
// settings it changed, with the names and units of `set` and the profiles;
// a rename as one line, ComDB as numbers reserved and freed, an access list
// as the accounts whose entries changed. portmeld history and the window's
// Change History print the same lines. Pure.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "history/journal_reader.h"

// An account's name for a SID as SDDL writes it ("BA", "S-1-5-32-544");
// empty when unknown. The well-known accounts are named without it.
typedef std::string (*AccountNamer)(const std::string& sid);

// A change as the journal spells it: "  COM5  LatencyTimer  16 -> 2", a
// device removed, the driver reloaded.
std::string JournalChangeLine(const nlohmann::ordered_json& change);

// How the set ended, as its header says it: "done", "partial, driver
// reloaded", "done, driver not reloaded: FTD2XX.dll is missing", with the
// devices restarted after its writes.
std::string SetOutcomeText(const JournalSet& set);
// "#14  2026-12-09 09:12:40Z  BENCH\tech  portmeld 1.0  set COM5 ...  done, driver reloaded"
std::string SetHeadline(const JournalSet& set);
// The set's changes, one line per setting changed, each with two spaces in
// front: "  COM5  serialPrinter  off -> on", "  COM6 -> COM8  (FT99XY00A)",
// "  ComDB  COM8 reserved, COM6 freed", then its device restarts.
std::vector<std::string> SetChangeLines(const JournalSet& set, AccountNamer namer = nullptr);
// The settings one change of the set changed, typed as `set` and the
// profiles type them: [{"setting": "serialPrinter", "from": false, "to": true}];
// [] for the FriendlyName that goes with a rename, and for what the table
// does not know.
nlohmann::ordered_json ChangeSettings(const JournalSet& set, size_t change,
                                      AccountNamer namer = nullptr);

// One change set as the window lists it: plain text, no JSON.
struct HistoryRow {
  uint64_t Id = 0;
  std::string Time;  // as recorded: UTC, "2026-12-09T09:12:40Z"
  std::string User, Program, Command;
  std::string State;               // SetOutcomeText
  std::vector<std::string> Lines;  // SetChangeLines
  UndoAbility Undo = UNDO_ABLE;
  uint64_t UndoneBy = 0;
};

// The journal's sets, newest first.
std::vector<HistoryRow> HistoryRows(const JournalContents& contents, AccountNamer namer = nullptr);
