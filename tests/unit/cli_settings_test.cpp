// The console program's setting names: what each accepts, and what putting
// a value into a record changes.
#include <gtest/gtest.h>
#include <string.h>

#include "baud/alias.h"
#include "history/port_settings.h"

namespace {

// What a ConfigData shorter than 64 bytes does not store is missing, not
// zero: an entry of zero would read as 3,000,000 baud.
TEST(CliSettings, EntriesBeyondAShortConfigDataAreMissing) {
  struct Case {
    const char* Setting;
    uint32_t Stored;  // 0: all 64 bytes
    bool Known;
  } cases[] = {
      {"baudAlias.57600", 40, true},   // entry 9: bytes 36 to 39
      {"baudAlias.115200", 40, false},  // entry 10: bytes 40 to 43
      {"baudAlias.14400", 0, true},
      {"baudAliases", 40, false},
      {"serialPrinter", 1, true},
      {"disableModemCtrlAtStartup", 1, false},  // byte 1
  };
  for (const Case& c : cases) {
    DeviceRecord record = {};
    record.KnownSettings = KNOWN_CONFIG_DATA;
    record.ConfigDataStored = c.Stored;
    const SettingSpec* definition = FindSetting(c.Setting);
    ASSERT_NE(definition, nullptr) << c.Setting;
    EXPECT_EQ(c.Known, CurrentValue(*definition, record).Known) << c.Setting << " " << c.Stored;
  }
}

TEST(CliSettings, ValuesAreAcceptedOrRefusedByTheirRules) {
  struct Case {
    const char* Setting;
    const char* Text;
    bool Accepted;
    uint32_t Number;
  } cases[] = {
      {"usbTransferSizeIn", "64", true, 64},
      {"usbTransferSizeOut", "4096", true, 4096},
      {"usbTransferSizeIn", "4160", false, 0},
      {"usbTransferSizeIn", "100", false, 0},
      {"usbTransferSizeIn", "0", false, 0},
      {"selectiveSuspendIdleTimeout", "1000", true, 1000},
      {"selectiveSuspendIdleTimeout", "999", false, 0},
      {"selectiveSuspendIdleTimeout", "3600001", false, 0},
      {"latencyTimer", "1", true, 1},
      {"latencyTimer", "255", true, 255},
      {"latencyTimer", "0", false, 0},
      {"latencyTimer", "256", false, 0},
      {"latencyTimer", "-1", false, 0},
      {"latencyTimer", " 2", false, 0},
      {"latencyTimer", "2x", false, 0},
      {"latencyTimer", "", false, 0},
      {"minReadTimeout", "10000", true, 10000},
      {"minReadTimeout", "10001", false, 0},
      {"pollingPeriod", "0", true, 0},
      {"writeBufferSize", "4096", true, 4096},
      {"writeBufferSize", "0", false, 0},
      {"writeBufferThreshold", "21", false, 0},
      {"writeLatency", "16", true, 16},
      {"serialPrinter", "ON", true, 1},
      {"serialPrinter", "false", true, 0},
      {"serialPrinter", "1", true, 1},
      {"serialEnumerator", "yes", false, 0},
      {"baudAliases", "Tarnlink", true, ALIASES_TARNLINK},
      {"baudAliases", "custom", false, 0},
      {"baudAlias.9600", "9600", true, 0x4138},
      {"baudAlias.9600", "3000000", true, 0},
      {"baudAlias.9600", "2000000", true, 1},
      {"baudAlias.9600", "183", false, 0},
      {"baudAlias.9600", "1600000", false, 0},
      {"baudAlias.9600", "299.99625", true, EncodeDivisor(10000.125)},
      {"baudAlias.9600", "96x0", false, 0},
      {"baudAlias.9600", "9600.", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Setting) + "=" + c.Text);
    const SettingSpec* definition = FindSetting(c.Setting);
    ASSERT_NE(nullptr, definition);
    SettingValue value = {false, 0xDEAD};
    std::string reason;
    EXPECT_EQ(c.Accepted, ParseSettingValue(*definition, c.Text, &value, &reason));
    if (c.Accepted)
      EXPECT_EQ(c.Number, value.Number);
    else
      EXPECT_FALSE(reason.empty());
  }
  EXPECT_EQ(nullptr, FindSetting("LatencyTimer"));  // names are exact
  EXPECT_EQ(nullptr, FindSetting("baudAlias.14"));
}

