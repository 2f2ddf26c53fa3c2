// How a device's serial number and ids are taken from the D2XX library's
// report and from its FTDIBUS key name. Pure.
#pragma once

#include <string>

#include "devices/device_record.h"

// The registry key of an FT232R-class device (0x04036001) carries the
// library's serial number with an "A" appended: character 8 becomes 'A' and
// character 9 ends the text. Other devices keep their serial number.
void ApplyRegistrySerialRule(DeviceRecord* record);

// Fills DeviceId and SerialNumber from a subkey name of the form
// VID_vvvv+PID_pppp+serial, cut by position. A name shorter than 4
// characters leaves the record zero-filled.
void ParseDeviceKeyName(const char* name, DeviceRecord* record);

// ASCII letters compared without case: "COM5" and "com5", "ComDB" and
// "COMDB" (the registry's names are case-blind).
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

enum { COM_NUMBER_MAX = 256 };  // the highest number ComDB keeps

// "COM7" in any case: 7; 0 for anything else (no number, a leading zero,
// above COM_NUMBER_MAX, anything after the digits).
int ComNumberOfName(const char* name);

// The FriendlyName a port renamed to COMn gets: its name with the "(COMm)"
// at its end made "(COMn)", so that a name an administrator gave it stays;
// "USB Serial Port (COMn)" for a name without that ending.
std::string RenamedFriendlyName(const std::string& friendlyName, int number);
