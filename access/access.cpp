#include "access/access.h"

#include <windows.h>
#include <aclapi.h>
#include <stdio.h>

#include "devices/device_keys.h"

namespace {

enum Trustee { EVERYONE, ADMINISTRATORS, LOCAL_SYSTEM, CREATOR_OWNER, TRUSTEE_COUNT };

struct WellKnownSid {
  SID_IDENTIFIER_AUTHORITY Authority;
  BYTE SubAuthorityCount;
  DWORD SubAuthority0;
  DWORD SubAuthority1;
};

// Indexed by Trustee.
const WellKnownSid WellKnownSids[TRUSTEE_COUNT] = {
    {SECURITY_WORLD_SID_AUTHORITY, 1, SECURITY_WORLD_RID, 0},
    {SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS},
    {SECURITY_NT_AUTHORITY, 1, SECURITY_LOCAL_SYSTEM_RID, 0},
    {SECURITY_CREATOR_SID_AUTHORITY, 1, SECURITY_CREATOR_OWNER_RID, 0},
};

struct AccessEntry {
  Trustee Who;
  TRUSTEE_TYPE Type;
  DWORD Mask;
};

// Everyone may read the driver's keys but not write them: write access for
// every local user would let anyone register a filter driver for the
// adapters. Administrators and SYSTEM keep full control.
const AccessEntry DriverKeyEntries[] = {
    {EVERYONE, TRUSTEE_IS_WELL_KNOWN_GROUP, KEY_READ},
    {ADMINISTRATORS, TRUSTEE_IS_GROUP, KEY_ALL_ACCESS},
    {LOCAL_SYSTEM, TRUSTEE_IS_UNKNOWN, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY},
    {CREATOR_OWNER, TRUSTEE_IS_UNKNOWN, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY},
};
const int DriverKeyEntryCount = 4;

const AccessEntry DeviceKeyEntries[] = {
    {EVERYONE, TRUSTEE_IS_WELL_KNOWN_GROUP, KEY_READ},
    {ADMINISTRATORS, TRUSTEE_IS_GROUP, GENERIC_ALL},
    {LOCAL_SYSTEM, TRUSTEE_IS_UNKNOWN, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY},
};
const int DeviceKeyEntryCount = 3;

void FreeSids(PSID* sids, int count) {
  for (int i = 0; i < count; ++i) {
    if (sids[i]) FreeSid(sids[i]);
    sids[i] = nullptr;
  }
}

// The first `count` well-known SIDs, in Trustee order. 0 (and nothing held)
// when one cannot be allocated.
bool AllocateSids(PSID* sids, int count) {
  for (int i = 0; i < count; ++i) sids[i] = nullptr;
  for (int i = 0; i < count; ++i) {
    const WellKnownSid& w = WellKnownSids[i];
    SID_IDENTIFIER_AUTHORITY authority = w.Authority;
    if (!AllocateAndInitializeSid(&authority, w.SubAuthorityCount, w.SubAuthority0, w.SubAuthority1,
                                  0, 0, 0, 0, 0, 0, &sids[i])) {
      sids[i] = nullptr;
      FreeSids(sids, i);
      return false;
    }
  }
  return true;
}

struct AccessDescriptor {
  PACL Dacl;
  PSECURITY_DESCRIPTOR Descriptor;
};

void FreeAccessDescriptor(AccessDescriptor* d) {
  if (d->Descriptor) LocalFree(d->Descriptor);
  if (d->Dacl) LocalFree(d->Dacl);
  d->Descriptor = nullptr;
  d->Dacl = nullptr;
}

// A fresh DACL from the entries (nothing merged: it replaces the key's whole
// list) in an absolute descriptor without owner, group or SACL.
bool BuildAccessDescriptor(const AccessEntry* entries, int count, PSID* sids, AccessDescriptor* d) {
  d->Dacl = nullptr;
  d->Descriptor = nullptr;
  EXPLICIT_ACCESS_A access[TRUSTEE_COUNT];
  ZeroMemory(access, sizeof access);
  for (int i = 0; i < count; ++i) {
    access[i].grfAccessPermissions = entries[i].Mask;
    access[i].grfAccessMode = SET_ACCESS;
    access[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access[i].Trustee.pMultipleTrustee = nullptr;
    access[i].Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[i].Trustee.TrusteeType = entries[i].Type;
    access[i].Trustee.ptstrName = static_cast<LPSTR>(sids[entries[i].Who]);
  }
  if (SetEntriesInAclA(count, access, nullptr, &d->Dacl) != ERROR_SUCCESS) {
    d->Dacl = nullptr;
    return false;
  }
  d->Descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (!d->Descriptor ||
      !InitializeSecurityDescriptor(d->Descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(d->Descriptor, TRUE, d->Dacl, FALSE)) {
    FreeAccessDescriptor(d);
    return false;
  }
  return true;
}

// Makes Administrators the owner of a key under HKEY_LOCAL_MACHINE. A
// failure shows in the WRITE_DAC open that follows, so it is not reported.
void TakeOwnership(const char* keyPath, PSID administrators) {
  char objectName[256];
  int n = snprintf(objectName, sizeof objectName, "MACHINE\\%s", keyPath);
  if (n < 0 || (size_t)n >= sizeof objectName) return;
  SetNamedSecurityInfoA(objectName, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, administrators,
                        nullptr, nullptr, nullptr);
}

void ReportPermissions(const Reporter* reporter, const char* text, UINT style, const char* key,
                       LONG error) {
  Report report = MakeReport(REPORT_SET_PERMISSIONS, text, "ERROR", style);
  report.Key = key;
  report.Error = (DWORD)error;
  TellReporter(reporter, report);
}

// FTDIBUS is open for WRITE_DAC; writes its DACL, then the arbiter's.
bool WriteDriverKeyDacls(HKEY ftdibus, PSECURITY_DESCRIPTOR descriptor, const Reporter* reporter) {
  LONG rc = RegSetKeySecurity(ftdibus, DACL_SECURITY_INFORMATION, descriptor);
  if (rc != ERROR_SUCCESS) {
    ReportPermissions(reporter, "Could not set permissions", MB_OK, FtdibusKeyPath, rc);
    return false;
  }
  HKEY arbiter;
  rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, WRITE_DAC, &arbiter);
  if (rc != ERROR_SUCCESS) {
    ReportPermissions(reporter, "Error opening key COM_NAME_ARBITER", MB_OK, ComNameArbiterKeyPath,
                      rc);
    return false;
  }
  bool result = true;
  rc = RegSetKeySecurity(arbiter, DACL_SECURITY_INFORMATION, descriptor);
  if (rc != ERROR_SUCCESS) {
    ReportPermissions(reporter, "Could not set permissions", MB_OK, ComNameArbiterKeyPath, rc);
    result = false;
  }
  RegCloseKey(arbiter);
  return result;
}

typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* AdjustTokenPrivilegesFn)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                              PTOKEN_PRIVILEGES, PDWORD);
typedef BOOL(WINAPI* LookupPrivilegeValueAFn)(LPCSTR, LPCSTR, PLUID);

