#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "baud/alias.h"
#include "devices/config_data.h"

static std::string Text(const char* format, double value) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

TEST(AliasEntry, EachCodeAndSpecialValue) {
  const struct { uint32_t entry; double divisor; } cases[] = {
      {0, 1.0},       {1, 1.5},         {2, 2.0},          {0x4002, 2.5},      {0x8002, 2.25},
      {0xC002, 2.125}, {0x10002, 2.375}, {0x14002, 2.625}, {0x18002, 2.75},    {0x1C002, 2.875},
      {0x1FFFF, 16383.875}, {0x4000, 0.5}};
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeDivisor(c.entry), c.divisor) << std::hex << c.entry;
    EXPECT_EQ(EncodeDivisor(c.divisor), c.entry) << c.divisor;
  }
}

TEST(AliasEntry, EveryEncodableEntryRoundTrips) {
  for (uint32_t entry = 0; entry <= 0x1FFFF; ++entry)
    ASSERT_EQ(EncodeDivisor(DecodeDivisor(entry)), entry == 0x4001 ? 1u : entry) << std::hex << entry;
}

TEST(AliasEntry, UnencodableInputs) {
  EXPECT_EQ(EncodeDivisor(52.1), 52u);  // other fractions are dropped
  EXPECT_EQ(EncodeDivisor(0), 0u);
  EXPECT_EQ(EncodeDivisor(-3.0), 0u);
  EXPECT_EQ(EncodeDivisor(NAN), 0u);
  EXPECT_EQ(EncodeDivisor(1e12), 0x3FFFu);
  // Bits 17 to 31 are ignored, so no entry decodes to a zero divisor.
  EXPECT_EQ(DecodeDivisor(0x20000), 1.0);
  EXPECT_EQ(DecodeDivisor(0xFFFE8003), 3.25);
}

TEST(AliasTables, BuiltInTablesDecodeAsShownAndRoundTrip) {
  const struct { int entry; uint32_t def; const char* divisor; const char* baud; } rows[] = {
      {1, 0x2710, "10000.000", "300"},  {2, 0x1388, "5000.000", "600"},  {3, 0x9C4, "2500.000", "1200"},
      {4, 0x4E2, "1250.000", "2400"},   {5, 0x271, "625.000", "4800"},   {6, 0x4138, "312.500", "9600"},
      {7, 0x809C, "156.250", "19200"},  {8, 0xC04E, "78.125", "38400"},  {9, 0x34, "52.000", "57692"},
      {10, 0x1A, "26.000", "115385"},   {11, 0xD, "13.000", "230769"},   {12, 0x4006, "6.500", "461538"},
      {13, 0x8003, "3.250", "923077"},  {14, 0, "1.000", "3000000"},     {15, 0x80D0, "208.250", "14406"}};
  DeviceRecord record = {};
  SetConfigEntry(record.ConfigData, 0, 0xC3A5F00F);
  LoadBuiltInAliasTable(&record, DefaultAliasTable);
  for (const auto& r : rows) {
    EXPECT_EQ(GetConfigEntry(record.ConfigData, r.entry), r.def) << r.entry;
    EXPECT_EQ(Text("%.3f", AliasTable[r.entry].Divisor), r.divisor) << r.entry;
    EXPECT_EQ(Text("%.0f", AliasTable[r.entry].GeneratedBaud), r.baud) << r.entry;
  }
  EXPECT_EQ(GetConfigEntry(record.ConfigData, 0), 0xC3A5F00Fu);
  EXPECT_EQ(record.KnownSettings, (uint32_t)KNOWN_CONFIG_DATA);

  LoadBuiltInAliasTable(&record, TarnlinkAliasTable);
  for (int entry = 1; entry <= 15; ++entry)
    EXPECT_EQ(GetConfigEntry(record.ConfigData, entry), entry == 10 ? 0x1Au : 0u) << entry;
  EXPECT_EQ(GetConfigEntry(record.ConfigData, 0), 0xC3A5F00Fu);

  for (const unsigned char* table : {DefaultAliasTable, TarnlinkAliasTable}) {
    LoadBuiltInAliasTable(&record, table);
    memset(record.ConfigData + 4, 0xEE, 60);  // the encoding must rebuild every entry but 14
    StoreAliasTable(&record);
    EXPECT_EQ(GetConfigEntry(record.ConfigData, 14), 0xEEEEEEEEu);
    EXPECT_EQ(GetConfigEntry(record.ConfigData, 0), 0xC3A5F00Fu);
    SetConfigEntry(record.ConfigData, 14, 0);
    EXPECT_EQ(memcmp(record.ConfigData + 4, table, ALIAS_TABLE_SIZE), 0);
  }
}

TEST(AliasTables, EachRowLabelsTheRateItsDefaultEntryGenerates) {
  bool seen[ALIAS_ENTRY_COUNT] = {};
  DeviceRecord record = {};
  LoadBuiltInAliasTable(&record, DefaultAliasTable);
  for (const AliasRow& row : AliasRows) {
    ASSERT_TRUE(row.Entry >= 1 && row.Entry <= 15 && row.Entry != 14 && !seen[row.Entry]) << row.Label;
    seen[row.Entry] = true;
    EXPECT_NEAR(AliasTable[row.Entry].GeneratedBaud / atof(row.Label), 1.0, 0.002) << row.Label;
  }
}

TEST(ClosestDivisor, ExamplesBoundsAndTies) {
  const struct { double desired; double divisor; const char* baud; const char* error; } valid[] = {
      {9600, 312.5, "9600", "0.000"},        {250000, 12, "250000", "0.000"},
      {57600, 52.125, "57554", "-0.080"},    {231660, 12.875, "233010", "0.579"},
      {1500000, 2, "1500000", "0.000"},      {3000000, 1, "3000000", "0.000%"},
      {2000000, 1.5, "2000000", "0.000%"},   {183.2, 16375.5, "183", "0.000"},
      {nextafter(183.10546875, 1e9), 16383.875, "183", "0.001"},
      // Halfway between two eighths the smaller one wins.
      {76800, 39, "76923", "0.160"},         {25600, 117.125, "25614", "0.053"},
      {15360, 195.25, "15365", "0.032"},     {128000, 23.375, "128342", "0.267"},
      {3072, 976.5, "3072", "0.006"},        {640000, 4.625, "648649", "1.333"},
      {384000, 7.75, "387097", "0.800"},     {5120, 585.875, "5121", "0.011"}};
  for (const auto& v : valid) {
    ClosestDivisor result = {};
    PendingDivisor = 0;
    ASSERT_EQ(FindClosestDivisor(v.desired, &result), 1) << v.desired;
    EXPECT_EQ(result.Divisor, v.divisor) << v.desired;
    EXPECT_EQ(PendingDivisor, v.divisor) << v.desired;
    EXPECT_EQ(Text("%.0f", result.ClosestBaud), v.baud) << v.desired;
    EXPECT_EQ(Text(result.ErrorFormat, result.ErrorPercent), v.error) << v.desired;
  }
  // 183.1054687 to 183.10546875 would need integer part 16384.
  for (double desired : {1500001.0, 183.1054687, 183.10546874, 183.10546875, 0.0, -9600.0,
                         (double)NAN, (double)INFINITY}) {
    ClosestDivisor result = {};
    PendingDivisor = 7.5;
    EXPECT_EQ(FindClosestDivisor(desired, &result), 0) << desired;
    EXPECT_EQ(PendingDivisor, 7.5) << desired;
  }
}
