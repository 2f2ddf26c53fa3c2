// Privilege, owners and access lists of the driver's keys, read back from
// Wine's registry with RegGetKeySecurity.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "access/access.h"
#include "devices/journal.h"
#include "history/undo.h"
#include "platform/key_security.h"
#include "devices/registry_paths.h"
#include "settings_test_support.h"

namespace {

const char* const Everyone = "S-1-1-0";
const char* const Administrators = "S-1-5-32-544";
const char* const LocalSystem = "S-1-5-18";
const char* const CreatorOwner = "S-1-3-0";
const BYTE InheritToAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct Ace {
  std::string Sid;
  DWORD Mask;
  BYTE Type;
  BYTE Flags;
  bool operator==(const Ace& o) const {
    return Sid == o.Sid && Mask == o.Mask && Type == o.Type && Flags == o.Flags;
  }
};

void PrintTo(const Ace& a, std::ostream* os) {
  char mask[16];
  snprintf(mask, sizeof mask, "0x%08lx", static_cast<unsigned long>(a.Mask));
  *os << "{" << a.Sid << " " << mask << " type " << int(a.Type) << " flags " << int(a.Flags) << "}";
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return "(none)";
  std::string result = text;
  LocalFree(text);
  return result;
}

struct KeySecurity {
  std::string Owner = "(unread)";
  std::vector<Ace> Dacl;
};

KeySecurity ReadKeySecurity(const std::string& path) {
  KeySecurity result;
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key);
  EXPECT_EQ(ERROR_SUCCESS, rc) << path;
  if (rc != ERROR_SUCCESS) return result;
  std::vector<unsigned char> buffer(4096);
  DWORD size = static_cast<DWORD>(buffer.size());
  rc = RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer.data(),
                         &size);
  RegCloseKey(key);
  EXPECT_EQ(ERROR_SUCCESS, rc) << path;
  if (rc != ERROR_SUCCESS) return result;

  PSECURITY_DESCRIPTOR sd = buffer.data();
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  result.Owner = SidText(owner);
  BOOL present = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  if (!present || !dacl) return result;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) break;
    // Allowed and denied entries share this layout.
    const ACCESS_ALLOWED_ACE* a = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    result.Dacl.push_back({SidText(const_cast<DWORD*>(&a->SidStart)), a->Mask, a->Header.AceType,
                           a->Header.AceFlags});
  }
  return result;
}

// Hands the key to the user the tests run as, so that taking ownership shows.
void GiveToCurrentUser(const std::string& path) {
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  unsigned char buffer[256];
  DWORD size = 0;
  BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  ASSERT_TRUE(ok);
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, user, FALSE));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_OWNER, &key));
  LONG rc = RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, rc);
  ASSERT_NE(Administrators, ReadKeySecurity(path).Owner);
}

