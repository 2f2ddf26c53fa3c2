// A configuration-file save whose file calls fail one at a time (the file
// wrapper's substitute, fake_file_io.h): each failure is reported once, and
// neither the old file nor a temporary file is changed or left behind.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "component/fake_file_io.h"
#include "component/core_calls.h"
#include "component/registry_fixture.h"
#include "configfile/config_file.h"

namespace {

class ConfigFileFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
    folder = std::string(temp) + "portmeld_config_file_faults";
    EmptyFolder();
    CreateDirectoryA(folder.c_str(), nullptr);
    ClearRecordedMessages();
    ResetFakeFileIo();
  }
  void TearDown() override {
    ResetFakeFileIo();
    EmptyFolder();
    RemoveDirectoryA(folder.c_str());
  }

  void EmptyFolder() {
    for (const std::string& name : FolderContents(folder))
      DeleteFileA((folder + "\\" + name).c_str());
  }

  std::string folder;
};

TEST_F(ConfigFileFaultTest, EveryFailingFileCallIsReportedAndLeavesTheFolderAsItWas) {
  struct Case {
    const char* Label;
    FileFault Fault;
    DWORD WriteFailsAt;
    const char* Message;
  } cases[] = {
      {"no temporary file name", FileFault::TempName, 0, "Cannot open file"},
      {"temporary file does not open", FileFault::Create, 0, "Cannot open file"},
      {"disk full before the first byte", FileFault::Write, 0, "Cannot write file"},
      {"disk full after one byte", FileFault::Write, 1, "Cannot write file"},
      {"disk full half way", FileFault::Write, 42, "Cannot write file"},
      {"disk full before the last byte", FileFault::Write, 83, "Cannot write file"},
      {"flush fails", FileFault::Flush, 0, "Cannot write file"},
      {"close fails", FileFault::Close, 0, "Cannot write file"},
      {"replace fails", FileFault::Move, 0, "Cannot replace file"},
  };
  // Longer than a record and without a byte in common with the new one's
  // start, so that any partial overwrite shows.
  std::vector<unsigned char> old(100);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<unsigned char>(0xA0 + i % 7);
  DeviceRecord record;
  memset(&record, 0x11, sizeof record);
  record.PortName[0] = '\0';

  for (const Case& c : cases) {
    for (bool oldFile : {true, false}) {
      SCOPED_TRACE(std::string(c.Label) + (oldFile ? ", old file there" : ", no old file"));
      EmptyFolder();
      std::string path = folder + "\\Config_COM5.dat";
      if (oldFile) {
        ASSERT_TRUE(WriteBytes(path, old));
      }
      ClearRecordedMessages();
      ArmFileFault(c.Fault, c.WriteFailsAt);

      EXPECT_EQ(0, WriteConfigurationFile(path.c_str(), &record));

      EXPECT_TRUE(FakeFileIo.FaultHit);
      EXPECT_EQ(std::vector<std::string>{c.Message}, RecordedTexts());
      if (oldFile) {
        EXPECT_EQ(old, ReadBytes(path));
        EXPECT_EQ(std::vector<std::string>{"Config_COM5.dat"}, FolderContents(folder));
      } else {
        EXPECT_EQ(std::vector<std::string>{}, FolderContents(folder));
      }
    }
  }
}

}  // namespace
