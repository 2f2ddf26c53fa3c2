#include "history/journal_reader.h"

#include "devices/device_names.h"
#include "devices/journal_lines.h"
#include "devices/registry_paths.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

typedef nlohmann::ordered_json Json;

namespace {


int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StringField(const Json& object, const char* name, std::string* text) {
  auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return false;
  *text = found->get<std::string>();
  return true;
}

uint64_t UndoneId(const std::string& command) {
  static const char prefix[] = "undo ";
  if (command.compare(0, sizeof prefix - 1, prefix) != 0) return 0;
  std::string number = command.substr(sizeof prefix - 1);
  if (number.empty() || number.size() > 19 ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return strtoull(number.c_str(), nullptr, 10);
}

}  // namespace

std::string JsonText(const Json& object, const char* name) {
  std::string text;
  if (object.is_object()) StringField(object, name, &text);
  return text;
}

bool ParseJournalValue(const Json& image, ValueImage* value) {
  *value = ValueImage();
  if (image.is_null()) return true;
  if (!image.is_object()) return false;
  std::string type, data;
  if (!StringField(image, "type", &type) || !StringField(image, "data", &data)) return false;
  if (type == "SDDL") {
    value->Type = JOURNAL_SDDL_TYPE;
    value->Data.assign(data.begin(), data.end());
    value->Present = true;
    return true;
  }
  if (!RegistryTypeOfName(type, &value->Type) || data.size() % 2) return false;
  for (size_t i = 0; i < data.size(); i += 2) {
    int high = HexDigit(data[i]), low = HexDigit(data[i + 1]);
    if (high < 0 || low < 0) return false;
    value->Data.push_back((unsigned char)(high * 16 + low));
  }
  value->Present = true;
  return true;
}

std::string ShownValue(const ValueImage& value) {
  if (!value.Present) return "absent";
  const std::vector<unsigned char>& d = value.Data;
  uint32_t number;
  if (DwordOfImage(value, &number)) return std::to_string(number);
  if (value.Type == 1 /* REG_SZ */ || value.Type == JOURNAL_SDDL_TYPE) {
    std::string text(d.begin(), d.end());
    return text.substr(0, text.find('\0'));
  }
  return HexOfBytes(d.data(), d.size());
}

std::string ShownJournalValue(const Json& image) {
  ValueImage value;
  if (!ParseJournalValue(image, &value)) return "?";
  bool hex = value.Present && value.Type != 1 && value.Type != JOURNAL_SDDL_TYPE &&
             !(value.Type == 4 && value.Data.size() == 4);
  return hex ? image["data"].get<std::string>() : ShownValue(value);  // as the journal spells it
}

void ReadJournalText(const std::string& text, const std::string& fileName,
                     JournalContents* contents) {
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    std::string where = fileName + " line " + std::to_string(number);
    Json entry = Json::parse(line, nullptr, false);
    if (entry.is_discarded()) {
      contents->Warnings.push_back(where + " is not valid JSON (cut short?): skipped");
      continue;
    }
    std::string state;
    auto id = entry.is_object() ? entry.find("id") : entry.end();
    // The restarts watch made after a set's writes: a line of that set, with
    // no state of its own (a command's restarts are in its end line).
    auto restart = entry.is_object() ? entry.find("restart") : entry.end();
    if (id != entry.end() && id->is_number_unsigned() && restart != entry.end() &&
        restart->is_array() && !entry.contains("state")) {
      auto found = contents->ById.find(id->get<uint64_t>());
      if (found == contents->ById.end()) {
        contents->Warnings.push_back(where + " adds restarts to change set " +
                                     std::to_string(id->get<uint64_t>()) +
                                     ", which the journal does not hold: skipped");
        continue;
      }
      for (const Json& item : *restart) contents->Sets[found->second].Restart.push_back(item);
      continue;
    }
    if (!entry.is_object() || id == entry.end() || !id->is_number_unsigned() ||
        !StringField(entry, "state", &state)) {
      contents->Warnings.push_back(where + " is not a change journal entry: skipped");
      continue;
    }
    uint64_t setId = id->get<uint64_t>();
    if (state == "begun") {
      auto changes = entry.find("changes");
      if (changes == entry.end() || !changes->is_array()) {
        contents->Warnings.push_back(where + " has no list of changes: skipped");
        continue;
      }
      JournalSet set;
      set.Id = setId;
      std::string command;
      StringField(entry, "command", &command);
      set.Undoes = UndoneId(command);
      set.Begun = std::move(entry);
      // An id seen again (a journal started afresh) names the newer set.
      contents->ById[setId] = contents->Sets.size();
      contents->Sets.push_back(std::move(set));
    } else if (state == "done" || state == "partial") {
      auto found = contents->ById.find(setId);
      if (found == contents->ById.end()) {
        contents->Warnings.push_back(where + " ends change set " + std::to_string(setId) +
                                     ", which the journal does not hold: skipped");
        continue;
      }
      JournalSet& set = contents->Sets[found->second];
      set.State = state;
      auto failed = entry.find("failed");
      if (failed != entry.end() && failed->is_array()) set.Failed = *failed;
      auto reload = entry.find("reload");
      if (reload != entry.end()) set.Reload = *reload;
      auto restarts = entry.find("restart");
      if (restarts != entry.end() && restarts->is_array())
        for (const Json& item : *restarts) set.Restart.push_back(item);
    } else {
      contents->Warnings.push_back(where + " has an unknown state '" + state + "': skipped");
    }
  }
}

