#include "history/history_words.h"

#include <string.h>

#include <algorithm>

#include "comdb/comdb_bits.h"
#include "devices/config_data.h"
#include "devices/device_names.h"
#include "devices/device_record.h"
#include "devices/driver_values.h"
#include "history/port_settings.h"

typedef nlohmann::ordered_json Json;

namespace {

// What a change comes to in words: its lines and its settings.
struct Words {
  std::vector<std::string> Lines;
  Json Settings = Json::array();
};

// COM5, a serial, or the key's last name for a machine-wide value.
std::string Owner(const Json& change) {
  std::string name = JsonText(change, "port");
  if (name.empty()) name = JsonText(change, "serial");
  if (name.empty()) {
    std::string key = JsonText(change, "key");
    name = key.substr(key.find_last_of('\\') + 1);
  }
  return name;
}

}  // namespace

std::string JournalChangeLine(const Json& change) {
  std::string action = JsonText(change, "action");
  if (action == "remove-device") return "  " + Owner(change) + "  device removed";
  if (action == "reload-driver") return "  driver reloaded";
  if (!action.empty()) return "  " + Owner(change) + "  " + action;
  std::string what = IsSecurityChange(change) ? "owner and access list" : JsonText(change, "value");
  return "  " + Owner(change) + "  " + what + "  " +
         ShownJournalValue(change.value("before", Json())) + " -> " +
         ShownJournalValue(change.value("after", Json()));
}

