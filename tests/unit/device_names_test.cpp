// Serial numbers and ids as the registry key names carry them.
#include <gtest/gtest.h>
#include <string.h>

#include "devices/device_names.h"
#include "devices/registry_paths.h"

namespace {

DeviceRecord RecordWith(uint32_t id, const char* serial) {
  DeviceRecord r = {};
  r.DeviceId = id;
  strncpy(r.SerialNumber, serial, sizeof r.SerialNumber - 1);
  return r;
}

TEST(RegistrySerialRule, AppendsAOnlyForFt232rDevices) {
  struct Case {
    uint32_t Id;
    const char* Library;
    const char* Registry;
  } cases[] = {
      {0x04036001, "FT12AB34", "FT12AB34A"},
      {0x04036001, "AB12", "AB12"},            // ends before position 8
      {0x04036001, "ABCDEFG", "ABCDEFG"},      // 7 characters: still too short
      {0x04036001, "ABCDEFGHIJ", "ABCDEFGHA"}, // cut to 8 plus "A"
      {0x04036001, "", ""},
      {0x04036010, "FT12AB34A", "FT12AB34A"},
      {0x04036010, "FT12AB34", "FT12AB34"},
      {0x04036011, "FT12AB34", "FT12AB34"},
  };
  for (const Case& c : cases) {
    DeviceRecord r = RecordWith(c.Id, c.Library);
    ApplyRegistrySerialRule(&r);
    EXPECT_STREQ(c.Registry, r.SerialNumber) << std::hex << c.Id << " " << c.Library;
  }
}

TEST(DeviceKeyName, IsCutByPosition) {
  struct Case {
    const char* Name;
    uint32_t Id;
    const char* Serial;
  } cases[] = {
      {"VID_0403+PID_6001+FT12AB34A", 0x04036001, "FT12AB34A"},
      {"VID_0403+PID_6010+FT12AB34B", 0x04036010, "FT12AB34B"},
      {"VID_0403+PID_6001+123456789012345678901234567890", 0x04036001,
       "1234567890123456789012345678"},  // 30 characters keep their first 28
      {"VID_0403+PID_6001+", 0x04036001, ""},
      {"VID_0403+PID_6001", 0x04036001, ""},
      {"VID_0403+PI", 0x04030000, ""},
      {"VID_04", 0x00040000, ""},
      {"VID_", 0, ""},
      // Literal parts are not checked: any text at those positions is cut alike.
      {"XXXX0403YYYYY6001ZSERIAL", 0x04036001, "SERIAL"},
      // Text that does not start with a hexadecimal digit counts as 0.
      {"VID_zz03+PID_6001+S1", 0x00006001, "S1"},
      {"VID_0403+PID_xyz1+S2", 0x04030000, "S2"},
      {"VID_ABCD+PID_ef01+S3", 0xABCDEF01, "S3"},
  };
  for (const Case& c : cases) {
    DeviceRecord r = {};
    ParseDeviceKeyName(c.Name, &r);
    EXPECT_EQ(c.Id, r.DeviceId) << c.Name;
    EXPECT_STREQ(c.Serial, r.SerialNumber) << c.Name;
  }
}

TEST(DeviceKeyName, ShortNamesLeaveTheRecordZeroFilled) {
  for (const char* name : {"", "V", "VID"}) {
    DeviceRecord r;
    memset(&r, 0, sizeof r);
    ParseDeviceKeyName(name, &r);
    DeviceRecord zero = {};
    EXPECT_EQ(0, memcmp(&zero, &r, sizeof r)) << '"' << name << '"';
  }
}

TEST(DeviceKeyPath, FormatsBothKeysWithFourLowerCaseDigits) {
  DeviceRecord r = RecordWith(0x0403ABCD, "FT12AB34A");
  char path[256];
  ASSERT_EQ(1, FormatDeviceKeyPath(path, sizeof path, &r, DEVICE_INSTANCE_KEY));
  EXPECT_STREQ("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_abcd+FT12AB34A\\0000", path);
  ASSERT_EQ(1, FormatDeviceKeyPath(path, sizeof path, &r, DEVICE_PARAMETERS_KEY));
  EXPECT_STREQ(
      "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_abcd+FT12AB34A\\0000\\Device "
      "Parameters",
      path);
  EXPECT_EQ(0, FormatDeviceKeyPath(path, 20, &r, DEVICE_INSTANCE_KEY));
}

TEST(DeviceKeyPath, UnterminatedSerialStaysInsideItsField) {
  DeviceRecord r = RecordWith(0x04036001, "");
  memset(r.SerialNumber, 'S', sizeof r.SerialNumber);  // no NUL at all
  memset(r.ComDB, 'X', sizeof r.ComDB);
  char path[256];
  ASSERT_EQ(1, FormatDeviceKeyPath(path, sizeof path, &r, DEVICE_INSTANCE_KEY));
  EXPECT_EQ(nullptr, strchr(path, 'X'));
}

}  // namespace
