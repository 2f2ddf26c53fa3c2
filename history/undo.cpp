#include "history/undo.h"

#include <string.h>

#include <algorithm>
#include <map>

#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "comdb/rename.h"
#include "devices/device_names.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"
#include "history/journal_file.h"
#include "platform/d2xx.h"
#include "platform/key_security.h"

typedef nlohmann::ordered_json Json;

namespace {

const char PutsBackAnyway[] = "--force puts it back anyway";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}




// The device a key of FTDIBUS belongs to ("...\FTDIBUS\<name>\0000" and
// below), named by its key; false for any other key.
bool DeviceOfKey(const std::string& key, DeviceRecord* device) {
  std::string root = std::string(FtdibusKeyPath) + "\\";
  if (key.size() <= root.size() || !EqualsIgnoringCase(key.substr(0, root.size()), root)) return false;
  std::string rest = key.substr(root.size());
  size_t slash = rest.find('\\');
  if (slash == std::string::npos || rest.compare(slash, 5, "\\0000") != 0) return false;
  *device = DeviceRecord();
  ParseDeviceKeyName(rest.substr(0, slash).c_str(), device);
  return device->DeviceId != 0;
}

// UpperFilters and FriendlyName of an instance key are set through SetupAPI,
// as the system's tools set them.
bool InstanceProperty(const std::string& key, const std::string& value) {
  DeviceRecord device;
  return (EqualsIgnoringCase(value, "UpperFilters") || EqualsIgnoringCase(value, "FriendlyName")) &&
         DeviceOfKey(key, &device) && key.size() > 5 && key.compare(key.size() - 5, 5, "\\0000") == 0;
}

// One rename of the set: the device, its old and new numbers, and the
// values it wrote.
struct RenameUnit {
  DeviceRecord Device;
  std::string Port, Serial, ParametersKey, InstanceKey;
  int Old = 0, New = 0;
  ValueImage PortBefore, PortAfter, FriendlyBefore, FriendlyAfter;
  bool HasFriendly = false;
};

bool ComDbBit(const ValueImage& value, int number) {
  return value.Present && ComNumberTaken(value.Data.data(), value.Data.size(), number);
}

void SetComDbBit(ValueImage* value, int number, bool on) {
  size_t byte = (size_t)(number - 1) / 8;
  if (!value->Present || byte >= value->Data.size()) return;
  unsigned char mask = (unsigned char)(1 << ((number - 1) % 8));
  value->Data[byte] = on ? (value->Data[byte] | mask) : (value->Data[byte] & ~mask);
}

struct UndoPlanner {
  const UndoRequest* Request;
  UndoResult* Result;
  const JournalSet* Undone;
  std::vector<RenameUnit> Renames;
  // ComDB as the set found it and left it, over all its ComDB changes.
  ValueImage ComDbBefore, ComDbAfter;
  bool HasComDb = false;
  DeviceInventory Attached = {};
  bool AttachedKnown = false;

  void Issue(const std::string& message, const std::string& port, const std::string& serial,
             const std::string& value, const std::string& key, unsigned long error = 0,
             const char* forceHint = nullptr) {
    Result->Issues.push_back({message, port, serial, value, key, error, forceHint});
  }
  std::string Id() const { return std::to_string(Undone->Id); }
};

void FindRenames(UndoPlanner* planner) {
  const Json& all = planner->Undone->Begun["changes"];
  for (const RecordedRename& recorded : RecordedRenames(all)) {
    RenameUnit unit;
    if (!DeviceOfKey(recorded.ParametersKey, &unit.Device)) continue;
    const Json& change = all[recorded.PortChange];
    unit.Port = JsonText(change, "port");
    unit.Serial = JsonText(change, "serial");
    unit.ParametersKey = recorded.ParametersKey;
    unit.InstanceKey = recorded.InstanceKey;
    unit.Old = recorded.Old;
    unit.New = recorded.New;
    unit.PortBefore = recorded.PortBefore;
    unit.PortAfter = recorded.PortAfter;
    unit.HasFriendly = recorded.HasFriendly;
    unit.FriendlyBefore = recorded.FriendlyBefore;
    unit.FriendlyAfter = recorded.FriendlyAfter;
    planner->Renames.push_back(unit);
  }
}

bool OwnedByRename(const UndoPlanner& planner, const std::string& key, const std::string& value) {
  for (const RenameUnit& unit : planner.Renames)
    if ((EqualsIgnoringCase(key, unit.ParametersKey) && EqualsIgnoringCase(value, "PortName")) ||
        (EqualsIgnoringCase(key, unit.InstanceKey) && EqualsIgnoringCase(value, "FriendlyName")))
      return true;
  return false;
}

