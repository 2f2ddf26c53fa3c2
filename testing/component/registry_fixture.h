// Registry fixtures for component tests: real keys in Wine's registry under
// HKEY_LOCAL_MACHINE, made by each test and removed again.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

// Creates the key path as needed and stores the value.
void SetDword(const std::string& path, const char* name, DWORD value);
void SetString(const std::string& path, const char* name, const char* value);
void SetBinary(const std::string& path, const char* name, const std::vector<unsigned char>& data);
void SetMultiSz(const std::string& path, const char* name, const void* data, DWORD size);
// The stored bytes and type; false when the key or value is missing.
bool ReadValue(const std::string& path, const char* name, std::vector<unsigned char>* data,
               DWORD* type = nullptr);
DWORD ReadDword(const std::string& path, const char* name);  // 0xDEADBEEF when missing
bool ValueExists(const std::string& path, const char* name);
bool KeyExists(const std::string& path);
void DeleteKeyTree(const std::string& path);
// Everyone is refused KEY_SET_VALUE on the key (Wine enforces it: error 5 for
// an open with KEY_ALL_ACCESS), or allowed everything again.
void RefuseWrites(const std::string& path, bool refuse);
// Everyone is refused reading the key's values (or not any more).
void RefuseReads(const std::string& path, bool refuse);

// "SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+FT12AB34A\0000"
// (and its "\Device Parameters" when params is true).
std::string DeviceKey(uint32_t deviceId, const char* serial, bool params = false);

// A registered device with every value the driver keeps: ConfigData holding
// the default alias table, MinReadTimeout 0, MinWriteTimeout 0,
// PollingPeriod 0, LatencyTimer 16, PortName, and UpperFilters when serenum.
void AddRegisteredDevice(uint32_t deviceId, const char* serial, const char* portName,
                         bool serenum = false);
// Removes FTDIBUS, the UsbFlags ignore-serial values and COM Name Arbiter.
void ResetFtdiRegistry();

// A whole file's bytes (empty when it cannot be read), and writing them.
std::vector<unsigned char> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// The names in a folder, without "." and "..".
std::vector<std::string> FolderContents(const std::string& folder);

// The D2XX stand-in's device list (format: testing/ftd2xx/README.md),
// written to a file that PORTMELD_D2XX_DEVICES names; the call log is
// PORTMELD_D2XX_LOG, emptied here.
void WriteStandinDevices(const std::string& content);
std::string ReadStandinLog();
// How many calls of that name the stand-in's log holds ("FT_Reload").
int CountStandinCalls(const char* call);
