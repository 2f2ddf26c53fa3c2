#include "history/history_words.h"

typedef nlohmann::ordered_json Json;

namespace {

std::string Text(const Json& object, const char* name) {
  if (!object.is_object()) return "";
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

// A change as the journal spells it: the value's name and its images.
std::string RawLine(const Json& change) {
  std::string action = Text(change, "action");
  if (action == "remove-device") return "  " + Owner(change) + "  device removed";
  if (action == "reload-driver") return "  driver reloaded";
  if (!action.empty()) return "  " + Owner(change) + "  " + action;
  std::string what = IsSecurityChange(change) ? "owner and access list" : Text(change, "value");
  return "  " + Owner(change) + "  " + what + "  " +
         ShownJournalValue(change.value("before", Json())) + " -> " +
         ShownJournalValue(change.value("after", Json()));
}

}  // namespace

std::string SetOutcomeText(const JournalSet& set) {
  std::string text = set.State;
  if (set.Reload.is_string())
    text += ", driver reloaded";
  else if (set.Reload.is_object())
    text += ", driver not reloaded: " + Text(set.Reload, "failed");
  return text;
}

std::string SetHeadline(const JournalSet& set) {
  std::string time = Text(set.Begun, "time");
  if (time.size() > 10 && time[10] == 'T') time[10] = ' ';
  return "#" + std::to_string(set.Id) + "  " + time + "  " + Text(set.Begun, "user") + "  " +
         Text(set.Begun, "program") + "  " + Text(set.Begun, "command") + "  " +
         SetOutcomeText(set);
}

std::vector<std::string> SetChangeLines(const JournalSet& set, AccountNamer) {
  std::vector<std::string> lines;
  const Json& changes = set.Begun["changes"];
  for (const Json& change : changes)
    if (change.is_object()) lines.push_back(RawLine(change));
  for (const Json& restart : set.Restart)
    if (restart.is_object())
      lines.push_back("  " + Text(restart, "port") + "  restart  " + Text(restart, "result"));
  return lines;
}

Json ChangeSettings(const JournalSet&, size_t, AccountNamer) { return Json::array(); }

UndoAbility UndoAbilityOf(const JournalSet& set) {
  if (set.UndoneBy) return UNDO_ABLE_ALREADY_UNDONE;
  bool any = false;
  for (const Json& change : set.Begun["changes"])
    any = any || IsValueChange(change) || IsSecurityChange(change);
  if (!any) return UNDO_ABLE_NOTHING;
  if (Text(set.Begun, "command") == StartUpAccessCommand) return UNDO_ABLE_START_UP_ACCESS;
  return UNDO_ABLE;
}

std::vector<HistoryRow> HistoryRows(const JournalContents& contents, AccountNamer namer) {
  std::vector<HistoryRow> rows;
  for (auto set = contents.Sets.rbegin(); set != contents.Sets.rend(); ++set) {
    HistoryRow row;
    row.Id = set->Id;
    row.Time = Text(set->Begun, "time");
    row.User = Text(set->Begun, "user");
    row.Program = Text(set->Begun, "program");
    row.Command = Text(set->Begun, "command");
    row.State = SetOutcomeText(*set);
    row.Lines = SetChangeLines(*set, namer);
    row.Undo = UndoAbilityOf(*set);
    row.UndoneBy = set->UndoneBy;
    rows.push_back(row);
  }
  return rows;
}
