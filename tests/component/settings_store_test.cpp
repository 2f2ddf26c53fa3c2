// Reading and writing device settings and the ignore-serial values against
// Wine's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "baud/alias.h"
#include "devices/config_data.h"
#include "devices/settings_rules.h"
#include "devices/settings_store.h"
#include "settings_test_support.h"

namespace {

const char* const Serial = "FT12AB34A";
const char* const OtherSerial = "FT99ZZ88B";

std::vector<unsigned char> Pattern(size_t size, unsigned char first) {
  std::vector<unsigned char> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(first + i);
  return data;
}

std::vector<unsigned char> SerenumImage() {
  return std::vector<unsigned char>(SerenumUpperFilters, SerenumUpperFilters + UPPER_FILTERS_SIZE);
}

void DeleteValue(const std::string& path, const char* name) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key));
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

std::vector<unsigned char> Stored(const std::string& path, const char* name, DWORD* type = nullptr) {
  std::vector<unsigned char> data;
  EXPECT_TRUE(ReadValue(path, name, &data, type)) << path << " " << name;
  return data;
}

void ExpectOneMessage(const std::string& text, UINT style = MB_OK) {
  ASSERT_EQ(1u, RecordedMessages.size()) << ::testing::PrintToString(RecordedTexts());
  EXPECT_EQ(text, RecordedMessages[0].Text);
  EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
  EXPECT_EQ(style, RecordedMessages[0].Style);
}

class SettingsStoreTest : public RegistryTest {};

TEST_F(SettingsStoreTest, ReadsEveryValueOfACompleteDevice) {
  AddRegisteredDevice(FtdiDeviceId, Serial, "COM5", true);
  std::string params = DeviceKey(FtdiDeviceId, Serial, true);
  std::vector<unsigned char> config = Pattern(64, 0x10);
  SetBinary(params, "ConfigData", config);
  SetDword(params, "MinReadTimeout", 1234);
  SetDword(params, "MinWriteTimeout", 2345);
  SetDword(params, "PollingPeriod", 7);
  SetDword(params, "LatencyTimer", 16);
  UseInventory({MakeRecord(FtdiDeviceId, Serial, "", true)});

  EXPECT_EQ(1, ReadDeviceSettings());

  const DeviceRecord& r = records[0];
  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  EXPECT_EQ(config, Bytes(r.ConfigData, CONFIG_DATA_SIZE));
  EXPECT_STREQ("COM5", r.PortName);
  EXPECT_EQ(1234u, r.MinReadTimeout);
  EXPECT_EQ(2345u, r.MinWriteTimeout);
  EXPECT_EQ(7u, r.PollingPeriod);
  EXPECT_EQ(16u, r.LatencyTimer);
  EXPECT_EQ(SerenumImage(), Bytes(r.UpperFilters, UPPER_FILTERS_SIZE));
  EXPECT_EQ(uint32_t(KNOWN_CONFIG_DATA | KNOWN_PORT_NAME | KNOWN_MIN_READ_TIMEOUT |
                     KNOWN_MIN_WRITE_TIMEOUT | KNOWN_POLLING_PERIOD | KNOWN_LATENCY_TIMER |
                     KNOWN_UPPER_FILTERS | READ_UPPER_FILTERS),
            r.KnownSettings);
}

// One Device Parameters value missing, too long or too short; the other five
// are complete. The field starts as Marker bytes.
struct OddValueCase {
  const char* Label;
  const char* Value;
  bool Remove;                       // else store Data as REG_BINARY
  std::vector<unsigned char> Data;
  const char* Message;               // nullptr: no message
  size_t BytesRead;                  // leading bytes of the field taken from Data
};

