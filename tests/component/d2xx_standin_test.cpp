// The D2XX stand-in at its size limits: the start-up measurements list
// thousands of devices through it, and a device lost or mixed up while its
// list grows would pass unseen there.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "component/registry_fixture.h"
#include "platform/d2xx.h"

namespace {

std::string DeviceList(int count) {
  std::string list;
  for (int i = 0; i < count; i++) {
    char line[96];
    snprintf(line, sizeof line, "device 0 8 04036001 %x SN%06d Adapter %d\n", i, i, i);
    list += line;
  }
  return list;
}

// The serial number the stand-in reports for a device, or the status when
// the call fails.
std::string SerialAt(const D2xxLibrary& library, DWORD index) {
  DWORD flags = 0, type = 0, id = 0, location = 0;
  char serial[16] = "", description[64] = "";
  void* handle = nullptr;
  FT_STATUS status = library.FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial,
                                                    description, &handle);
  if (status != FT_OK) return "status " + std::to_string(status);
  return serial;
}

TEST(D2xxStandin, ListsUpTo16384DevicesAndNamesTheLineBeyond) {
  D2xxLibrary library;
  ASSERT_EQ(1, LoadD2xx(&library));
  struct Case {
    int Lines;
    DWORD Listed;
    bool BadLine;  // "# bad line 16385" in the call log
  } cases[] = {
      {64, 64, false},        // the first block, full
      {65, 65, false},        // one past it: the block grows
      {16384, 16384, false},  // the limit
      {16385, 16384, true},   // one line beyond it
      {3, 3, false},          // a short list after a long one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Lines);
    WriteStandinDevices(DeviceList(c.Lines));
    DWORD count = 0;
    EXPECT_EQ(FT_OK, library.FT_CreateDeviceInfoList(&count));
    EXPECT_EQ(c.Listed, count);
    char last[16];
    snprintf(last, sizeof last, "SN%06lu", static_cast<unsigned long>(c.Listed - 1));
    EXPECT_EQ("SN000000", SerialAt(library, 0));
    EXPECT_EQ(last, SerialAt(library, c.Listed - 1));
    EXPECT_EQ("status 2", SerialAt(library, c.Listed));  // FT_DEVICE_NOT_FOUND
    bool badLine =
        ReadStandinLog().find("# bad line 16385 in the device list\n") != std::string::npos;
    EXPECT_EQ(c.BadLine, badLine);
  }
  UnloadD2xx(&library);
}

}  // namespace
