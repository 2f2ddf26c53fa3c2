// Undo: a recorded change set put back as a change set of its own, through
// the one write transaction and the same rules as every other writer. A
// rename is undone as a rename back; ComDB bit by bit, only the numbers the
// set changed; a key's owner and access list set back on that key alone,
// never to one that lets anyone but SYSTEM, Administrators, TrustedInstaller
// or the creator owner write it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "devices/write_transaction.h"
#include "history/journal_reader.h"

struct UndoRequest {
  uint64_t Id;  // 0: the newest set with values to put back, not undone yet
  bool Force;   // a value changed since is put back anyway
  bool Check;   // plans and says what would be written; writes nothing
  ReloadRequest Reload;
  RestartFunction Restart;  // restarts the devices written to instead; nullptr for none
  void* RestartContext;
};

enum UndoRefusal {
  UNDO_PLANNED,
  UNDO_JOURNAL_UNREADABLE,  // JournalError, JournalPath
  UNDO_NO_SET,              // the journal holds no such set, or none to undo
  UNDO_ALREADY_UNDONE,      // UndoneBy says by which
  UNDO_CANNOT_BE_UNDONE,    // removals or reloads only
  UNDO_WITHHELD             // another writer kept the lock, or the journal said no (reported)
};

// Something of the set left alone: a value changed since, a number taken
// since, an access list that would open a system key; Error 0 for those.
struct UndoIssue {
  std::string Message, Port, Serial, Value, Key;
  unsigned long Error;
  // What a forced undo would do about it, as the console says it ("--force
  // puts it back anyway"); nullptr when forcing changes nothing.
  const char* ForceHint;
};

struct UndoResult {
  UndoRefusal Refusal = UNDO_PLANNED;
  unsigned long JournalError = 0;
  std::string JournalPath;
  std::vector<std::string> Warnings;  // about the journal itself
  uint64_t UndoneId = 0, UndoneBy = 0;
  std::string UndoneCommand, UndoneState;
  std::vector<nlohmann::ordered_json> NotUndoable;  // removals and reloads of the set
  std::vector<UndoIssue> Issues;
  ChangeSet Set;  // what was (or, with Check, would be) written
};

// Reads the journal, plans and writes under the writer lock, so that two
// undos of one set cannot both find it not undone yet.
void UndoChangeSet(const UndoRequest& request, UndoResult* result, const Reporter* reporter);
