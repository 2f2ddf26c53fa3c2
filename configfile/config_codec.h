// The 84-byte configuration file of one device: ConfigData, then the low
// bytes of MinReadTimeout, MinWriteTimeout and LatencyTimer, the 16
// UpperFilters bytes and last the low byte of PollingPeriod. Pure.
#pragma once

#include <stddef.h>

#include "devices/device_record.h"

enum {
  CONFIG_FILE_SIZE = 84,
  CONFIG_FILE_CONFIG_DATA = 0,
  CONFIG_FILE_MIN_READ_TIMEOUT = 64,
  CONFIG_FILE_MIN_WRITE_TIMEOUT = 65,
  CONFIG_FILE_LATENCY_TIMER = 66,
  CONFIG_FILE_UPPER_FILTERS = 67,
  CONFIG_FILE_POLLING_PERIOD = 83
};

// Writes the record's file image into out (CONFIG_FILE_SIZE bytes).
void EncodeConfigFile(const DeviceRecord* record, unsigned char* out);

// Loads a file's bytes into the record. Fewer than CONFIG_FILE_SIZE bytes:
// returns false and changes nothing. Otherwise uses the first CONFIG_FILE_SIZE
// bytes, marks the loaded settings as set by the user and returns true.
bool DecodeConfigFile(const unsigned char* data, size_t size, DeviceRecord* record);
