// Reading and writing every device's driver settings, and the machine-wide
// option to ignore hardware serial numbers.
#pragma once

#include <stdint.h>

#include "devices/change_set.h"
#include "devices/write_transaction.h"
#include "devices/device_record.h"
#include "platform/report.h"

// One device's UpperFilters and Device Parameters values into its record;
// each value that cannot be read is reported and stays unknown. False when
// its Device Parameters key did not open.
// *unread, when given, gets a bit per value reported unread (ReportUnreadValues
// replays them).
// With bufferedWrites, the three buffered-write values too, through the
// same opening of the key (ReadBufferedWriteSettings' rule).
bool ReadDeviceRecordSettings(DeviceRecord* record, const Reporter* reporter,
                              uint32_t* unread = nullptr, bool bufferedWrites = false);
// The three buffered-write values as the registry holds them, whatever the
// switch: each one that is a 4-byte REG_DWORD is taken and marked known,
// any other stays unknown. False when the key could not be read.
bool ReadBufferedWriteSettings(DeviceRecord* record);
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

// The records as read, kept in inventory->AsRead: what later writes
// compare with. The reads of every device above keep them themselves.
void KeepSettingsAsRead(DeviceInventory* inventory);

enum IgnoreSerialChange { IGNORE_SERIAL_UNCHANGED, IGNORE_SERIAL_ON, IGNORE_SERIAL_OFF };
enum { IGNORE_SERIAL_GROUP = -1 };  // its changes' group in a change set

struct SettingsWrite {
  const char* Command;         // as the change journal names it: "Apply", "OK"
  ValueWriter InstanceWriter;  // how UpperFilters is written
  IgnoreSerialChange IgnoreSerial;
  ReloadRequest Reload;  // the window's Apply and OK reload whatever was written
  bool Devices;          // the records' changes too, or only the option
};

// OK and Apply: under the writer lock, as one change set, every setting the
// user changed in a record since it was read (inventory->AsRead), merged
// onto what the registry holds now, and the machine-wide option when it
// changed. A device that fails is reported once ("Cannot write the settings
// of ..."); the others are written. AsRead takes what was written. The
// set, with how the reload went, is left in *set.
WriteOutcome WriteChangedSettings(DeviceInventory* inventory, const SettingsWrite& write,
                                  ChangeSet* set, const Reporter* reporter);
// The same with Apply's defaults and the option left alone.
bool WriteDeviceSettings(DeviceInventory* inventory, const Reporter* reporter);

// Whether any of the three UsbFlags values exists. *checked is set when the
// key opens and kept as it was otherwise; returns *checked.
bool ReadIgnoreSerialSetting(bool* checked);
// The three values' writes (on) or deletes (off) for a change set.
void PlanIgnoreSerial(ChangeSet* set, bool on, int group);
// Writes or deletes the three values as one change set under the writer
// lock: ERROR_SUCCESS; WAIT_TIMEOUT when another writer kept the lock and
// ERROR_CANCELLED when the journal refused (both reported); or the Win32
// error of the value that failed (not reported).
DWORD WriteIgnoreSerial(bool on, const char* command, const Reporter* reporter);
