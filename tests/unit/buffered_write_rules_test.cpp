#include <gtest/gtest.h>
#include <string.h>

#include "bufwrite/buffered_write_rules.h"

namespace {

const BufferedWriteValue& ValueNamed(const char* name) {
  for (const BufferedWriteValue& value : BufferedWriteValues)
    if (strcmp(value.Name, name) == 0) return value;
  ADD_FAILURE() << "no value " << name;
  return BufferedWriteValues[0];
}

TEST(BufferedWriteText, RangesAndTheFourCharacterCut) {
  const struct {
    const char* Name;
    const char* Text;
    int Accepted;
    uint32_t Number;
  } cases[] = {
      {"WriteBufferSize", "1", 1, 1},         {"WriteBufferSize", "4096", 1, 4096},
      {"WriteBufferSize", "4097", 0, 0},      {"WriteBufferSize", "5000", 0, 0},
      {"WriteBufferSize", "40960", 1, 4096},  // only the first four characters count
      {"WriteBufferSize", "12345", 1, 1234},  // read as 1234, not refused as 12345
      {"WriteBufferSize", "0", 0, 0},         {"WriteBufferSize", "", 0, 0},
      {"WriteBufferSize", "abc", 0, 0},       {"WriteBufferSize", "-1", 0, 0},
      {"WriteBufferSize", "  64", 1, 64},     {"WriteBufferSize", "64kB", 1, 64},
      {"WriteBufferSize", "0064", 1, 64},     {"WriteBufferSize", "00001", 0, 0},
      {"WriteBufferThreshold", "20", 1, 20},  {"WriteBufferThreshold", "21", 0, 0},
      {"WriteBufferThreshold", "1", 1, 1},    {"WriteBufferThreshold", "0", 0, 0},
      {"WriteLatency", "16", 1, 16},          {"WriteLatency", "17", 0, 0},
      {"WriteLatency", "1", 1, 1},            {"WriteLatency", "160", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " \"" + c.Text + "\"");
    uint32_t number = 0xDEADBEEF;
    EXPECT_EQ(c.Accepted, ParseBufferedWriteText(c.Text, ValueNamed(c.Name), &number));
    EXPECT_EQ(c.Accepted ? c.Number : 0xDEADBEEF, number);
  }
}

TEST(BufferedWriteText, ReadsNoFurtherThanFourCharacters) {
  // Not terminated after four characters: the parse must not look past them.
  const char text[4] = {'2', '0', '4', '8'};
  uint32_t number = 0;
  EXPECT_EQ(1, ParseBufferedWriteText(text, ValueNamed("WriteBufferSize"), &number));
  EXPECT_EQ(2048u, number);
  EXPECT_EQ(0, ParseBufferedWriteText(nullptr, ValueNamed("WriteBufferSize"), &number));
}

TEST(BufferedWriteValues, InitialNumbersAndOrders) {
  DeviceRecord record;
  memset(&record, 0xCC, sizeof record);
  SetInitialBufferedWrites(&record);
  EXPECT_EQ(4096u, record.WriteBufferSize);
  EXPECT_EQ(20u, record.WriteBufferThreshold);
  EXPECT_EQ(1u, record.WriteLatency);
  EXPECT_EQ(0xCCCCCCCCu, record.LatencyTimer);  // nothing else is touched

  // Read and taken: size, latency, threshold; written: size, threshold, latency.
  const char* taken[] = {"WriteBufferSize", "WriteLatency", "WriteBufferThreshold"};
  const char* stored[] = {"WriteBufferSize", "WriteBufferThreshold", "WriteLatency"};
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) {
    EXPECT_STREQ(taken[i], BufferedWriteValues[i].Name);
    EXPECT_STREQ(stored[i], BufferedWriteValues[BufferedWriteStoreOrder[i]].Name);
  }
}

}  // namespace
