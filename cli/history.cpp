#include "cli/history.h"

#include <windows.h>
#include <stdio.h>
#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "access/file_access.h"
#include "cli/device_restarts.h"
#include "cli/journal_reader.h"
#include "cli/port_changes.h"
#include "cli/settings.h"
#include "devices/change_set.h"
#include "devices/device_names.h"
#include "devices/journal.h"
#include "devices/journal_lines.h"
#include "devices/registry_paths.h"
#include "platform/administrator.h"
#include "platform/writer_lock.h"

namespace {

// Reads one journal file whole. ERROR_SUCCESS also for a file that is not
// there (nothing recorded yet).
DWORD ReadJournalFile(const std::string& path, std::string* text) {
  text->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  char buffer[1 << 16];
  DWORD read = 0;
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
      error = GetLastError();
      break;
    }
    if (read == 0) break;
    text->append(buffer, read);
  }
  CloseHandle(file);
  return error;
}

// The older file first, so that sets come in the order they were begun.
// Warnings: a journal others may change, and lines that are none.
bool LoadJournal(JournalContents* contents, Outcome* outcome, int* code) {
  const std::string paths[] = {RotatedJournalFilePath(), JournalFilePath()};
  for (const std::string& path : paths) {
    std::string text;
    DWORD error = ReadJournalFile(path, &text);
    if (error != ERROR_SUCCESS) {
      AddError(outcome, "the change journal cannot be read", "", "", "", path, error);
      *code = error == ERROR_ACCESS_DENIED ? EXIT_NOT_ALLOWED : EXIT_FAILED;
      return false;
    }
    if (text.empty()) continue;
    OtherAccess other;
    if (FindFileAccess(path.c_str(), &other) == ERROR_SUCCESS && other.Found)
      contents->Warnings.insert(contents->Warnings.begin(),
                                path + ": " + other.Account + " has access to it through " +
                                    other.Through +
                                    ", not only SYSTEM and Administrators: what it records may "
                                    "have been changed");
    size_t slash = path.find_last_of('\\');
    ReadJournalText(text, path.substr(slash + 1), contents);
  }
  LinkUndoneSets(contents);
  return true;
}

void AddWarnings(const JournalContents& contents, Outcome* outcome) {
  Json warnings = Json::array();
  for (const std::string& warning : contents.Warnings) {
    warnings.push_back(Utf8(warning));
    outcome->Lines.push_back("warning: " + warning);
  }
  outcome->Document["warnings"] = warnings;
}

