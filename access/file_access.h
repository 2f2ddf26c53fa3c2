// Who besides the machine's administrators may change a file: a profile
// that SYSTEM applies, or the change journal that undo writes from. Whoever
// can change such a file chooses what an administrator's program writes.
#pragma once

#include <windows.h>

#include <string>

struct OtherAccess {
  bool Found = false;
  std::string Account;  // DOMAIN\name, or the SID as text when it has no name
  std::string Through;  // "the file", "its folder", "owning the file", ...
};

// The decisions, over descriptors as GetNamedSecurityInfo gives them (with
// owner and DACL). SYSTEM, Administrators and TrustedInstaller are trusted;
// so is `administrator` (the elevated account running us, or nullptr) when
// it owns the object. A missing DACL lets everyone do everything.
//
// Someone else who may write the file, or replace it through its folder
// (folder may be nullptr when it could not be read: only the file counts).
OtherAccess FindOtherWriter(PSECURITY_DESCRIPTOR file, PSECURITY_DESCRIPTOR folder,
                            PSID administrator);
// Someone else who has any access to the file at all.
OtherAccess FindOtherAccess(PSECURITY_DESCRIPTOR file, PSID administrator);

// The same on a file by its path, with the account running this process as
// `administrator` when it is elevated. ERROR_SUCCESS, or the error of
// reading the file's descriptor.
DWORD FindFileWriter(const char* path, OtherAccess* found);
DWORD FindFileAccess(const char* path, OtherAccess* found);
