// Buffered writes of one device: the BufferedWritesEnabled bit of its
// ConfigData and the three values in its Device Parameters key.
#pragma once

#include <windows.h>

#include "bufwrite/buffered_write_rules.h"
#include "devices/device_record.h"

// Sets the three fields to 4096, 20 and 1 and, when BufferedWritesEnabled is
// set, reads the registry's values over them; a value that is missing (or
// not a DWORD) keeps its number. 0 when the key could not be read.
int ReadBufferedWrites(DeviceRecord* record);

// The check box's BM_GETCHECK result into BufferedWritesEnabled: checked
// sets the bit, anything else clears it.
void ApplyBufferedWritesCheck(DeviceRecord* record, LRESULT checkState);

// Writes the record's ConfigData, then, with BufferedWritesEnabled set,
// takes each typed value (BufferedWriteValues order) that lies in its range
// into the record and writes the three; with the bit clear, deletes them.
// rejected[i] tells that typed[i] was refused and its field kept its value.
// 1 when all was written; 0 after one "ERROR" message.
int SaveBufferedWrites(DeviceRecord* record, const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                       bool rejected[BUFFERED_WRITE_VALUE_COUNT]);
