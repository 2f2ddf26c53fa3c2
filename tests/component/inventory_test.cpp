// The two listings against Wine's registry and the D2XX stand-in.
#include <gtest/gtest.h>

#include <string>

#include "component/core_calls.h"
#include "component/registry_fixture.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"

namespace {

class InventoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFtdiRegistry();
    ClearRecordedMessages();
    FreeInventory();
    Inventory.ShowDisconnected = false;
    Inventory.OpenPortCount = -7;  // marker: every listing must set it
  }
  void TearDown() override {
    ResetFtdiRegistry();
    FreeInventory();
    Inventory.ShowDisconnected = false;
  }
  // FTDIBUS itself, so that the driver counts as installed.
  void InstallDriver() { SetDword(FtdibusKeyPath, "PortmeldTestMarker", 1); }

  int ListRegistered() {
    HKEY key;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &key));
    int result = ListRegisteredDevices(key);
    RegCloseKey(key);
    return result;
  }
};

TEST_F(InventoryTest, ConnectedListingCountsOpenDevicesAndAppliesTheSerialRule) {
  InstallDriver();
  WriteStandinDevices(
      "device 0 8 04036001 1111 FT12AB34 USB Serial Converter\n"
      "device 3 8 04036001 2222 FT99ZZ99 Open with other bits\n"
      "device 1 5 04036010 3333 FT12AB34B Dual RS232 A\n"
      "device 0 5 04036010 4444 FT12AB34A Dual RS232 B\n");
  ASSERT_EQ(1, ListConnectedDevices());
  ASSERT_EQ(4u, Inventory.count);
  EXPECT_EQ(2, Inventory.OpenPortCount);  // flags 3 (bit 0 with bit 1) and 1 both count

  struct Expected {
    const char* Serial;
    uint32_t Flags, Type, Id, Location;
    const char* Description;
  } expected[] = {
      {"FT12AB34A", 0, 8, 0x04036001, 0x1111, "USB Serial Converter"},
      {"FT99ZZ99", 3, 8, 0x04036001, 0x2222, "Open with other bits"},  // open: no "A"
      {"FT12AB34B", 1, 5, 0x04036010, 0x3333, "Dual RS232 A"},
      {"FT12AB34A", 0, 5, 0x04036010, 0x4444, "Dual RS232 B"},  // other product: unchanged
  };
  for (uint32_t i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    const DeviceRecord& r = Inventory.Records[i];
    EXPECT_STREQ(expected[i].Serial, r.SerialNumber);
    EXPECT_EQ(expected[i].Flags, r.Flags);
    EXPECT_EQ(expected[i].Type, r.DeviceType);
    EXPECT_EQ(expected[i].Id, r.DeviceId);
    EXPECT_EQ(expected[i].Location, r.LocationId);
    EXPECT_STREQ(expected[i].Description, r.Description);
  }
  EXPECT_TRUE(RecordedMessages.empty());
}

TEST_F(InventoryTest, FailedDetailCountsAsOpenAndKeepsAnEmptyRecord) {
  InstallDriver();
  WriteStandinDevices(
      "device 0 8 04036001 1 FT000001 First\n"
      "device 0 8 04036001 2 FT000002 Second\n"
      "detail-fail 0\n");
  ASSERT_EQ(1, ListConnectedDevices());
  ASSERT_EQ(2u, Inventory.count);
  EXPECT_EQ(1, Inventory.OpenPortCount);
  EXPECT_STREQ("", Inventory.Records[0].SerialNumber);
  EXPECT_EQ(0u, Inventory.Records[0].DeviceId);
  EXPECT_STREQ("FT000002A", Inventory.Records[1].SerialNumber);
}