TEST_F(SettingsStoreTest, ReadsMissingOversizedAndUndersizedValues) {
  const OddValueCase cases[] = {
      {"40-byte ConfigData", "ConfigData", false, Pattern(40, 0x40), nullptr, 40},
      {"65-byte ConfigData", "ConfigData", false, Pattern(65, 0x40), "Config not found", 0},
      {"no ConfigData", "ConfigData", true, {}, "Config not found", 0},
      {"no PortName", "PortName", true, {}, "Port Name not found", 0},
      {"17-byte PortName", "PortName", false, Pattern(17, 'A'), "Port Name not found", 0},
      {"no MinReadTimeout", "MinReadTimeout", true, {}, "MinReadTime not found", 0},
      {"8-byte MinReadTimeout", "MinReadTimeout", false, Pattern(8, 1), "MinReadTime not found", 0},
      {"no MinWriteTimeout", "MinWriteTimeout", true, {}, "MinWriteTime not found", 0},
      {"no PollingPeriod", "PollingPeriod", true, {}, "PollingPEriod not found", 0},
      {"no LatencyTimer", "LatencyTimer", true, {}, "No Latency found", 0},
  };
  struct Field {
    const char* Value;
    size_t Offset;
    size_t Size;
    uint32_t Known;
  };
  const Field fields[] = {
      {"ConfigData", offsetof(DeviceRecord, ConfigData), CONFIG_DATA_SIZE, KNOWN_CONFIG_DATA},
      {"PortName", offsetof(DeviceRecord, PortName), PORT_NAME_SIZE, KNOWN_PORT_NAME},
      {"MinReadTimeout", offsetof(DeviceRecord, MinReadTimeout), 4, KNOWN_MIN_READ_TIMEOUT},
      {"MinWriteTimeout", offsetof(DeviceRecord, MinWriteTimeout), 4, KNOWN_MIN_WRITE_TIMEOUT},
      {"PollingPeriod", offsetof(DeviceRecord, PollingPeriod), 4, KNOWN_POLLING_PERIOD},
      {"LatencyTimer", offsetof(DeviceRecord, LatencyTimer), 4, KNOWN_LATENCY_TIMER},
  };
  for (const OddValueCase& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
    std::string params = DeviceKey(FtdiDeviceId, Serial, true);
    if (c.Remove)
      DeleteValue(params, c.Value);
    else
      SetBinary(params, c.Value, c.Data);
    UseInventory({MakeRecord(FtdiDeviceId, Serial, "", true)});

    EXPECT_EQ(1, ReadDeviceSettings());

    if (c.Message)
      ExpectOneMessage(c.Message);
    else
      EXPECT_TRUE(RecordedMessages.empty());
    for (const Field& f : fields) {
      const unsigned char* field = reinterpret_cast<const unsigned char*>(&records[0]) + f.Offset;
      bool odd = strcmp(f.Value, c.Value) == 0;
      EXPECT_EQ(!odd || c.BytesRead > 0, (records[0].KnownSettings & f.Known) != 0) << f.Value;
      if (!odd) continue;
      std::vector<unsigned char> expected(f.Size, Marker);
      std::copy(c.Data.begin(), c.Data.begin() + c.BytesRead, expected.begin());
      if (f.Known == KNOWN_PORT_NAME) expected.back() = 0;  // always kept terminated
      // An unread ConfigData keeps its option bytes and gets the standard
      // aliases, so that a later change of one option cannot write zeros.
      if (f.Known == KNOWN_CONFIG_DATA && c.BytesRead == 0)
        std::copy(DefaultAliasTable, DefaultAliasTable + ALIAS_TABLE_SIZE, expected.begin() + 4);
      // Beyond a short ConfigData's end nothing is stored, and no old byte stays.
      if (f.Known == KNOWN_CONFIG_DATA && c.BytesRead > 0 && c.BytesRead < f.Size) {
        std::fill(expected.begin() + c.BytesRead, expected.end(), 0);
        EXPECT_EQ(c.BytesRead, records[0].ConfigDataStored);
      }
      EXPECT_EQ(expected, Bytes(field, f.Size)) << f.Value;
    }
  }
}

