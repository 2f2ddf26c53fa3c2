#include "devices/config_data.h"

#include "devices/device_record.h"

bool GetOptionBit(const unsigned char* configData, OptionBit bit) {
  return (configData[bit.Byte] & bit.Mask) != 0;
}

void SetOptionBit(unsigned char* configData, OptionBit bit, bool on) {
  // By mask only: the driver may use bits that no box names.
  if (on)
    configData[bit.Byte] = (unsigned char)(configData[bit.Byte] | bit.Mask);
  else
    configData[bit.Byte] = (unsigned char)(configData[bit.Byte] & ~bit.Mask);
}

uint32_t GetConfigEntry(const unsigned char* configData, int entry) {
  if (entry < 0 || entry * 4 >= CONFIG_DATA_SIZE) return 0;
  const unsigned char* p = configData + entry * 4;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void SetConfigEntry(unsigned char* configData, int entry, uint32_t value) {
  if (entry < 0 || entry * 4 >= CONFIG_DATA_SIZE) return;
  unsigned char* p = configData + entry * 4;
  p[0] = (unsigned char)(value & 0xFF);
  p[1] = (unsigned char)(value >> 8 & 0xFF);
  p[2] = (unsigned char)(value >> 16 & 0xFF);
  p[3] = (unsigned char)(value >> 24 & 0xFF);
}
