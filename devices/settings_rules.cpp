#include "devices/settings_rules.h"

#include <string.h>

#include "devices/config_data.h"

enum { NUMBER_FIELD_MAX_CHARS = 5 };

static bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the text as atol does. Five characters hold at most 99999, so the
// result is the same whether long is 32 or 64 bits wide.
static int32_t ReadLikeAtol(const char* text) {
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int32_t value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10 + (*text++ - '0');
  return negative ? -value : value;
}

bool ParseNumberField(const char* text, NumberFieldRange range, uint32_t* value) {
  if (text == nullptr || strnlen(text, NUMBER_FIELD_MAX_CHARS + 1) > NUMBER_FIELD_MAX_CHARS)
    return false;
  // Compared unsigned, so a negative number is out of range.
  uint32_t number = (uint32_t)ReadLikeAtol(text);
  if (number < range.Min || number > range.Max) return false;
  *value = number;
  return true;
}

const unsigned char SerenumUpperFilters[UPPER_FILTERS_SIZE] = {'s', 'e', 'r', 'e', 'n', 'u', 'm'};

bool IsSerialEnumeratorOn(const unsigned char* upperFilters) {
  // "serenum" and its terminator: eight bytes, always inside the field.
  return memcmp(upperFilters, SerenumUpperFilters, 8) == 0;
}

void SetSerialEnumerator(DeviceRecord* record, bool on) {
  if (on) {
    memcpy(record->UpperFilters, SerenumUpperFilters, UPPER_FILTERS_SIZE);
    record->KnownSettings |= KNOWN_UPPER_FILTERS;
  } else {
    // The known bit stays as it was: a "serenum" we read is deleted on the
    // next save, a filter of another product that we never claimed is kept.
    memset(record->UpperFilters, 0, UPPER_FILTERS_SIZE);
  }
}

struct PresetValues {
  uint32_t MinReadTimeout;
  uint32_t MinWriteTimeout;
  uint32_t PollingPeriod;
  uint32_t LatencyTimer;
  bool EventOnSurpriseRemoval;
  const unsigned char* AliasTable;
  bool SerialEnumerator;
};

static const PresetValues Presets[] = {
    /* PRESET_PORTMELD */ {0, 0, 0, 1, true, DefaultAliasTable, false},
    /* PRESET_TARNLINK */ {0, 0, 0, 1, true, TarnlinkAliasTable, false},
    /* PRESET_DEFAULT  */ {0, 0, 0, 16, false, DefaultAliasTable, true},
};

bool ApplyPreset(DeviceRecord* record, Preset preset) {
  if (preset != PRESET_PORTMELD && preset != PRESET_TARNLINK && preset != PRESET_DEFAULT) return false;
  const PresetValues& values = Presets[preset];

  record->MinReadTimeout = values.MinReadTimeout;
  record->MinWriteTimeout = values.MinWriteTimeout;
  record->PollingPeriod = values.PollingPeriod;
  record->LatencyTimer = values.LatencyTimer;

  SetOptionBit(record->ConfigData, EventOnSurpriseRemoval, values.EventOnSurpriseRemoval);
  SetOptionBit(record->ConfigData, SerialPrinter, false);
  SetOptionBit(record->ConfigData, CancelIfPowerOff, false);
  SetOptionBit(record->ConfigData, SetRtsOnClose, false);
  SetOptionBit(record->ConfigData, DisableModemCtrlAtStartup, false);

  memcpy(record->ConfigData + ALIAS_TABLE_OFFSET, values.AliasTable, ALIAS_TABLE_SIZE);
  SetSerialEnumerator(record, values.SerialEnumerator);

  record->KnownSettings |= KNOWN_MIN_READ_TIMEOUT | KNOWN_MIN_WRITE_TIMEOUT |
                           KNOWN_POLLING_PERIOD | KNOWN_LATENCY_TIMER | KNOWN_CONFIG_DATA;
  return true;
}
