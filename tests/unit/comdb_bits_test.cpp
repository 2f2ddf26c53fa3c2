#include <gtest/gtest.h>
#include <limits.h>

#include <vector>

#include "comdb/comdb_bits.h"

typedef std::vector<unsigned char> Bytes;

TEST(ComDb, FreeNumbers) {
  const struct { unsigned char fill; int byte; unsigned char value; int count, first, seventh, last; } cases[] = {
      {0x00, 0, 0x00, 256, 1, 7, 256},  {0x00, 0, 0x81, 254, 2, 9, 256},  // COM1 and COM8 taken
      {0x00, 31, 0x80, 255, 1, 7, 255}, {0x00, 0, 0x40, 255, 1, 8, 256},
      {0xFF, 0, 0xFF, 0, 0, 0, 0}};
  for (const auto& c : cases) {
    Bytes comDb(32, c.fill);
    comDb[c.byte] = c.value;
    int numbers[256] = {};
    ASSERT_EQ(FreeComNumbers(comDb.data(), numbers), c.count);
    EXPECT_EQ(numbers[0], c.first);
    if (c.count == 0) continue;
    EXPECT_EQ(numbers[6], c.seventh);
    EXPECT_EQ(numbers[c.count - 1], c.last);
    for (int i = 1; i < c.count; ++i) ASSERT_LT(numbers[i - 1], numbers[i]);
  }
}

TEST(ComDb, ReserveAndRelease) {
  const struct { bool reserve; int n; unsigned char fill; int byte; unsigned char value; } cases[] = {
      {true, 1, 0x00, 0, 0x01},    {true, 8, 0x00, 0, 0x80},    {true, 9, 0x00, 1, 0x01},
      {true, 16, 0x00, 1, 0x80},   {false, 17, 0xFF, 2, 0xFE},  {true, 256, 0x00, 31, 0x80},
      {false, 256, 0xFF, 31, 0x7F}, {true, 5, 0xFF, 0, 0xFF},   {false, 5, 0x00, 0, 0x00}};
  for (const auto& c : cases) {
    Bytes comDb(32, c.fill), expected(32, c.fill);
    expected[c.byte] = c.value;
    (c.reserve ? ReserveComNumber : ReleaseComNumber)(comDb.data(), c.n);
    EXPECT_EQ(comDb, expected) << c.reserve << " " << c.n;
  }
  for (int n : {0, 257, -1, INT_MIN, INT_MAX}) {
    for (unsigned char fill : {0x00, 0xFF}) {
      Bytes comDb(32, fill);
      ReserveComNumber(comDb.data(), n);
      ReleaseComNumber(comDb.data(), n);
      EXPECT_EQ(comDb, Bytes(32, fill)) << n;
    }
  }
  Bytes renamed(32, 0);
  renamed[0] = 0x10;  // COM5 -> COM7
  ReserveComNumber(renamed.data(), 7);
  ReleaseComNumber(renamed.data(), 5);
  EXPECT_EQ(renamed[0], 0x40);
}

TEST(ComDb, ValueIsKeptWhole) {
  const struct { size_t length; size_t written; } cases[] = {{64, 64}, {255, 255}, {33, 33}, {32, 32},
                                                            {10, 32}, {0, 32}};
  for (const auto& c : cases) {
    Bytes value(c.length);
    for (size_t i = 0; i < c.length; ++i) value[i] = (unsigned char)(i * 7 + 1);
    Bytes field(32);
    ComDbFieldFromValue(value.data(), c.length, field.data());
    for (size_t i = 0; i < 32; ++i) ASSERT_EQ(field[i], i < c.length ? value[i] : 0) << c.length;

    ReserveComNumber(field.data(), 256);
    Bytes out(c.written);
    ASSERT_EQ(BuildComDbValue(value.data(), c.length, field.data(), out.data(), out.size()), c.written);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), field) << c.length;
    if (c.length > 32) {
      EXPECT_EQ(Bytes(out.begin() + 32, out.end()), Bytes(value.begin() + 32, value.end()));
    }
    EXPECT_EQ(BuildComDbValue(value.data(), c.length, field.data(), out.data(), c.written - 1), 0u);
  }
}
