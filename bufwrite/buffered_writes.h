// Buffered writes of one device: the BufferedWritesEnabled bit of its
// ConfigData and the three values in its Device Parameters key.
#pragma once

#include <windows.h>

#include "bufwrite/buffered_write_rules.h"
#include "devices/device_record.h"
#include "platform/report.h"

// Sets the three fields to 4096, 20 and 1 and, when BufferedWritesEnabled is
// set, reads the registry's values over them; a value that is missing (or
// not a DWORD) keeps its number. False when the key could not be read.
bool ReadBufferedWrites(DeviceRecord* record);

// The check box's BM_GETCHECK result into BufferedWritesEnabled: checked
// sets the bit, anything else clears it.
void ApplyBufferedWritesCheck(DeviceRecord* record, LRESULT checkState);

// Under the writer lock, as one change: the record's BufferedWritesEnabled
// bit where it differs from asRead (merged onto the registry's ConfigData),
// then, with the bit set, takes each typed value (BufferedWriteValues
// order) that lies in its range into the record and writes the three; with
// the bit clear, deletes them. rejected[i] tells that typed[i] was refused
// and its field kept its value. Both records take what was written. True
// when all was written; false after one report.
bool SaveBufferedWrites(DeviceRecord* record, DeviceRecord* asRead,
                        const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                        bool rejected[BUFFERED_WRITE_VALUE_COUNT], const Reporter* reporter);