const std::vector<Ace> DriverKeyDacl = {
    {Everyone, KEY_READ, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
    {Administrators, KEY_ALL_ACCESS, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
    {LocalSystem, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
    {CreatorOwner, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
};

const std::vector<Ace> DeviceKeyDacl = {
    {Everyone, KEY_READ, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
    {Administrators, GENERIC_ALL, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
    {LocalSystem, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY, ACCESS_ALLOWED_ACE_TYPE, InheritToAll},
};

class AccessTest : public RegistryTest {
 protected:
  void AddComNameArbiter() {
    SetBinary(ComNameArbiterKeyPath, "ComDB", std::vector<unsigned char>(32, 0));
  }
};

TEST_F(AccessTest, DriverKeysGetAdministratorsAsOwnerAndReadOnlyForEveryone) {
  AddRegisteredDevice(FtdiDeviceId, "FT12AB34A", "COM5");
  AddComNameArbiter();
  GiveToCurrentUser(FtdibusKeyPath);
  GiveToCurrentUser(ComNameArbiterKeyPath);
  std::string arbiterOwner = ReadKeySecurity(ComNameArbiterKeyPath).Owner;

  // A second run finds the keys already set and writes the same again.
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_TRUE(SetDriverKeyPermissions());
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());

    KeySecurity ftdibus = ReadKeySecurity(FtdibusKeyPath);
    EXPECT_EQ(Administrators, ftdibus.Owner);
    EXPECT_EQ(DriverKeyDacl, ftdibus.Dacl);
    KeySecurity arbiter = ReadKeySecurity(ComNameArbiterKeyPath);
    EXPECT_EQ(arbiterOwner, arbiter.Owner);  // the arbiter's owner is not taken
    EXPECT_EQ(DriverKeyDacl, arbiter.Dacl);
  }
}

TEST_F(AccessTest, MissingComNameArbiterIsReportedAfterFtdibusGotItsList) {
  AddRegisteredDevice(FtdiDeviceId, "FT12AB34A", "COM5");

  EXPECT_FALSE(SetDriverKeyPermissions());

  ASSERT_EQ(1u, RecordedMessages.size()) << ::testing::PrintToString(RecordedTexts());
  EXPECT_EQ("Error opening key COM_NAME_ARBITER", RecordedMessages[0].Text);
  EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
  EXPECT_EQ(UINT(MB_OK), RecordedMessages[0].Style);
  EXPECT_EQ(DriverKeyDacl, ReadKeySecurity(FtdibusKeyPath).Dacl);
}

TEST_F(AccessTest, MissingFtdibusEndsTheDriverPassSilently) {
  AddComNameArbiter();
  std::vector<Ace> before = ReadKeySecurity(ComNameArbiterKeyPath).Dacl;

  EXPECT_FALSE(SetDriverKeyPermissions());

  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  EXPECT_EQ(before, ReadKeySecurity(ComNameArbiterKeyPath).Dacl);
  EXPECT_NE(DriverKeyDacl, before);
}

TEST_F(AccessTest, EveryDeviceKeyGetsItsListAndAMissingOneIsNamed) {
  AddRegisteredDevice(FtdiDeviceId, "FT12AB34A", "COM5");
  AddRegisteredDevice(0x04036015, "FT77XY66C", "COM9");
  std::string first = DeviceKey(FtdiDeviceId, "FT12AB34A");
  std::string last = DeviceKey(0x04036015, "FT77XY66C");
  GiveToCurrentUser(first);
  GiveToCurrentUser(last);
  UseInventory({MakeRecord(FtdiDeviceId, "FT12AB34A"), MakeRecord(0, ""),
                MakeRecord(FtdiDeviceId, "FT0000NOB"), MakeRecord(0x04036015, "FT77XY66C")});

  EXPECT_TRUE(SetDeviceKeyPermissions());

  ASSERT_EQ(1u, RecordedMessages.size()) << ::testing::PrintToString(RecordedTexts());
  EXPECT_EQ("Failed to open the key "
            "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FT0000NOB\\0000 "
            "for WRITE_DAC access",
            RecordedMessages[0].Text);
  EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
  EXPECT_EQ(UINT(MB_ICONWARNING | MB_OK), RecordedMessages[0].Style);
  for (const std::string& path : {first, last}) {
    SCOPED_TRACE(path);
    KeySecurity security = ReadKeySecurity(path);
    EXPECT_EQ(Administrators, security.Owner);
    EXPECT_EQ(DeviceKeyDacl, security.Dacl);
  }
  EXPECT_FALSE(KeyExists(DeviceKey(FtdiDeviceId, "FT0000NOB")));
}

TEST_F(AccessTest, InventoryWithoutDevicesChangesNothing) {
  AddRegisteredDevice(FtdiDeviceId, "FT12AB34A", "COM5");
  std::string key = DeviceKey(FtdiDeviceId, "FT12AB34A");
  KeySecurity before = ReadKeySecurity(key);
  for (size_t count : {0, 1}) {
    SCOPED_TRACE(count);
    UseInventory(std::vector<DeviceRecord>(count, MakeRecord(0, "FT12AB34A")));
    EXPECT_TRUE(SetDeviceKeyPermissions());
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
    KeySecurity after = ReadKeySecurity(key);
    EXPECT_EQ(before.Owner, after.Owner);
    EXPECT_EQ(before.Dacl, after.Dacl);
  }
}

bool PrivilegeEnabled(const char* name) {
  LUID luid;
  if (!LookupPrivilegeValueA(nullptr, name, &luid)) return false;
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  std::vector<unsigned char> buffer(4096);
  DWORD size = 0;
  BOOL ok = GetTokenInformation(token, TokenPrivileges, buffer.data(),
                                static_cast<DWORD>(buffer.size()), &size);
  CloseHandle(token);
  if (!ok) return false;
  const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
    if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
      return (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  return false;
}

TEST_F(AccessTest, SetPrivilegeSwitchesTheNamedPrivilege) {
  struct Case {
    const char* Name;
    bool Enable;
    bool Result;
  };
  const Case cases[] = {
      {"SeTakeOwnershipPrivilege", false, true},
      {"SeTakeOwnershipPrivilege", true, true},
      {"SeNoSuchPrivilege", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + (c.Enable ? " on" : " off"));
    ClearRecordedMessages();
    EXPECT_EQ(c.Result, SetPrivilege(c.Name, c.Enable));
    if (c.Result) {
      EXPECT_EQ(c.Enable, PrivilegeEnabled(c.Name));
    }
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  }
}

// Who an access list lets write a key, decided on descriptors built here:
// Wine keeps registry lists, but this is the rule undo goes by.
TEST(AccessListRule, OnlySystemAdministratorsTrustedInstallerAndCreatorOwnerMayWrite) {
  struct {
    const char* Sddl;
    bool OthersWrite;
  } cases[] = {
      {"D:(A;OICI;KR;;;WD)(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)(A;OICI;KA;;;CO)", false},
      {"D:(A;;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", false},
      {"D:(D;;KA;;;WD)(A;;KA;;;SY)", false},  // a deny entry gives nothing
      {"D:(A;OICI;KA;;;WD)", true},           // Everyone, full control
      {"D:(A;;0x2;;;BU)", true},              // Users may set values
      {"D:(A;;GA;;;AU)", true},
      {"O:BA", true},  // no access list: everyone may
  };
  for (const auto& c : cases) {
    std::string who;
    EXPECT_EQ(c.OthersWrite, SecurityTextLetsOthersWrite(c.Sddl, &who)) << c.Sddl;
    if (c.OthersWrite) {
      EXPECT_FALSE(who.empty()) << c.Sddl;
    }
  }
}

void SetDacl(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd,
                                                                   nullptr));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd));
  RegCloseKey(key);
  LocalFree(sd);
}

int BegunSets(const std::string& journal) {
  std::string text;
  HANDLE file = CreateFileA(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char buffer[1 << 16];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) text.append(buffer, read);
  CloseHandle(file);
  int count = 0;
  for (size_t at = 0; (at = text.find("\"state\": \"begun\"", at)) != std::string::npos; ++at) ++count;
  return count;
}

// The start-up step is one change set: recorded once, nothing on a second
// start, and undone by its id to the owners and lists it found, unless what
// it found let others write the key.
TEST_F(AccessTest, StartUpAccessIsRecordedOnceAndUndoneByItsId) {
  struct {
    const char* Label;
    bool EveryoneMayWriteBefore;
  } cases[] = {{"a closed key", false}, {"a key open to everyone", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string journalFolder = std::string(folder) + "portmeld_access_journal";
    SetJournalFolder(journalFolder.c_str());
    DeleteFileA(JournalFilePath().c_str());
    AddRegisteredDevice(FtdiDeviceId, "FT12AB34A", "COM5");
    AddComNameArbiter();
    std::string device = DeviceKey(FtdiDeviceId, "FT12AB34A");
    GiveToCurrentUser(FtdibusKeyPath);
    GiveToCurrentUser(device);
    const char closed[] = "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;WD)";
    SetDacl(FtdibusKeyPath, c.EveryoneMayWriteBefore ? "D:(A;;KA;;;WD)" : closed);
    SetDacl(device, closed);
    KeySecurity before = ReadKeySecurity(FtdibusKeyPath), deviceBefore = ReadKeySecurity(device);
    UseInventory({MakeRecord(FtdiDeviceId, "FT12AB34A", "COM5")});

    EXPECT_TRUE(SetStartUpAccess(&Inventory, &Recorder));
    EXPECT_TRUE(SetStartUpAccess(&Inventory, &Recorder));
    EXPECT_EQ(1, BegunSets(JournalFilePath())) << "the second start writes nothing";
    EXPECT_EQ(DriverKeyDacl, ReadKeySecurity(FtdibusKeyPath).Dacl);

    UndoRequest request = {0, false, false, RELOAD_NONE, nullptr, nullptr};
    UndoResult result;
    UndoChangeSet(request, &result, &Recorder);
    EXPECT_EQ(UNDO_NO_SET, result.Refusal) << "undo without an id passes it by";
    request.Id = 1;
    UndoResult undone;
    UndoChangeSet(request, &undone, &Recorder);
    EXPECT_EQ(UNDO_PLANNED, undone.Refusal);
    KeySecurity after = ReadKeySecurity(FtdibusKeyPath);
    if (c.EveryoneMayWriteBefore) {
      ASSERT_EQ(1u, undone.Issues.size());
      EXPECT_NE(undone.Issues[0].Message.find("S-1-1-0"), std::string::npos)
          << undone.Issues[0].Message;
      EXPECT_EQ(DriverKeyDacl, after.Dacl) << "never made writable for everyone";
    } else {
      EXPECT_TRUE(undone.Issues.empty()) << undone.Issues[0].Message;
      EXPECT_EQ(before.Owner, after.Owner);
      EXPECT_EQ(before.Dacl, after.Dacl);
    }
    EXPECT_EQ(deviceBefore.Owner, ReadKeySecurity(device).Owner);
    EXPECT_EQ(deviceBefore.Dacl, ReadKeySecurity(device).Dacl);
    DeleteFileA(JournalFilePath().c_str());
    RemoveDirectoryA(journalFolder.c_str());
    SetJournalFolder(nullptr);
  }
}

}  // namespace
