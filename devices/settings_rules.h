// Rules over a device's settings that need no registry: the number fields'
// ranges and parsing, the serial enumerator image and the three presets. Pure.
#pragma once

#include <stdint.h>

#include "devices/device_record.h"

struct NumberFieldRange {
  uint32_t Min;
  uint32_t Max;
};
constexpr NumberFieldRange MinReadTimeoutRange = {0, 10000};
constexpr NumberFieldRange MinWriteTimeoutRange = {0, 10000};
constexpr NumberFieldRange PollingPeriodRange = {0, 255};
constexpr NumberFieldRange LatencyTimerRange = {1, 255};

// A number field's text: at most 5 characters, read like atol, compared
// unsigned against the range. True and the value when accepted.
bool ParseNumberField(const char* text, NumberFieldRange range, uint32_t* value);

// "serenum" followed by nine zero bytes.
extern const unsigned char SerenumUpperFilters[UPPER_FILTERS_SIZE];
// True when the first string of the 16 bytes is exactly "serenum".
bool IsSerialEnumeratorOn(const unsigned char* upperFilters);
// Turning the enumerator on writes "serenum" on the next save; turning it off
// clears the field but never claims a value the program did not read (a
// foreign filter stays in the registry).
void SetSerialEnumerator(DeviceRecord* record, bool on);

enum Preset { PRESET_PORTMELD, PRESET_TARNLINK, PRESET_DEFAULT };
// False for a value that is no preset.
bool ApplyPreset(DeviceRecord* record, Preset preset);
