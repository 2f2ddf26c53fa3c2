// Configuration files on Wine's file system: the save that goes through a
// temporary file, and the load that changes nothing unless a whole record
// was read.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "component/core_calls.h"
#include "component/registry_fixture.h"
#include "configfile/config_file.h"
#include "devices/settings_rules.h"

namespace {

const char TooShortText[] = "Not a configuration file: it is shorter than 84 bytes";

// A record whose every byte is set, so that any change to it shows.
DeviceRecord MarkedRecord() {
  DeviceRecord record;
  memset(&record, 0xCC, sizeof record);
  return record;
}

// The record a saved file comes from: distinct bytes everywhere, timing
// values wider than a byte.
DeviceRecord SavedRecord() {
  DeviceRecord record;
  memset(&record, 0, sizeof record);
  for (int i = 0; i < CONFIG_DATA_SIZE; ++i)
    record.ConfigData[i] = static_cast<unsigned char>(i + 1);
  record.MinReadTimeout = 1000;  // low byte 0xE8
  record.MinWriteTimeout = 0x1234;
  record.LatencyTimer = 16;
  record.PollingPeriod = 0;
  memcpy(record.UpperFilters, SerenumUpperFilters, UPPER_FILTERS_SIZE);
  strcpy(record.PortName, "COM5");
  return record;
}

std::vector<unsigned char> ExpectedImage() {
  std::vector<unsigned char> image;
  for (int i = 0; i < CONFIG_DATA_SIZE; ++i) image.push_back(static_cast<unsigned char>(i + 1));
  image.push_back(0xE8);
  image.push_back(0x34);
  image.push_back(0x10);
  image.insert(image.end(), SerenumUpperFilters, SerenumUpperFilters + UPPER_FILTERS_SIZE);
  image.push_back(0x00);
  return image;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
    folder = std::string(temp) + "portmeld_config_file_test";
    RemoveFolder();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    ClearRecordedMessages();
  }
  void TearDown() override { RemoveFolder(); }

  std::string PathOf(const char* name) const { return folder + "\\" + name; }

  // The names in the test folder, to see that no temporary file is left.
  std::vector<std::string> FolderContents() const { return ::FolderContents(folder); }

  void ExpectOneError(const char* text) {
    ASSERT_EQ(1u, RecordedMessages.size()) << ::testing::PrintToString(RecordedTexts());
    EXPECT_EQ(text, RecordedMessages[0].Text);
    EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
    EXPECT_EQ(UINT(MB_ICONERROR | MB_OK), RecordedMessages[0].Style);
  }

  std::string folder;

 private:
  void RemoveFolder() {
    for (const std::string& name : FolderContents()) {
      std::string path = PathOf(name.c_str());
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
    }
    RemoveDirectoryA(folder.c_str());
  }
};