TEST_F(SettingsStoreTest, PortNameWithoutTerminatorStaysWithinItsField) {
  AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
  std::string params = DeviceKey(FtdiDeviceId, Serial, true);
  const char name[16] = {'C', 'O', 'M', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'};
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, params.c_str(), 0, KEY_ALL_ACCESS, &key));
  // Sixteen characters and no terminator, through the wide call: the narrow
  // one would add the terminator the test is about. Windows may hand the 16
  // bytes to a 16-byte buffer as they are; Wine adds the terminator on the
  // way and so finds the value too long. Either way the field must end
  // inside itself and the name must not count as read.
  WCHAR wide[16];
  for (int i = 0; i < 16; ++i) wide[i] = (WCHAR)name[i];
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"PortName", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(wide), sizeof wide));
  RegCloseKey(key);
  UseInventory({MakeRecord(FtdiDeviceId, Serial, "", true)});

  ReadDeviceSettings();

  ExpectOneMessage("Port Name not found");
  EXPECT_EQ(std::string(PORT_NAME_SIZE - 1, (char)Marker), std::string(records[0].PortName));
  EXPECT_EQ(0u, records[0].KnownSettings & KNOWN_PORT_NAME);
}

TEST_F(SettingsStoreTest, DeviceWithoutValuesGetsSixMessagesAndNothingWrittenBack) {
  std::string params = DeviceKey(FtdiDeviceId, Serial, true);
  SetDword(params, "Unrelated", 1);  // the key exists, none of the six values do
  UseInventory({MakeRecord(FtdiDeviceId, Serial)});

  EXPECT_EQ(1, ReadDeviceSettings());
  std::vector<std::string> expected = {"Config not found",      "Port Name not found",
                                       "MinReadTime not found", "MinWriteTime not found",
                                       "PollingPEriod not found", "No Latency found"};
  EXPECT_EQ(expected, RecordedTexts());
  for (const RecordedMessage& m : RecordedMessages) {
    EXPECT_EQ("ERROR", m.Caption);
    EXPECT_EQ(UINT(MB_OK), m.Style);
  }

  ClearRecordedMessages();
  EXPECT_EQ(1, WriteDeviceSettings());
  EXPECT_TRUE(RecordedMessages.empty());
  for (const char* name : {"ConfigData", "MinReadTimeout", "MinWriteTimeout", "PollingPeriod",
                           "LatencyTimer", "UpperFilters"})
    EXPECT_FALSE(ValueExists(params, name)) << name;
  EXPECT_FALSE(ValueExists(DeviceKey(FtdiDeviceId, Serial), "UpperFilters"));
}

TEST_F(SettingsStoreTest, WritesBackOnlyWhatWasReadOrSetSince) {
  AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
  std::string params = DeviceKey(FtdiDeviceId, Serial, true);
  std::vector<unsigned char> longConfig = Pattern(65, 0x20);
  SetBinary(params, "ConfigData", longConfig);
  DeleteValue(params, "LatencyTimer");
  SetDword(params, "MinWriteTimeout", 40);
  UseInventory({MakeRecord(FtdiDeviceId, Serial)});
  ReadDeviceSettings();

  // Changed behind the program's back, and not by the user: it stays.
  SetDword(params, "MinWriteTimeout", 77);
  EXPECT_EQ(1, WriteDeviceSettings());
  EXPECT_EQ(77u, ReadDword(params, "MinWriteTimeout"));
  EXPECT_FALSE(ValueExists(params, "LatencyTimer"));
  EXPECT_EQ(longConfig, Stored(params, "ConfigData"));

  // The user sets the latency timer: now it is written; ConfigData still not.
  records[0].LatencyTimer = 2;
  records[0].KnownSettings |= KNOWN_LATENCY_TIMER;
  EXPECT_EQ(1, WriteDeviceSettings());
  DWORD type = 0;
  Stored(params, "LatencyTimer", &type);
  EXPECT_EQ(DWORD(REG_DWORD), type);
  EXPECT_EQ(2u, ReadDword(params, "LatencyTimer"));
  EXPECT_EQ(longConfig, Stored(params, "ConfigData"));
  EXPECT_EQ((std::vector<std::string>{"Config not found", "No Latency found"}), RecordedTexts());
}

