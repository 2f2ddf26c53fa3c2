#include "history/journal_file.h"

#include <sddl.h>

#include "access/file_access.h"
#include "devices/journal.h"

namespace {

// Reads one journal file whole. ERROR_SUCCESS also for a file that is not
// there (nothing recorded yet).
DWORD ReadJournalFile(const std::string& path, std::string* text) {
  text->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  char buffer[1 << 16];
  DWORD read = 0;
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
      error = GetLastError();
      break;
    }
    if (read == 0) break;
    text->append(buffer, read);
  }
  CloseHandle(file);
  return error;
}

}  // namespace

DWORD LoadJournal(JournalContents* contents, std::string* failedPath) {
  const std::string paths[] = {RotatedJournalFilePath(), JournalFilePath()};
  for (const std::string& path : paths) {
    std::string text;
    DWORD error = ReadJournalFile(path, &text);
    if (error != ERROR_SUCCESS) {
      *failedPath = path;
      return error;
    }
    if (text.empty()) continue;
    OtherAccess other;
    if (FindFileWriter(path.c_str(), &other) == ERROR_SUCCESS && other.Found)
      contents->Warnings.insert(contents->Warnings.begin(),
                                path + ": " + other.Account + " has access to it through " +
                                    other.Through +
                                    ", not only SYSTEM and Administrators: what it records may "
                                    "have been changed");
    size_t slash = path.find_last_of('\\');
    ReadJournalText(text, path.substr(slash + 1), contents);
  }
  LinkUndoneSets(contents);
  return ERROR_SUCCESS;
}

std::string LocalAccountName(const std::string& sid) {
  PSID binary = nullptr;
  if (!ConvertStringSidToSidA(sid.c_str(), &binary)) return "";
  char name[256], domain[256];
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  std::string account;
  if (LookupAccountSidA(nullptr, binary, name, &nameSize, domain, &domainSize, &use))
    account = domainSize && *domain ? std::string(domain) + "\\" + name : std::string(name);
  LocalFree(binary);
  return account;
}

DWORD LoadHistoryRows(std::vector<HistoryRow>* rows, std::vector<std::string>* warnings,
                      std::string* failedPath) {
  JournalContents contents;
  DWORD error = LoadJournal(&contents, failedPath);
  rows->clear();
  *warnings = contents.Warnings;
  if (error == ERROR_SUCCESS) *rows = HistoryRows(contents, LocalAccountName);
  return error;
}
