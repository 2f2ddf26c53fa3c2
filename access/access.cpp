#include "access/access.h"

#include <windows.h>
#include <aclapi.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "devices/device_keys.h"
#include "devices/journal_lines.h"
#include "devices/write_transaction.h"
#include "platform/key_security.h"

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

void ReportPermissions(const Reporter* reporter, const char* text, UINT style, const char* key,
                       LONG error) {
  Report report = MakeReport(REPORT_SET_PERMISSIONS, text, "ERROR", style);
  report.Key = key;
  report.Error = (DWORD)error;
  TellReporter(reporter, report);
}

void ReportDeviceKeyNotOpened(const Reporter* reporter, const char* path, LONG error) {
  char text[1024];
  snprintf(text, sizeof text, "Failed to open the key %s for WRITE_DAC access", path);
  ReportPermissions(reporter, text, MB_ICONWARNING | MB_OK, path, error);
}

// The groups of the start-up access set: the driver keys together (a
// refused FTDIBUS leaves the arbiter alone), each device on its own.
enum { DRIVER_KEYS_GROUP = -1 };

// Plans the key's owner (Administrators, or as it is when owner is
// nullptr) and access list as one change, unless the key has them already.
// The read's error when the key's security cannot be read.
LONG PlanKeyAccess(ChangeSet* set, const char* path, PSID owner, PACL dacl, int group,
                   const DeviceRecord* device) {
  std::string current, wanted, currentPart;
  LONG rc = ReadKeySecurityText(path, &current);
  if (rc != ERROR_SUCCESS) return rc;
  if (!SecurityTextOf(owner, dacl, &wanted)) return (LONG)GetLastError();
  if (CanonicalSecurityText(current.c_str(), owner != nullptr, &currentPart) &&
      currentPart == wanted)
    return ERROR_SUCCESS;  // as the step leaves it already: not written, not recorded
  ValueChange change;
  change.Kind = CHANGE_KEY_SECURITY;
  change.Key = path;
  change.Group = group;
  if (device) {
    change.Port.assign(device->PortName, strnlen(device->PortName, PORT_NAME_SIZE));
    change.Serial.assign(device->SerialNumber, strnlen(device->SerialNumber, SERIAL_NUMBER_SIZE));
  }
  change.Before = BinaryImage(current.data(), current.size());
  change.After = BinaryImage(wanted.data(), wanted.size());
  set->Changes.push_back(change);
  return ERROR_SUCCESS;
}

// FTDIBUS gets Administrators as owner and the driver-key list; the COM
// Name Arbiter the same list, its owner unchanged. False when the pass
// ends: FTDIBUS cannot be read (silently) or the arbiter cannot be opened.
bool PlanDriverKeyAccess(ChangeSet* set, PSID* sids, PACL dacl, const Reporter* reporter) {
  if (PlanKeyAccess(set, FtdibusKeyPath, sids[ADMINISTRATORS], dacl, DRIVER_KEYS_GROUP, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG rc = PlanKeyAccess(set, ComNameArbiterKeyPath, nullptr, dacl, DRIVER_KEYS_GROUP, nullptr);
  if (rc != ERROR_SUCCESS) {
    ReportPermissions(reporter, "Error opening key COM_NAME_ARBITER", MB_OK, ComNameArbiterKeyPath,
                      rc);
    return false;
  }
  return true;
}

// Every device instance key gets Administrators as owner and the
// device-key list; a key that cannot be opened is named and passed over.
// False when the process token cannot be opened.
bool PlanDeviceKeyAccess(ChangeSet* set, const DeviceInventory* inventory, PSID* sids, PACL dacl,
                         const Reporter* reporter) {
  bool tokenTried = false;
  for (uint32_t i = 0; i < inventory->count; ++i) {
    const DeviceRecord* record = &inventory->Records[i];
    if (record->DeviceId == 0) continue;
    char path[DEVICE_KEY_PATH_SIZE];
    if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_INSTANCE_KEY)) continue;
    LONG rc = PlanKeyAccess(set, path, sids[ADMINISTRATORS], dacl, (int)i, record);
    if (rc != ERROR_SUCCESS) ReportDeviceKeyNotOpened(reporter, path, rc);
    if (!tokenTried) {
      tokenTried = true;
      HANDLE token;
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        ReportPermissions(reporter, "Couldn't open the process token", MB_OK, "",
                          (LONG)GetLastError());
        return false;
      }
      CloseHandle(token);
    }
  }
  return true;
}

