// Reading and writing every device's driver settings, and the machine-wide
// option to ignore hardware serial numbers.
#pragma once

#include "devices/device_record.h"
#include "platform/report.h"

// One device's UpperFilters and Device Parameters values into its record;
// each value that cannot be read is reported and stays unknown. False when
// its Device Parameters key did not open.
bool ReadDeviceRecordSettings(DeviceRecord* record, const Reporter* reporter);
// PortName alone, by the same rules; false when it could not be read.
bool ReadDevicePortName(DeviceRecord* record);
// Every device of the inventory; goes on past a device that fails.
bool ReadDeviceSettings(DeviceInventory* inventory, const Reporter* reporter);

// Writes the values the record knows (values it does not know stay in the
// registry as they are). A failure is reported once for the device.
bool WriteDeviceRecordSettings(const DeviceRecord* record, const Reporter* reporter);
// Every device of the inventory; goes on past a device that fails.
bool WriteDeviceSettings(const DeviceInventory* inventory, const Reporter* reporter);

// Whether any of the three UsbFlags values exists. *checked is set when the
// key opens and kept as it was otherwise; returns *checked.
bool ReadIgnoreSerialSetting(bool* checked);
bool ApplyIgnoreSerialSetting(bool checked);
bool SetIgnoreSerialValues();
bool DeleteIgnoreSerialValues();