std::string Text(const Json& object, const char* name) {
  auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

// COM5, a serial, or the key's last name for a machine-wide value.
std::string Owner(const Json& change) {
  std::string name = Text(change, "port");
  if (name.empty()) name = Text(change, "serial");
  if (name.empty()) {
    std::string key = Text(change, "key");
    name = key.substr(key.find_last_of('\\') + 1);
  }
  return name;
}

std::string ChangeLine(const Json& change) {
  std::string action = Text(change, "action");
  if (action == "remove-device") return "  " + Owner(change) + "  device removed";
  if (action == "reload-driver") return "  driver reloaded";
  if (!action.empty()) return "  " + Owner(change) + "  " + action;
  return "  " + Owner(change) + "  " + Text(change, "value") + "  " +
         ShownJournalValue(change.value("before", Json())) + " -> " +
         ShownJournalValue(change.value("after", Json()));
}

const JournalSet* FindSet(const JournalContents& contents, uint64_t id) {
  auto found = contents.ById.find(id);
  return found == contents.ById.end() ? nullptr : &contents.Sets[found->second];
}

// --- undo ---------------------------------------------------------------

bool IsComDb(const std::string& key, const std::string& value) {
  return EqualsIgnoringCase(key, ComNameArbiterKeyPath) && EqualsIgnoringCase(value, "ComDB");
}

// A device's instance key ("...\FTDIBUS\VID_0403+PID_6001+FT12AB34A\0000"):
// its UpperFilters and FriendlyName are set through SetupAPI, as the
// system's tools set them. The device is named by its key.
bool InstanceProperty(const std::string& key, const std::string& value, DeviceRecord* device) {
  if (!EqualsIgnoringCase(value, "UpperFilters") && !EqualsIgnoringCase(value, "FriendlyName"))
    return false;
  std::string root = std::string(FtdibusKeyPath) + "\\";
  if (key.size() <= root.size() || !EqualsIgnoringCase(key.substr(0, root.size()), root.c_str()))
    return false;
  std::string rest = key.substr(root.size());
  size_t slash = rest.find('\\');
  if (slash == std::string::npos || rest.substr(slash) != "\\0000") return false;
  *device = DeviceRecord();
  ParseDeviceKeyName(rest.substr(0, slash).c_str(), device);
  return device->DeviceId != 0;
}

ValueImage ImageOf(const JournalValue& value) {
  ValueImage image;
  image.Present = value.Present;
  image.Type = value.Type;
  image.Data = value.Data;
  return image;
}

JournalValue JournalValueOf(const ValueImage& image) {
  JournalValue value;
  value.Present = image.Present;
  value.Type = image.Present ? image.Type : 0;
  if (image.Present) value.Data = image.Data;
  return value;
}

Json ImageJson(const JournalValue& value) {
  if (!value.Present) return nullptr;
  return {{"type", RegistryTypeName(value.Type)},
          {"data", HexOfBytes(value.Data.data(), value.Data.size())}};
}

struct UndoReport {
  Outcome* Result;
  bool JournalRefused = false;
};

// The console does not write what it cannot record: a journal that
// cannot be written refuses the set (--no-journal writes without).
int AnswerUndoReport(void* context, const Report* report) {
  UndoReport* state = static_cast<UndoReport*>(context);
  try {
    if (report->Operation == REPORT_JOURNAL) {
      state->JournalRefused = true;
      AddError(state->Result,
               "the change journal cannot be written, so nothing was (--no-journal writes "
               "without it)",
               "", "", "", JournalFilePath(), report->Error);
      return IDCANCEL;
    }
    AddError(state->Result, report->Text, report->Port, report->Serial, report->Value, report->Key,
             report->Error);
  } catch (...) {
  }
  return IDOK;
}

bool ParseId(const std::string& text, uint64_t* id) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *id = strtoull(text.c_str(), nullptr, 10);
  return *id != 0;
}