void AddUndoChange(ChangeSet* set, const std::string& port, const std::string& serial,
                   const std::string& key, const std::string& value, const ValueImage& now,
                   const ValueImage& write, int group) {
  ValueChange undo;
  undo.Port = port;
  undo.Serial = serial;
  undo.Key = key;
  undo.Value = value;
  undo.Before = now;
  undo.After = write;
  undo.Group = group;
  if (InstanceProperty(key, value)) {
    undo.Writer = THROUGH_SETUPAPI;
    DeviceOfKey(key, &undo.Device);
  }
  set->Changes.push_back(undo);
}

// A key's owner and access list back as the set found them.
void PlanSecurityUndo(UndoPlanner* planner, const Json& change, ChangeSet* set) {
  std::string key = KeyOfChange(change), port = JsonText(change, "port"), serial = JsonText(change, "serial");
  ValueImage before, after;
  if (!ParseJournalValue(change.value("before", Json()), &before) ||
      !ParseJournalValue(change.value("after", Json()), &after) || !before.Present) {
    planner->Issue("change set " + planner->Id() + " records the access list of " + key +
                       " unreadably: left alone",
                   port, serial, "", key);
    return;
  }
  std::string wanted(before.Data.begin(), before.Data.end());
  std::string left(after.Data.begin(), after.Data.end());
  std::string who;
  if (SecurityTextLetsOthersWrite(wanted.c_str(), &who)) {
    planner->Issue("the access list change set " + planner->Id() + " replaced on " + key +
                       " let " + who + " write the key: not put back",
                   port, serial, "", key);
    return;
  }
  std::string now, nowCanonical, leftCanonical, wantedCanonical;
  LONG rc = ReadKeySecurityText(key.c_str(), &now);
  if (rc != ERROR_SUCCESS) {
    planner->Issue("cannot read the access list of " + key + ": left alone", port, serial, "", key,
                   (unsigned long)rc);
    return;
  }
  CanonicalSecurityText(now.c_str(), true, &nowCanonical);
  CanonicalSecurityText(wanted.c_str(), true, &wantedCanonical);
  if (nowCanonical == wantedCanonical) return;
  // The arbiter's step left its owner alone: the recorded "after" may hold
  // the access list only.
  bool withOwner = left.compare(0, 2, "O:") == 0;
  CanonicalSecurityText(left.c_str(), withOwner, &leftCanonical);
  std::string nowPart;
  CanonicalSecurityText(now.c_str(), withOwner, &nowPart);
  if (nowPart != leftCanonical && !planner->Request->Force) {
    planner->Issue("the access list of " + key + " changed since change set " + planner->Id() +
                       ": left alone",
                   port, serial, "", key, 0, PutsBackAnyway);
    return;
  }
  ValueChange undo;
  undo.Kind = CHANGE_KEY_SECURITY;
  undo.Port = port;
  undo.Serial = serial;
  undo.Key = key;
  undo.Before = BinaryImage(now.data(), now.size());
  undo.After = BinaryImage(wanted.data(), wanted.size());
  undo.OwnerRequired = true;
  undo.Group = (int)set->Changes.size() + 1;
  set->Changes.push_back(undo);
}

