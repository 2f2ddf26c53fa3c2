// WriteConfigData against Wine's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "baud/alias_registry.h"
#include "settings_test_support.h"

namespace {

class ConfigWriteTest : public RegistryTest {};

TEST_F(ConfigWriteTest, WritesAllSixtyFourBytesOverAShorterValue) {
  AddRegisteredDevice(FtdiDeviceId, "FT12AB34A", "COM5");
  std::string params = DeviceKey(FtdiDeviceId, "FT12AB34A", true);
  SetBinary(params, "ConfigData", std::vector<unsigned char>(40, 0x11));
  DeviceRecord record = MakeRecord(FtdiDeviceId, "FT12AB34A", "COM5");
  for (int i = 0; i < CONFIG_DATA_SIZE; ++i) record.ConfigData[i] = static_cast<unsigned char>(0xF0 - i);

  EXPECT_EQ(1, WriteConfigData(&record));

  std::vector<unsigned char> data;
  DWORD type = 0;
  ASSERT_TRUE(ReadValue(params, "ConfigData", &data, &type));
  EXPECT_EQ(DWORD(REG_BINARY), type);
  EXPECT_EQ(Bytes(record.ConfigData, CONFIG_DATA_SIZE), data);
  EXPECT_TRUE(RecordedMessages.empty()) << ::testing::PrintToString(RecordedTexts());
}

TEST_F(ConfigWriteTest, AFailedWriteIsReportedByPortAndSerial) {
  struct Case {
    const char* Label;
    const char* Serial;
    const char* PortName;
    bool Registered;
    bool Denied;
    const char* Message;
  };
  const Case cases[] = {
      {"no device key", "FT0000NOA", "COM7", false, false,
       "Cannot write the ConfigData of COM7 (serial FT0000NOA)"},
      {"Device Parameters denies writes", "FT12AB34A", "COM5", true, true,
       "Cannot write the ConfigData of COM5 (serial FT12AB34A)"},
      {"no port name known", "FT0000NOA", "", false, false,
       "Cannot write the ConfigData of the device with serial FT0000NOA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    StartOver();
    std::string params = DeviceKey(FtdiDeviceId, c.Serial, true);
    if (c.Registered) AddRegisteredDevice(FtdiDeviceId, c.Serial, c.PortName);
    if (c.Denied) DenyWrites(params);
    DeviceRecord record = MakeRecord(FtdiDeviceId, c.Serial, c.PortName);
    record.ConfigData[0] = 0xA5;

    EXPECT_EQ(0, WriteConfigData(&record));

    ASSERT_EQ(1u, RecordedMessages.size()) << ::testing::PrintToString(RecordedTexts());
    EXPECT_EQ(c.Message, RecordedMessages[0].Text);
    EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
    EXPECT_EQ(UINT(MB_OK), RecordedMessages[0].Style);
    if (c.Registered) {
      std::vector<unsigned char> data;
      ASSERT_TRUE(ReadValue(params, "ConfigData", &data));
      EXPECT_NE(0xA5, data[0]);
    } else {
      EXPECT_FALSE(KeyExists(params));
    }
  }
}

}  // namespace