// Applying a value makes it the record's and marks it to be written; an
// unknown value shows as missing until then.
TEST(CliSettings, ApplyingAValueMakesItKnownAndCurrent) {
  for (const SettingSpec& definition : Settings) {
    SCOPED_TRACE(definition.Name);
    DeviceRecord record;
    memset(&record, 0, sizeof record);
    EXPECT_FALSE(CurrentValue(definition, record).Known);
    EXPECT_EQ("missing", FormatSettingValue(definition, CurrentValue(definition, record)));
    std::string text = definition.Kind == SETTING_NUMBER ? std::to_string(definition.Range.Max)
                       : definition.Kind == SETTING_TRANSFER_SIZE ? "512"
                       : definition.Kind == SETTING_ALIAS_TABLE   ? "tarnlink"
                       : definition.Kind == SETTING_ALIAS_ENTRY   ? "9700"
                                                                  : "on";
    SettingValue wanted;
    std::string reason;
    ASSERT_TRUE(ParseSettingValue(definition, text, &wanted, &reason)) << reason;
    ApplySetting(definition, wanted, &record);
    EXPECT_TRUE(SameValue(wanted, CurrentValue(definition, record)));
  }
}

// What show gives for an alias entry, set again, gives the same entry: a
// profile exported from a machine tests compliant on it.
TEST(CliSettings, AShownAliasRateGivesTheSameEntryBack) {
  const SettingSpec& definition = *FindSetting("baudAlias.300");
  for (uint32_t integer : {2u, 3u, 52u, 313u, 2500u, 10000u, 16383u})
    for (uint32_t code = 0; code < 8; ++code) {
      uint32_t entry = code << 14 | integer;
      SCOPED_TRACE(entry);
      SettingValue value;
      std::string reason;
      ASSERT_TRUE(ParseSettingValue(definition, FormatSettingValue(definition, {true, entry}),
                                    &value, &reason))
          << reason;
      EXPECT_EQ(entry, value.Number);
    }
}

TEST(CliSettings, AnOptionChangesOnlyItsBit) {
  DeviceRecord record;
  memset(&record, 0, sizeof record);
  memset(record.ConfigData, 0xFF, sizeof record.ConfigData);
  record.KnownSettings = KNOWN_CONFIG_DATA;
  ApplySetting(*FindSetting("setRtsOnClose"), {true, 0}, &record);
  EXPECT_EQ(0xF7, record.ConfigData[0]);
  for (int i = 1; i < CONFIG_DATA_SIZE; ++i) EXPECT_EQ(0xFF, record.ConfigData[i]) << i;
}

// Off keeps a filter driver of another product; on replaces it.
TEST(CliSettings, SerialEnumeratorOffKeepsAForeignFilter) {
  const SettingSpec& definition = *FindSetting("serialEnumerator");
  DeviceRecord record;
  memset(&record, 0, sizeof record);
  memcpy(record.UpperFilters, "serenum\0other\0", 15);
  record.KnownSettings = READ_UPPER_FILTERS;  // read, but not ours
  ApplySetting(definition, {true, 0}, &record);
  EXPECT_EQ(0, memcmp(record.UpperFilters, "serenum\0other\0", 15));
  ApplySetting(definition, {true, 1}, &record);
  EXPECT_EQ(0, memcmp(record.UpperFilters, SerenumUpperFilters, UPPER_FILTERS_SIZE));
  EXPECT_NE(0u, record.KnownSettings & KNOWN_UPPER_FILTERS);
}

// list, show and stale give ports by COM number, then serial; a name that
// is no COM port name has no number and comes last.
TEST(CliSettings, PortsAreListedByComNumberThenSerial) {
  struct Case {
    const char* PortA;
    const char* SerialA;
    const char* PortB;
    const char* SerialB;
    bool Before;
  } cases[] = {
      {"COM2", "FT9", "COM10", "FT1", true},  // by number, not by text
      {"COM10", "FT1", "COM2", "FT9", false},
      {"COM3", "FTA", "com3", "FTB", true},  // one number: the serial decides
      {"com3", "FTB", "COM3", "FTA", false},
      {"COM3", "FTA", "COM3", "FTA", false},  // nothing before itself
      {"COM256", "FTZ", "", "FTA", true},     // a number before none
      {"", "FTA", "COM256", "FTZ", false},
      {"LPT1", "FTA", "COM9", "FTZ", false},  // no COM port name: no number
      {"COM1X", "FTA", "COM9", "FTZ", false},
      {"", "FTA", "LPT1", "FTB", true},  // neither numbered: by serial
      {"", "FTB", "LPT1", "FTA", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.PortA) + "/" + c.SerialA + " before " + c.PortB + "/" + c.SerialB);
    EXPECT_EQ(c.Before, ListedBefore(c.PortA, c.SerialA, c.PortB, c.SerialB));
  }
}

}  // namespace