namespace {

bool Images(const Json& change, ValueImage* before, ValueImage* after) {
  return ParseJournalValue(change.value("before", Json()), before) &&
         ParseJournalValue(change.value("after", Json()), after);
}

// A side absent, or present with that type (and, when size is not 0, that size).
bool AbsentOr(const ValueImage& image, uint32_t type, size_t size = 0) {
  return !image.Present || (image.Type == type && (size == 0 || image.Data.size() == size));
}

std::string ShownSetting(const SettingSpec& definition, const SettingValue& value) {
  return value.Known ? FormatSettingValue(definition, value) : "absent";
}

void AddSetting(const std::string& owner, const SettingSpec& definition, const SettingValue& from,
                const SettingValue& to, Words* words) {
  words->Lines.push_back("  " + owner + "  " + definition.Name + "  " +
                         ShownSetting(definition, from) + " -> " + ShownSetting(definition, to));
  words->Settings.push_back({{"setting", definition.Name},
                             {"from", SettingJson(definition, from)},
                             {"to", SettingJson(definition, to)}});
}

// A record holding the ConfigData image as far as it reaches.
DeviceRecord RecordOfConfigData(const ValueImage& image) {
  DeviceRecord record = {};
  if (!image.Present || image.Data.empty()) return record;
  memcpy(record.ConfigData, image.Data.data(), std::min(image.Data.size(), (size_t)CONFIG_DATA_SIZE));
  record.ConfigDataStored = (uint32_t)image.Data.size();
  record.KnownSettings |= KNOWN_CONFIG_DATA;
  return record;
}

// The option bits, transfer sizes and alias entries that differ; the value
// as the journal spells it as well when it changed in bits no setting
// names, and alone when a side is no ConfigData the driver would read.
bool DecodeConfigData(const Json& change, const ValueImage& before, const ValueImage& after,
                      Words* words) {
  if (!AbsentOr(before, REGISTRY_BINARY) || !AbsentOr(after, REGISTRY_BINARY)) return false;
  if ((before.Present && before.Data.size() > CONFIG_DATA_SIZE) ||
      (after.Present && after.Data.size() > CONFIG_DATA_SIZE)) {
    words->Lines.push_back(JournalChangeLine(change) + "  (longer than 64 bytes: not decoded)");
    return true;
  }
  DeviceRecord from = RecordOfConfigData(before), to = RecordOfConfigData(after);
  DeviceRecord rebuilt = from;  // before with the named settings of after
  std::string owner = Owner(change);
  for (const SettingSpec& definition : Settings) {
    if (definition.Value != VALUE_CONFIG_DATA || definition.Kind == SETTING_ALIAS_TABLE) continue;
    SettingValue a = CurrentValue(definition, from), b = CurrentValue(definition, to);
    if (b.Known) ApplySetting(definition, b, &rebuilt);
    if (!SameValue(a, b)) AddSetting(owner, definition, a, b, words);
  }
  bool rest = before.Present && after.Present &&
              memcmp(rebuilt.ConfigData, to.ConfigData, CONFIG_DATA_SIZE) != 0;
  if (rest || words->Lines.empty()) words->Lines.push_back(JournalChangeLine(change));
  return true;
}

const SettingSpec* NumberSetting(const std::string& value) {
  for (const SettingSpec& definition : Settings)
    if (definition.Kind == SETTING_NUMBER &&
        EqualsIgnoringCase(value, DriverValues[definition.Value].Name))
      return &definition;
  return nullptr;
}

bool DecodeNumber(const Json& change, const SettingSpec& definition, const ValueImage& before,
                  const ValueImage& after, Words* words) {
  if (!AbsentOr(before, REGISTRY_DWORD, 4) || !AbsentOr(after, REGISTRY_DWORD, 4)) return false;
  SettingValue from = {before.Present, 0}, to = {after.Present, 0};
  DwordOfImage(before, &from.Number);
  DwordOfImage(after, &to.Number);
  AddSetting(Owner(change), definition, from, to, words);
  return true;
}

// The names of a REG_MULTI_SZ list.
std::vector<std::string> FilterNames(const ValueImage& image) {
  std::vector<std::string> names;
  std::string name;
  for (unsigned char c : image.Data) {
    if (c) {
      name += (char)c;
    } else if (!name.empty()) {
      names.push_back(name);
      name.clear();
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

bool SerialEnumeratorOnly(const std::vector<std::string>& names) {
  return names.empty() || (names.size() == 1 && EqualsIgnoringCase(names[0], "serenum"));
}

std::string JoinedNames(const ValueImage& image, const std::vector<std::string>& names) {
  if (!image.Present) return "absent";
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text;
}

bool DecodeUpperFilters(const Json& change, const ValueImage& before, const ValueImage& after,
                        Words* words) {
  if (!AbsentOr(before, REGISTRY_MULTI_SZ) || !AbsentOr(after, REGISTRY_MULTI_SZ)) return false;
  std::vector<std::string> from = FilterNames(before), to = FilterNames(after);
  std::string owner = Owner(change);
  if (SerialEnumeratorOnly(from) && SerialEnumeratorOnly(to) && from.size() != to.size()) {
    const SettingSpec& definition = *FindSetting("serialEnumerator");
    AddSetting(owner, definition, {true, (uint32_t)from.size()}, {true, (uint32_t)to.size()},
               words);
    return true;
  }
  words->Lines.push_back("  " + owner + "  UpperFilters  " + JoinedNames(before, from) + " -> " +
                         JoinedNames(after, to));
  words->Settings.push_back({{"setting", "UpperFilters"},
                             {"from", before.Present ? Json(from) : Json(nullptr)},
                             {"to", after.Present ? Json(to) : Json(nullptr)}});
  return true;
}

// IgnoreHWSerNum04036001: the option, per VID and PID, is on while the
// value is there, whatever it holds.
bool DecodeIgnoreSerial(const std::string& value, const ValueImage& before,
                        const ValueImage& after, Words* words) {
  static const char prefix[] = "IgnoreHWSerNum";
  size_t length = sizeof prefix - 1;
  if (value.size() != length + 8 || !EqualsIgnoringCase(value.substr(0, length), prefix))
    return false;
  std::string ids = value.substr(length);
  std::string owner = ids.substr(0, 4) + ":" + ids.substr(4);
  AddSetting(owner, IgnoreSerialSetting, {true, before.Present ? 1u : 0u},
             {true, after.Present ? 1u : 0u}, words);
  words->Settings.back()["vidPid"] = owner;
  return true;
}

bool DecodeComDb(const ValueImage& before, const ValueImage& after, Words* words) {
  if (!AbsentOr(before, REGISTRY_BINARY) || !AbsentOr(after, REGISTRY_BINARY)) return false;
  size_t size = std::max(before.Data.size(), after.Data.size());
  Json reserved = Json::array(), freed = Json::array();
  std::string reservedText, freedText;
  for (int number = 1; (size_t)number <= size * 8; ++number) {
    bool a = ComNumberTaken(before.Data.data(), before.Data.size(), number);
    bool b = ComNumberTaken(after.Data.data(), after.Data.size(), number);
    if (a == b) continue;
    std::string name = "COM" + std::to_string(number);
    (b ? reserved : freed).push_back(name);
    std::string& text = b ? reservedText : freedText;
    text += (text.empty() ? "" : " ") + name;
  }
  if (reserved.empty() && freed.empty()) return false;
  std::string line = "  ComDB  ";
  if (!reservedText.empty()) line += reservedText + " reserved";
  if (!freedText.empty()) line += (reservedText.empty() ? "" : ", ") + freedText + " freed";
  words->Lines.push_back(line);
  words->Settings.push_back({{"setting", "comDB"}, {"reserved", reserved}, {"freed", freed}});
  return true;
}

// An owner and access list as SDDL: "O:BAD:P(A;OICI;KR;;;WD)(A;;KA;;;BA)".
struct Sddl {
  std::string Owner;
  std::vector<std::string> Entries;  // "A;OICI;KR;;;WD"
};

bool ParseSddl(const std::string& text, Sddl* sddl) {
  size_t at = 0;
  while (at < text.size()) {
    if (text.size() - at < 2 || text[at + 1] != ':') return false;
    char part = text[at];
    at += 2;
    if (part == 'O' || part == 'G') {
      size_t end = at;
      // up to the next part: O:, G:, D: or S:
      while (end < text.size() && !(end + 1 < text.size() && text[end + 1] == ':' &&
                                    text[end] && strchr("OGDS", text[end])))
        ++end;
      if (part == 'O') sddl->Owner = text.substr(at, end - at);
      at = end;
    } else if (part == 'D' || part == 'S') {
      while (at < text.size() && text[at] != '(' && text[at + 1 < text.size() ? at + 1 : at] != ':')
        ++at;  // the list's flags: P, AI, AR
      while (at < text.size() && text[at] == '(') {
        size_t close = text.find(')', at);
        if (close == std::string::npos) return false;
        if (part == 'D') sddl->Entries.push_back(text.substr(at + 1, close - at - 1));
        at = close + 1;
      }
    } else {
      return false;
    }
  }
  return true;
}

std::string AccountName(const std::string& sid, AccountNamer namer) {
  static const char* const known[][2] = {
      {"SY", "NT AUTHORITY\\SYSTEM"},       {"S-1-5-18", "NT AUTHORITY\\SYSTEM"},
      {"BA", "BUILTIN\\Administrators"},    {"S-1-5-32-544", "BUILTIN\\Administrators"},
      {"BU", "BUILTIN\\Users"},             {"S-1-5-32-545", "BUILTIN\\Users"},
      {"WD", "Everyone"},                   {"S-1-1-0", "Everyone"},
      {"CO", "CREATOR OWNER"},              {"S-1-3-0", "CREATOR OWNER"},
      {"AU", "NT AUTHORITY\\Authenticated Users"},
      {"S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
      {"IU", "NT AUTHORITY\\INTERACTIVE"},  {"BG", "BUILTIN\\Guests"},
      {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
       "NT SERVICE\\TrustedInstaller"}};
  for (const auto& entry : known)
    if (sid == entry[0]) return entry[1];
  std::string name = namer ? namer(sid) : "";
  return name.empty() ? sid : name;
}

// "Everyone read (and subkeys)", "deny BUILTIN\Users write".
std::string EntryWords(const std::string& entry, AccountNamer namer) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t semicolon = entry.find(';', start);
    fields.push_back(entry.substr(start, semicolon - start));
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  if (fields.size() < 6) return entry;
  const std::string &type = fields[0], &flags = fields[1], &rights = fields[2];
  static const char* const full[] = {"KA", "GA", "0x10f003f", "0xf003f", "0x1f003f"};
  static const char* const read[] = {"KR", "GR", "KX", "GX", "0x20019"};
  static const char* const write[] = {"KW", "GW", "0x20006"};
  std::string what = rights;
  for (const char* r : full)
    if (EqualsIgnoringCase(rights, r)) what = "full control";
  for (const char* r : read)
    if (EqualsIgnoringCase(rights, r)) what = "read";
  for (const char* r : write)
    if (EqualsIgnoringCase(rights, r)) what = "write";
  std::string text = (type == "D" ? "deny " : type == "A" ? "" : type + " ") +
                     AccountName(fields[5], namer) + " " + what;
  if (flags.find("IO") != std::string::npos)
    text += " (subkeys only)";
  else if (flags.find("CI") != std::string::npos)
    text += " (and subkeys)";
  return text;
}

bool DecodeAccessList(const Json& change, const ValueImage& before, const ValueImage& after,
                      AccountNamer namer, Words* words) {
  Sddl from, to;
  if (!before.Present || !after.Present ||
      !ParseSddl(std::string(before.Data.begin(), before.Data.end()), &from) ||
      !ParseSddl(std::string(after.Data.begin(), after.Data.end()), &to))
    return false;
  std::string owner = Owner(change);
  // A list set without its owner records none: the owner stayed.
  if (!from.Owner.empty() && !to.Owner.empty() && from.Owner != to.Owner) {
    std::string a = AccountName(from.Owner, namer), b = AccountName(to.Owner, namer);
    words->Lines.push_back("  " + owner + "  owner  " + a + " -> " + b);
    words->Settings.push_back({{"setting", "owner"}, {"from", a}, {"to", b}});
  }
  Json removed = Json::array(), added = Json::array();
  for (const std::string& entry : from.Entries)
    if (std::find(to.Entries.begin(), to.Entries.end(), entry) == to.Entries.end())
      removed.push_back(EntryWords(entry, namer));
  for (const std::string& entry : to.Entries)
    if (std::find(from.Entries.begin(), from.Entries.end(), entry) == from.Entries.end())
      added.push_back(EntryWords(entry, namer));
  for (const Json& entry : removed)
    words->Lines.push_back("  " + owner + "  access  " + entry.get<std::string>() + " removed");
  for (const Json& entry : added)
    words->Lines.push_back("  " + owner + "  access  " + entry.get<std::string>() + " added");
  if (!removed.empty() || !added.empty())
    words->Settings.push_back({{"setting", "access"}, {"removed", removed}, {"added", added}});
  if (words->Lines.empty()) words->Lines.push_back(JournalChangeLine(change));
  return true;
}

Words DecodeChange(const JournalSet& set, const std::vector<RecordedRename>& renames,
                   size_t index, AccountNamer namer) {
  const Json& change = set.Begun["changes"][index];
  Words words;
  ValueImage before, after;
  bool decoded = false;
  std::string value = JsonText(change, "value");
  if (IsSecurityChange(change)) {
    decoded = Images(change, &before, &after) &&
              DecodeAccessList(change, before, after, namer, &words);
  } else if (IsValueChange(change) && Images(change, &before, &after)) {
    for (const RecordedRename& rename : renames) {
      if (rename.HasFriendly && rename.FriendlyChange == index) return words;  // said by the rename
      if (rename.PortChange != index) continue;
      std::string from = rename.PortBefore.Present ? ShownValue(rename.PortBefore) : "absent";
      std::string to = ShownValue(rename.PortAfter);
      std::string serial = JsonText(change, "serial");
      words.Lines.push_back("  " + from + " -> " + to + (serial.empty() ? "" : "  (" + serial + ")"));
      words.Settings.push_back({{"setting", "port"},
                                {"from", rename.PortBefore.Present ? Json(from) : Json(nullptr)},
                                {"to", to}});
      return words;
    }
    const SettingSpec* number = NumberSetting(value);
    if (IsComDbChange(change))
      decoded = DecodeComDb(before, after, &words);
    else if (EqualsIgnoringCase(value, DriverValues[VALUE_CONFIG_DATA].Name))
      decoded = DecodeConfigData(change, before, after, &words);
    else if (EqualsIgnoringCase(value, DriverValues[VALUE_UPPER_FILTERS].Name))
      decoded = DecodeUpperFilters(change, before, after, &words);
    else if (number)
      decoded = DecodeNumber(change, *number, before, after, &words);
    else
      decoded = DecodeIgnoreSerial(value, before, after, &words);
  }
  if (!decoded) {
    words = Words();
    words.Lines.push_back(JournalChangeLine(change));
  }
  return words;
}

}  // namespace

std::string SetOutcomeText(const JournalSet& set) {
  std::string text = set.State;
  if (set.Reload.is_string())
    text += ", driver reloaded";
  else if (set.Reload.is_object())
    text += ", driver not reloaded: " + JsonText(set.Reload, "failed");
  // The devices restarted after the writes, by how it went.
  static const char* const results[][2] = {{"restarted", "restarted"},
                                           {"restart-pending", "restart pending"},
                                           {"failed", "restart failed"}};
  for (const auto& result : results) {
    std::string ports;
    for (const Json& restart : set.Restart)
      if (JsonText(restart, "result") == result[0]) ports += " " + Owner(restart);
    if (!ports.empty()) text += std::string(", ") + result[1] + ports;
  }
  return text;
}

std::string SetHeadline(const JournalSet& set) {
  std::string time = JsonText(set.Begun, "time");
  if (time.size() > 10 && time[10] == 'T') time[10] = ' ';
  return "#" + std::to_string(set.Id) + "  " + time + "  " + JsonText(set.Begun, "user") + "  " +
         JsonText(set.Begun, "program") + "  " + JsonText(set.Begun, "command") + "  " +
         SetOutcomeText(set);
}

std::vector<std::string> SetChangeLines(const JournalSet& set, AccountNamer namer) {
  std::vector<std::string> lines;
  const Json& changes = set.Begun["changes"];
  std::vector<RecordedRename> renames = RecordedRenames(changes);
  // ComDB is said once, where the set last wrote it: the numbers its writes
  // reserved and freed together (a rename reserves first and frees last).
  std::vector<size_t> comDb;
  for (size_t i = 0; i < changes.size(); ++i)
    if (IsComDbChange(changes[i])) comDb.push_back(i);
  Words comDbWords;
  ValueImage first, ignored, last;
  bool together = comDb.size() > 1 && Images(changes[comDb.front()], &first, &ignored) &&
                  Images(changes[comDb.back()], &ignored, &last) &&
                  DecodeComDb(first, last, &comDbWords);
  for (size_t i = 0; i < changes.size(); ++i) {
    if (!changes[i].is_object()) continue;
    if (together && IsComDbChange(changes[i])) {
      if (i == comDb.back()) lines.insert(lines.end(), comDbWords.Lines.begin(), comDbWords.Lines.end());
      continue;
    }
    Words words = DecodeChange(set, renames, i, namer);
    lines.insert(lines.end(), words.Lines.begin(), words.Lines.end());
  }
  for (const Json& restart : set.Restart)
    if (restart.is_object())
      lines.push_back("  " + JsonText(restart, "port") + "  restart  " + JsonText(restart, "result"));
  return lines;
}

Json ChangeSettings(const JournalSet& set, size_t change, AccountNamer namer) {
  const Json& changes = set.Begun["changes"];
  if (change >= changes.size() || !changes[change].is_object()) return Json::array();
  return DecodeChange(set, RecordedRenames(changes), change, namer).Settings;
}

std::vector<HistoryRow> HistoryRows(const JournalContents& contents, AccountNamer namer) {
  std::vector<HistoryRow> rows;
  for (auto set = contents.Sets.rbegin(); set != contents.Sets.rend(); ++set) {
    HistoryRow row;
    row.Id = set->Id;
    row.Time = JsonText(set->Begun, "time");
    row.User = JsonText(set->Begun, "user");
    row.Program = JsonText(set->Begun, "program");
    row.Command = JsonText(set->Begun, "command");
    row.State = SetOutcomeText(*set);
    row.Lines = SetChangeLines(*set, namer);
    row.Undo = UndoAbilityOf(*set);
    row.UndoneBy = set->UndoneBy;
    rows.push_back(row);
  }
  return rows;
}
