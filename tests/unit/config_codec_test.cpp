#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "configfile/config_codec.h"
#include "devices/settings_rules.h"

typedef std::vector<unsigned char> Bytes;

static const uint32_t LoadedBits = KNOWN_CONFIG_DATA | KNOWN_MIN_READ_TIMEOUT | KNOWN_MIN_WRITE_TIMEOUT |
                                   KNOWN_LATENCY_TIMER | KNOWN_POLLING_PERIOD;

static DeviceRecord Sample() {
  DeviceRecord record = {};
  for (int i = 0; i < 64; ++i) record.ConfigData[i] = (unsigned char)(i * 3 + 1);
  record.MinReadTimeout = 1000;
  record.MinWriteTimeout = 0x1234;
  record.LatencyTimer = 16;
  record.PollingPeriod = 0x17F;
  memcpy(record.UpperFilters, "serenum", 8);
  return record;
}

TEST(ConfigFile, LayoutAndLoadingBack) {
  DeviceRecord record = Sample();
  Bytes file(84);
  EncodeConfigFile(&record, file.data());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 64), Bytes(record.ConfigData, record.ConfigData + 64));
  EXPECT_EQ(Bytes(file.begin() + 64, file.begin() + 67), (Bytes{0xE8, 0x34, 0x10}));
  EXPECT_EQ(Bytes(file.begin() + 67, file.begin() + 83), Bytes(SerenumUpperFilters, SerenumUpperFilters + 16));
  EXPECT_EQ(file[83], 0x7F);

  file.resize(100, 0xEE);  // bytes after the 84th are ignored
  DeviceRecord loaded = {};
  memcpy(loaded.PortName, "COM9", 5);
  ASSERT_EQ(DecodeConfigFile(file.data(), file.size(), &loaded), 1);
  EXPECT_EQ(memcmp(loaded.ConfigData, record.ConfigData, 64), 0);
  EXPECT_EQ(loaded.MinReadTimeout, 232u);
  EXPECT_EQ(loaded.MinWriteTimeout, 0x34u);
  EXPECT_EQ(loaded.LatencyTimer, 16u);
  EXPECT_EQ(loaded.PollingPeriod, 0x7Fu);
  EXPECT_EQ(loaded.KnownSettings, LoadedBits | KNOWN_UPPER_FILTERS);
  EXPECT_STREQ(loaded.PortName, "COM9");
  Bytes again(84);
  EncodeConfigFile(&loaded, again.data());
  EXPECT_EQ(again, Bytes(file.begin(), file.begin() + 84));
}

TEST(ConfigFile, ShortFileChangesNothing) {
  DeviceRecord record = Sample();
  Bytes file(84);
  EncodeConfigFile(&record, file.data());
  for (size_t size : {0, 1, 64, 83}) {
    DeviceRecord target, before;
    memset(&target, 0xAB, sizeof target);
    before = target;
    EXPECT_EQ(DecodeConfigFile(file.data(), size, &target), 0) << size;
    EXPECT_EQ(memcmp(&target, &before, sizeof target), 0) << size;
  }
  DeviceRecord target = {};
  EXPECT_EQ(DecodeConfigFile(nullptr, 84, &target), 0);
}

TEST(ConfigFile, UpperFiltersFromTheFile) {
  const struct { const char bytes[16]; uint32_t knownBefore; const char field[16]; uint32_t knownAfter; } cases[] = {
      {"serenum", 0, "serenum", KNOWN_UPPER_FILTERS},
      // A second string is never carried towards the registry.
      {{'s', 'e', 'r', 'e', 'n', 'u', 'm', 0, 'e', 'v', 'i', 'l', 0, 0}, 0, "serenum", KNOWN_UPPER_FILTERS},
      {"", KNOWN_UPPER_FILTERS, "", KNOWN_UPPER_FILTERS},  // a read "serenum" is turned off
      {"", 0, "", 0},                                      // a foreign filter stays unclaimed
      {"fltdrv", 0, "fltdrv", 0}};
  for (const auto& c : cases) {
    Bytes file(84, 0);
    memcpy(file.data() + 67, c.bytes, 16);
    DeviceRecord record = {};
    record.KnownSettings = c.knownBefore;
    memcpy(record.UpperFilters, "fltdrv", 7);
    ASSERT_EQ(DecodeConfigFile(file.data(), file.size(), &record), 1);
    EXPECT_EQ(memcmp(record.UpperFilters, c.field, 16), 0) << c.bytes;
    EXPECT_EQ(record.KnownSettings, LoadedBits | c.knownAfter) << c.bytes;
  }
}
