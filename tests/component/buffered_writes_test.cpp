// Buffered writes against Wine's registry: reading the three values, the
// check box into ConfigData, and the save that writes or deletes them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "bufwrite/buffered_writes.h"
#include "devices/config_data.h"
#include "settings_test_support.h"

namespace {

const char Serial[] = "FT12AB34A";

struct Triple {
  uint32_t Size, Threshold, Latency;
};

class BufferedWritesTest : public RegistryTest {
 protected:
  std::string Params() const { return DeviceKey(FtdiDeviceId, Serial, true); }

  // A registered device whose record is as the settings store read it.
  DeviceRecord RegisteredRecord(bool bufferedWrites) {
    AddRegisteredDevice(FtdiDeviceId, Serial, "COM5");
    DeviceRecord record = MakeRecord(FtdiDeviceId, Serial, "COM5");
    std::vector<unsigned char> config;
    EXPECT_TRUE(ReadValue(Params(), "ConfigData", &config));
    memcpy(record.ConfigData, config.data(), CONFIG_DATA_SIZE);
    record.ConfigData[0] = 0xA5;  // bits nobody names must survive
    record.ConfigData[1] = 0x81;
    SetOptionBit(record.ConfigData, BufferedWritesEnabled, bufferedWrites);
    record.KnownSettings = KNOWN_CONFIG_DATA | KNOWN_PORT_NAME;
    return record;
  }

  void StoreValues(const Triple& values) {
    SetDword(Params(), "WriteBufferSize", values.Size);
    SetDword(Params(), "WriteBufferThreshold", values.Threshold);
    SetDword(Params(), "WriteLatency", values.Latency);
  }

  Triple StoredValues() const {
    return {ReadDword(Params(), "WriteBufferSize"), ReadDword(Params(), "WriteBufferThreshold"),
            ReadDword(Params(), "WriteLatency")};
  }

