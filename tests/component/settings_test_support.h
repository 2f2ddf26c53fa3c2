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
#include "component/core_calls.h"
#include "component/registry_fixture.h"

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
    free(Inventory.AsRead);
    Inventory.AsRead = nullptr;
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
    // Not read: a write compares with what the registry holds.
    free(Inventory.AsRead);
    Inventory.AsRead = nullptr;
  }

  // Refused until the test ends.
  void DenyWrites(const std::string& path) {
    deniedKeys.push_back(path);
    RefuseWrites(path, true);
  }
  void AllowWrites(const std::string& path) { RefuseWrites(path, false); }

  std::vector<DeviceRecord> records;

 private:
  std::vector<std::string> deniedKeys;
};

// The bytes of a field, for comparing with EXPECT_EQ.
inline std::vector<unsigned char> Bytes(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  return std::vector<unsigned char>(p, p + size);
}
