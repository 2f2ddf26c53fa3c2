#include "cli/history.h"

#include <windows.h>
#include <stdio.h>
#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "cli/device_restarts.h"
#include "history/history_words.h"
#include "history/journal_file.h"
#include "history/journal_reader.h"
#include "history/undo.h"
#include "cli/port_changes.h"
#include "history/port_settings.h"
#include "devices/change_set.h"
#include "devices/device_names.h"
#include "devices/journal.h"
#include "devices/journal_lines.h"
#include "devices/registry_paths.h"
#include "platform/administrator.h"

namespace {

// The journal's sets, or false with the error in the outcome.
bool LoadJournalInto(JournalContents* contents, Outcome* outcome, int* code) {
  std::string path;
  DWORD error = LoadJournal(contents, &path);
  if (error == ERROR_SUCCESS) return true;
  AddError(outcome, "the change journal cannot be read", "", "", "", path, error);
  *code = error == ERROR_ACCESS_DENIED ? EXIT_NOT_ALLOWED : EXIT_FAILED;
  return false;
}

void AddWarnings(const JournalContents& contents, Outcome* outcome) {
  Json warnings = Json::array();
  for (const std::string& warning : contents.Warnings) {
    warnings.push_back(Utf8(warning));
    outcome->Lines.push_back("warning: " + warning);
  }
  outcome->Document["warnings"] = warnings;
}

// The journal's changes as they are, each with the settings it changed.
Json ChangesWithSettings(const JournalSet& set) {
  Json changes = set.Begun["changes"];
  for (size_t i = 0; i < changes.size(); ++i)
    if (changes[i].is_object()) changes[i]["settings"] = ChangeSettings(set, i, LocalAccountName);
  return changes;
}

bool ParseId(const std::string& text, uint64_t* id) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *id = strtoull(text.c_str(), nullptr, 10);
  return *id != 0;
}

// The undo's outcome: refusals, what was left alone, what was written.
int RenderUndo(const CommandLine& line, const UndoResult& result, Outcome* outcome) {
  std::string id = std::to_string(result.UndoneId);
  switch (result.Refusal) {
    case UNDO_JOURNAL_UNREADABLE:
      AddError(outcome, "the change journal cannot be read", "", "", "", result.JournalPath,
               result.JournalError);
      Finish(outcome);
      return result.JournalError == ERROR_ACCESS_DENIED ? EXIT_NOT_ALLOWED : EXIT_FAILED;
    case UNDO_NO_SET:
      return Refuse(outcome, EXIT_BAD_INPUT,
                    line.ChangeId.empty() ? std::string("the journal holds no change set to undo")
                                          : "the journal holds no change set " + line.ChangeId);
    case UNDO_ALREADY_UNDONE:
      return Refuse(outcome, EXIT_BAD_INPUT,
                    "change set " + id + " is already undone by " +
                        std::to_string(result.UndoneBy));
    case UNDO_CANNOT_BE_UNDONE:
      return Refuse(outcome, EXIT_BAD_INPUT,
                    "change set " + id +
                        " removed devices or reloaded the driver only: that cannot be undone");
    case UNDO_WITHHELD:
      return Finish(outcome);
    case UNDO_PLANNED:
      break;
  }
  outcome->Document["undo"] = result.UndoneId;
  outcome->Lines.push_back("undo of change set " + id + " (" + result.UndoneCommand + ", " +
                           result.UndoneState + ")");
  for (const Json& change : result.NotUndoable)
    outcome->Lines.push_back(JournalChangeLine(change) + ": cannot be undone");
  for (const UndoIssue& issue : result.Issues)
    AddError(outcome,
             issue.ForceHint ? issue.Message + " (" + issue.ForceHint + ")" : issue.Message,
             issue.Port, issue.Serial, issue.Value, issue.Key, issue.Error);
  const ChangeSet& set = result.Set;
  std::vector<bool> failed(set.Changes.size(), false);
  for (const FailedChange& failure : set.Failed) {
    if (failure.Index >= set.Changes.size()) continue;
    failed[failure.Index] = true;
    const ValueChange& change = set.Changes[failure.Index];
    AddError(outcome, (failure.Unread ? "cannot read " : "cannot put back ") + change.Value,
             change.Port, change.Serial, change.Value, change.Key, failure.Error);
  }
  // What was put back, in the words of history.
  JournalSet written;
  written.Begun["changes"] = Json::array();
  for (size_t i = 0; i < set.Changes.size(); ++i) {
    if (failed[i] || (!line.Check && !set.Changes[i].Written)) continue;
    outcome->Changed = true;
    written.Begun["changes"].push_back(Json::parse(JournalEntryText(set.Changes[i])));
  }
  for (const std::string& text : SetChangeLines(written, LocalAccountName))
    outcome->Lines.push_back(text);
  Json changes = ChangesWithSettings(written);
  outcome->Document["changes"] = changes;
  if (changes.empty() && result.Issues.empty() && set.Failed.empty())
    outcome->Lines.push_back("  nothing to put back");
  if (set.JournalId) outcome->Document["id"] = set.JournalId;
  RenderReload(set, outcome);
  return Finish(outcome);
}

}  // namespace

