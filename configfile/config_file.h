// Reading and writing one device's configuration file.
#pragma once

#include "devices/device_record.h"
#include "platform/report.h"

// Writes the record's file image to path. The bytes go to a temporary file
// in the same folder first, which replaces path only once it is complete,
// so a failed save leaves whatever path held before. Failures are reported
// (caption "ERROR"); true when the file was written.
bool WriteConfigurationFile(const char* path, const DeviceRecord* record,
                            const Reporter* reporter);

// Reads a configuration file into the record. The record changes only when
// a whole file image was read: a file that cannot be opened or read, or that
// is too short, is reported (caption "ERROR") and gives false.
bool ReadConfigurationFile(const char* path, DeviceRecord* record, const Reporter* reporter);
