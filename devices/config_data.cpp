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

// ConfigData bytes 4 to 63, entries 1 to 15, little-endian.
const unsigned char DefaultAliasTable[ALIAS_TABLE_SIZE] = {
    0x10, 0x27, 0x00, 0x00,  // 1   300     10000
    0x88, 0x13, 0x00, 0x00,  // 2   600     5000
    0xC4, 0x09, 0x00, 0x00,  // 3   1200    2500
    0xE2, 0x04, 0x00, 0x00,  // 4   2400    1250
    0x71, 0x02, 0x00, 0x00,  // 5   4800    625
    0x38, 0x41, 0x00, 0x00,  // 6   9600    312.5
    0x9C, 0x80, 0x00, 0x00,  // 7   19200   156.25
    0x4E, 0xC0, 0x00, 0x00,  // 8   38400   78.125
    0x34, 0x00, 0x00, 0x00,  // 9   57600   52
    0x1A, 0x00, 0x00, 0x00,  // 10  115200  26
    0x0D, 0x00, 0x00, 0x00,  // 11  230400  13
    0x06, 0x40, 0x00, 0x00,  // 12  460800  6.5
    0x03, 0x80, 0x00, 0x00,  // 13  921600  3.25
    0x00, 0x00, 0x00, 0x00,  // 14  (no row)
    0xD0, 0x80, 0x00, 0x00,  // 15  14400   208.25
};

// Every standard rate to 3,000,000 baud except 115200, which keeps divisor 26.
const unsigned char TarnlinkAliasTable[ALIAS_TABLE_SIZE] = {
    0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  // 1-5
    0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,              // 6-9
    0x1A, 0, 0, 0,                                                   // 10
    0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  // 11-15
};