// The rename back, through the rename rules: the old number taken back
// first, PortName and FriendlyName as the set found them, the new number
// freed last and only when nobody else holds it.
void PlanRenameUndo(UndoPlanner* planner, const RenameUnit& unit, const unsigned char* comDb,
                    ChangeSet* set, const Reporter* held) {
  ValueImage portNow, friendlyNow;
  LONG rc = ReadValueImage(unit.ParametersKey.c_str(), "PortName", &portNow);
  if (rc == ERROR_SUCCESS && unit.HasFriendly)
    rc = ReadValueImage(unit.InstanceKey.c_str(), "FriendlyName", &friendlyNow);
  if (rc != ERROR_SUCCESS) {
    planner->Issue("cannot read the port's names: the rename is left alone", unit.Port,
                   unit.Serial, "PortName", unit.ParametersKey, (unsigned long)rc);
    return;
  }
  std::string newName = ShownValue(unit.PortAfter), oldName = ShownValue(unit.PortBefore);
  const ValueImage& portCurrent = portNow;
  if (portCurrent == unit.PortBefore) return;  // renamed back already
  if (!(portCurrent == unit.PortAfter) && !planner->Request->Force) {
    planner->Issue("PortName is " + ShownValue(portCurrent) + " now, not " + newName +
                       " as change set " + planner->Id() +
                       " left it: the rename is left alone",
                   unit.Port, unit.Serial, "PortName", unit.ParametersKey, 0,
                   "--force renames it back anyway");
    return;
  }
  if (unit.Old) {
    DeviceRecord device = unit.Device;
    std::string holder;
    NumberHolder held_by =
        FindNumberHolder(&device, unit.Old, planner->AttachedKnown ? &planner->Attached : nullptr,
                         comDb, &holder);
    // A number the set kept reserved (another adapter held it) is no
    // obstacle: ComDB holds it as the set left it.
    if (held_by == NUMBER_RESERVED && planner->HasComDb && ComDbBit(planner->ComDbAfter, unit.Old))
      held_by = NUMBER_FREE;
    if (!MayTakeNumber(held_by, planner->Request->Force)) {
      std::string by = held_by == NUMBER_RESERVED ? std::string("reserved in ComDB")
                                                  : "held by " + holder;
      planner->Issue(oldName + " is " + by + " now: the rename to " + newName + " of change set " +
                         planner->Id() + " is left alone" +
                         (held_by == NUMBER_HELD_ATTACHED ? std::string(" (an attached adapter's "
                                                                        "number is never taken)")
                                                          : std::string()),
                     unit.Port, unit.Serial, "PortName", unit.ParametersKey, 0,
                     held_by == NUMBER_HELD_ATTACHED ? nullptr : "--force takes it");
      return;
    }
  }
  int group = 1 << 20;
  group += (int)set->Changes.size();
  size_t first = set->Changes.size();
  set->UndoGroups.push_back(group);
  if (unit.Old && !PlanComDbChange(set, unit.Old, 0, group, held)) {
    set->Changes.resize(first);
    return;
  }
  AddUndoChange(set, unit.Port, unit.Serial, unit.ParametersKey, "PortName", portNow,
                unit.PortBefore, group);
  if (unit.HasFriendly)
    AddUndoChange(set, unit.Port, unit.Serial, unit.InstanceKey, "FriendlyName", friendlyNow,
                  unit.FriendlyBefore, group);
  // The new number goes back only where the set reserved it.
  DeviceRecord device = unit.Device;
  bool reserved = planner->HasComDb && !ComDbBit(planner->ComDbBefore, unit.New) &&
                  ComDbBit(planner->ComDbAfter, unit.New);
  if (reserved && unit.New != unit.Old && !ComNumberHeldByOther(&device, unit.New) &&
      !PlanComDbChange(set, 0, unit.New, group, held))
    set->Changes.resize(first);
}

int NoteMissingLibrary(void* context, const Report* report) {
  if (report->Operation == REPORT_LIST_DEVICES && report->Key &&
      strcmp(report->Key, D2xxLibraryName) == 0)
    *static_cast<bool*>(context) = true;
  return IDOK;
}

