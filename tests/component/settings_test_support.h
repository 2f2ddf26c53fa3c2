// Shared by the settings, ConfigData and access-rights component tests:
// hand-built inventories and keys whose access list refuses writes.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

// Before the fixture: its DeviceKey() would hide the enum of the same name.
#include "devices/registry_paths.h"
#include "component/recording_messages.h"
#include "component/registry_fixture.h"
#include "devices/inventory.h"

constexpr uint32_t FtdiDeviceId = 0x04036001;
constexpr unsigned char Marker = 0xCC;

// A record as a registered listing leaves it (settings zero, nothing known),
// or with every settings field filled with Marker so an untouched one shows.
inline DeviceRecord MakeRecord(uint32_t deviceId, const char* serial, const char* portName = "",
                               bool marked = false) {
  DeviceRecord record;
  memset(&record, 0, sizeof record);
  if (marked) {
    memset(record.ConfigData, Marker, sizeof record.ConfigData);
    memset(&record.MinReadTimeout, Marker, 4 * sizeof(uint32_t));
    memset(record.PortName, Marker, sizeof record.PortName);
    memset(record.UpperFilters, Marker, sizeof record.UpperFilters);
  }
  record.DeviceId = deviceId;
  strncpy(record.SerialNumber, serial, SERIAL_NUMBER_SIZE - 1);
  if (portName[0]) strncpy(record.PortName, portName, PORT_NAME_SIZE - 1);
  return record;
}

// Each test starts and ends without FTDI keys and with an empty inventory.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFtdiRegistry();
    ClearRecordedMessages();
  }
  void TearDown() override {
    Inventory.Records = nullptr;
    Inventory.count = 0;
    for (const std::string& path : deniedKeys)
      if (KeyExists(path)) AllowWrites(path);
    deniedKeys.clear();
    ResetFtdiRegistry();
  }

  // For tables of cases: each case starts as a test does.
  void StartOver() {
    RegistryTest::TearDown();
    RegistryTest::SetUp();
  }

  void UseInventory(const std::vector<DeviceRecord>& list) {
    records = list;
    Inventory.Records = records.data();
    Inventory.count = static_cast<uint32_t>(records.size());
  }

  // Everyone is denied KEY_SET_VALUE on the key (Wine enforces it: error 5
  // for an open with KEY_ALL_ACCESS); everything else stays allowed.
  void DenyWrites(const std::string& path) {
    deniedKeys.push_back(path);
    SetDacl(path, true);
  }
  void AllowWrites(const std::string& path) { SetDacl(path, false); }

  std::vector<DeviceRecord> records;

 private:
  static void SetDacl(const std::string& path, bool deny) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                         &everyone));
    alignas(DWORD) unsigned char aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    ASSERT_TRUE(InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION));
    if (deny) {
      ASSERT_TRUE(AddAccessDeniedAce(acl, ACL_REVISION, KEY_SET_VALUE, everyone));
    }
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key))
        << path;
    LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    RegCloseKey(key);
    FreeSid(everyone);
    ASSERT_EQ(ERROR_SUCCESS, rc) << path;
  }

  std::vector<std::string> deniedKeys;
};

// The bytes of a field, for comparing with EXPECT_EQ.
inline std::vector<unsigned char> Bytes(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  return std::vector<unsigned char>(p, p + size);
}
