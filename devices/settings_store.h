// Reading and writing every device's driver settings, and the machine-wide
// option to ignore hardware serial numbers.
#pragma once

#include <stdint.h>

#include "devices/device_record.h"
#include "platform/report.h"

// One device's UpperFilters and Device Parameters values into its record;
// each value that cannot be read is reported and stays unknown. False when
// its Device Parameters key did not open.
// *unread, when given, gets a bit per value reported unread (ReportUnreadValues
// replays them).
bool ReadDeviceRecordSettings(DeviceRecord* record, const Reporter* reporter,
                              uint32_t* unread = nullptr);
// The reports a read of the record gave for the values in unread, again
// and in the same order: for a device whose values were read moments ago.
void ReportUnreadValues(const DeviceRecord* record, uint32_t unread, const Reporter* reporter);
// The fields ReadDeviceRecordSettings fills, from a record read before.
void CopyDeviceSettings(const DeviceRecord* from, DeviceRecord* to);
// PortName alone, by the same rules; false when it could not be read.
bool ReadDevicePortName(DeviceRecord* record);
// Every device of the inventory; goes on past a device that fails.
bool ReadDeviceSettings(DeviceInventory* inventory, const Reporter* reporter);

// What a read of every device gave, kept so that the same devices, listed
// again moments later, are not read a second time.
struct SettingsReadEntry;
struct SettingsCache {
  SettingsReadEntry* Entries;  // sorted by serial number and ids
  uint32_t Count;
};
// ReadDeviceSettings, keeping what it read in *cache.
bool ReadDeviceSettingsKeeping(DeviceInventory* inventory, const Reporter* reporter,
                               SettingsCache* cache);
// ReadDeviceSettings for an inventory listed again: a device the cache
// holds gets the values read then and the same reports in the same order;
// any other device is read.
bool ReadDeviceSettingsCached(DeviceInventory* inventory, const SettingsCache* cache,
                              const Reporter* reporter);
void FreeSettingsCache(SettingsCache* cache);

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
