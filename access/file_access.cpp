#include "access/file_access.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/administrator.h"

namespace {

// What changes a file's content or who may change it.
const DWORD FileWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER;
// What lets a folder's user put another file in the place of one in it.
const DWORD FolderGrantRights = WRITE_DAC | WRITE_OWNER;

bool SidIs(PSID sid, const char* text) {
  PSID known = nullptr;
  if (!ConvertStringSidToSidA(text, &known)) return false;
  bool same = EqualSid(sid, known) != FALSE;
  LocalFree(known);
  return same;
}

bool Trusted(PSID sid, PSID administrator) {
  static const char* const trusted[] = {
      "S-1-5-18",                                                         // SYSTEM
      "S-1-5-32-544",                                                     // Administrators
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};  // TrustedInstaller
  for (const char* text : trusted)
    if (SidIs(sid, text)) return true;
  return administrator && EqualSid(sid, administrator);
}

// CREATOR OWNER and CREATOR GROUP only shape what children inherit; OWNER
// RIGHTS limits the owner, who is judged on its own.
bool Placeholder(PSID sid) {
  return SidIs(sid, "S-1-3-0") || SidIs(sid, "S-1-3-1") || SidIs(sid, "S-1-3-4");
}

std::string AccountName(PSID sid) {
  char account[256], domain[256];
  DWORD accountSize = sizeof account, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, account, &accountSize, domain, &domainSize, &use))
    return domain[0] ? std::string(domain) + "\\" + account : std::string(account);
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "an unknown account";
  std::string name = text;
  LocalFree(text);
  return name;
}

struct Grant {
  PSID Sid;
  DWORD Rights;
};

// What each account other than the trusted ones is allowed on the object,
// less what a deny entry before it takes from that account or from Everyone.
std::vector<Grant> OtherGrants(PSECURITY_DESCRIPTOR descriptor, PSID administrator, bool* noDacl) {
  std::vector<Grant> grants;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  *noDacl = false;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) {
    *noDacl = true;
    return grants;
  }
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  std::vector<Grant> denied;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, (void**)&header)) continue;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
      continue;
    // Both kinds share the layout of ACCESS_ALLOWED_ACE.
    ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)header;
    PSID sid = &ace->SidStart;
    DWORD rights = ace->Mask;
    MapGenericMask(&rights, &mapping);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      denied.push_back({sid, rights});
      continue;
    }
    if (Trusted(sid, administrator) || Placeholder(sid)) continue;
    for (const Grant& deny : denied)
      if (EqualSid(deny.Sid, sid) || SidIs(deny.Sid, "S-1-1-0")) rights &= ~deny.Rights;
    if (rights) grants.push_back({sid, rights});
  }
  return grants;
}

PSID OwnerOf(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) return nullptr;
  return owner;
}

OtherAccess Found(PSID sid, const char* through) {
  OtherAccess found;
  found.Found = true;
  found.Account = sid ? AccountName(sid) : "Everyone";
  found.Through = through;
  return found;
}

// The account this process runs as, when it runs elevated: the file's
// owner may be that administrator.
struct ElevatedAccount {
  std::vector<unsigned char> Buffer;
  PSID Sid = nullptr;
  ElevatedAccount() {
    if (!IsAdministrator()) return;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    Buffer.resize(size ? size : 1);
    if (size && GetTokenInformation(token, TokenUser, Buffer.data(), size, &size))
      Sid = ((TOKEN_USER*)Buffer.data())->User.Sid;
    CloseHandle(token);
  }
};

DWORD ReadDescriptor(const char* path, PSECURITY_DESCRIPTOR* descriptor) {
  *descriptor = nullptr;
  return GetNamedSecurityInfoA(path, SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, nullptr, nullptr, descriptor);
}

}  // namespace

OtherAccess FindOtherWriter(PSECURITY_DESCRIPTOR file, PSECURITY_DESCRIPTOR folder,
                            PSID administrator) {
  PSID owner = OwnerOf(file);
  if (owner && !Trusted(owner, administrator)) return Found(owner, "owning the file");
  bool noDacl;
  std::vector<Grant> fileGrants = OtherGrants(file, administrator, &noDacl);
  if (noDacl) return Found(nullptr, "the file (it has no access list)");
  for (const Grant& grant : fileGrants)
    if (grant.Rights & FileWriteRights) return Found(grant.Sid, "the file");
  if (!folder) return OtherAccess();

  PSID folderOwner = OwnerOf(folder);
  if (folderOwner && !Trusted(folderOwner, administrator))
    return Found(folderOwner, "owning its folder");
  std::vector<Grant> folderGrants = OtherGrants(folder, administrator, &noDacl);
  if (noDacl) return Found(nullptr, "its folder (it has no access list)");
  bool canAdd = false;
  for (const Grant& grant : folderGrants) canAdd = canAdd || (grant.Rights & FILE_ADD_FILE);
  for (const Grant& grant : folderGrants) {
    if (grant.Rights & FolderGrantRights) return Found(grant.Sid, "its folder");
    // Remove the file, then put another of the same name in its place.
    if ((grant.Rights & FILE_DELETE_CHILD) && canAdd) return Found(grant.Sid, "its folder");
  }
  if (canAdd)
    for (const Grant& grant : fileGrants)
      if (grant.Rights & DELETE) return Found(grant.Sid, "the file and its folder");
  return OtherAccess();
}

OtherAccess FindOtherAccess(PSECURITY_DESCRIPTOR file, PSID administrator) {
  PSID owner = OwnerOf(file);
  if (owner && !Trusted(owner, administrator)) return Found(owner, "owning the file");
  bool noDacl;
  std::vector<Grant> grants = OtherGrants(file, administrator, &noDacl);
  if (noDacl) return Found(nullptr, "the file (it has no access list)");
  if (!grants.empty()) return Found(grants[0].Sid, "the file");
  return OtherAccess();
}

DWORD FindFileWriter(const char* path, OtherAccess* found) {
  *found = OtherAccess();
  PSECURITY_DESCRIPTOR file = nullptr, folder = nullptr;
  DWORD error = ReadDescriptor(path, &file);
  if (error != ERROR_SUCCESS) return error;
  std::string folderPath = path;
  size_t slash = folderPath.find_last_of("\\/");
  folderPath = slash == std::string::npos ? "." : folderPath.substr(0, slash);
  if (folderPath.size() == 2 && folderPath[1] == ':') folderPath += "\\";
  // Without its folder's descriptor the file alone is judged.
  if (ReadDescriptor(folderPath.c_str(), &folder) != ERROR_SUCCESS) folder = nullptr;
  ElevatedAccount self;
  *found = FindOtherWriter(file, folder, self.Sid);
  LocalFree(file);
  if (folder) LocalFree(folder);
  return ERROR_SUCCESS;
}

DWORD FindFileAccess(const char* path, OtherAccess* found) {
  *found = OtherAccess();
  PSECURITY_DESCRIPTOR file = nullptr;
  DWORD error = ReadDescriptor(path, &file);
  if (error != ERROR_SUCCESS) return error;
  ElevatedAccount self;
  *found = FindOtherAccess(file, self.Sid);
  LocalFree(file);
  return ERROR_SUCCESS;
}
