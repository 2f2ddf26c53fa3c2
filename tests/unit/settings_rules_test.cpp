#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "baud/alias.h"
#include "devices/config_data.h"
#include "devices/settings_rules.h"

TEST(NumberField, TextsOverTheFourRanges) {
  const NumberFieldRange ranges[] = {MinReadTimeoutRange, MinWriteTimeoutRange, PollingPeriodRange,
                                     LatencyTimerRange};
  // -1 in a column: refused; otherwise the value taken.
  const struct { const char* text; long read, write, polling, latency; } cases[] = {
      {"0", 0, 0, 0, -1},           {"1", 1, 1, 1, 1},
      {"255", 255, 255, 255, 255},  {"256", 256, 256, -1, -1},
      {"10000", 10000, 10000, -1, -1}, {"10001", -1, -1, -1, -1},
      {"000001", -1, -1, -1, -1},   {"-1", -1, -1, -1, -1},
      {" 12", 12, 12, 12, 12},      {"", 0, 0, 0, -1},
      {"abc", 0, 0, 0, -1},         {"+7x9", 7, 7, 7, 7},
      {"-0", 0, 0, 0, -1},          {"\t-5", -1, -1, -1, -1},
      {"99999", -1, -1, -1, -1}};
  for (const auto& c : cases) {
    const long expected[] = {c.read, c.write, c.polling, c.latency};
    for (int i = 0; i < 4; ++i) {
      uint32_t value = 4242;
      int accepted = ParseNumberField(c.text, ranges[i], &value);
      EXPECT_EQ(accepted, expected[i] >= 0) << '"' << c.text << "\" range " << i;
      EXPECT_EQ(value, expected[i] >= 0 ? (uint32_t)expected[i] : 4242u) << '"' << c.text << '"';
    }
  }
}

TEST(SerialEnumerator, FirstStringMustBeExactlySerenum) {
  const struct { const char bytes[16]; bool on; } cases[] = {
      {"serenum", true},
      {{'s', 'e', 'r', 'e', 'n', 'u', 'm', 0, 'f', 'o', 'o', 0, 0}, true},
      {"Serenum", false},
      {"serenumx", false},
      {"seren", false},
      {"", false},
      {{'s', 'e', 'r', 'e', 'n', 'u', 'm', 's', 'e', 'r', 'e', 'n', 'u', 'm', 's', 'e'}, false}};
  for (const auto& c : cases) {
    std::vector<unsigned char> field(c.bytes, c.bytes + 16);  // exact size for ASan
    EXPECT_EQ(IsSerialEnumeratorOn(field.data()), c.on) << c.bytes;
  }
}

TEST(SerialEnumerator, OffNeverClaimsAValueItDidNotRead) {
  for (uint32_t known : {0u, (uint32_t)KNOWN_UPPER_FILTERS}) {
    DeviceRecord record = {};
    record.KnownSettings = known;
    memcpy(record.UpperFilters, "fltdrv", 7);
    SetSerialEnumerator(&record, false);
    EXPECT_EQ(std::vector<unsigned char>(record.UpperFilters, record.UpperFilters + 16),
              std::vector<unsigned char>(16, 0));
    EXPECT_EQ(record.KnownSettings, known);
    SetSerialEnumerator(&record, true);
    EXPECT_EQ(memcmp(record.UpperFilters, "serenum\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(record.KnownSettings, (uint32_t)KNOWN_UPPER_FILTERS);
  }
}

TEST(Presets, EachPresetOnARecord) {
  const struct { Preset preset; uint32_t latency; unsigned char byte0From00, byte0FromFF;
                 const unsigned char* table; bool serenum; } cases[] = {
      {PRESET_PORTMELD, 1, 0x20, 0x37, DefaultAliasTable, false},
      {PRESET_TARNLINK, 1, 0x20, 0x37, TarnlinkAliasTable, false},
      {PRESET_DEFAULT, 16, 0x00, 0x17, DefaultAliasTable, true}};
  for (const auto& c : cases) {
    for (unsigned char fill : {0x00, 0xFF}) {
      DeviceRecord record = {};
      memset(record.ConfigData, fill, sizeof record.ConfigData);
      record.ConfigData[2] = 0x5A;
      record.ConfigData[3] = 0xC3;
      record.MinReadTimeout = record.MinWriteTimeout = record.PollingPeriod = record.LatencyTimer = 77;
      memcpy(record.UpperFilters, "fltdrv", 7);
      memcpy(record.PortName, "COM5", 5);
      record.WriteBufferSize = 4096;
      DeviceRecord before = record;

      ASSERT_EQ(ApplyPreset(&record, c.preset), 1);
      EXPECT_EQ(record.MinReadTimeout + record.MinWriteTimeout + record.PollingPeriod, 0u);
      EXPECT_EQ(record.LatencyTimer, c.latency);
      EXPECT_EQ(record.ConfigData[0], fill ? c.byte0FromFF : c.byte0From00);
      EXPECT_EQ(record.ConfigData[1], fill & 0xFD);
      EXPECT_EQ(record.ConfigData[2], 0x5A);
      EXPECT_EQ(record.ConfigData[3], 0xC3);
      EXPECT_EQ(memcmp(record.ConfigData + 4, c.table, ALIAS_TABLE_SIZE), 0);
      static const unsigned char noFilters[16] = {};
      EXPECT_EQ(memcmp(record.UpperFilters, c.serenum ? SerenumUpperFilters : noFilters, 16), 0);
      EXPECT_EQ(record.KnownSettings, KNOWN_CONFIG_DATA | KNOWN_MIN_READ_TIMEOUT | KNOWN_MIN_WRITE_TIMEOUT |
                                          KNOWN_POLLING_PERIOD | KNOWN_LATENCY_TIMER |
                                          (c.serenum ? KNOWN_UPPER_FILTERS : 0u));
      EXPECT_EQ(memcmp(record.PortName, before.PortName, sizeof record.PortName), 0);
      EXPECT_EQ(record.WriteBufferSize, 4096u);
    }
  }
  DeviceRecord record = {}, before = {};
  EXPECT_EQ(ApplyPreset(&record, (Preset)3), 0);
  EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);
}
