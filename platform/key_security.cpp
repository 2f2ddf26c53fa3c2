#include "platform/key_security.h"

#include <sddl.h>

namespace {

const SECURITY_INFORMATION OwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

bool TextOfDescriptor(PSECURITY_DESCRIPTOR descriptor, std::string* sddl,
                      SECURITY_INFORMATION parts = OwnerAndDacl) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts,
                                                            &text, nullptr))
    return false;
  *sddl = text;
  LocalFree(text);
  return true;
}

// Enables (or puts back) one privilege of the process token; true when it
// was enabled before the call.
bool EnablePrivilege(const char* name, bool enable, bool* wasEnabled) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;
  TOKEN_PRIVILEGES wanted = {1, {{{0, 0}, enable ? (DWORD)SE_PRIVILEGE_ENABLED : 0}}};
  TOKEN_PRIVILEGES previous = {};
  DWORD size = sizeof previous;
  bool done = LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &wanted, sizeof wanted, &previous, &size) &&
              GetLastError() == ERROR_SUCCESS;
  if (wasEnabled)
    *wasEnabled = previous.PrivilegeCount == 0 ||
                  (previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  CloseHandle(token);
  return done;
}

}  // namespace

LONG ReadKeySecurityText(const char* keyPath, std::string* sddl) {
  sddl->clear();
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, READ_CONTROL, &key);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD size = 0;
  rc = RegGetKeySecurity(key, OwnerAndDacl, nullptr, &size);
  if (rc == ERROR_INSUFFICIENT_BUFFER) {
    PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LPTR, size);
    rc = descriptor ? RegGetKeySecurity(key, OwnerAndDacl, descriptor, &size)
                    : (LONG)ERROR_NOT_ENOUGH_MEMORY;
    if (rc == ERROR_SUCCESS && !TextOfDescriptor(descriptor, sddl)) rc = (LONG)GetLastError();
    if (descriptor) LocalFree(descriptor);
  }
  RegCloseKey(key);
  return rc;
}

bool CanonicalSecurityText(const char* sddl, bool withOwner, std::string* canonical) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return false;
  bool done = TextOfDescriptor(descriptor, canonical,
                               withOwner ? OwnerAndDacl : DACL_SECURITY_INFORMATION);
  LocalFree(descriptor);
  return done;
}

bool SecurityTextOf(PSID owner, PACL dacl, std::string* sddl) {
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
      (owner && !SetSecurityDescriptorOwner(&descriptor, owner, FALSE)))
    return false;
  return TextOfDescriptor(&descriptor, sddl,
                          owner ? OwnerAndDacl : DACL_SECURITY_INFORMATION);
}

LONG WriteKeySecurityText(const char* keyPath, const char* sddl, bool ownerRequired,
                          bool* keyNotOpened) {
  *keyNotOpened = false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return (LONG)GetLastError();
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  SECURITY_INFORMATION parts = owner ? OwnerAndDacl : DACL_SECURITY_INFORMATION;
  bool restoreWasOn = true, ownershipWasOn = true;
  if (owner) {
    EnablePrivilege(SE_RESTORE_NAME, true, &restoreWasOn);
    EnablePrivilege(SE_TAKE_OWNERSHIP_NAME, true, &ownershipWasOn);
  }
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0,
                          WRITE_DAC | (owner ? (DWORD)WRITE_OWNER : 0), &key);
  if (rc == ERROR_ACCESS_DENIED && owner && !ownerRequired) {
    // The access list still counts where the owner cannot be changed.
    parts = DACL_SECURITY_INFORMATION;
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, WRITE_DAC, &key);
  }
  if (rc != ERROR_SUCCESS) {
    *keyNotOpened = true;
  } else {
    rc = RegSetKeySecurity(key, parts, descriptor);
    RegCloseKey(key);
  }
  if (!restoreWasOn) EnablePrivilege(SE_RESTORE_NAME, false, nullptr);
  if (!ownershipWasOn) EnablePrivilege(SE_TAKE_OWNERSHIP_NAME, false, nullptr);
  LocalFree(descriptor);
  return rc;
}

bool SecurityTextLetsOthersWrite(const char* sddl, std::string* who) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    *who = "an unreadable access list";
    return true;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  bool opens = false;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) {
    *who = "Everyone (no access list)";
    opens = true;
  }
  static const char* const Trusted[] = {
      "S-1-5-18", "S-1-5-32-544", "S-1-3-0",
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};  // TrustedInstaller
  const DWORD writes = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC |
                       WRITE_OWNER | DELETE | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
  for (DWORD i = 0; !opens && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, (void**)&header) || header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)header;
    if (!(ace->Mask & writes)) continue;
    char* sid = nullptr;
    if (!ConvertSidToStringSidA((PSID)&ace->SidStart, &sid)) continue;
    bool trusted = false;
    for (const char* known : Trusted) trusted = trusted || lstrcmpiA(sid, known) == 0;
    if (!trusted) {
      *who = sid;
      opens = true;
    }
    LocalFree(sid);
  }
  LocalFree(descriptor);
  return opens;
}
