#include "devices/journal.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "devices/journal_lines.h"
#include "platform/writer_lock.h"

// 0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, to list and pass the folder.
const char JournalFolderAccess[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const char JournalFileAccess[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

namespace {

std::string Program = "portmeld";
bool Enabled = true;
std::string ChosenFolder;

// Registry names and the command line come in the ANSI code page; the
// journal is UTF-8.
std::string Utf8Of(const std::string& ansi) {
  bool plain = true;  // ASCII is the same in both: most names are
  for (char c : ansi) plain = plain && (unsigned char)c < 0x80;
  if (plain) return ansi;
  int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), nullptr, 0);
  if (wide <= 0) return ansi;
  std::wstring text(wide, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), &text[0], wide);
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return ansi;
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, &out[0], size, nullptr, nullptr);
  return out;
}

std::string FullKey(const std::string& key) { return key.empty() ? key : "HKLM\\" + key; }

bool SameBytes(const ValueImage& a, const ValueImage& b) {
  if (a.Present != b.Present) return false;
  return !a.Present || (a.Type == b.Type && a.Data == b.Data);
}

JournalImage ImageOf(const ValueImage& image, bool security) {
  return {image.Present, security ? (uint32_t)JOURNAL_SDDL_TYPE : (uint32_t)image.Type,
          image.Data.data(), image.Data.size()};
}

// The change as the journal records it; its images point into the change.
JournalEntry EntryOf(const ValueChange& change) {
  JournalEntry entry;
  entry.Action = change.Kind == CHANGE_REMOVE_DEVICE   ? JOURNAL_REMOVE_DEVICE
                 : change.Kind == CHANGE_RELOAD_DRIVER ? JOURNAL_RELOAD_DRIVER
                 : change.Kind == CHANGE_KEY_SECURITY  ? JOURNAL_KEY_SECURITY
                                                       : JOURNAL_VALUE;
  entry.Port = Utf8Of(change.Port);
  entry.Serial = Utf8Of(change.Serial);
  entry.Key = Utf8Of(FullKey(change.Key));
  entry.Value = Utf8Of(change.Value);
  entry.Before = ImageOf(change.Before, change.Kind == CHANGE_KEY_SECURITY);
  entry.After = ImageOf(change.After, change.Kind == CHANGE_KEY_SECURITY);
  return entry;
}

// DOMAIN\name of the account this process runs as.
std::string UserName() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  std::string name;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size ? size : 1);
  if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    PSID sid = ((TOKEN_USER*)buffer.data())->User.Sid;
    char account[256], domain[256];
    DWORD accountSize = sizeof account, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, sid, account, &accountSize, domain, &domainSize, &use)) {
      name = domain[0] ? std::string(domain) + "\\" + account : std::string(account);
    } else {
      char* text = nullptr;
      if (ConvertSidToStringSidA(sid, &text)) {
        name = text;
        LocalFree(text);
      }
    }
  }
  CloseHandle(token);
  return Utf8Of(name);
}

std::string NowText() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return JournalTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

// Creates the object with the access list, or leaves one that exists as
// it is.
DWORD CreateFolder(const std::string& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(JournalFolderAccess, SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return GetLastError();
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  DWORD error = ERROR_SUCCESS;
  if (!CreateDirectoryA(folder.c_str(), &attributes)) {
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) error = ERROR_SUCCESS;
  }
  LocalFree(descriptor);
  return error;
}

// A journal made before every user could read it: the Users' read entry
// is added to its access list, which is otherwise kept as it is. Quiet
// when the object is not there or its list cannot be changed: the write
// goes on, and history under an elevated prompt reads it as before.
void LetUsersRead(const std::string& path, DWORD rights, DWORD inheritance) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return;
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof users;
  bool found = false;
  if (dacl && CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size)) {
    for (DWORD i = 0; i < dacl->AceCount && !found; ++i) {
      ACE_HEADER* header;
      if (!GetAce(dacl, i, (void**)&header) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
        continue;
      ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)header;
      found = EqualSid((PSID)&ace->SidStart, users) && (ace->Mask & rights) == rights;
    }
    if (!found) {
      EXPLICIT_ACCESSA entry = {};
      entry.grfAccessPermissions = rights;
      entry.grfAccessMode = GRANT_ACCESS;
      entry.grfInheritance = inheritance;
      entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
      entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
      entry.Trustee.ptstrName = (LPSTR)users;
      PACL widened = nullptr;
      if (SetEntriesInAclA(1, &entry, dacl, &widened) == ERROR_SUCCESS) {
        SetNamedSecurityInfoA((LPSTR)path.c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, widened, nullptr);
        LocalFree(widened);
      }
    }
  }
  LocalFree(descriptor);
}

