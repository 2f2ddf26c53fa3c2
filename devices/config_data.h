// The 64-byte ConfigData value: sixteen little-endian 32-bit entries, entry 0
// holding the driver's option bits, entries 1 to 15 the baud-rate aliases.
// Pure.
#pragma once

#include <stdint.h>

// One named option bit: the byte of ConfigData that holds it and its mask.
struct OptionBit {
  int Byte;
  unsigned char Mask;
};

constexpr OptionBit SerialPrinter = {0, 0x80};
constexpr OptionBit CancelIfPowerOff = {0, 0x40};
constexpr OptionBit EventOnSurpriseRemoval = {0, 0x20};
constexpr OptionBit SetRtsOnClose = {0, 0x08};
constexpr OptionBit DisableModemCtrlAtStartup = {1, 0x02};
constexpr OptionBit BufferedWritesEnabled = {1, 0x04};
constexpr OptionBit SelectiveSuspend = {1, 0x10};

// Bytes 2 and 3: the USB transfer sizes, n meaning (n + 1) * 64 bytes.
enum { TRANSFER_SIZE_IN_BYTE = 2, TRANSFER_SIZE_OUT_BYTE = 3, TRANSFER_SIZE_UNIT = 64 };

enum {
  CONFIG_ENTRY_COUNT = 16,
  OPTIONS_ENTRY = 0,      // entry 0: the option bits
  FIRST_ALIAS_ENTRY = 1,  // entries 1 to 15: the baud-rate aliases
  ALIAS_TABLE_OFFSET = FIRST_ALIAS_ENTRY * 4,
  ALIAS_TABLE_SIZE = 60  // a built-in alias table: ConfigData bytes 4 to 63
};

// The driver's standard aliases, and the Tarnlink table that sends every
// standard rate but 115200 to 3,000,000 baud.
extern const unsigned char DefaultAliasTable[ALIAS_TABLE_SIZE];
extern const unsigned char TarnlinkAliasTable[ALIAS_TABLE_SIZE];

bool GetOptionBit(const unsigned char* configData, OptionBit bit);
// Sets or clears one bit by mask; every other bit stays as it was.
void SetOptionBit(unsigned char* configData, OptionBit bit, bool on);

uint32_t GetConfigEntry(const unsigned char* configData, int entry);
void SetConfigEntry(unsigned char* configData, int entry, uint32_t value);