template <typename Fn>
Fn Resolve(HMODULE library, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace

bool SetPrivilege(const char* name, bool enable, const Reporter* reporter) {
  bool result = false;
  HANDLE token = nullptr;
  // Only a failure of this call may raise the warning, not an older one.
  SetLastError(ERROR_SUCCESS);
  HMODULE advapi = LoadLibraryA("Advapi32.dll");
  if (advapi) {
    OpenProcessTokenFn openProcessToken = Resolve<OpenProcessTokenFn>(advapi, "OpenProcessToken");
    AdjustTokenPrivilegesFn adjustTokenPrivileges =
        Resolve<AdjustTokenPrivilegesFn>(advapi, "AdjustTokenPrivileges");
    LookupPrivilegeValueAFn lookupPrivilegeValue =
        Resolve<LookupPrivilegeValueAFn>(advapi, "LookupPrivilegeValueA");
    LUID luid;
    if (openProcessToken && adjustTokenPrivileges && lookupPrivilegeValue &&
        lookupPrivilegeValue(nullptr, name, &luid)) {
      TOKEN_PRIVILEGES privileges;
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Luid = luid;
      privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
      if (openProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        result = adjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr,
                                       nullptr) != FALSE;
      else
        token = nullptr;
    }
  }
  if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    Report report =
        MakeReport(REPORT_SET_PRIVILEGE, "The token does not have the specified privilege", "ERROR",
                   MB_ICONWARNING | MB_OK);
    report.Value = name;
    report.Error = ERROR_NOT_ALL_ASSIGNED;
    TellReporter(reporter, report);
  }
  if (advapi) FreeLibrary(advapi);
  if (token) CloseHandle(token);
  return result;
}

bool SetDriverKeyPermissions(const Reporter* reporter) {
  PSID sids[TRUSTEE_COUNT];
  if (!AllocateSids(sids, TRUSTEE_COUNT)) return false;
  TakeOwnership(FtdibusKeyPath, sids[ADMINISTRATORS]);

  bool result = false;
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, WRITE_DAC, &ftdibus) == ERROR_SUCCESS) {
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      AccessDescriptor d;
      if (BuildAccessDescriptor(DriverKeyEntries, DriverKeyEntryCount, sids, &d)) {
        result = WriteDriverKeyDacls(ftdibus, d.Descriptor, reporter);
        FreeAccessDescriptor(&d);
      }
      if (!CloseHandle(token)) result = false;
    }
    RegCloseKey(ftdibus);
  }
  FreeSids(sids, TRUSTEE_COUNT);
  return result;
}

bool SetDeviceKeyPermissions(const DeviceInventory* inventory, const Reporter* reporter) {
  // The SIDs, the descriptor and the token are the same for every device:
  // obtained at the first device and released after the last.
  PSID sids[TRUSTEE_COUNT] = {};
  AccessDescriptor d = {nullptr, nullptr};
  HANDLE token = nullptr;
  bool prepared = false;
  bool tokenTried = false;
  bool result = true;

  for (uint32_t i = 0; i < inventory->count && result; ++i) {
    const DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;
    char path[DEVICE_KEY_PATH_SIZE];
    if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_INSTANCE_KEY)) continue;
    if (!prepared) {
      if (!AllocateSids(sids, DeviceKeyEntryCount)) {
        result = false;
        break;
      }
      prepared = true;
    }
    TakeOwnership(path, sids[ADMINISTRATORS]);

    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, &key);
    if (rc != ERROR_SUCCESS) {
      key = nullptr;
      char text[1024];
      snprintf(text, sizeof text, "Failed to open the key %s for WRITE_DAC access", path);
      ReportPermissions(reporter, text, MB_ICONWARNING | MB_OK, path, rc);
    }
    if (!tokenTried) {
      tokenTried = true;
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        token = nullptr;
        ReportPermissions(reporter, "Couldn't open the process token", MB_OK, "",
                          (LONG)GetLastError());
      }
    }
    if (!d.Descriptor && !BuildAccessDescriptor(DeviceKeyEntries, DeviceKeyEntryCount, sids, &d))
      result = false;
    if (key) {
      if (result) RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, d.Descriptor);
      RegCloseKey(key);
    }
    if (!token) result = false;
  }

  if (token && !CloseHandle(token)) result = false;
  FreeAccessDescriptor(&d);
  FreeSids(sids, DeviceKeyEntryCount);
  return result;
}
