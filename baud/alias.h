// Baud-rate aliases: the alias entries of ConfigData, divisor arithmetic,
// the closest-divisor search and the two built-in tables. Pure.
#pragma once

#include <stdint.h>

#include "devices/config_data.h"
#include "devices/device_record.h"

enum {
  ALIAS_ENTRY_COUNT = 16,  // entries 1..15 are aliases; entry 0 holds option bits
  ALIAS_ROW_COUNT = 14     // rows of the Baud Rate Mapping list (entry 14 has none)
};

constexpr double BaseBaudRate = 3000000.0;

struct AliasRow {
  const char* Label;  // "Virtual Baud" column
  int Entry;          // ConfigData entry 1..15
};
extern const AliasRow AliasRows[ALIAS_ROW_COUNT];

struct AliasTableEntry {
  double Divisor;
  double GeneratedBaud;  // always BaseBaudRate / Divisor
};
// Working copy indexed by entry number (index 0 unused).
extern AliasTableEntry AliasTable[ALIAS_ENTRY_COUNT];
// Result of the last successful closest-divisor search; 0 means none.
extern double PendingDivisor;


double DecodeDivisor(uint32_t entry);
uint32_t EncodeDivisor(double divisor);

// Decodes entries 1 to 15 of the record's ConfigData into AliasTable.
void LoadAliasTable(const DeviceRecord* record);
// Encodes entries 1 to 13 and 15 of AliasTable into the record's ConfigData.
void StoreAliasTable(DeviceRecord* record);
// Copies a built-in table over ConfigData bytes 4 to 63, then LoadAliasTable.
void LoadBuiltInAliasTable(DeviceRecord* record, const unsigned char* table);

struct ClosestDivisor {
  double Divisor;
  double ClosestBaud;
  double ErrorPercent;
  const char* ErrorFormat;  // "%.3f", or "%.3f%%" for the two special rates
};
// True and the result for a valid desired rate (PendingDivisor set); false when
// invalid (PendingDivisor unchanged).
bool FindClosestDivisor(double desired, ClosestDivisor* result);
