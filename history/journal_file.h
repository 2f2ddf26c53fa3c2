// The change journal's files read back into change sets: the rotated file
// first, so that sets come in the order they were begun.
#pragma once

#include <windows.h>

#include <string>

#include <vector>

#include "history/history_words.h"
#include "history/journal_reader.h"

// ERROR_SUCCESS also when nothing was recorded yet; else the error, with
// the file that could not be read in *failedPath. Warnings: a journal file
// others may change, and lines that are no journal lines.
DWORD LoadJournal(JournalContents* contents, std::string* failedPath);

// The account of a SID as SDDL writes it, looked up on this machine
// ("BENCH\\tech"); empty when it cannot be found.
std::string LocalAccountName(const std::string& sid);

// The journal as the window lists it: its sets newest first, in the words
// of history, and its warnings. The same errors as LoadJournal.
DWORD LoadHistoryRows(std::vector<HistoryRow>* rows, std::vector<std::string>* warnings,
                      std::string* failedPath);
