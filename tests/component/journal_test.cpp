// The change journal against Wine's file system: lines as a JSON reader
// sees them, ids across runs, cut lines and rotation, the access list of a
// new journal, and a journal that cannot be written.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "access/file_access.h"
#include "devices/journal.h"

namespace {

std::string Folder() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  return std::string(temp) + "portmeld_journal_test";
}

std::string ReadText(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, text.size());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

ChangeSet LatencySet(uint32_t from, uint32_t to) {
  ChangeSet set;
  set.Command = "set COM5 latencyTimer=2";
  ValueChange change;
  change.Port = "COM5";
  change.Serial = "FT12AB34A";
  change.Key =
      "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FT12AB34A\\0000\\Device "
      "Parameters";
  change.Value = "LatencyTimer";
  change.Before.Present = change.After.Present = true;
  change.Before.Type = change.After.Type = REG_DWORD;
  change.Before.Data = {(unsigned char)from, 0, 0, 0};
  change.After.Data = {(unsigned char)to, 0, 0, 0};
  set.Changes.push_back(change);
  return set;
}

class Journal : public ::testing::Test {
 protected:
  void SetUp() override {
    Clear();
    SetJournalFolder(Folder().c_str());
    SetJournalEnabled(true);
    SetJournalProgram("portmeld 1.0");
  }
  void TearDown() override {
    Clear();
    SetJournalFolder(nullptr);
    SetJournalEnabled(true);
  }
  static void Clear() {
    DeleteFileA((Folder() + "\\changes.jsonl").c_str());
    DeleteFileA((Folder() + "\\changes.1.jsonl").c_str());
    RemoveDirectoryA((Folder() + "\\changes.jsonl").c_str());
    RemoveDirectoryA(Folder().c_str());
  }
};

}  // namespace