// A value counts as read only when it has the type and size the driver
// keeps: anything else is reported as missing and stays byte for byte.
TEST_F(SettingsStoreTest, ValuesOfAnotherTypeAreNeitherTakenNorWrittenBack) {
  struct Case {
    const char* Value;
    DWORD Type;
    std::vector<unsigned char> Data;
    const char* Message;
  } cases[] = {
      {"LatencyTimer", REG_SZ, {'1', '6', 0}, "No Latency found"},
      {"MinWriteTimeout", REG_BINARY, {9, 9}, "MinWriteTime not found"},
      {"PollingPeriod", REG_BINARY, {1, 0, 0, 0}, "PollingPEriod not found"},
      {"MinReadTimeout", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, "MinReadTime not found"},
      {"ConfigData", REG_SZ, {'h', 'e', 'l', 'l', 'o', 0}, "Config not found"},
      {"ConfigData", REG_DWORD, {1, 0, 0, 0}, "Config not found"},
      {"PortName", REG_BINARY, {'C', 'O', 'M', '5', 0}, "Port Name not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Value) + " of type " + std::to_string(c.Type));
    StartOver();
    AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
    std::string params = DeviceKey(FtdiDeviceId, Serial, true);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, params.c_str(), 0, KEY_ALL_ACCESS, &key));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, c.Value, 0, c.Type, c.Data.data(), (DWORD)c.Data.size()));
    RegCloseKey(key);
    UseInventory({MakeRecord(FtdiDeviceId, Serial)});

    ReadDeviceSettings();
    ExpectOneMessage(c.Message);
    ASSERT_EQ(1, WriteDeviceSettings());  // Apply with nothing changed

    DWORD type = 0;
    std::vector<unsigned char> stored = Stored(params, c.Value, &type);
    EXPECT_EQ(c.Type, type);
    EXPECT_EQ(c.Data, stored);
  }
}

// Start-up lists the registered devices, reads them, then lists the
// attached ones: those take what was read, with the same messages in the
// same order, as if read again.
TEST_F(SettingsStoreTest, ListedAgainTheDevicesGetWhatAReadWouldGive) {
  const char* const serials[] = {"FT000001A", "FT000002A", "FT000003A", "FT000004A"};
  AddRegisteredDevice(FtdiDeviceId, serials[0], "COM5", true);
  AddRegisteredDevice(FtdiDeviceId, serials[1], "COM6");
  DeleteValue(DeviceKey(FtdiDeviceId, serials[1], true), "LatencyTimer");
  DeleteValue(DeviceKey(FtdiDeviceId, serials[1], true), "PortName");
  SetDword(DeviceKey(FtdiDeviceId, serials[2]), "Unrelated", 1);  // no Device Parameters
  AddRegisteredDevice(FtdiDeviceId, serials[3], "COM8");          // registered later

  UseInventory({MakeRecord(FtdiDeviceId, serials[0]), MakeRecord(FtdiDeviceId, serials[1]),
                MakeRecord(FtdiDeviceId, serials[2])});
  SettingsCache cache = {nullptr, 0};
  EXPECT_FALSE(ReadDeviceSettingsKeeping(&Inventory, &Recorder, &cache));
  // Attached now, in another order, one of them never seen before.
  std::vector<DeviceRecord> attached = {MakeRecord(FtdiDeviceId, serials[3]),
                                        MakeRecord(FtdiDeviceId, serials[2]),
                                        MakeRecord(FtdiDeviceId, serials[1]),
                                        MakeRecord(FtdiDeviceId, serials[0])};
  ClearRecordedMessages();
  UseInventory(attached);
  EXPECT_FALSE(ReadDeviceSettings());
  std::vector<DeviceRecord> read = records;
  std::vector<std::string> readMessages = RecordedTexts();

  ClearRecordedMessages();
  UseInventory(attached);
  EXPECT_FALSE(ReadDeviceSettingsCached(&Inventory, &cache, &Recorder));
  FreeSettingsCache(&cache);

  EXPECT_EQ(readMessages, RecordedTexts());
  EXPECT_EQ((std::vector<std::string>{"Port Name not found", "No Latency found"}), readMessages);
  for (size_t i = 0; i < read.size(); ++i)
    EXPECT_EQ(Bytes(&read[i], sizeof read[i]), Bytes(&records[i], sizeof records[i])) << i;
}

