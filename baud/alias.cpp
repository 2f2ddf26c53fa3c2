#include "baud/alias.h"

#include <string.h>

#include "devices/config_data.h"

const AliasRow AliasRows[ALIAS_ROW_COUNT] = {
    {"300", 1},    {"600", 2},     {"1200", 3},    {"2400", 4},    {"4800", 5},
    {"9600", 6},   {"19200", 7},   {"38400", 8},   {"57600", 9},   {"115200", 10},
    {"230400", 11}, {"460800", 12}, {"921600", 13}, {"14400", 15}};

AliasTableEntry AliasTable[ALIAS_ENTRY_COUNT];
double PendingDivisor = 0;

enum {
  INTEGER_BITS = 0x3FFF,
  CODE_SHIFT = 14,
  ENTRY_BITS = 0x1FFFF,  // integer part and sub-integer code
  MAX_INTEGER_PART = 0x3FFF
};

// Fraction of each sub-integer code (bits 16..14 read as a number).
static const double CodeFractions[8] = {0, 0.5, 0.25, 0.125, 0.375, 0.625, 0.75, 0.875};

static const double SubIntegerFractions[8] = {0, 0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875};

double DecodeDivisor(uint32_t entry) {
  // Bits 17 to 31 carry nothing we know; an entry is shown as what it would
  // be written back as, which also keeps every divisor above zero.
  entry &= ENTRY_BITS;
  if (entry == 0) return 1.0;
  if (entry == 1) return 1.5;
  return (double)(entry & INTEGER_BITS) + CodeFractions[entry >> CODE_SHIFT];
}

uint32_t EncodeDivisor(double divisor) {
  if (divisor == 1.0) return 0;
  if (divisor == 1.5) return 1;
  // Negative, NaN and zero have no entry; 0 stands for them as for divisor 1.
  if (!(divisor > 0)) return 0;
  // No caller produces a divisor beyond 14 bits; keep the entry inside them.
  if (divisor >= MAX_INTEGER_PART + 1) return MAX_INTEGER_PART;
  uint32_t integer = (uint32_t)divisor;
  double fraction = divisor - (double)integer;
  for (uint32_t code = 1; code < 8; ++code)
    if (fraction == CodeFractions[code]) return integer | code << CODE_SHIFT;
  return integer;
}

void LoadAliasTable(const DeviceRecord* record) {
  for (int entry = 1; entry < ALIAS_ENTRY_COUNT; ++entry) {
    double divisor = DecodeDivisor(GetConfigEntry(record->ConfigData, entry));
    AliasTable[entry].Divisor = divisor;
    AliasTable[entry].GeneratedBaud = BaseBaudRate / divisor;
  }
}

void StoreAliasTable(DeviceRecord* record) {
  // Entry 14 has no row and keeps whatever the record holds.
  for (int row = 0; row < ALIAS_ROW_COUNT; ++row) {
    int entry = AliasRows[row].Entry;
    SetConfigEntry(record->ConfigData, entry, EncodeDivisor(AliasTable[entry].Divisor));
  }
  record->KnownSettings |= KNOWN_CONFIG_DATA;
}

void LoadBuiltInAliasTable(DeviceRecord* record, const unsigned char* table) {
  memcpy(record->ConfigData + ALIAS_TABLE_OFFSET, table, ALIAS_TABLE_SIZE);
  record->KnownSettings |= KNOWN_CONFIG_DATA;
  LoadAliasTable(record);
}

// Lowest desired rate whose divisor still fits the entry's 14 integer bits:
// 3,000,000 / 16384.
static const double MinDesiredRate = BaseBaudRate / (MAX_INTEGER_PART + 1);
static const double MaxDesiredRate = 1500001.0;  // exclusive

bool FindClosestDivisor(double desired, ClosestDivisor* result) {
  double divisor;
  const char* errorFormat = "%.3f";
  if (desired == 3000000.0) {
    divisor = 1.0;
    errorFormat = "%.3f%%";
  } else if (desired == 2000000.0) {
    divisor = 1.5;
    errorFormat = "%.3f%%";
  } else {
    // Written so that NaN is refused as well.
    if (!(desired > MinDesiredRate && desired < MaxDesiredRate)) return false;
    double x = BaseBaudRate / desired;
    uint32_t integer = (uint32_t)x;
    if (integer > MAX_INTEGER_PART) return false;
    double fraction = x - (double)integer;
    if (fraction == 0) {
      divisor = x;
    } else {
      // Only the eighths below the next integer: never round up to it.
      double best = SubIntegerFractions[0];
      double bestDistance = 1.0;
      for (double candidate : SubIntegerFractions) {
        double distance = candidate > fraction ? candidate - fraction : fraction - candidate;
        if (distance < bestDistance) {
          bestDistance = distance;
          best = candidate;
        }
      }
      divisor = (double)integer + best;
    }
  }
  PendingDivisor = divisor;
  result->Divisor = divisor;
  result->ClosestBaud = BaseBaudRate / divisor;
  result->ErrorPercent = (1.0 - desired / result->ClosestBaud) * 100.0;
  result->ErrorFormat = errorFormat;
  return true;
}