TEST_F(Journal, BegunAndEndLines) {
  ChangeSet set = LatencySet(16, 2);
  ValueChange flag;
  flag.Key = "SYSTEM\\CurrentControlSet\\Control\\UsbFlags";
  flag.Value = "IgnoreHWSerNum04036001";
  flag.After.Present = true;
  flag.After.Type = REG_BINARY;
  flag.After.Data = {1};
  set.Changes.push_back(flag);
  ValueChange same = set.Changes[0];
  same.Value = "MinReadTimeout";
  same.After = same.Before;  // not written, so not recorded
  set.Changes.push_back(same);
  ValueChange removal;
  removal.Kind = CHANGE_REMOVE_DEVICE;
  removal.Port = "COM7";
  removal.Serial = "FT77ZZ11A";
  removal.Key = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FT77ZZ11A\\0000";
  set.Changes.push_back(removal);

  ASSERT_EQ(JournalBegin(&set), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(set.JournalId, 1u);
  set.Failed.push_back({1, ERROR_ACCESS_DENIED, false, false});
  ASSERT_EQ(JournalEnd(&set), (DWORD)ERROR_SUCCESS);

  std::vector<std::string> lines = Lines(ReadText(JournalFilePath()));
  ASSERT_EQ(lines.size(), 2u);
  nlohmann::json begun = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(begun["id"], 1);
  EXPECT_EQ(begun["state"], "begun");
  EXPECT_EQ(begun["program"], "portmeld 1.0");
  EXPECT_EQ(begun["command"], "set COM5 latencyTimer=2");
  EXPECT_NE(begun["user"].get<std::string>(), "");
  EXPECT_EQ(begun["time"].get<std::string>().size(), 20u);
  ASSERT_EQ(begun["changes"].size(), 3u);
  EXPECT_EQ(begun["changes"][0]["key"], "HKLM\\" + set.Changes[0].Key);
  EXPECT_EQ(begun["changes"][0]["before"]["data"], "10000000");
  EXPECT_EQ(begun["changes"][0]["after"]["data"], "02000000");
  EXPECT_TRUE(begun["changes"][1]["before"].is_null());
  EXPECT_EQ(begun["changes"][1]["after"]["type"], "REG_BINARY");
  EXPECT_EQ(begun["changes"][2]["action"], "remove-device");
  nlohmann::json end = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(end["state"], "partial");
  EXPECT_EQ(end["failed"][0]["key"], "HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags");
  EXPECT_EQ(end["failed"][0]["value"], "IgnoreHWSerNum04036001");
  EXPECT_EQ(end["failed"][0]["error"], 5);

  // Ids count on; a set that changes nothing is not recorded.
  ChangeSet second = LatencySet(2, 4), nothing = LatencySet(4, 4);
  ASSERT_EQ(JournalBegin(&second), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(second.JournalId, 2u);
  ASSERT_EQ(JournalEnd(&second), (DWORD)ERROR_SUCCESS);
  ASSERT_EQ(JournalBegin(&nothing), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(nothing.JournalId, 0u);
  lines = Lines(ReadText(JournalFilePath()));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(nlohmann::json::parse(lines[3]), nlohmann::json({{"id", 2}, {"state", "done"}}));
}

TEST_F(Journal, CutLinesStayApart) {
  CreateDirectoryA(Folder().c_str(), nullptr);
  const struct {
    const char* Name;
    std::string Text;
    uint64_t Next;
  } cases[] = {
      {"cut in its id", "{\"id\": 6, \"state\": \"done\"}\n{\"id\": 7", 7},
      {"cut after its id", "{\"id\": 6, \"state\": \"done\"}\n{\"id\": 7, \"time\": \"20", 8},
      {"only a cut line", "{\"id\": 3, \"ti", 4},
      {"garbage", "\x01\x02 not json", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteText(JournalFilePath(), c.Text);
    ChangeSet set = LatencySet(16, 2);
    ASSERT_EQ(JournalBegin(&set), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(set.JournalId, c.Next);
    std::string text = ReadText(JournalFilePath());
    // The cut line is kept as it was, and ours starts on a line of its own.
    ASSERT_EQ(text.compare(0, c.Text.size(), c.Text), 0);
    ASSERT_EQ(text[c.Text.size()], '\n');
    EXPECT_TRUE(nlohmann::json::accept(Lines(text.substr(c.Text.size() + 1))[0]));
  }
}

TEST_F(Journal, RotatesAtFourMegabytes) {
  CreateDirectoryA(Folder().c_str(), nullptr);
  std::string line = "{\"id\": 41, \"state\": \"done\"}\n";
  std::string filler = "{\"id\": 40, \"state\": \"begun\", \"pad\": \"";
  filler += std::string(JOURNAL_ROTATE_SIZE - filler.size() - 3 - line.size() - 1, 'x') + "\"}\n";
  WriteText(JournalFilePath(), filler + line.substr(0, line.size() - 1));
  ChangeSet below = LatencySet(16, 2);  // one byte short of the size: no rotation
  ASSERT_EQ(JournalBegin(&below), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(below.JournalId, 42u);
  EXPECT_EQ(GetFileAttributesA(RotatedJournalFilePath().c_str()), INVALID_FILE_ATTRIBUTES);

  ChangeSet next = LatencySet(2, 3);
  ASSERT_EQ(JournalBegin(&next), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(next.JournalId, 43u);
  ASSERT_EQ(JournalEnd(&next), (DWORD)ERROR_SUCCESS);
  std::string old = ReadText(RotatedJournalFilePath());
  EXPECT_GE(old.size(), (size_t)JOURNAL_ROTATE_SIZE);
  EXPECT_NE(old.find("{\"id\": 42, "), std::string::npos);
  std::vector<std::string> lines = Lines(ReadText(JournalFilePath()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(lines[0])["id"], 43);
  EXPECT_EQ(nlohmann::json::parse(lines[1])["state"], "done");

  // A new, empty file takes its first id from the one before.
  WriteText(JournalFilePath(), "");
  ChangeSet after = LatencySet(3, 4);
  ASSERT_EQ(JournalBegin(&after), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(after.JournalId, 43u);  // the old file's last id was 42
}

// The rights Users have on the object. Wine keeps a file's access as Unix
// modes, where what others may do reads back as Everyone's entry: that
// counts too (Windows keeps the Users' entry as it was given).
static DWORD UsersRights(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return 0;
  BYTE users[SECURITY_MAX_SID_SIZE], everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof users, rights = 0;
  CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size);
  size = sizeof everyone;
  CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace;
    if (GetAce(dacl, i, (void**)&ace) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        (EqualSid((PSID)&ace->SidStart, users) || EqualSid((PSID)&ace->SidStart, everyone)))
      rights |= ace->Mask;
  }
  LocalFree(descriptor);
  return rights;
}

// A journal as an earlier version made it: SYSTEM and Administrators only.
static void MakeAdministratorsOnlyJournal() {
  const struct {
    std::string Path;
    const char* Sddl;
    bool Folder;
  } objects[] = {{Folder(), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
                 {JournalFilePath(), "D:P(A;;FA;;;SY)(A;;FA;;;BA)", false}};
  for (const auto& object : objects) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(object.Sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    if (object.Folder) {
      ASSERT_TRUE(CreateDirectoryA(object.Path.c_str(), &attributes));
    } else {
      HANDLE file = CreateFileA(object.Path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, 0,
                                nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      CloseHandle(file);
    }
    LocalFree(descriptor);
  }
  ASSERT_EQ(UsersRights(JournalFilePath()) & FILE_READ_DATA, 0u);
}

// Every local user reads the journal; only SYSTEM and Administrators write
// it, a new one and one an earlier version made alike, from its next set on.
TEST_F(Journal, UsersReadItAdministratorsWriteIt) {
  for (bool earlier : {false, true}) {
    Clear();
    if (earlier) MakeAdministratorsOnlyJournal();
    ChangeSet set = LatencySet(16, 2);
    ASSERT_EQ(JournalBegin(&set), (DWORD)ERROR_SUCCESS);
    OtherAccess other;
    ASSERT_EQ(FindFileWriter(JournalFilePath().c_str(), &other), (DWORD)ERROR_SUCCESS);
    EXPECT_FALSE(other.Found) << earlier << ": " << other.Account << " through " << other.Through;
    DWORD file = UsersRights(JournalFilePath()), folder = UsersRights(Folder());
    EXPECT_EQ(file & FILE_GENERIC_READ, (DWORD)FILE_GENERIC_READ) << earlier;
    EXPECT_EQ(folder & FILE_LIST_DIRECTORY, (DWORD)FILE_LIST_DIRECTORY) << earlier;
    EXPECT_EQ((file | folder) & (FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | DELETE), 0u)
        << earlier;
  }
  // What the journal asks for, as Windows keeps it.
  for (const char* sddl : {JournalFileAccess, JournalFolderAccess}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_FALSE(FindOtherWriter(descriptor, descriptor, nullptr).Found) << sddl;
    LocalFree(descriptor);
  }
}

TEST_F(Journal, CannotBeWrittenOrSwitchedOff) {
  // A folder where the file should be: the journal cannot be opened.
  CreateDirectoryA(Folder().c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryA(JournalFilePath().c_str(), nullptr));
  ChangeSet set = LatencySet(16, 2);
  EXPECT_NE(JournalBegin(&set), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(set.JournalId, 0u);
  RemoveDirectoryA(JournalFilePath().c_str());

  SetJournalEnabled(false);
  EXPECT_FALSE(JournalEnabled());
  ChangeSet off = LatencySet(16, 2);
  EXPECT_EQ(JournalBegin(&off), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(off.JournalId, 0u);
  EXPECT_EQ(JournalEnd(&off), (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesA(JournalFilePath().c_str()), INVALID_FILE_ATTRIBUTES);
}
