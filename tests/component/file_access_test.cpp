// Who besides the administrators may change a profile or the journal:
// decided on descriptors built here, since Wine keeps no file access lists
// of its own (it maps them to mode bits), and once on a real file.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "access/file_access.h"

namespace {

const char Me[] = "S-1-5-21-1-2-3-1001";  // the elevated administrator running us
const char Other[] = "S-1-5-21-1-2-3-1002";
const char Installer[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char SafeFolder[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Wine's SDDL reader makes NO_ACCESS_CONTROL an empty list, so a
// descriptor without one is built by hand.
const char NullDacl[] = "owner Administrators, no access list";

struct Descriptor {
  PSECURITY_DESCRIPTOR Value = nullptr;
  SECURITY_DESCRIPTOR Absolute;
  PSID Owner = nullptr;
  explicit Descriptor(const std::string& sddl) {
    if (sddl.empty()) return;
    if (sddl == NullDacl) {
      ConvertStringSidToSidA("S-1-5-32-544", &Owner);
      InitializeSecurityDescriptor(&Absolute, SECURITY_DESCRIPTOR_REVISION);
      SetSecurityDescriptorOwner(&Absolute, Owner, FALSE);
      SetSecurityDescriptorDacl(&Absolute, TRUE, nullptr, FALSE);
      return;
    }
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &Value, nullptr))
        << sddl;
  }
  ~Descriptor() {
    if (Value) LocalFree(Value);
    if (Owner) LocalFree(Owner);
  }
  PSECURITY_DESCRIPTOR Get() { return Owner ? &Absolute : Value; }
};

struct Sid {
  PSID Value = nullptr;
  explicit Sid(const char* text) { EXPECT_TRUE(ConvertStringSidToSidA(text, &Value)); }
  ~Sid() { LocalFree(Value); }
};

struct Case {
  const char* Name;
  std::string File, Folder;  // "" folder: not known
  const char* Writer;        // what Through says, or nullptr for nobody
  bool AnyAccess;            // FindOtherAccess finds someone
};

}  // namespace

TEST(FileAccess, WhoElseMayChangeAFile) {
  const std::string admins = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
  const Case cases[] = {
      {"journal as created", "O:BA" + admins, SafeFolder, nullptr, false},
      {"owned by the elevated administrator", std::string("O:") + Me + admins, SafeFolder, nullptr,
       false},
      {"owned by TrustedInstaller", std::string("O:") + Installer + admins, SafeFolder, nullptr,
       false},
      {"owned by another user", std::string("O:") + Other + admins, SafeFolder, "owning the file",
       true},
      {"Everyone reads", "O:BA" + admins + "(A;;0x1200a9;;;WD)", SafeFolder, nullptr, true},
      {"Users write", "O:BA" + admins + "(A;;0x12019f;;;BU)", SafeFolder, "the file", true},
      {"Everyone may write (Wine's mode 0666)", "O:BAD:(A;;0x1301ff;;;WD)", SafeFolder, "the file",
       true},
      {"generic write for Authenticated Users", "O:BA" + admins + "(A;;GW;;;AU)", SafeFolder,
       "the file", true},
      {"a user may change the access list", "O:BA" + admins + "(A;;WD;;;" + Other + ")", SafeFolder,
       "the file", true},
      {"TrustedInstaller writes", "O:BA" + admins + "(A;;FA;;;" + Installer + ")", SafeFolder,
       nullptr, false},
      {"no access list at all", NullDacl, SafeFolder, "the file (it has no access list)", true},
      {"denied before allowed", "O:BAD:(D;;FA;;;BU)(A;;FA;;;BU)(A;;FA;;;BA)", SafeFolder, nullptr,
       false},
      {"write denied to Everyone, but the access list not",
       "O:BAD:(D;;FW;;;WD)(A;;FA;;;BU)(A;;FA;;;BA)", SafeFolder, "the file", true},
      {"inherit-only entries do not apply", "O:BA" + admins + "(A;OICIIO;FA;;;BU)", SafeFolder,
       nullptr, false},
      {"CREATOR OWNER is only a template", "O:BA" + admins + "(A;;FA;;;CO)", SafeFolder, nullptr,
       false},
      {"folder: Users add and delete files", "O:BA" + admins,
       "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ef;;;BU)", "its folder", false},
      {"folder: Users add files, may delete this one", "O:BA" + admins + "(A;;SD;;;BU)",
       "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ab;;;BU)", "the file and its folder", true},
      {"folder: Users add files, this one stays", "O:BA" + admins,
       "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ab;;;BU)", nullptr, false},
      {"folder: a user may change its access list", "O:BA" + admins,
       std::string("O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;WD;;;") + Other + ")", "its folder", false},
      {"folder owned by another user", "O:BA" + admins,
       std::string("O:") + Other + "D:(A;;FA;;;SY)", "owning its folder", false},
      {"folder without access list", "O:BA" + admins, NullDacl,
       "its folder (it has no access list)", false},
      {"folder unknown", "O:BA" + admins, "", nullptr, false},
  };
  Sid me(Me);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Descriptor file(c.File), folder(c.Folder);
    OtherAccess writer = FindOtherWriter(file.Get(), folder.Get(), me.Value);
    EXPECT_EQ(writer.Found, c.Writer != nullptr) << writer.Account << " " << writer.Through;
    if (c.Writer && writer.Found) {
      EXPECT_EQ(writer.Through, c.Writer);
      EXPECT_FALSE(writer.Account.empty());
    }
    OtherAccess any = FindOtherAccess(file.Get(), me.Value);
    EXPECT_EQ(any.Found, c.AnyAccess) << any.Account << " " << any.Through;
  }
}

TEST(FileAccess, AccountsAreNamed) {
  Descriptor file("O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;BU)");
  OtherAccess writer = FindOtherWriter(file.Value, nullptr, nullptr);
  ASSERT_TRUE(writer.Found);
  EXPECT_NE(writer.Account.find("Users"), std::string::npos) << writer.Account;
  Descriptor stranger(std::string("O:BAD:(A;;FA;;;") + Other + ")");
  writer = FindOtherWriter(stranger.Value, nullptr, nullptr);
  EXPECT_EQ(writer.Account, Other);
}

// Under Wine a file's access list follows its mode bits: a new file is
// 0644 (Everyone reads), and an entry letting Everyone write makes it 0666.
TEST(FileAccess, OnARealFile) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string path = std::string(temp) + "portmeld_file_access.json";
  DeleteFileA(path.c_str());
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  OtherAccess found;
  ASSERT_EQ(FindFileWriter(path.c_str(), &found), (DWORD)ERROR_SUCCESS);
  EXPECT_FALSE(found.Found) << found.Account << " " << found.Through;
  // Everyone reads it, which a journal must not allow.
  ASSERT_EQ(FindFileAccess(path.c_str(), &found), (DWORD)ERROR_SUCCESS);
  EXPECT_TRUE(found.Found);

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  BOOL present, defaulted;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  ASSERT_EQ(SetNamedSecurityInfoA(&path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, dacl, nullptr),
            (DWORD)ERROR_SUCCESS);
  LocalFree(sd);
  ASSERT_EQ(FindFileWriter(path.c_str(), &found), (DWORD)ERROR_SUCCESS);
  EXPECT_TRUE(found.Found);
  EXPECT_EQ(found.Through, "the file");
  EXPECT_EQ(FindFileWriter((path + ".missing").c_str(), &found), (DWORD)ERROR_FILE_NOT_FOUND);
  DeleteFileA(path.c_str());
}
