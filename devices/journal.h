// The change journal: %ProgramData%\Portmeld\changes.jsonl, one JSON object
// a line, appended only. CommitChangeSet records every change set in it
// before the set's first write, and how the set ended after the last.
#pragma once

#include <windows.h>

#include "devices/change_set.h"
#include "devices/journal_lines.h"

// "portmeld 1.0" or "PortmeldConfigurator 1.0": set once by each program.
void SetJournalProgram(const char* program);
// Off for the console program's --no-journal: nothing is recorded.
void SetJournalEnabled(bool enabled);
bool JournalEnabled();

// A change as a begun line would hold it (UTF-8 JSON text), for a program
// that reports what it wrote in the journal's terms.
std::string JournalEntryText(const ValueChange& change);

// Whether the journal can be written now: its folder and file are opened
// (created when missing) and closed again. ERROR_SUCCESS or the error.
DWORD JournalCheck();
// Appends the set's "begun" line with the changes marked recorded and
// gives the set its id; a set without such changes is recorded only when
// it reloads the driver. ERROR_SUCCESS, or the Win32 error that kept the
// line from being written.
DWORD JournalBegin(ChangeSet* set, const std::vector<bool>& recorded = std::vector<bool>(),
                   bool reloads = false);
// Appends {"id", "state": "done"} or "partial" with set->Failed, and how
// the reload went when one was asked.
DWORD JournalEnd(const ChangeSet* set);

// Appends the restarts that followed set id's writes, as one line of the
// set, under a brief hold of the writer lock (the restarts themselves ran
// without it). Port and serial in the ANSI code page. ERROR_SUCCESS (also
// when nothing is recorded: no id, no entries, the journal off), WAIT_TIMEOUT
// when another writer kept the lock, or the Win32 error of the write.
DWORD JournalRestart(uint64_t id, const std::vector<JournalRestartEntry>& restarts);

// Where the journal lives: %ProgramData%\Portmeld, or the folder a test
// chose. The file is changes.jsonl in it; changes.1.jsonl is the one before.
std::string JournalFolder();
std::string JournalFilePath();
std::string RotatedJournalFilePath();
// Tests keep their journal in a folder of their own; "" or nullptr goes
// back to %ProgramData%\Portmeld.
void SetJournalFolder(const char* folder);

// The journal starts a new file once it has reached this size.
enum : unsigned long long { JOURNAL_ROTATE_SIZE = 4ull * 1024 * 1024 };

// The access lists a new journal folder and file get: SYSTEM and
// Administrators write, every local user (Users) reads. A journal made
// without the Users' entry gets it at its next change set.
extern const char JournalFolderAccess[];
extern const char JournalFileAccess[];
