#include "configfile/config_codec.h"

#include <string.h>

#include "devices/settings_rules.h"

void EncodeConfigFile(const DeviceRecord* record, unsigned char* out) {
  memcpy(out + CONFIG_FILE_CONFIG_DATA, record->ConfigData, CONFIG_DATA_SIZE);
  // The file keeps only the low byte of each timing value.
  out[CONFIG_FILE_MIN_READ_TIMEOUT] = (unsigned char)(record->MinReadTimeout & 0xFF);
  out[CONFIG_FILE_MIN_WRITE_TIMEOUT] = (unsigned char)(record->MinWriteTimeout & 0xFF);
  out[CONFIG_FILE_LATENCY_TIMER] = (unsigned char)(record->LatencyTimer & 0xFF);
  memcpy(out + CONFIG_FILE_UPPER_FILTERS, record->UpperFilters, UPPER_FILTERS_SIZE);
  out[CONFIG_FILE_POLLING_PERIOD] = (unsigned char)(record->PollingPeriod & 0xFF);
}

bool DecodeConfigFile(const unsigned char* data, size_t size, DeviceRecord* record) {
  // A file that ends early is refused whole, never loaded in part.
  if (data == nullptr || size < CONFIG_FILE_SIZE) return false;

  memcpy(record->ConfigData, data + CONFIG_FILE_CONFIG_DATA, CONFIG_DATA_SIZE);
  record->MinReadTimeout = data[CONFIG_FILE_MIN_READ_TIMEOUT];
  record->MinWriteTimeout = data[CONFIG_FILE_MIN_WRITE_TIMEOUT];
  record->LatencyTimer = data[CONFIG_FILE_LATENCY_TIMER];
  record->PollingPeriod = data[CONFIG_FILE_POLLING_PERIOD];

  const unsigned char* filters = data + CONFIG_FILE_UPPER_FILTERS;
  if (IsSerialEnumeratorOn(filters)) {
    // The canonical image, not the file's bytes: anything after "serenum"
    // would be written to the registry as a further filter driver.
    SetSerialEnumerator(record, true);
  } else {
    // Kept as they are, so that saving again gives the same file; they are
    // never written to the registry, and a filter the record read stays
    // untouched because the known bit is left as it was.
    memcpy(record->UpperFilters, filters, UPPER_FILTERS_SIZE);
  }

  record->KnownSettings |= KNOWN_CONFIG_DATA | KNOWN_MIN_READ_TIMEOUT | KNOWN_MIN_WRITE_TIMEOUT |
                           KNOWN_LATENCY_TIMER | KNOWN_POLLING_PERIOD;
  return true;
}
