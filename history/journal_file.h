// The change journal's files read back into change sets: the rotated file
// first, so that sets come in the order they were begun.
#pragma once

#include <windows.h>

#include <string>

#include "history/journal_reader.h"

// ERROR_SUCCESS also when nothing was recorded yet; else the error, with
// the file that could not be read in *failedPath. Warnings: a journal file
// others may change, and lines that are no journal lines.
DWORD LoadJournal(JournalContents* contents, std::string* failedPath);