bool PlanUndo(UndoPlanner* planner, ChangeSet* set, const Reporter* held) {
  UndoResult* result = planner->Result;
  JournalContents contents;
  std::string path;
  DWORD error = LoadJournal(&contents, &path);
  if (error != ERROR_SUCCESS) {
    result->Refusal = UNDO_JOURNAL_UNREADABLE;
    result->JournalError = error;
    result->JournalPath = path;
    return false;
  }
  result->Warnings = contents.Warnings;
  const JournalSet* undone = planner->Request->Id
                                 ? (contents.ById.count(planner->Request->Id)
                                        ? &contents.Sets[contents.ById[planner->Request->Id]]
                                        : nullptr)
                                 : NewestUndoable(contents);
  if (!undone) {
    result->Refusal = UNDO_NO_SET;
    return false;
  }
  planner->Undone = undone;
  result->UndoneId = undone->Id;
  result->UndoneCommand = JsonText(undone->Begun, "command");
  result->UndoneState = undone->State;
  // The start-up access set is undone too when asked for by its id.
  switch (UndoAbilityOf(*undone)) {
    case UNDO_ABLE_ALREADY_UNDONE:
      result->UndoneBy = undone->UndoneBy;
      result->Refusal = UNDO_ALREADY_UNDONE;
      return false;
    case UNDO_ABLE_NOTHING:
      result->Refusal = UNDO_CANNOT_BE_UNDONE;
      return false;
    case UNDO_ABLE:
    case UNDO_ABLE_START_UP_ACCESS:
      break;
  }
  set->Command = "undo " + std::to_string(undone->Id);

  FindRenames(planner);
  // ComDB as the set found it and left it, over all its changes.
  for (const Json& change : undone->Begun["changes"]) {
    if (!IsComDbChange(change)) continue;
    ValueImage before, after;
    if (!ParseJournalValue(change.value("before", Json()), &before) ||
        !ParseJournalValue(change.value("after", Json()), &after))
      continue;
    if (!planner->HasComDb) planner->ComDbBefore = before;
    planner->ComDbAfter = after;
    planner->HasComDb = true;
  }
  if (!planner->Renames.empty()) {
    // Without the D2XX library every adapter may be attached: none's
    // number is taken.
    bool missing = false;
    Reporter listing = {NoteMissingLibrary, &missing};
    planner->Attached.ShowDisconnected = true;
    planner->AttachedKnown = ListConnectedDevices(&planner->Attached, &listing) && !missing;
    SortRecordsBySerial(&planner->Attached);
  }

  // Last write first: a value the set wrote twice goes back through each
  // step, each starting from what the one after it left.
  std::map<std::string, ValueImage> planned;
  const Json& all = undone->Begun["changes"];
  for (auto entry = all.rbegin(); entry != all.rend(); ++entry) {
    const Json& change = *entry;
    if (!change.is_object()) continue;
    std::string port = JsonText(change, "port"), serial = JsonText(change, "serial");
    if (IsSecurityChange(change)) {
      PlanSecurityUndo(planner, change, set);
      continue;
    }
    if (!IsValueChange(change)) {
      result->NotUndoable.push_back(change);
      continue;
    }
    std::string key = KeyOfChange(change), value = JsonText(change, "value");
    if (OwnedByRename(*planner, key, value)) continue;
    ValueImage before, after;
    if (!ParseJournalValue(change.value("before", Json()), &before) ||
        !ParseJournalValue(change.value("after", Json()), &after) || key.empty()) {
      planner->Issue("change set " + planner->Id() + " records " + value +
                         " unreadably: left alone",
                     port, serial, value, key);
      continue;
    }
    bool comDb = IsComDbChange(change);
    if (comDb)  // the renames' numbers go back through the renames
      for (const RenameUnit& unit : planner->Renames)
        for (int number : {unit.Old, unit.New})
          if (number) SetComDbBit(&before, number, ComDbBit(after, number));
    std::string name = Lower(key + "|" + value);
    ValueImage now;
    LONG rc = ERROR_SUCCESS;
    if (planned.count(name))
      now = planned[name];
    else
      rc = ReadValueImage(key.c_str(), value.c_str(), &now);
    if (rc != ERROR_SUCCESS) {
      planner->Issue("cannot read " + value + ": left alone", port, serial, value, key,
                     (unsigned long)rc);
      continue;
    }
    ValueImage current = now, write;
    UndoStep step = comDb ? PlanComDbUndo(current, before, after, planner->Request->Force, &write)
                          : PlanValueUndo(current, before, after, planner->Request->Force, &write);
    if (step == UNDO_NOTHING) continue;
    if (step == UNDO_CONFLICT) {
      planner->Issue(value + " is " + ShownValue(current) + " now, not " + ShownValue(after) +
                         " as change set " + planner->Id() +
                         " left it: left alone",
                     port, serial, value, key, 0, PutsBackAnyway);
      continue;
    }
    planned[name] = write;
    AddUndoChange(set, port, serial, key, value, now, write, (int)set->Changes.size() + 1);
    set->Changes.back().Bitwise = comDb;
  }
  if (!planner->Renames.empty()) {
    ComDbValue value = {nullptr, 0};
    unsigned char field[COMDB_SIZE] = {};
    bool read = ReadComDb(&value, field, nullptr);
    FreeComDbValue(&value);
    for (const RenameUnit& unit : planner->Renames)
      PlanRenameUndo(planner, unit, read ? field : nullptr, set, held);
  }
  return true;
}

}  // namespace

void UndoChangeSet(const UndoRequest& request, UndoResult* result, const Reporter* reporter) {
  UndoPlanner planner = {&request, result, nullptr, {}, {}, {}, false, {}, false};
  ChangeSet* set = &result->Set;
  if (request.Check) {
    PlanUndo(&planner, set, reporter);
  } else {
    WriteOutcome outcome =
        RunWrite(
            "undo", request.Reload, set, reporter,
            [&](ChangeSet* changes, const Reporter* held) {
              return PlanUndo(&planner, changes, held);
            },
            request.Restart, request.RestartContext);
    if (outcome == WRITE_WITHHELD && result->Refusal == UNDO_PLANNED)
      result->Refusal = UNDO_WITHHELD;
  }
  FreeInventory(&planner.Attached);
}