// A ConfigData shorter than 64 bytes keeps its length until a byte beyond
// its end is changed; then the bytes beyond that nobody changed are the
// driver's defaults, never zero (an alias of 0 means 3,000,000 baud).
TEST_F(SettingsStoreTest, ShortConfigDataGrowsOnlyWhenABeyondItsEndChanges) {
  struct Case {
    const char* Label;
    int Entry;  // the entry changed: 0 an option bit, else an alias
    size_t StoredSize;
  };
  const Case cases[] = {{"an option bit", 0, 40}, {"an alias within", 5, 40},
                        {"an alias beyond the end", 12, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
    std::string params = DeviceKey(FtdiDeviceId, Serial, true);
    std::vector<unsigned char> shortConfig = Pattern(40, 0x80);
    SetBinary(params, "ConfigData", shortConfig);
    UseInventory({MakeRecord(FtdiDeviceId, Serial)});
    ReadDeviceSettings();
    EXPECT_EQ(1, WriteDeviceSettings());
    EXPECT_EQ(shortConfig, Stored(params, "ConfigData"));  // untouched: as it is

    std::vector<unsigned char> expected = shortConfig;
    if (c.Entry == 0) {
      SetOptionBit(records[0].ConfigData, SetRtsOnClose, true);
      expected[0] |= 0x08;
    } else {
      SetConfigEntry(records[0].ConfigData, c.Entry, 0x4137);
      expected.resize(c.StoredSize, 0);
      if (c.StoredSize > shortConfig.size())
        std::copy(DefaultAliasTable + shortConfig.size() - 4, DefaultAliasTable + ALIAS_TABLE_SIZE,
                  expected.begin() + shortConfig.size());
      SetConfigEntry(expected.data(), c.Entry, 0x4137);
    }
    EXPECT_EQ(1, WriteDeviceSettings());
    DWORD type = 0;
    EXPECT_EQ(expected, Stored(params, "ConfigData", &type));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    StartOver();
  }
}

// UpperFilters as stored before the program runs; what the read makes of it
// and what an untouched write leaves.
struct FilterCase {
  const char* Label;
  bool Present;
  std::vector<unsigned char> Data;
  bool On;
  bool Known;
  enum { KEPT, SERENUM_IMAGE, ABSENT } After;
};

std::vector<unsigned char> Chars(const char* text, size_t size) {
  return std::vector<unsigned char>(text, text + size);
}

TEST_F(SettingsStoreTest, UpperFiltersOfOtherProductsAreKept) {
  const FilterCase cases[] = {
      // Not touched by the user: left as they are, even our own.
      {"9-byte serenum", true, Chars("serenum\0\0", 9), true, true, FilterCase::KEPT},
      {"16-byte serenum", true, SerenumImage(), true, true, FilterCase::SERENUM_IMAGE},
      {"foreign filter", true, Chars("lowfilt\0\0", 9), false, false, FilterCase::KEPT},
      {"serenum then foreign", true, Chars("serenum\0abc\0\0", 13), true, false, FilterCase::KEPT},
      {"list longer than 16 bytes", true, Chars("serenum\0otherfilter\0\0", 21), false, false,
       FilterCase::KEPT},
      {"empty list", true, Chars("\0\0", 2), false, true, FilterCase::KEPT},
      {"no value", false, {}, false, true, FilterCase::ABSENT},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
    std::string instance = DeviceKey(FtdiDeviceId, Serial);
    if (c.Present)
      SetMultiSz(instance, "UpperFilters", c.Data.data(), static_cast<DWORD>(c.Data.size()));
    UseInventory({MakeRecord(FtdiDeviceId, Serial, "", true)});

    ReadDeviceSettings();
    EXPECT_EQ(c.On, IsSerialEnumeratorOn(records[0].UpperFilters));
    EXPECT_EQ(c.Known, (records[0].KnownSettings & KNOWN_UPPER_FILTERS) != 0);

    EXPECT_EQ(1, WriteDeviceSettings());
    DWORD type = 0;
    std::vector<unsigned char> data;
    bool present = ReadValue(instance, "UpperFilters", &data, &type);
    switch (c.After) {
      case FilterCase::KEPT:
        EXPECT_TRUE(present);
        EXPECT_EQ(c.Data, data);
        break;
      case FilterCase::SERENUM_IMAGE:
        EXPECT_TRUE(present);
        EXPECT_EQ(SerenumImage(), data);
        EXPECT_EQ(DWORD(REG_MULTI_SZ), type);
        break;
      case FilterCase::ABSENT:
        EXPECT_FALSE(present);
        break;
    }
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  }
}

TEST_F(SettingsStoreTest, SerialEnumeratorBoxChangesOnlyItsOwnDevice) {
  // Three devices: 9-byte serenum, 16-byte serenum, a foreign filter.
  AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
  AddRegisteredDevice(FtdiDeviceId, OtherSerial, "COM6", true);
  AddRegisteredDevice(FtdiDeviceId, "FT00CC11C", "COM7");
  SetMultiSz(DeviceKey(FtdiDeviceId, Serial), "UpperFilters", "serenum\0\0", 9);
  std::vector<unsigned char> foreign = Chars("lowfilt\0\0", 9);
  SetMultiSz(DeviceKey(FtdiDeviceId, "FT00CC11C"), "UpperFilters", foreign.data(), 9);
  UseInventory({MakeRecord(FtdiDeviceId, Serial), MakeRecord(FtdiDeviceId, OtherSerial),
                MakeRecord(FtdiDeviceId, "FT00CC11C")});
  ReadDeviceSettings();
  ASSERT_TRUE(IsSerialEnumeratorOn(records[0].UpperFilters));
  ASSERT_TRUE(IsSerialEnumeratorOn(records[1].UpperFilters));

  SetSerialEnumerator(&records[1], false);
  SetSerialEnumerator(&records[2], true);
  EXPECT_EQ(1, WriteDeviceSettings());

  EXPECT_EQ(Chars("serenum\0\0", 9), Stored(DeviceKey(FtdiDeviceId, Serial), "UpperFilters"));
  EXPECT_FALSE(ValueExists(DeviceKey(FtdiDeviceId, OtherSerial), "UpperFilters"));
  EXPECT_EQ(SerenumImage(), Stored(DeviceKey(FtdiDeviceId, "FT00CC11C"), "UpperFilters"));
}

TEST_F(SettingsStoreTest, RecordsWithoutDeviceIdAreSkipped) {
  AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
  std::string params = DeviceKey(FtdiDeviceId, Serial, true);
  UseInventory({MakeRecord(0, "", "", true), MakeRecord(FtdiDeviceId, Serial)});

  EXPECT_EQ(1, ReadDeviceSettings());
  EXPECT_EQ(std::vector<unsigned char>(CONFIG_DATA_SIZE, Marker),
            Bytes(records[0].ConfigData, CONFIG_DATA_SIZE));
  EXPECT_EQ(0u, records[0].KnownSettings);
  EXPECT_EQ(16u, records[1].LatencyTimer);

  records[1].LatencyTimer = 3;
  EXPECT_EQ(1, WriteDeviceSettings());
  EXPECT_EQ(3u, ReadDword(params, "LatencyTimer"));
  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
}

TEST_F(SettingsStoreTest, ReadingGoesOnAfterADeviceWithoutParametersKey) {
  SetDword(DeviceKey(FtdiDeviceId, Serial), "Unrelated", 1);  // instance key only
  AddRegisteredDevice(FtdiDeviceId, OtherSerial, "COM6");
  UseInventory({MakeRecord(FtdiDeviceId, Serial, "", true), MakeRecord(FtdiDeviceId, OtherSerial)});

  EXPECT_EQ(0, ReadDeviceSettings());

  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  EXPECT_EQ(0u, records[0].KnownSettings & ~uint32_t(KNOWN_UPPER_FILTERS | READ_UPPER_FILTERS));
  EXPECT_EQ(Marker, records[0].ConfigData[0]);
  EXPECT_STREQ("COM6", records[1].PortName);
  EXPECT_EQ(16u, records[1].LatencyTimer);

  // Nothing of the first device was read, so nothing of it is written.
  EXPECT_EQ(1, WriteDeviceSettings());
  EXPECT_FALSE(KeyExists(DeviceKey(FtdiDeviceId, Serial, true)));
}

// A device whose keys refuse writes is reported once, by port and serial
// number, and the next device is still written.
struct RefusedCase {
  const char* Label;
  enum { DENY_PARAMETERS, DENY_INSTANCE, REMOVE_PARAMETERS } How;
};

TEST_F(SettingsStoreTest, ReportsADeviceItCannotWriteAndGoesOn) {
  const RefusedCase cases[] = {
      {"Device Parameters denies writes", RefusedCase::DENY_PARAMETERS},
      {"instance key denies writes", RefusedCase::DENY_INSTANCE},
      {"Device Parameters removed after reading", RefusedCase::REMOVE_PARAMETERS},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    AddRegisteredDevice(FtdiDeviceId, Serial, "COM5", true);
    AddRegisteredDevice(FtdiDeviceId, OtherSerial, "COM6", true);
    std::string params = DeviceKey(FtdiDeviceId, Serial, true);
    std::string otherParams = DeviceKey(FtdiDeviceId, OtherSerial, true);
    UseInventory({MakeRecord(FtdiDeviceId, Serial), MakeRecord(FtdiDeviceId, OtherSerial)});
    ReadDeviceSettings();
    ASSERT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());

    if (c.How == RefusedCase::DENY_PARAMETERS) DenyWrites(params);
    if (c.How == RefusedCase::DENY_INSTANCE) DenyWrites(DeviceKey(FtdiDeviceId, Serial));
    if (c.How == RefusedCase::REMOVE_PARAMETERS) DeleteKeyTree(params);
    for (DeviceRecord& r : records) {
      r.LatencyTimer = 2;
      SetSerialEnumerator(&r, false);
    }

    EXPECT_EQ(0, WriteDeviceSettings());

    ExpectOneMessage("Cannot write the settings of COM5 (serial FT12AB34A)");
    EXPECT_EQ(2u, ReadDword(otherParams, "LatencyTimer"));
    EXPECT_FALSE(ValueExists(DeviceKey(FtdiDeviceId, OtherSerial), "UpperFilters"));
    if (c.How == RefusedCase::DENY_PARAMETERS) {
      EXPECT_EQ(16u, ReadDword(params, "LatencyTimer"));
    }
    if (c.How == RefusedCase::DENY_INSTANCE) {
      EXPECT_EQ(2u, ReadDword(params, "LatencyTimer"));
      EXPECT_TRUE(ValueExists(DeviceKey(FtdiDeviceId, Serial), "UpperFilters"));
    }
  }
}