  std::vector<unsigned char> StoredConfigData() const {
    std::vector<unsigned char> data;
    EXPECT_TRUE(ReadValue(Params(), "ConfigData", &data));
    return data;
  }
};

Triple Fields(const DeviceRecord& record) {
  return {record.WriteBufferSize, record.WriteBufferThreshold, record.WriteLatency};
}

void ExpectTriple(const Triple& expected, const Triple& actual) {
  EXPECT_EQ(expected.Size, actual.Size);
  EXPECT_EQ(expected.Threshold, actual.Threshold);
  EXPECT_EQ(expected.Latency, actual.Latency);
}

TEST_F(BufferedWritesTest, ReadSetsInitialNumbersAndReadsOnlyWhenTheSwitchIsOn) {
  struct Case {
    const char* Label;
    bool BitSet;
    bool StoreInRegistry;
    Triple Expected;
  };
  const Case cases[] = {
      {"switch off: registry not read", false, true, {4096, 20, 1}},
      {"switch on: the stored values", true, true, {512, 7, 3}},
      {"switch on, no values stored", true, false, {4096, 20, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    DeviceRecord record = RegisteredRecord(c.BitSet);
    if (c.StoreInRegistry) StoreValues({512, 7, 3});
    record.WriteBufferSize = record.WriteBufferThreshold = record.WriteLatency = 999;

    EXPECT_EQ(1, ReadBufferedWrites(&record));
    ExpectTriple(c.Expected, Fields(record));
  }
}

TEST_F(BufferedWritesTest, ReadKeepsTheInitialNumberForAValueThatIsNoDword) {
  DeviceRecord record = RegisteredRecord(true);
  SetDword(Params(), "WriteBufferSize", 256);
  SetString(Params(), "WriteLatency", "9");  // two bytes that must not land in the field
  SetBinary(Params(), "WriteBufferThreshold", {5, 0});
  EXPECT_EQ(1, ReadBufferedWrites(&record));
  ExpectTriple({256, 20, 1}, Fields(record));
}

TEST_F(BufferedWritesTest, CheckBoxSetsOrClearsOnlyItsBit) {
  const struct {
    bool Before;
    LRESULT Check;
    bool After;
    bool Known;
  } cases[] = {
      {false, BST_CHECKED, true, true},
      {true, BST_UNCHECKED, false, true},
      {true, BST_INDETERMINATE, false, true},
      {true, BST_CHECKED, true, false},  // unchanged: not claimed as the user's value
      {false, BST_UNCHECKED, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "before " << c.Before << ", check " << c.Check);
    DeviceRecord record = MakeRecord(FtdiDeviceId, Serial, "COM5", true);
    SetOptionBit(record.ConfigData, BufferedWritesEnabled, c.Before);
    std::vector<unsigned char> expected = Bytes(record.ConfigData, CONFIG_DATA_SIZE);
    expected[1] = static_cast<unsigned char>(c.After ? expected[1] | 0x04 : expected[1] & 0xFB);

    ApplyBufferedWritesCheck(&record, c.Check);

    EXPECT_EQ(expected, Bytes(record.ConfigData, CONFIG_DATA_SIZE));
    EXPECT_EQ(c.Known, (record.KnownSettings & KNOWN_CONFIG_DATA) != 0);
  }
}

TEST_F(BufferedWritesTest, SwitchOffDeletesTheValuesAndWritesConfigData) {
  DeviceRecord record = RegisteredRecord(false);
  StoreValues({512, 7, 3});
  const char* typed[] = {"5000", "17", "21"};  // ignored with the switch off
  bool rejected[] = {true, true, true};

  EXPECT_EQ(1, SaveBufferedWrites(&record, typed, rejected));

  EXPECT_FALSE(ValueExists(Params(), "WriteBufferSize"));
  EXPECT_FALSE(ValueExists(Params(), "WriteBufferThreshold"));
  EXPECT_FALSE(ValueExists(Params(), "WriteLatency"));
  std::vector<unsigned char> stored = StoredConfigData();
  EXPECT_EQ(Bytes(record.ConfigData, CONFIG_DATA_SIZE), stored);
  EXPECT_EQ(0x81, stored[1]);  // switch clear, the other bits kept
  EXPECT_EQ(0xA5, stored[0]);
  for (bool r : rejected) EXPECT_FALSE(r);
  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());

  // Deleting values that are already absent is no error.
  EXPECT_EQ(1, SaveBufferedWrites(&record, typed, rejected));
  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
}

TEST_F(BufferedWritesTest, SwitchOnTakesTheTypedValuesInRangeAndWritesAllThree) {
  struct Case {
    const char* Label;
    const char* Typed[3];  // size, latency, threshold, as the dialog hands them
    bool Rejected[3];
    Triple Expected;
  };
  // The record holds 1024, 10 (threshold) and 5 (latency) before each save.
  const Case cases[] = {
      {"all accepted", {"2048", "8", "12"}, {false, false, false}, {2048, 12, 8}},
      {"upper bounds", {"4096", "16", "20"}, {false, false, false}, {4096, 20, 16}},
      {"lower bounds", {"1", "1", "1"}, {false, false, false}, {1, 1, 1}},
      {"5000 refused", {"5000", "8", "12"}, {true, false, false}, {1024, 12, 8}},
      {"40960 read as 4096", {"40960", "8", "12"}, {false, false, false}, {4096, 12, 8}},
      {"latency 17 refused", {"2048", "17", "12"}, {false, true, false}, {2048, 12, 5}},
      {"threshold 21 refused", {"2048", "8", "21"}, {false, false, true}, {2048, 10, 8}},
      {"zeros and empty refused", {"0", "", "0"}, {true, true, true}, {1024, 10, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    DeviceRecord record = RegisteredRecord(true);
    record.WriteBufferSize = 1024;
    record.WriteBufferThreshold = 10;
    record.WriteLatency = 5;
    bool rejected[3] = {!c.Rejected[0], !c.Rejected[1], !c.Rejected[2]};

    EXPECT_EQ(1, SaveBufferedWrites(&record, c.Typed, rejected));

    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.Rejected[i], rejected[i]) << "value " << i;
    ExpectTriple(c.Expected, Fields(record));
    ExpectTriple(c.Expected, StoredValues());
    DWORD type = 0;
    std::vector<unsigned char> data;
    ASSERT_TRUE(ReadValue(Params(), "WriteLatency", &data, &type));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    std::vector<unsigned char> stored = StoredConfigData();
    EXPECT_EQ(Bytes(record.ConfigData, CONFIG_DATA_SIZE), stored);
    EXPECT_EQ(0x85, stored[1]);
    EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
  }
}

TEST_F(BufferedWritesTest, SaveMarksConfigDataKnownOnceWritten) {
  DeviceRecord record = RegisteredRecord(false);
  record.KnownSettings = 0;  // as after "Config not found"
  const char* typed[] = {"", "", ""};
  bool rejected[3];
  EXPECT_EQ(1, SaveBufferedWrites(&record, typed, rejected));
  EXPECT_NE(0u, record.KnownSettings & KNOWN_CONFIG_DATA);
}

TEST_F(BufferedWritesTest, AKeyThatCannotBeWrittenIsReportedOnceAndChangesNothing) {
  struct Case {
    const char* Label;
    bool Registered;
    bool Denied;
    bool BitSet;
    const char* PortName;
    const char* Message;
  };
  const Case cases[] = {
      {"no device key, switch on", false, false, true, "COM5",
       "Cannot write the buffered writes of COM5 (serial FT12AB34A)"},
      {"key denies writes, switch on", true, true, true, "COM5",
       "Cannot write the buffered writes of COM5 (serial FT12AB34A)"},
      {"key denies writes, switch off", true, true, false, "COM5",
       "Cannot write the buffered writes of COM5 (serial FT12AB34A)"},
      {"no device key, no port name", false, false, false, "",
       "Cannot write the buffered writes of the device with serial FT12AB34A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    DeviceRecord record = MakeRecord(FtdiDeviceId, Serial, c.PortName);
    std::vector<unsigned char> before;
    if (c.Registered) {
      record = RegisteredRecord(c.BitSet);
      StoreValues({512, 7, 3});
      before = StoredConfigData();
    }
    SetOptionBit(record.ConfigData, BufferedWritesEnabled, c.BitSet);
    if (c.Denied) DenyWrites(Params());
    const char* typed[] = {"2048", "8", "12"};
    bool rejected[3];

    EXPECT_EQ(0, SaveBufferedWrites(&record, typed, rejected));

    ASSERT_EQ(1u, RecordedMessages.size()) << ::testing::PrintToString(RecordedTexts());
    EXPECT_EQ(c.Message, RecordedMessages[0].Text);
    EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
    EXPECT_EQ(UINT(MB_OK), RecordedMessages[0].Style);
    if (c.Registered) {
      EXPECT_EQ(before, StoredConfigData());
      ExpectTriple({512, 7, 3}, StoredValues());
    } else {
      EXPECT_FALSE(KeyExists(Params()));
    }
  }
}

}  // namespace