int RunHistory(const CommandLine& line, Outcome* outcome) {
  if (line.Last < 1) return Refuse(outcome, EXIT_BAD_INPUT, "--last takes a number from 1 on");
  JournalContents contents;
  int code = EXIT_DONE;
  if (!LoadJournalInto(&contents, outcome, &code)) {
    outcome->Document = Json{{"schema", "portmeld/1"},
                             {"history", Json::array()},
                             {"warnings", Json::array()},
                             {"errors", outcome->Document["errors"]}};
    Finish(outcome);
    return code;
  }
  bool everyPort = line.Port.empty() || EqualsIgnoringCase(line.Port, "all");
  Json history = Json::array();
  int shown = 0;
  bool matched = false;
  for (auto set = contents.Sets.rbegin(); set != contents.Sets.rend(); ++set) {
    if (!everyPort && !SetTouches(*set, line.Port)) continue;
    matched = true;
    if (shown++ == line.Last) break;
    const Json& begun = set->Begun;
    Json entry = {{"id", set->Id},
                  {"time", JsonText(begun, "time")},
                  {"user", JsonText(begun, "user")},
                  {"program", JsonText(begun, "program")},
                  {"command", JsonText(begun, "command")},
                  {"state", set->State},
                  {"changes", ChangesWithSettings(*set)}};
    if (set->State == "partial") entry["failed"] = set->Failed;
    if (set->UndoneBy) entry["undoneBy"] = set->UndoneBy;
    if (!set->Restart.empty()) entry["restart"] = set->Restart;
    if (!set->Reload.is_null()) entry["reload"] = set->Reload;
    history.push_back(entry);
    outcome->Lines.push_back(SetHeadline(*set));
    for (const std::string& text : SetChangeLines(*set, LocalAccountName))
      outcome->Lines.push_back(text);
  }
  // Warnings come first: history tells before anything else that it
  // cannot vouch for what follows.
  std::vector<std::string> lines;
  lines.swap(outcome->Lines);
  AddWarnings(contents, outcome);
  outcome->Lines.insert(outcome->Lines.end(), lines.begin(), lines.end());
  Json errors = outcome->Document["errors"];
  outcome->Document = Json{
      {"schema", "portmeld/1"}, {"history", history}, {"warnings", outcome->Document["warnings"]}};
  if (!errors.empty()) outcome->Document["errors"] = errors;
  if (!everyPort && !matched) {
    if (!outcome->JsonOutput)
      outcome->Lines.push_back("no change set in the journal touched " + line.Port);
    Finish(outcome);
    return EXIT_NO_PORT;
  }
  return Finish(outcome);
}

int RunUndo(const CommandLine& line, Outcome* outcome) {
  RestartAfterWrite restart = {&line, outcome};
  UndoRequest request = {0, line.Force, line.Check, ReloadOf(line),
                         RestartModeOf(line) == RESTART_DEVICE ? RestartWrittenDevices : nullptr,
                         &restart};
  if (!line.ChangeId.empty() && !ParseId(line.ChangeId, &request.Id))
    return Refuse(outcome, EXIT_BAD_INPUT,
                  "undo takes the number of a change set (portmeld history lists them), not '" +
                      line.ChangeId + "'");
  UndoResult result;
  Reporter reporter = OutcomeReporter(outcome);
  UndoChangeSet(request, &result, &reporter);
  for (const std::string& warning : result.Warnings)
    fprintf(stderr, "portmeld: warning: %s\n", warning.c_str());
  Json warnings = Json::array();
  for (const std::string& warning : result.Warnings) warnings.push_back(Utf8(warning));
  outcome->Document["warnings"] = warnings;
  return RenderUndo(line, result, outcome);
}