void LinkUndoneSets(JournalContents* contents) {
  for (JournalSet& set : contents->Sets) {
    if (!set.Undoes || set.State == "incomplete") continue;
    auto found = contents->ById.find(set.Undoes);
    if (found == contents->ById.end()) continue;
    JournalSet& undone = contents->Sets[found->second];
    if (!undone.UndoneBy && undone.Id < set.Id) undone.UndoneBy = set.Id;
  }
}

bool IsValueChange(const Json& change) {
  return change.is_object() && !change.contains("action") && change.contains("value") &&
         change["value"].is_string();
}

bool IsSecurityChange(const Json& change) {
  if (!change.is_object() || change.contains("action") || !change.contains("value") ||
      !change["value"].is_null())
    return false;
  ValueImage after;
  return ParseJournalValue(change.value("after", Json()), &after) && after.Present &&
         after.Type == JOURNAL_SDDL_TYPE;
}

bool SetTouches(const JournalSet& set, const std::string& port) {
  for (const Json& change : set.Begun["changes"]) {
    if (!change.is_object()) continue;
    std::string name, serial;
    StringField(change, "port", &name);
    StringField(change, "serial", &serial);
    if ((!name.empty() && EqualsIgnoringCase(name, port)) ||
        (!serial.empty() && EqualsIgnoringCase(serial, port)))
      return true;
  }
  return false;
}

const JournalSet* NewestUndoable(const JournalContents& contents) {
  for (auto set = contents.Sets.rbegin(); set != contents.Sets.rend(); ++set) {
    if ((set->State != "done" && set->State != "partial") || set->UndoneBy) continue;
    // The window needs the access lists it set: undone only by its id.
    if (set->Begun.value("command", "") == StartUpAccessCommand) continue;
    for (const Json& change : set->Begun["changes"])
      if (IsValueChange(change)) return &*set;
  }
  return nullptr;
}

UndoAbility UndoAbilityOf(const JournalSet& set) {
  if (set.UndoneBy) return UNDO_ABLE_ALREADY_UNDONE;
  bool any = false;
  for (const Json& change : set.Begun["changes"])
    any = any || IsValueChange(change) || IsSecurityChange(change);
  if (!any) return UNDO_ABLE_NOTHING;
  if (JsonText(set.Begun, "command") == StartUpAccessCommand) return UNDO_ABLE_START_UP_ACCESS;
  return UNDO_ABLE;
}

UndoStep PlanValueUndo(const ValueImage& current, const ValueImage& before,
                       const ValueImage& after, bool force, ValueImage* write) {
  *write = before;
  if (current == before) return UNDO_NOTHING;
  if (current == after || force) return UNDO_WRITE;
  return UNDO_CONFLICT;
}

