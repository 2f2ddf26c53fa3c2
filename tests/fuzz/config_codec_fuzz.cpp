// Feeds one buffer of any length to the configuration-file decoder and checks
// what must hold for every input.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "configfile/config_codec.h"
#include "devices/settings_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DeviceRecord record, before;
  memset(&record, 0x5C, sizeof record);
  before = record;

  // The buffer is copied so that ASan sees any read past its exact end.
  unsigned char* copy = (unsigned char*)malloc(size ? size : 1);
  if (size) memcpy(copy, data, size);
  int loaded = DecodeConfigFile(copy, size, &record);

  if (size < CONFIG_FILE_SIZE) {
    if (loaded != 0 || memcmp(&record, &before, sizeof record) != 0) abort();
  } else {
    if (loaded != 1) abort();
    if (record.MinReadTimeout > 255 || record.MinWriteTimeout > 255 || record.LatencyTimer > 255 ||
        record.PollingPeriod > 255)
      abort();
    // Only the file's fields change.
    if (memcmp(record.PortName, before.PortName, sizeof record.PortName) != 0 ||
        memcmp(record.SerialNumber, before.SerialNumber, sizeof record.SerialNumber) != 0 ||
        record.DeviceId != before.DeviceId || record.WriteBufferSize != before.WriteBufferSize)
      abort();
    // Saving again gives the file back, except that an enabled serial
    // enumerator is saved in its one canonical form.
    unsigned char again[CONFIG_FILE_SIZE];
    EncodeConfigFile(&record, again);
    if (IsSerialEnumeratorOn(copy + CONFIG_FILE_UPPER_FILTERS))
      memcpy(copy + CONFIG_FILE_UPPER_FILTERS, SerenumUpperFilters, UPPER_FILTERS_SIZE);
    if (memcmp(again, copy, CONFIG_FILE_SIZE) != 0) abort();
  }
  free(copy);
  return 0;
}