// After the write: what each refused key says, as the step always said it.
void ReportAccessFailures(const ChangeSet& set, const Reporter* reporter) {
  for (const FailedChange& failed : set.Failed) {
    const ValueChange& change = set.Changes[failed.Index];
    if (change.Group != DRIVER_KEYS_GROUP) {
      // A device key's list that would not write is not reported; one that
      // would not open is.
      if (failed.KeyNotOpened)
        ReportDeviceKeyNotOpened(reporter, change.Key.c_str(), (LONG)failed.Error);
      continue;
    }
    bool arbiter = change.Key == ComNameArbiterKeyPath;
    ReportPermissions(reporter,
                      arbiter && failed.KeyNotOpened ? "Error opening key COM_NAME_ARBITER"
                                                     : "Could not set permissions",
                      MB_OK, change.Key.c_str(), (LONG)failed.Error);
  }
}

// What the start-up access step sets, planned and written as one
// transaction: the driver keys, the device keys, or both.
struct AccessPlan {
  const DeviceInventory* Inventory;  // nullptr: no device keys
  bool DriverKeys;
  bool DriverResult;
  bool DeviceResult;
};

bool SetAccess(AccessPlan* plan, const Reporter* reporter) {
  PSID sids[TRUSTEE_COUNT];
  if (!AllocateSids(sids, TRUSTEE_COUNT)) return false;
  AccessDescriptor driver = {nullptr, nullptr}, device = {nullptr, nullptr};
  bool built = BuildAccessDescriptor(DriverKeyEntries, DriverKeyEntryCount, sids, &driver) &&
               BuildAccessDescriptor(DeviceKeyEntries, DeviceKeyEntryCount, sids, &device);
  plan->DriverResult = plan->DeviceResult = built;
  if (built) {
    ChangeSet set;
    RunWrite(StartUpAccessCommand, RELOAD_NONE, &set, reporter,
             [&](ChangeSet* planned, const Reporter* held) {
               if (plan->DriverKeys)
                 plan->DriverResult = PlanDriverKeyAccess(planned, sids, driver.Dacl, held);
               if (plan->Inventory)
                 plan->DeviceResult =
                     PlanDeviceKeyAccess(planned, plan->Inventory, sids, device.Dacl, held);
               return true;
             });
    ReportAccessFailures(set, reporter);
    for (const FailedChange& failed : set.Failed)
      if (set.Changes[failed.Index].Group == DRIVER_KEYS_GROUP) plan->DriverResult = false;
  }
  FreeAccessDescriptor(&driver);
  FreeAccessDescriptor(&device);
  FreeSids(sids, TRUSTEE_COUNT);
  return plan->DriverResult && plan->DeviceResult;
}

}  // namespace

namespace {

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
  AccessPlan plan = {nullptr, true, false, false};
  SetAccess(&plan, reporter);
  return plan.DriverResult;
}

bool SetDeviceKeyPermissions(const DeviceInventory* inventory, const Reporter* reporter) {
  AccessPlan plan = {inventory, false, false, false};
  SetAccess(&plan, reporter);
  return plan.DeviceResult;
}

bool SetStartUpAccess(const DeviceInventory* inventory, const Reporter* reporter) {
  AccessPlan plan = {inventory, true, false, false};
  SetAccess(&plan, reporter);
  return plan.DeviceResult;
}