// Plans the set that puts back what `undone` wrote, reading each value now.
// Values changed since are reported and left out unless forced.
void PlanUndo(const JournalSet& undone, bool force, ChangeSet* set, Json* changes,
              Outcome* outcome) {
  std::string id = std::to_string(undone.Id);
  // Last write first: a value the set wrote twice (ComDB in a rename) goes
  // back through each step, each starting from what the one after it left.
  std::map<std::string, JournalValue> planned;
  const Json& all = undone.Begun["changes"];
  for (auto entry = all.rbegin(); entry != all.rend(); ++entry) {
    const Json& change = *entry;
    if (!change.is_object()) continue;
    std::string port = Text(change, "port"), serial = Text(change, "serial");
    if (!IsValueChange(change)) {
      outcome->Lines.push_back(ChangeLine(change) + ": cannot be undone");
      continue;
    }
    std::string key = Text(change, "key"), value = Text(change, "value");
    if (key.compare(0, 5, "HKLM\\") == 0) key = key.substr(5);
    JournalValue before, after;
    if (!ParseJournalValue(change.value("before", Json()), &before) ||
        !ParseJournalValue(change.value("after", Json()), &after) || key.empty()) {
      AddError(outcome, "change set " + id + " records " + value + " unreadably: left alone", port,
               serial, value, key, 0);
      continue;
    }
    std::string name = key + "|" + value;
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    ValueImage now;
    LONG rc =
        planned.count(name) ? ERROR_SUCCESS : ReadValueImage(key.c_str(), value.c_str(), &now);
    if (planned.count(name)) now = ImageOf(planned[name]);
    if (rc != ERROR_SUCCESS) {
      AddError(outcome, "cannot read " + value + ": left alone", port, serial, value, key,
               (unsigned long)rc);
      continue;
    }
    JournalValue current = JournalValueOf(now), write;
    UndoStep step = IsComDb(key, value) ? PlanComDbUndo(current, before, after, force, &write)
                                        : PlanValueUndo(current, before, after, force, &write);
    if (step == UNDO_NOTHING) continue;
    if (step == UNDO_CONFLICT) {
      Json shown = ImageJson(current);
      AddError(outcome,
               value + " is " + ShownJournalValue(shown) + " now, not " +
                   ShownJournalValue(change.value("after", Json())) + " as change set " + id +
                   " left it: left alone (--force puts it back anyway)",
               port, serial, value, key, 0);
      continue;
    }
    planned[name] = write;
    ValueChange undo;
    undo.Port = port;
    undo.Serial = serial;
    undo.Key = key;
    undo.Value = value;
    undo.Before = now;
    undo.After = ImageOf(write);
    undo.Group = (int)set->Changes.size() + 1;  // one value failing keeps no other back
    if (InstanceProperty(key, value, &undo.Device)) undo.Writer = THROUGH_SETUPAPI;
    set->Changes.push_back(undo);
    changes->push_back({{"port", port},
                        {"serial", serial},
                        {"key", "HKLM\\" + key},
                        {"value", value},
                        {"before", ImageJson(current)},
                        {"after", ImageJson(write)}});
  }
}

}  // namespace

