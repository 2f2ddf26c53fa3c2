// How a device's serial number and ids are taken from the D2XX library's
// report and from its FTDIBUS key name. Pure.
#pragma once

#include "devices/device_record.h"

// The registry key of an FT232R-class device (0x04036001) carries the
// library's serial number with an "A" appended: character 8 becomes 'A' and
// character 9 ends the text. Other devices keep their serial number.
void ApplyRegistrySerialRule(DeviceRecord* record);

// Fills DeviceId and SerialNumber from a subkey name of the form
// VID_vvvv+PID_pppp+serial, cut by position. A name shorter than 4
// characters leaves the record zero-filled.
void ParseDeviceKeyName(const char* name, DeviceRecord* record);
