// The driver's registry values of one device: their names, where they live,
// the type the driver keeps each as, and the record field that mirrors it.
// The one table every reader and writer of device values goes by. Pure.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "devices/device_record.h"
#include "devices/registry_paths.h"

// The registry's own type numbers (REG_SZ, REG_BINARY, REG_DWORD,
// REG_MULTI_SZ), for code that includes no <windows.h>.
enum RegistryType : uint32_t {
  REGISTRY_SZ = 1,
  REGISTRY_BINARY = 3,
  REGISTRY_DWORD = 4,
  REGISTRY_MULTI_SZ = 7
};

// Apply writes a device's values in this order.
enum DriverValueId {
  VALUE_MIN_READ_TIMEOUT,
  VALUE_MIN_WRITE_TIMEOUT,
  VALUE_POLLING_PERIOD,
  VALUE_LATENCY_TIMER,
  VALUE_CONFIG_DATA,
  VALUE_UPPER_FILTERS,
  VALUE_WRITE_BUFFER_SIZE,
  VALUE_WRITE_BUFFER_THRESHOLD,
  VALUE_WRITE_LATENCY,
  VALUE_SS_IDLE_TIMEOUT,
  VALUE_PORT_NAME,
  VALUE_FRIENDLY_NAME,
  VALUE_NAME_COUNT
};

struct DriverValue {
  const char* Name;  // as stored: "LatencyTimer"
  RegistryType Type;
  DeviceKeyKind Key;
  size_t Offset;  // of the DeviceRecord field; NO_FIELD when the record keeps none
  uint32_t Size;  // the field's bytes
  uint32_t Known;  // its KnownSetting bit; 0 when none
};

enum : size_t { NO_FIELD = (size_t)-1 };

extern const DriverValue DriverValues[VALUE_NAME_COUNT];

// The Device Parameters values a read of the settings takes, in the order
// it takes them (and reports those missing).
enum { SETTINGS_READ_COUNT = 6 };
extern const DriverValueId SettingsReadOrder[SETTINGS_READ_COUNT];

// The record's field behind a value; nullptr for a value without one.
unsigned char* DriverValueField(DeviceRecord* record, DriverValueId value);
const unsigned char* DriverValueField(const DeviceRecord* record, DriverValueId value);
