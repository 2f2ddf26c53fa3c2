// Reading the change journal back: its lines into change sets, the values
// they hold, and what undoing a value means against what the registry
// holds now. Pure, so that it is tested natively.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devices/journal_lines.h"
#include "devices/value_image.h"


// A text field of a journal line or change; "" when it is missing or not text.
std::string JsonText(const nlohmann::ordered_json& object, const char* name);

// null, or {"type": "REG_DWORD" (or a number as text), "data": "hex"}, or
// {"type": "SDDL", "data": "O:BAD:..."} for a key's owner and access list.
// False for anything else.
bool ParseJournalValue(const nlohmann::ordered_json& image, ValueImage* value);
// How history shows a value: a REG_DWORD as a decimal number, a REG_SZ as
// its text, anything else as hex bytes, an absent one as "absent".
std::string ShownJournalValue(const nlohmann::ordered_json& image);
// The same for a value as read.
std::string ShownValue(const ValueImage& value);

struct JournalSet {
  uint64_t Id = 0;
  nlohmann::ordered_json Begun;      // the begun line as written
  std::string State = "incomplete";  // until its end line says done or partial
  nlohmann::ordered_json Failed = nlohmann::ordered_json::array();
  uint64_t Undoes = 0;    // the set this one undid ("undo N")
  uint64_t UndoneBy = 0;  // the done or partial set that undid this one
  nlohmann::ordered_json Reload;  // the end line's "reload": null when none was asked
  // The devices restarted after the set's writes: {"port", "serial", "result"}.
  nlohmann::ordered_json Restart = nlohmann::ordered_json::array();
};


struct JournalContents {
  std::vector<JournalSet> Sets;  // in the order they were begun
  std::map<uint64_t, size_t> ById;
  std::vector<std::string> Warnings;
};

// Adds one file's lines; a line that is no journal line is skipped with a
// warning that names the file and the line's number.
void ReadJournalText(const std::string& text, const std::string& fileName,
                     JournalContents* contents);
// Marks which sets were undone, and by which, once every file is read.
void LinkUndoneSets(JournalContents* contents);

// Whether one of the set's changes names the port (COMn) or serial.
bool SetTouches(const JournalSet& set, const std::string& port);
// The set undo takes without an id: the newest done or partial one, not
// undone yet, with a value to put back. nullptr when there is none.
const JournalSet* NewestUndoable(const JournalContents& contents);
// Whether undo can put the set back, and if not, why.
enum UndoAbility {
  UNDO_ABLE,
  UNDO_ABLE_ALREADY_UNDONE,  // undone by set UndoneBy
  UNDO_ABLE_NOTHING,         // removals and reloads only: nothing to put back
  UNDO_ABLE_START_UP_ACCESS  // the window's own access lists: undone by id from the console only
};
UndoAbility UndoAbilityOf(const JournalSet& set);

// Whether the change is a value write (not a device removal or reload).
bool IsValueChange(const nlohmann::ordered_json& change);
// Whether the change set a key's owner and access list.
bool IsSecurityChange(const nlohmann::ordered_json& change);

// The key a change names, without its "HKLM\" root.
std::string KeyOfChange(const nlohmann::ordered_json& change);
// Whether the change is of ComDB, the COM Name Arbiter's bitmap of numbers.
bool IsComDbChange(const nlohmann::ordered_json& change);

// A rename a set recorded: a PortName change to a COM name on a device's
// Device Parameters key, and the FriendlyName change of that device's key
// when the set has one. Changes by their index in the begun line.
struct RecordedRename {
  size_t PortChange = 0;
  bool HasFriendly = false;
  size_t FriendlyChange = 0;
  std::string ParametersKey, InstanceKey;  // without the root
  ValueImage PortBefore, PortAfter, FriendlyBefore, FriendlyAfter;
  int Old = 0, New = 0;  // COM numbers; Old 0 when it had none
};
std::vector<RecordedRename> RecordedRenames(const nlohmann::ordered_json& changes);

enum UndoStep {
  UNDO_WRITE,    // *write is what to write
  UNDO_NOTHING,  // the value is as the set found it already
  UNDO_CONFLICT  // changed since the set: left alone (unless forced, then UNDO_WRITE)
};
// A value: back to before when it still is after.
UndoStep PlanValueUndo(const ValueImage& current, const ValueImage& before,
                       const ValueImage& after, bool force, ValueImage* write);
// ComDB: only the bits in which before and after differ go back to
// before's, onto what ComDB holds now; a conflict when one of those bits
// is no longer after's.
UndoStep PlanComDbUndo(const ValueImage& current, const ValueImage& before,
                       const ValueImage& after, bool force, ValueImage* write);