// Opens the journal for reading and appending, creating it (and its
// folder) with the journal's access list when it is not there.
HANDLE OpenJournal(const std::string& path, DWORD* error) {
  *error = CreateFolder(JournalFolder());
  if (*error != ERROR_SUCCESS) return INVALID_HANDLE_VALUE;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(JournalFileAccess, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    *error = GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 2 && file == INVALID_HANDLE_VALUE; ++attempt) {
    // Others read it at any time, and a writer checks it before it takes
    // the writer lock: neither may be refused while the journal is open.
    file = CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) break;
    *error = GetLastError();
    if (*error != ERROR_FILE_NOT_FOUND) break;
    file = CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
  }
  LocalFree(descriptor);
  if (file != INVALID_HANDLE_VALUE) *error = ERROR_SUCCESS;
  return file;
}

bool ReadAt(HANDLE file, unsigned long long offset, char* buffer, DWORD size) {
  LARGE_INTEGER at;
  at.QuadPart = (LONGLONG)offset;
  DWORD read = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// The largest id in the file's last lines, reading back from its end until
// a whole line has been seen; 0 for an empty file.
uint64_t LastIdOf(HANDLE file, unsigned long long size) {
  DWORD chunk = 64 * 1024;
  while (size > 0) {
    unsigned long long start = size > chunk ? size - chunk : 0;
    std::vector<char> text((size_t)(size - start));
    if (!ReadAt(file, start, text.data(), (DWORD)text.size())) return 0;
    uint64_t id = LastJournalId(text.data(), text.size(), start == 0);
    if (id || start == 0) return id;
    if (chunk >= 0x40000000) return 0;
    chunk *= 2;
  }
  return 0;
}

uint64_t LastIdOfPath(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size;
  uint64_t id = GetFileSizeEx(file, &size) ? LastIdOf(file, (unsigned long long)size.QuadPart) : 0;
  CloseHandle(file);
  return id;
}

// Appends the line on a line of its own: a line cut short before (the
// process died mid-write) stays one bad line, not the start of ours.
DWORD AppendLine(HANDLE file, std::string line) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return GetLastError();
  char last = '\n';
  if (size.QuadPart > 0 && !ReadAt(file, (unsigned long long)size.QuadPart - 1, &last, 1))
    return GetLastError();
  if (last != '\n') line.insert(0, 1, '\n');
  LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr)) return GetLastError();
  if (written != line.size()) return ERROR_DISK_FULL;
  if (!FlushFileBuffers(file)) return GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

void SetJournalProgram(const char* program) { Program = program ? program : ""; }
void SetJournalEnabled(bool enabled) { Enabled = enabled; }
bool JournalEnabled() { return Enabled; }

void SetJournalFolder(const char* folder) { ChosenFolder = folder ? folder : ""; }

std::string JournalFolder() {
  if (!ChosenFolder.empty()) return ChosenFolder;
  char path[MAX_PATH] = "";
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) {
    DWORD n = GetEnvironmentVariableA("ProgramData", path, sizeof path);
    if (n == 0 || n >= sizeof path) lstrcpynA(path, "C:\\ProgramData", sizeof path);
  }
  return std::string(path) + "\\Portmeld";
}

std::string JournalFilePath() { return JournalFolder() + "\\changes.jsonl"; }
std::string RotatedJournalFilePath() { return JournalFolder() + "\\changes.1.jsonl"; }

std::string JournalEntryText(const ValueChange& change) {
  return FormatJournalEntry(EntryOf(change));
}

