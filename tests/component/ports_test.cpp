// Closing every COM port (with a substitute serial layer) and the driver
// reload through the D2XX stand-in.
#include <gtest/gtest.h>

#include "platform/administrator.h"
#include "component/fake_serial.h"
#include "component/core_calls.h"
#include "component/registry_fixture.h"
#include "devices/ports.h"

namespace {

TEST(CloseAllPorts, ProbesEveryNumberAndClosesWhatItCanOpen) {
  struct Case {
    const char* Name;
    std::set<std::string> Existing, Busy;
    std::vector<std::string> Closed;
    size_t Messages;
  } cases[] = {
      {"no port at all", {}, {}, {}, 0},
      {"COM3 busy, COM4 free", {"COM3", "COM4"}, {"COM3"}, {"COM4"}, 1},
      {"highest number", {"COM1", "COM256"}, {}, {"COM1", "COM256"}, 0},
      {"every port busy", {"COM1", "COM2", "COM10"}, {"COM1", "COM2", "COM10"}, {}, 3},
      // COM257 lies beyond the pass and is never touched.
      {"beyond the range", {"COM257"}, {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ResetFakeSerial();
    ClearRecordedMessages();
    FakeSerial.Existing = c.Existing;
    FakeSerial.Busy = c.Busy;
    EXPECT_EQ(1, CloseAllPorts());
    ASSERT_EQ(256u, FakeSerial.Probed.size());
    EXPECT_EQ("COM1", FakeSerial.Probed.front());
    EXPECT_EQ("COM256", FakeSerial.Probed.back());
    EXPECT_EQ(c.Closed, FakeSerial.PurgedAndClosed);
    ASSERT_EQ(c.Messages, RecordedMessages.size());
    for (const RecordedMessage& m : RecordedMessages) {
      EXPECT_EQ("Close COMPort not possible", m.Text);
      EXPECT_EQ("ERROR", m.Caption);
      EXPECT_EQ((UINT)MB_OK, m.Style);
    }
  }
}

TEST(ReloadDriver, ReturnsTheLibrarysStatusAndAsksOnce) {
  for (ULONG status : {0ul, 4ul, 18ul}) {
    WriteStandinDevices("reload " + std::to_string(status) + "\n");
    EXPECT_EQ(status, ReloadDriver());
    EXPECT_NE(std::string::npos, ReadStandinLog().find("FT_Reload 0 0"));
  }
}

TEST(IsAdministrator, WineUserIsAnAdministrator) { EXPECT_TRUE(IsAdministrator()); }

}  // namespace
