#include "bufwrite/buffered_write_rules.h"

#include <stdlib.h>

const BufferedWriteValue BufferedWriteValues[BUFFERED_WRITE_VALUE_COUNT] = {
    {"WriteBufferSize", &DeviceRecord::WriteBufferSize, 1, 4096, 4096, KNOWN_WRITE_BUFFER_SIZE},
    {"WriteLatency", &DeviceRecord::WriteLatency, 1, 16, 1, KNOWN_WRITE_LATENCY},
    {"WriteBufferThreshold", &DeviceRecord::WriteBufferThreshold, 1, 20, 20,
     KNOWN_WRITE_BUFFER_THRESHOLD},
};

const int BufferedWriteStoreOrder[BUFFERED_WRITE_VALUE_COUNT] = {0, 2, 1};

void SetInitialBufferedWrites(DeviceRecord* record) {
  for (const BufferedWriteValue& value : BufferedWriteValues) record->*value.Field = value.Initial;
}

bool ParseBufferedWriteText(const char* text, const BufferedWriteValue& value, uint32_t* number) {
  // Only the first four characters count: "40960" reads as 4096.
  char head[BUFFERED_WRITE_TEXT_LENGTH + 1];
  int length = 0;
  for (; text && length < BUFFERED_WRITE_TEXT_LENGTH && text[length]; ++length)
    head[length] = text[length];
  head[length] = '\0';
  int parsed = atoi(head);  // four characters cannot overflow an int
  if (parsed < (int)value.Min || parsed > (int)value.Max) return false;
  *number = (uint32_t)parsed;
  return true;
}
