#include "platform/administrator.h"

// Asks the system whether the caller's token would be granted access to a
// descriptor that only the Administrators group may access. Any failure
// counts as "not an administrator".
bool IsAdministrator() {
  const DWORD ACCESS_READ = 1;
  const DWORD ACCESS_WRITE = 2;
  HANDLE token = nullptr, impersonation = nullptr;
  PSID admins = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL acl = nullptr;
  BOOL status = FALSE;

  // The thread's token comes first, so an impersonating thread is checked as
  // the user it impersonates.
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &token)) {
    token = nullptr;
    if (GetLastError() != ERROR_NO_TOKEN ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
      token = nullptr;
  }
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  if (token && DuplicateToken(token, SecurityImpersonation, &impersonation) &&
      AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
    descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    DWORD aclSize = GetLengthSid(admins) + sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    if (descriptor && InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION))
      acl = static_cast<PACL>(LocalAlloc(LPTR, aclSize));
    if (acl && InitializeAcl(acl, aclSize, ACL_REVISION2) &&
        AddAccessAllowedAce(acl, ACL_REVISION2, ACCESS_READ | ACCESS_WRITE, admins) &&
        SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
      SetSecurityDescriptorGroup(descriptor, admins, FALSE);
      SetSecurityDescriptorOwner(descriptor, admins, FALSE);
      if (IsValidSecurityDescriptor(descriptor)) {
        GENERIC_MAPPING mapping = {ACCESS_READ, ACCESS_WRITE, 0, ACCESS_READ | ACCESS_WRITE};
        PRIVILEGE_SET privileges;
        DWORD privilegesLength = sizeof privileges;
        DWORD granted = 0;
        if (!AccessCheck(descriptor, impersonation, ACCESS_READ, &mapping, &privileges,
                         &privilegesLength, &granted, &status))
          status = FALSE;
      }
    }
  }

  if (acl) LocalFree(acl);
  if (descriptor) LocalFree(descriptor);
  if (admins) FreeSid(admins);
  if (impersonation) CloseHandle(impersonation);
  if (token) CloseHandle(token);
  return status != FALSE;
}
