#include <gtest/gtest.h>

#include <vector>

#include "devices/config_data.h"

TEST(ConfigData, OptionBitsChangeOnlyTheirOwnBit) {
  const struct { OptionBit bit; int byte; unsigned mask; } bits[] = {
      {SerialPrinter, 0, 0x80},  {CancelIfPowerOff, 0, 0x40},          {EventOnSurpriseRemoval, 0, 0x20},
      {SetRtsOnClose, 0, 0x08},  {DisableModemCtrlAtStartup, 1, 0x02}, {BufferedWritesEnabled, 1, 0x04}};
  for (const auto& b : bits) {
    for (unsigned char fill : {0x00, 0xFF, 0xA5, 0x5A}) {
      std::vector<unsigned char> data(64, fill), expected(64, fill);
      SetOptionBit(data.data(), b.bit, true);
      expected[b.byte] = (unsigned char)(fill | b.mask);
      EXPECT_EQ(data, expected) << b.byte << "/" << b.mask;
      EXPECT_TRUE(GetOptionBit(data.data(), b.bit));
      SetOptionBit(data.data(), b.bit, false);
      expected[b.byte] = (unsigned char)(fill & ~b.mask);
      EXPECT_EQ(data, expected) << b.byte << "/" << b.mask;
      EXPECT_FALSE(GetOptionBit(data.data(), b.bit));
    }
  }
}

TEST(ConfigData, EntriesAreLittleEndianAndBounded) {
  std::vector<unsigned char> data(64, 0xCC);  // exact size: ASan sees any stray write
  SetConfigEntry(data.data(), 10, 0x1A);
  SetConfigEntry(data.data(), 15, 0x12345678);
  SetConfigEntry(data.data(), 16, 0xFFFFFFFF);
  SetConfigEntry(data.data(), -1, 0xFFFFFFFF);
  EXPECT_EQ(std::vector<unsigned char>(data.begin() + 40, data.begin() + 44),
            (std::vector<unsigned char>{0x1A, 0, 0, 0}));
  EXPECT_EQ(std::vector<unsigned char>(data.begin() + 60, data.end()),
            (std::vector<unsigned char>{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(GetConfigEntry(data.data(), 15), 0x12345678u);
  EXPECT_EQ(GetConfigEntry(data.data(), 9), 0xCCCCCCCCu);
  EXPECT_EQ(GetConfigEntry(data.data(), 16), 0u);
}
