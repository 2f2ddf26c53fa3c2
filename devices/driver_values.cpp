#include "devices/driver_values.h"

#include <stddef.h>

#define FIELD(name) offsetof(DeviceRecord, name), sizeof(DeviceRecord::name)

const DriverValue DriverValues[VALUE_NAME_COUNT] = {
    {"MinReadTimeout", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(MinReadTimeout),
     KNOWN_MIN_READ_TIMEOUT},
    {"MinWriteTimeout", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(MinWriteTimeout),
     KNOWN_MIN_WRITE_TIMEOUT},
    {"PollingPeriod", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(PollingPeriod),
     KNOWN_POLLING_PERIOD},
    {"LatencyTimer", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(LatencyTimer),
     KNOWN_LATENCY_TIMER},
    {"ConfigData", REGISTRY_BINARY, DEVICE_PARAMETERS_KEY, FIELD(ConfigData), KNOWN_CONFIG_DATA},
    {"UpperFilters", REGISTRY_MULTI_SZ, DEVICE_INSTANCE_KEY, FIELD(UpperFilters),
     KNOWN_UPPER_FILTERS},
    {"WriteBufferSize", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(WriteBufferSize),
     KNOWN_WRITE_BUFFER_SIZE},
    {"WriteBufferThreshold", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(WriteBufferThreshold),
     KNOWN_WRITE_BUFFER_THRESHOLD},
    {"WriteLatency", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(WriteLatency),
     KNOWN_WRITE_LATENCY},
    {"SSIdleTimeout", REGISTRY_DWORD, DEVICE_PARAMETERS_KEY, FIELD(SSIdleTimeout),
     KNOWN_SS_IDLE_TIMEOUT},
    {"PortName", REGISTRY_SZ, DEVICE_PARAMETERS_KEY, FIELD(PortName), KNOWN_PORT_NAME},
    {"FriendlyName", REGISTRY_SZ, DEVICE_INSTANCE_KEY, NO_FIELD, 0, 0},
};

#undef FIELD

const DriverValueId SettingsReadOrder[SETTINGS_READ_COUNT] = {
    VALUE_CONFIG_DATA,       VALUE_PORT_NAME,      VALUE_MIN_READ_TIMEOUT,
    VALUE_MIN_WRITE_TIMEOUT, VALUE_POLLING_PERIOD, VALUE_LATENCY_TIMER};

unsigned char* DriverValueField(DeviceRecord* record, DriverValueId value) {
  size_t offset = DriverValues[value].Offset;
  return offset == NO_FIELD ? nullptr : reinterpret_cast<unsigned char*>(record) + offset;
}

const unsigned char* DriverValueField(const DeviceRecord* record, DriverValueId value) {
  return DriverValueField(const_cast<DeviceRecord*>(record), value);
}