DWORD JournalCheck() {
  if (!Enabled) return ERROR_SUCCESS;
  DWORD error;
  HANDLE file = OpenJournal(JournalFilePath(), &error);
  if (file == INVALID_HANDLE_VALUE) return error;
  CloseHandle(file);
  return ERROR_SUCCESS;
}

DWORD JournalBegin(ChangeSet* set, const std::vector<bool>& recorded, bool reloads) {
  set->JournalId = 0;
  if (!Enabled) return ERROR_SUCCESS;
  std::vector<JournalEntry> entries;
  for (size_t i = 0; i < set->Changes.size(); ++i) {
    const ValueChange& change = set->Changes[i];
    if (i < recorded.size() && !recorded[i]) continue;
    if (change.Kind == CHANGE_VALUE && SameBytes(change.Before, change.After)) continue;
    entries.push_back(EntryOf(change));
  }
  // A set that writes nothing is no change, unless it reloads the driver.
  if (entries.empty() && !reloads) return ERROR_SUCCESS;

  std::string path = JournalFilePath();
  DWORD error;
  HANDLE file = OpenJournal(path, &error);
  if (file == INVALID_HANDLE_VALUE) return error;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) {
    error = GetLastError();
    CloseHandle(file);
    return error;
  }
  uint64_t last = LastIdOf(file, (unsigned long long)size.QuadPart);
  if ((unsigned long long)size.QuadPart >= JOURNAL_ROTATE_SIZE) {
    // The full file becomes changes.1.jsonl; ids go on counting in the new one.
    CloseHandle(file);
    if (!MoveFileExA(path.c_str(), RotatedJournalFilePath().c_str(), MOVEFILE_REPLACE_EXISTING))
      return GetLastError();
    file = OpenJournal(path, &error);
    if (file == INVALID_HANDLE_VALUE) return error;
  } else if (last == 0) {
    last = LastIdOfPath(RotatedJournalFilePath());
  }
  uint64_t id = last + 1;
  LetUsersRead(JournalFolder(), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
               SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  LetUsersRead(path, FILE_GENERIC_READ, NO_INHERITANCE);
  error = AppendLine(file, FormatBegunLine(id, NowText(), UserName(), Utf8Of(Program),
                                           Utf8Of(set->Command), entries));
  CloseHandle(file);
  if (error == ERROR_SUCCESS) set->JournalId = id;
  return error;
}

DWORD JournalEnd(const ChangeSet* set) {
  if (set->JournalId == 0) return ERROR_SUCCESS;
  std::vector<JournalFailure> failed;
  for (const FailedChange& failure : set->Failed) {
    if (failure.Index >= set->Changes.size()) continue;
    const ValueChange& change = set->Changes[failure.Index];
    failed.push_back({Utf8Of(FullKey(change.Key)), Utf8Of(change.Value), (uint32_t)failure.Error});
  }
  DWORD error;
  HANDLE file = OpenJournal(JournalFilePath(), &error);
  if (file == INVALID_HANDLE_VALUE) return error;
  error = AppendLine(file, FormatEndLine(set->JournalId, failed, set->Reload != RELOAD_NOT_ASKED,
                                         set->ReloadFailure, set->Restarts));
  CloseHandle(file);
  return error;
}

DWORD JournalRestart(uint64_t id, const std::vector<JournalRestartEntry>& restarts) {
  if (!Enabled || id == 0 || restarts.empty()) return ERROR_SUCCESS;
  std::vector<JournalRestartEntry> lines;
  for (const JournalRestartEntry& restart : restarts)
    lines.push_back({Utf8Of(restart.Port), Utf8Of(restart.Serial), restart.Result});
  WriterLock lock = {nullptr};
  DWORD error = AcquireWriterLock(WRITER_LOCK_WAIT_MS, &lock);
  if (error != ERROR_SUCCESS) return error;
  HANDLE file = OpenJournal(JournalFilePath(), &error);
  if (file != INVALID_HANDLE_VALUE) {
    error = AppendLine(file, FormatRestartLine(id, lines));
    CloseHandle(file);
  }
  ReleaseWriterLock(&lock);
  return error;
}