TEST_F(ConfigFileTest, SaveWritesTheWholeImageInPlaceOfAnyOldFile) {
  struct Case {
    const char* Label;
    size_t OldSize;  // 0: no old file
  } cases[] = {{"new file", 0}, {"longer old file", 300}, {"shorter old file", 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    std::string path = PathOf("Config_COM5.dat");
    DeleteFileA(path.c_str());
    if (c.OldSize) {
      ASSERT_TRUE(WriteBytes(path, std::vector<unsigned char>(c.OldSize, 0x5A)));
    }
    ClearRecordedMessages();
    DeviceRecord record = SavedRecord();

    EXPECT_EQ(1, WriteConfigurationFile(path.c_str(), &record));

    EXPECT_EQ(ExpectedImage(), ReadBytes(path));
    EXPECT_EQ(std::vector<std::string>{"Config_COM5.dat"}, FolderContents());
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  }
}

TEST_F(ConfigFileTest, AFailedSaveIsReportedAndKeepsWhatWasThere) {
  const std::vector<unsigned char> old(84, 0x5A);
  enum Setup { NOTHING, READ_ONLY_FILE, FOLDER, HELD_OPEN };
  struct Case {
    const char* Label;
    const char* Target;  // under the test folder
    Setup Before;        // what the target is before the save
    const char* Message;
  } cases[] = {
      {"folder missing", "missing\\Config_COM5.dat", NOTHING, "Cannot open file"},
      {"old file read-only", "Config_COM5.dat", READ_ONLY_FILE, "Cannot open file"},
      {"a folder in the way", "Config_COM5.dat", FOLDER, "Cannot open file"},
      {"old file held open by another program", "Config_COM5.dat", HELD_OPEN,
       "Cannot replace file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    TearDown();
    SetUp();
    std::string path = PathOf(c.Target);
    if (c.Before == READ_ONLY_FILE) {
      ASSERT_TRUE(WriteBytes(path, old));
      ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.Before == HELD_OPEN) {
      ASSERT_TRUE(WriteBytes(path, old));
      held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, held);
    }
    if (c.Before == FOLDER) {
      ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    }
    std::vector<std::string> before = FolderContents();
    DeviceRecord record = SavedRecord();

    EXPECT_EQ(0, WriteConfigurationFile(path.c_str(), &record));

    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    ExpectOneError(c.Message);
    EXPECT_EQ(before, FolderContents());  // no temporary file left behind
    if (c.Before == READ_ONLY_FILE || c.Before == HELD_OPEN) {
      EXPECT_EQ(old, ReadBytes(path));
    }
  }
}

TEST_F(ConfigFileTest, LoadTakesTheFirstRecordOfAFileOfAnyLengthFromEightyFour) {
  std::vector<unsigned char> image = ExpectedImage();
  for (size_t extra : {size_t(0), size_t(1), size_t(500)}) {
    SCOPED_TRACE(extra);
    std::vector<unsigned char> bytes = image;
    bytes.insert(bytes.end(), extra, 0xFF);
    std::string path = PathOf("load.dat");
    ASSERT_TRUE(WriteBytes(path, bytes));
    ClearRecordedMessages();
    DeviceRecord record = MarkedRecord();
    record.KnownSettings = 0;

    EXPECT_EQ(1, ReadConfigurationFile(path.c_str(), &record));

    EXPECT_EQ(0, memcmp(image.data(), record.ConfigData, CONFIG_DATA_SIZE));
    EXPECT_EQ(232u, record.MinReadTimeout);
    EXPECT_EQ(0x34u, record.MinWriteTimeout);
    EXPECT_EQ(16u, record.LatencyTimer);
    EXPECT_EQ(0u, record.PollingPeriod);
    EXPECT_TRUE(IsSerialEnumeratorOn(record.UpperFilters));
    // Loaded values count as the user's, so that Apply writes them.
    EXPECT_EQ(uint32_t(KNOWN_CONFIG_DATA | KNOWN_MIN_READ_TIMEOUT | KNOWN_MIN_WRITE_TIMEOUT |
                       KNOWN_LATENCY_TIMER | KNOWN_POLLING_PERIOD),
              record.KnownSettings &
                  (KNOWN_CONFIG_DATA | KNOWN_MIN_READ_TIMEOUT | KNOWN_MIN_WRITE_TIMEOUT |
                   KNOWN_LATENCY_TIMER | KNOWN_POLLING_PERIOD));
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  }
}

TEST_F(ConfigFileTest, ALoadThatFailsLeavesEveryValueOfTheRecord) {
  struct Case {
    const char* Label;
    int Size;  // -1: no file at all
    const char* Message;
  } cases[] = {
      {"no file", -1, "Cannot open file"},
      {"empty file", 0, TooShortText},
      {"one byte", 1, TooShortText},
      {"one byte short", 83, TooShortText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    std::string path = PathOf("short.dat");
    DeleteFileA(path.c_str());
    const std::vector<unsigned char> image = ExpectedImage();
    if (c.Size >= 0) {
      ASSERT_TRUE(
          WriteBytes(path, std::vector<unsigned char>(image.begin(), image.begin() + c.Size)));
    }
    ClearRecordedMessages();
    const DeviceRecord before = MarkedRecord();
    DeviceRecord record = before;

    EXPECT_EQ(0, ReadConfigurationFile(path.c_str(), &record));

    ExpectOneError(c.Message);
    EXPECT_EQ(0, memcmp(&before, &record, sizeof record));
  }
}

TEST_F(ConfigFileTest, ASavedFileLoadsIntoAnotherPortWithTheLowBytesOfItsValues) {
  std::string path = PathOf("Config_COM5.dat");
  DeviceRecord saved = SavedRecord();
  ASSERT_EQ(1, WriteConfigurationFile(path.c_str(), &saved));
  DeviceRecord other = MarkedRecord();
  strcpy(other.PortName, "COM9");
  strcpy(other.SerialNumber, "FT99ZZ99A");

  ASSERT_EQ(1, ReadConfigurationFile(path.c_str(), &other));

  EXPECT_EQ(0, memcmp(saved.ConfigData, other.ConfigData, CONFIG_DATA_SIZE));
  EXPECT_EQ(saved.MinReadTimeout & 0xFF, other.MinReadTimeout);
  EXPECT_EQ(saved.MinWriteTimeout & 0xFF, other.MinWriteTimeout);
  EXPECT_EQ(saved.LatencyTimer, other.LatencyTimer);
  EXPECT_EQ(saved.PollingPeriod, other.PollingPeriod);
  EXPECT_EQ(0, memcmp(saved.UpperFilters, other.UpperFilters, UPPER_FILTERS_SIZE));
  // The file carries no identity: the port stays itself.
  EXPECT_STREQ("COM9", other.PortName);
  EXPECT_STREQ("FT99ZZ99A", other.SerialNumber);
  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
}

}  // namespace