TEST_F(SettingsStoreTest, FailureMessageWithoutPortNameNamesTheSerial) {
  UseInventory({MakeRecord(FtdiDeviceId, Serial)});
  records[0].LatencyTimer = 5;
  records[0].KnownSettings = KNOWN_LATENCY_TIMER;

  EXPECT_EQ(0, WriteDeviceSettings());

  ExpectOneMessage("Cannot write the settings of the device with serial FT12AB34A");
  EXPECT_FALSE(KeyExists(DeviceKey(FtdiDeviceId, Serial)));
}

// --- Ignore Hardware Serial Number -----------------------------------------

const char* const IgnoreNames[] = {"IgnoreHWSerNum04036001", "IgnoreHWSerNum04036010",
                                   "IgnoreHWSerNum04036011"};

class IgnoreSerialTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    hadUsbFlags = KeyExists(UsbFlagsKeyPath);
  }
  void TearDown() override {
    if (!hadUsbFlags) DeleteKeyTree(UsbFlagsKeyPath);  // Wine has none of its own
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "Unrelated");
      RegCloseKey(key);
    }
    RegistryTest::TearDown();
  }
  bool hadUsbFlags = false;
};

TEST_F(IgnoreSerialTest, AnyOneOfTheThreeValuesChecksTheBox) {
  struct Case {
    const char* Present;  // nullptr: none
    size_t Size;          // any data counts
    bool Checked;
  };
  const Case cases[] = {{nullptr, 0, false},       {IgnoreNames[0], 1, true},
                        {IgnoreNames[1], 1, true}, {IgnoreNames[2], 1, true},
                        {IgnoreNames[2], 65, true}, {nullptr, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Present ? c.Present : "none");
    ResetFtdiRegistry();
    SetDword(UsbFlagsKeyPath, "Unrelated", 1);  // Wine has no UsbFlags key of its own
    if (c.Present) SetBinary(UsbFlagsKeyPath, c.Present, std::vector<unsigned char>(c.Size, 0));
    EXPECT_EQ(c.Checked, ReadIgnoreSerialSetting());
    EXPECT_EQ(c.Checked, IgnoreSerialChecked);
  }
}