UndoStep PlanComDbUndo(const ValueImage& current, const ValueImage& before,
                       const ValueImage& after, bool force, ValueImage* write) {
  size_t size = std::max(before.Data.size(), after.Data.size());
  auto byte = [](const ValueImage& v, size_t i) -> unsigned char {
    return v.Present && i < v.Data.size() ? v.Data[i] : 0;
  };
  *write = current;
  if (!write->Present) {
    write->Present = true;
    write->Type = before.Present ? before.Type : after.Type;
  }
  if (write->Data.size() < size) {
    // Only grown when a number beyond its end is to be taken back.
    size_t needed = write->Data.size();
    for (size_t i = write->Data.size(); i < size; ++i)
      if ((byte(before, i) ^ byte(after, i)) & byte(before, i)) needed = i + 1;
    write->Data.resize(needed, 0);
  }
  bool conflict = false, asBefore = true;
  for (size_t i = 0; i < size; ++i) {
    unsigned char mask = byte(before, i) ^ byte(after, i);
    if ((byte(current, i) ^ byte(after, i)) & mask) conflict = true;
    if ((byte(current, i) ^ byte(before, i)) & mask) asBefore = false;
    if (i < write->Data.size())
      write->Data[i] = (unsigned char)((write->Data[i] & ~mask) | (byte(before, i) & mask));
  }
  if (asBefore) {
    *write = current;
    return UNDO_NOTHING;
  }
  if (conflict && !force) {
    *write = current;
    return UNDO_CONFLICT;
  }
  return *write == current ? UNDO_NOTHING : UNDO_WRITE;
}

std::string KeyOfChange(const Json& change) {
  std::string key;
  if (!change.is_object() || !StringField(change, "key", &key)) return "";
  return key.compare(0, 5, "HKLM\\") == 0 ? key.substr(5) : key;
}

bool IsComDbChange(const Json& change) {
  std::string value;
  return IsValueChange(change) && StringField(change, "value", &value) &&
         EqualsIgnoringCase(value, "ComDB") &&
         EqualsIgnoringCase(KeyOfChange(change), ComNameArbiterKeyPath);
}

std::vector<RecordedRename> RecordedRenames(const Json& changes) {
  static const std::string suffix = "\\Device Parameters";
  std::vector<RecordedRename> renames;
  if (!changes.is_array()) return renames;
  for (size_t i = 0; i < changes.size(); ++i) {
    const Json& change = changes[i];
    std::string value;
    if (!IsValueChange(change) || !StringField(change, "value", &value) ||
        !EqualsIgnoringCase(value, "PortName"))
      continue;
    std::string key = KeyOfChange(change);
    if (key.size() <= suffix.size() ||
        !EqualsIgnoringCase(key.substr(key.size() - suffix.size()), suffix))
      continue;
    RecordedRename rename;
    rename.PortChange = i;
    if (!ParseJournalValue(change.value("before", Json()), &rename.PortBefore) ||
        !ParseJournalValue(change.value("after", Json()), &rename.PortAfter))
      continue;
    rename.Old = ComNumberOfName(ShownValue(rename.PortBefore).c_str());
    rename.New = ComNumberOfName(ShownValue(rename.PortAfter).c_str());
    if (!rename.New) continue;  // not a rename: a value like any other
    rename.ParametersKey = key;
    rename.InstanceKey = key.substr(0, key.size() - suffix.size());
    for (size_t j = 0; j < changes.size(); ++j) {
      const Json& other = changes[j];
      std::string otherValue;
      if (IsValueChange(other) && StringField(other, "value", &otherValue) &&
          EqualsIgnoringCase(otherValue, "FriendlyName") &&
          EqualsIgnoringCase(KeyOfChange(other), rename.InstanceKey) &&
          ParseJournalValue(other.value("before", Json()), &rename.FriendlyBefore) &&
          ParseJournalValue(other.value("after", Json()), &rename.FriendlyAfter)) {
        rename.HasFriendly = true;
        rename.FriendlyChange = j;
      }
    }
    renames.push_back(rename);
  }
  return renames;
}
