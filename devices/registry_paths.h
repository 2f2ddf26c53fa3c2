// Registry keys the program reads and writes, all under HKEY_LOCAL_MACHINE,
// and the one way every subsystem builds a device's key path. Pure.
#pragma once

#include <stddef.h>

#include "devices/device_record.h"

extern const char FtdibusKeyPath[];         // SYSTEM\CurrentControlSet\Enum\FTDIBUS
extern const char UsbFlagsKeyPath[];        // SYSTEM\CurrentControlSet\Control\UsbFlags
extern const char ComNameArbiterKeyPath[];  // SYSTEM\CurrentControlSet\Control\COM Name Arbiter

enum DeviceKeyKind { DEVICE_INSTANCE_KEY, DEVICE_PARAMETERS_KEY };

// Formats "SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_%04x+PID_%04x+%s\0000"
// (plus "\Device Parameters" for DEVICE_PARAMETERS_KEY) from the record's
// DeviceId and SerialNumber. False when the path does not fit.
bool FormatDeviceKeyPath(char* out, size_t size, const DeviceRecord* record, DeviceKeyKind which);