TEST_F(IgnoreSerialTest, SetWritesAllThreeAndDeleteRemovesAllThree) {
  SetDword(UsbFlagsKeyPath, "Unrelated", 1);

  EXPECT_EQ(DWORD(ERROR_SUCCESS), WriteIgnoreSerial(true, "test", &Recorder));
  for (const char* name : IgnoreNames) {
    DWORD type = 0;
    EXPECT_EQ(std::vector<unsigned char>{0x01}, Stored(UsbFlagsKeyPath, name, &type)) << name;
    EXPECT_EQ(DWORD(REG_BINARY), type) << name;
  }
  EXPECT_TRUE(ReadIgnoreSerialSetting());

  EXPECT_EQ(DWORD(ERROR_SUCCESS), WriteIgnoreSerial(false, "test", &Recorder));
  for (const char* name : IgnoreNames) EXPECT_FALSE(ValueExists(UsbFlagsKeyPath, name)) << name;
  EXPECT_TRUE(ValueExists(UsbFlagsKeyPath, "Unrelated"));
  EXPECT_FALSE(ReadIgnoreSerialSetting());

  // Deleting values that do not exist is no error.
  EXPECT_EQ(DWORD(ERROR_SUCCESS), WriteIgnoreSerial(false, "test", &Recorder));
  EXPECT_TRUE(RecordedMessages.empty());
}