int RunHistory(const CommandLine& line, Outcome* outcome) {
  if (line.Last < 1) return Refuse(outcome, EXIT_BAD_INPUT, "--last takes a number from 1 on");
  JournalContents contents;
  int code = EXIT_DONE;
  if (!LoadJournal(&contents, outcome, &code)) {
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
                  {"time", Text(begun, "time")},
                  {"user", Text(begun, "user")},
                  {"program", Text(begun, "program")},
                  {"command", Text(begun, "command")},
                  {"state", set->State},
                  {"changes", begun["changes"]}};
    if (set->State == "partial") entry["failed"] = set->Failed;
    if (set->UndoneBy) entry["undoneBy"] = set->UndoneBy;
    if (!set->Restart.empty()) entry["restart"] = set->Restart;
    history.push_back(entry);
    std::string time = Text(begun, "time");
    if (time.size() > 10 && time[10] == 'T') time[10] = ' ';
    outcome->Lines.push_back("#" + std::to_string(set->Id) + "  " + time + "  " +
                             Text(begun, "user") + "  " + Text(begun, "program") + "  " +
                             Text(begun, "command") + "  " + set->State);
    for (const Json& change : begun["changes"])
      if (change.is_object()) outcome->Lines.push_back(ChangeLine(change));
    for (const Json& restart : set->Restart)
      if (restart.is_object())
        outcome->Lines.push_back("  " + Text(restart, "port") + "  restart  " + Text(restart, "result"));
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
  uint64_t wanted = 0;
  if (!line.ChangeId.empty() && !ParseId(line.ChangeId, &wanted))
    return Refuse(outcome, EXIT_BAD_INPUT,
                  "undo takes the number of a change set (portmeld history lists them), not '" +
                      line.ChangeId + "'");
  // The lock is held from reading the journal to the last write: two
  // undos of one set must not both find it not undone yet.
  WriterLock lock = {nullptr};
  if (!line.Check) {
    DWORD rc = AcquireWriterLock((DWORD)(line.WaitSeconds * 1000), &lock);
    if (rc == WAIT_TIMEOUT) return Refuse(outcome, EXIT_FAILED, WriterLockBusyText);
    if (rc != ERROR_SUCCESS)
      return Refuse(outcome, EXIT_FAILED,
                    "the writer lock cannot be taken (Win32 error " + std::to_string(rc) + ")");
  }
  struct Unlock {
    WriterLock* Lock;
    ~Unlock() { ReleaseWriterLock(Lock); }
  } unlock = {&lock};

  JournalContents contents;
  int code = EXIT_DONE;
  if (!LoadJournal(&contents, outcome, &code)) {
    Finish(outcome);
    return code;
  }
  for (const std::string& warning : contents.Warnings)
    fprintf(stderr, "portmeld: warning: %s\n", warning.c_str());
  Json warnings = Json::array();
  for (const std::string& warning : contents.Warnings) warnings.push_back(Utf8(warning));
  outcome->Document["warnings"] = warnings;

  const JournalSet* undone = wanted ? FindSet(contents, wanted) : NewestUndoable(contents);
  if (!undone)
    return Refuse(outcome, EXIT_BAD_INPUT,
                  wanted ? "the journal holds no change set " + line.ChangeId
                         : std::string("the journal holds no change set to undo"));
  std::string id = std::to_string(undone->Id);
  if (undone->UndoneBy)
    return Refuse(outcome, EXIT_BAD_INPUT,
                  "change set " + id + " is already undone by " + std::to_string(undone->UndoneBy));
  bool anyValue = false;
  for (const Json& change : undone->Begun["changes"]) anyValue = anyValue || IsValueChange(change);
  if (!anyValue)
    return Refuse(
        outcome, EXIT_BAD_INPUT,
        "change set " + id + " removed devices or reloaded the driver only: that cannot be undone");
  outcome->Document["undo"] = undone->Id;
  outcome->Lines.push_back("undo of change set " + id + " (" + Text(undone->Begun, "command") +
                           ", " + undone->State + ")");

  ChangeSet set;
  set.Command = "undo " + id;
  Json changes = Json::array();
  PlanUndo(*undone, line.Force, &set, &changes, outcome);
  outcome->Document["changes"] = changes;
  if (set.Changes.empty()) {
    outcome->Lines.push_back("  nothing to put back");
    return Finish(outcome);
  }
  auto shownChange = [](const ValueChange& change) {
    Json before = ImageJson(JournalValueOf(change.Before)),
         after = ImageJson(JournalValueOf(change.After));
    return "  " +
           (change.Port.empty() ? change.Key.substr(change.Key.find_last_of('\\') + 1)
                                : change.Port) +
           "  " + change.Value + "  " + ShownJournalValue(before) + " -> " +
           ShownJournalValue(after);
  };
  if (line.Check) {
    outcome->Changed = true;
    for (const ValueChange& change : set.Changes) outcome->Lines.push_back(shownChange(change));
    return Finish(outcome);
  }
  UndoReport answers = {outcome};
  Reporter reporter = {AnswerUndoReport, &answers};
  CommitChangeSet(&set, &reporter);
  if (!answers.JournalRefused) {
    std::vector<bool> failed(set.Changes.size(), false);
    for (const FailedChange& failure : set.Failed) {
      if (failure.Index >= set.Changes.size()) continue;
      failed[failure.Index] = true;
      const ValueChange& change = set.Changes[failure.Index];
      AddError(outcome, "cannot put " + change.Value + " back", change.Port, change.Serial,
               change.Value, change.Key, failure.Error);
    }
    for (size_t i = 0; i < set.Changes.size(); ++i) {
      if (failed[i]) continue;
      outcome->Changed = true;
      outcome->Lines.push_back(shownChange(set.Changes[i]));
    }
    if (set.JournalId) outcome->Document["id"] = set.JournalId;
  }
  ReleaseWriterLock(&lock);
  std::vector<std::string> written;  // the devices' key names
  for (const ValueChange& change : set.Changes) {
    size_t bus = change.Key.find("FTDIBUS\\");
    if (change.Written && bus != std::string::npos)
      written.push_back(change.Key.substr(bus + 8, change.Key.find('\\', bus + 8) - bus - 8));
  }
  AfterWrites(line, written, set.JournalId, outcome);
  return Finish(outcome);
}