TEST_F(InventoryTest, MessagesOfTheConnectedListing) {
  struct Case {
    const char* Name;
    bool Driver;
    const char* Devices;
    bool ShowDisconnected;
    int Result;
    const char* Message;  // nullptr: none
  } cases[] = {
      {"no FTDIBUS key", false, "", false, 0, "Device or FTDI driver is not installed"},
      {"no device", true, "", false, 1, "No active FTDI devices found"},
      {"no device, disconnected shown", true, "", true, 1, nullptr},
      // A failing call says nothing about the count: the listing is empty.
      {"list call fails", true, "list-status 4\ndevice 0 8 04036001 1 FT000001 X\n", false, 1,
       "No active FTDI devices found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ResetFtdiRegistry();
    ClearRecordedMessages();
    if (c.Driver) InstallDriver();
    WriteStandinDevices(c.Devices);
    Inventory.ShowDisconnected = c.ShowDisconnected;
    EXPECT_EQ(c.Result, ListConnectedDevices());
    if (c.Result) {
      EXPECT_EQ(0u, Inventory.count);
    }
    if (c.Message) {
      ASSERT_EQ(1u, RecordedMessages.size());
      EXPECT_EQ(c.Message, RecordedMessages[0].Text);
      EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
      EXPECT_EQ((UINT)MB_OK, RecordedMessages[0].Style);
    } else {
      EXPECT_TRUE(RecordedMessages.empty());
    }
  }
}

TEST_F(InventoryTest, MissingDriverLeavesTheInventoryAsItWas) {
  InstallDriver();
  WriteStandinDevices("device 0 8 04036001 1 FT000001 X\n");
  ASSERT_EQ(1, ListConnectedDevices());
  ResetFtdiRegistry();
  EXPECT_EQ(0, ListConnectedDevices());
  EXPECT_EQ(1u, Inventory.count);
  EXPECT_STREQ("FT000001A", Inventory.Records[0].SerialNumber);
}

TEST_F(InventoryTest, RegisteredListingParsesKeysAndMarksAttachedDevices) {
  AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");
  AddRegisteredDevice(0x04036010, "FT12AB34B", "COM6");
  AddRegisteredDevice(0x04036001, "FT777777A", "COM7");
  WriteStandinDevices(
      "device 0 8 04036001 1 FT12AB34 Attached\n"
      "device 1 8 04036001 2 FT777777 Open elsewhere\n");
  ASSERT_EQ(1, ListConnectedDevices());
  ASSERT_EQ(1, ListRegistered());
  ASSERT_EQ(3u, Inventory.count);
  EXPECT_EQ(1, Inventory.OpenPortCount);  // the registered listing leaves it alone

  // Registry order is alphabetical under Wine: 6001+FT12..., 6001+FT77..., 6010+...
  struct Expected {
    uint32_t Id;
    const char* Serial;
    uint32_t Flags;
  } expected[] = {
      {0x04036001, "FT12AB34A", 1},
      // Open devices keep the library's serial number (no "A"), so they do
      // not match their key.
      {0x04036001, "FT777777A", 0},
      {0x04036010, "FT12AB34B", 0},
  };
  for (uint32_t i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    const DeviceRecord& r = Inventory.Records[i];
    EXPECT_EQ(expected[i].Id, r.DeviceId);
    EXPECT_STREQ(expected[i].Serial, r.SerialNumber);
    EXPECT_EQ(expected[i].Flags, r.Flags);
    EXPECT_STREQ("", r.Description);
    EXPECT_EQ(0u, r.LocationId);
    EXPECT_EQ(0u, r.DeviceType);
  }
}

TEST_F(InventoryTest, RegisteredListingWithoutSubkeysIsEmpty) {
  InstallDriver();
  WriteStandinDevices("device 0 8 04036001 1 FT000001 X\n");
  ASSERT_EQ(1, ListConnectedDevices());
  EXPECT_EQ(0, ListRegistered());
  EXPECT_EQ(0u, Inventory.count);
  EXPECT_TRUE(RecordedMessages.empty());
}

TEST_F(InventoryTest, MissingLibraryIsReportedOnceAndListsNothing) {
  InstallDriver();
  // Point the loader at nothing: a directory without FTD2XX.dll, searched
  // first, does not help since the exe's folder wins; so rename instead.
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string dir(exe, strrchr(exe, '\\') - exe);
  std::string dll = dir + "\\FTD2XX.dll", aside = dir + "\\FTD2XX.dll.aside";
  ASSERT_TRUE(MoveFileA(dll.c_str(), aside.c_str()));
  int result = ListConnectedDevices();
  MoveFileA(aside.c_str(), dll.c_str());
  EXPECT_EQ(1, result);
  EXPECT_EQ(0u, Inventory.count);
  ASSERT_EQ(1u, RecordedMessages.size());
  EXPECT_NE(std::string::npos, RecordedMessages[0].Text.find("FTD2XX.dll"));
  EXPECT_EQ("ERROR", RecordedMessages[0].Caption);
}

}  // namespace