TEST_F(IgnoreSerialTest, WithoutTheKeyTheLastStateStaysAndSetFails) {
  SetBinary(UsbFlagsKeyPath, IgnoreNames[1], {0x01});
  ASSERT_TRUE(ReadIgnoreSerialSetting());
  DeleteKeyTree(UsbFlagsKeyPath);

  EXPECT_TRUE(ReadIgnoreSerialSetting());
  // The real cause, not a made-up one: the key is missing.
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), WriteIgnoreSerial(true, "test", &Recorder));
  EXPECT_EQ(DWORD(ERROR_SUCCESS), WriteIgnoreSerial(false, "test", &Recorder));
  EXPECT_FALSE(KeyExists(UsbFlagsKeyPath));

  SetDword(UsbFlagsKeyPath, "Unrelated", 1);
  EXPECT_FALSE(ReadIgnoreSerialSetting());
}

}  // namespace

TEST_F(SettingsStoreTest, AnOptionSetOnAnUnreadConfigDataIsWrittenWithTheStandardAliases) {
  AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
  std::string params = DeviceKey(FtdiDeviceId, Serial, true);
  DeleteValue(params, "ConfigData");
  UseInventory({MakeRecord(FtdiDeviceId, Serial)});
  ReadDeviceSettings();

  // The user ticks "Serial Printer": the record's ConfigData becomes his.
  SetOptionBit(records[0].ConfigData, SerialPrinter, true);
  records[0].KnownSettings |= KNOWN_CONFIG_DATA;
  EXPECT_EQ(1, WriteDeviceSettings());

  // Created from the driver's defaults: transfer sizes 63, the standard aliases.
  std::vector<unsigned char> expected(CONFIG_DATA_SIZE, 0);
  expected[0] = 0x80;
  expected[2] = expected[3] = 63;
  std::copy(DefaultAliasTable, DefaultAliasTable + ALIAS_TABLE_SIZE, expected.begin() + 4);
  EXPECT_EQ(expected, Stored(params, "ConfigData"));
}
