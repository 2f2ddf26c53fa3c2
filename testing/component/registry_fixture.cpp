#include "component/registry_fixture.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "baud/alias.h"
#include "devices/registry_paths.h"

static void SetValue(const std::string& path, const char* name, DWORD type, const void* data,
                     DWORD size) {
  HKEY key;
  LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
  ASSERT_EQ(ERROR_SUCCESS, rc) << "create " << path;
  rc = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, rc) << "set " << path << " " << name;
}

void SetDword(const std::string& path, const char* name, DWORD value) {
  SetValue(path, name, REG_DWORD, &value, sizeof value);
}

void SetString(const std::string& path, const char* name, const char* value) {
  SetValue(path, name, REG_SZ, value, static_cast<DWORD>(strlen(value) + 1));
}

void SetBinary(const std::string& path, const char* name, const std::vector<unsigned char>& data) {
  SetValue(path, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

void SetMultiSz(const std::string& path, const char* name, const void* data, DWORD size) {
  SetValue(path, name, REG_MULTI_SZ, data, size);
}

bool ReadValue(const std::string& path, const char* name, std::vector<unsigned char>* data,
               DWORD* type) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = 0, t = 0;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &t, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data->assign(size, 0);
    rc = RegQueryValueExA(key, name, nullptr, &t, data->data(), &size);
    data->resize(size);
  }
  RegCloseKey(key);
  if (type) *type = t;
  return rc == ERROR_SUCCESS;
}

DWORD ReadDword(const std::string& path, const char* name) {
  std::vector<unsigned char> data;
  if (!ReadValue(path, name, &data) || data.size() != 4) return 0xDEADBEEF;
  DWORD value;
  memcpy(&value, data.data(), 4);
  return value;
}

bool ValueExists(const std::string& path, const char* name) {
  std::vector<unsigned char> data;
  return ReadValue(path, name, &data);
}

bool KeyExists(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void DeleteKeyTree(const std::string& path) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str()); }

static void RefuseAccess(const std::string& path, bool refuse, DWORD denied);

void RefuseWrites(const std::string& path, bool refuse) {
  RefuseAccess(path, refuse, KEY_SET_VALUE);
}

void RefuseReads(const std::string& path, bool refuse) {
  RefuseAccess(path, refuse, KEY_QUERY_VALUE);
}

static void RefuseAccess(const std::string& path, bool refuse, DWORD denied) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  alignas(DWORD) unsigned char aclBuffer[256];
  PACL acl = reinterpret_cast<PACL>(aclBuffer);
  ASSERT_TRUE(InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION));
  if (refuse) {
    ASSERT_TRUE(AddAccessDeniedAce(acl, ACL_REVISION, denied, everyone));
  }
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key))
      << path;
  LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  FreeSid(everyone);
  ASSERT_EQ(ERROR_SUCCESS, rc) << path;
}

std::string DeviceKey(uint32_t deviceId, const char* serial, bool params) {
  char path[512];
  snprintf(path, sizeof path, "%s\\VID_%04x+PID_%04x+%s\\0000%s", FtdibusKeyPath,
           (unsigned)(deviceId >> 16), (unsigned)(deviceId & 0xFFFF), serial,
           params ? "\\Device Parameters" : "");
  return path;
}

void AddRegisteredDevice(uint32_t deviceId, const char* serial, const char* portName, bool serenum) {
  std::string params = DeviceKey(deviceId, serial, true);
  std::vector<unsigned char> config(64, 0);
  memcpy(config.data() + 4, DefaultAliasTable, ALIAS_TABLE_SIZE);
  SetBinary(params, "ConfigData", config);
  SetString(params, "PortName", portName);
  SetDword(params, "MinReadTimeout", 0);
  SetDword(params, "MinWriteTimeout", 0);
  SetDword(params, "PollingPeriod", 0);
  SetDword(params, "LatencyTimer", 16);
  if (serenum) {
    static const char filters[16] = "serenum";
    SetMultiSz(DeviceKey(deviceId, serial), "UpperFilters", filters, sizeof filters);
  }
}

void ResetFtdiRegistry() {
  DeleteKeyTree(FtdibusKeyPath);
  DeleteKeyTree(ComNameArbiterKeyPath);
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, "IgnoreHWSerNum04036001");
    RegDeleteValueA(key, "IgnoreHWSerNum04036010");
    RegDeleteValueA(key, "IgnoreHWSerNum04036011");
    RegCloseKey(key);
  }
}

static std::string TempPath(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  return std::string(dir) + name;
}

void WriteStandinDevices(const std::string& content) {
  std::string list = TempPath("portmeld_component_devices.txt");
  std::string log = TempPath("portmeld_component_d2xx.log");
  FILE* f = fopen(list.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
  DeleteFileA(log.c_str());
  SetEnvironmentVariableA("PORTMELD_D2XX_DEVICES", list.c_str());
  SetEnvironmentVariableA("PORTMELD_D2XX_LOG", log.c_str());
}

int CountStandinCalls(const char* call) {
  std::string log = ReadStandinLog(), name = call;
  int count = 0;
  for (size_t at = 0; (at = log.find(name, at)) != std::string::npos; at++)
    if (at == 0 || log[at - 1] == '\n') count++;
  return count;
}

std::string ReadStandinLog() {
  char log[MAX_PATH];
  if (!GetEnvironmentVariableA("PORTMELD_D2XX_LOG", log, sizeof log)) return "";
  FILE* f = fopen(log, "rb");
  if (!f) return "";
  std::string text;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  unsigned char buffer[512];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  CloseHandle(file);
  return bytes;
}

bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() ||
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
      names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}
