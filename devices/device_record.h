// DeviceRecord and DeviceInventory: the fixed-layout records every subsystem
// works on. Pure: no <windows.h>, so the rules over them build natively.
#pragma once

#include <stdint.h>

enum {
  DESCRIPTION_SIZE = 64,
  CONFIG_DATA_SIZE = 64,
  PORT_NAME_SIZE = 16,
  UPPER_FILTERS_SIZE = 16,
  SERIAL_NUMBER_SIZE = 36,
  COMDB_SIZE = 32
};

// Which of a record's settings hold a value that may be written back: read
// from the registry for this record, or set by the user since. A setting
// without its bit was missing or unreadable and stays untouched on write.
enum KnownSetting : uint32_t {
  KNOWN_CONFIG_DATA = 0x01,
  KNOWN_PORT_NAME = 0x02,
  KNOWN_MIN_READ_TIMEOUT = 0x04,
  KNOWN_MIN_WRITE_TIMEOUT = 0x08,
  KNOWN_POLLING_PERIOD = 0x10,
  KNOWN_LATENCY_TIMER = 0x20,
  KNOWN_UPPER_FILTERS = 0x40,  // only "serenum" or nothing: ours to rewrite
  KNOWN_WRITE_BUFFER_SIZE = 0x80,
  KNOWN_WRITE_BUFFER_THRESHOLD = 0x100,
  KNOWN_WRITE_LATENCY = 0x200,
  READ_UPPER_FILTERS = 0x400,  // UpperFilters was read, ours or another product's
  KNOWN_SS_IDLE_TIMEOUT = 0x800
};

// Bits of DeviceRecord::Flags. The same bit means one thing in each
// listing: a record of the D2XX listing holds the library's flags; a record
// of the registered listing is marked attached.
enum DeviceFlag : uint32_t {
  D2XX_FLAG_OPENED = 0x1,       // D2XX listing: another program has the port open
  REGISTERED_FLAG_ATTACHED = 0x1  // registered listing: attached now
};

struct DeviceRecord {
  char Description[DESCRIPTION_SIZE];
  unsigned char ConfigData[CONFIG_DATA_SIZE];
  uint32_t MinReadTimeout;
  uint32_t MinWriteTimeout;
  uint32_t PollingPeriod;
  uint32_t LatencyTimer;
  char PortName[PORT_NAME_SIZE];
  unsigned char UpperFilters[UPPER_FILTERS_SIZE];
  uint32_t DeviceId;  // vendor id << 16 | product id
  uint32_t LocationId;
  uint32_t WriteBufferSize;
  uint32_t WriteBufferThreshold;
  uint32_t WriteLatency;
  uint32_t SSIdleTimeout;  // ms idle before selective suspend; most machines have none
  char SerialNumber[SERIAL_NUMBER_SIZE];
  unsigned char ComDB[COMDB_SIZE];
  uint32_t Flags;
  uint32_t DeviceType;
  uint32_t KnownSettings;  // KnownSetting bits
  // The bytes of ConfigData the registry held when read, when fewer than
  // CONFIG_DATA_SIZE (another tool or an older driver wrote it); 0 when it
  // held them all, or the record was not read. The entries beyond are
  // missing, not zero.
  uint32_t ConfigDataStored;
};

struct DeviceInventory {
  DeviceRecord* Records;  // one zero-filled heap block of `count` records
  // The records as the last read of their settings left them, before any
  // edit: a write changes only what differs from these.
  DeviceRecord* AsRead;
  uint32_t count;
  int32_t OpenPortCount;
  bool ShowDisconnected;
};
