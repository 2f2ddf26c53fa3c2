// The three buffered-write values of a device: their registry names, record
// fields, accepted ranges and the numbers the dialog starts from. Pure.
#pragma once

#include <stdint.h>

#include "devices/device_record.h"

enum {
  BUFFERED_WRITE_VALUE_COUNT = 3,
  BUFFERED_WRITE_TEXT_LENGTH = 4  // characters of a typed value that count
};

struct BufferedWriteValue {
  const char* Name;  // REG_DWORD in the Device Parameters key
  uint32_t DeviceRecord::*Field;
  uint32_t Min;
  uint32_t Max;
  uint32_t Initial;  // set at every opening of the dialog
  uint32_t Known;    // its KnownSetting bit
};

// In the order they are read and taken from the dialog: WriteBufferSize,
// WriteLatency, WriteBufferThreshold.
extern const BufferedWriteValue BufferedWriteValues[BUFFERED_WRITE_VALUE_COUNT];
// Indexes into BufferedWriteValues in the order they are written and
// deleted: WriteBufferSize, WriteBufferThreshold, WriteLatency.
extern const int BufferedWriteStoreOrder[BUFFERED_WRITE_VALUE_COUNT];

// Sets the three fields to their initial numbers (4096, 20, 1).
void SetInitialBufferedWrites(DeviceRecord* record);

// A typed value: its first four characters read like atoi. True and
// the number when it lies in the value's range, false otherwise (an empty or
// non-numeric text reads as 0 and is refused).
bool ParseBufferedWriteText(const char* text, const BufferedWriteValue& value, uint32_t* number);
