// The change journal: %ProgramData%\Portmeld\changes.jsonl, one JSON object
// a line, appended only. CommitChangeSet records every change set in it
// before the set's first write, and how the set ended after the last.
#pragma once

#include <windows.h>

#include "devices/change_set.h"

// "portmeld 1.0" or "PortmeldConfigurator 1.0": set once by each program.
void SetJournalProgram(const char* program);
// Off for the console program's --no-journal: nothing is recorded.
void SetJournalEnabled(bool enabled);
bool JournalEnabled();

// Appends the set's "begun" line with every change it is about to make and
// gives the set its id. ERROR_SUCCESS, or the Win32 error that kept the
// line from being written.
DWORD JournalBegin(ChangeSet* set);
// Appends {"id", "state": "done"} or "partial" with set->Failed.
DWORD JournalEnd(const ChangeSet* set);
