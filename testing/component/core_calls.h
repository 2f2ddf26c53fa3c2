// The component tests drive the core as the windowed program does: one
// inventory, one selected record, one ignore-serial state, and every report
// recorded. These calls are the core's own with that state filled in.
#pragma once

#include <windows.h>

#include "access/access.h"
#include "baud/alias_registry.h"
#include "bufwrite/buffered_writes.h"
#include "comdb/comdb_registry.h"
#include "component/recording_messages.h"
#include "configfile/config_file.h"
#include "devices/inventory.h"
#include "devices/ports.h"
#include "devices/settings_store.h"

extern DeviceInventory Inventory;
extern int SelectedIndex;
extern bool IgnoreSerialChecked;

inline bool ListConnectedDevices() { return ListConnectedDevices(&Inventory, &Recorder); }
inline bool ListRegisteredDevices(HKEY ftdibus) {
  return ListRegisteredDevices(&Inventory, ftdibus, &Recorder);
}
inline void FreeInventory() { FreeInventory(&Inventory); }
inline bool ReadDeviceSettings() { return ReadDeviceSettings(&Inventory, &Recorder); }
inline bool WriteDeviceSettings() { return WriteDeviceSettings(&Inventory, &Recorder); }
inline bool ReadIgnoreSerialSetting() { return ReadIgnoreSerialSetting(&IgnoreSerialChecked); }
inline bool SetDriverKeyPermissions() { return SetDriverKeyPermissions(&Recorder); }
inline bool SetDeviceKeyPermissions() { return SetDeviceKeyPermissions(&Inventory, &Recorder); }
inline bool SetPrivilege(const char* name, bool enable) {
  return SetPrivilege(name, enable, &Recorder);
}
inline bool CloseAllPorts() { return CloseAllPorts(&Recorder); }
// The record as read, which a write compares with: its inventory entry's,
// or, for a record a test made itself, what the registry holds now.
inline DeviceRecord* AsReadOf(DeviceRecord* record, DeviceRecord* scratch) {
  if (Inventory.AsRead && record >= Inventory.Records && record < Inventory.Records + Inventory.count)
    return &Inventory.AsRead[record - Inventory.Records];
  *scratch = *record;
  scratch->KnownSettings = 0;
  ReadDeviceRecordSettings(scratch, nullptr);
  ReadBufferedWriteSettings(scratch);
  return scratch;
}
inline bool WriteConfigData(DeviceRecord* record) {
  DeviceRecord scratch;
  return WriteConfigData(record, AsReadOf(record, &scratch), &Recorder);
}
inline bool SaveBufferedWrites(DeviceRecord* record,
                               const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                               bool rejected[BUFFERED_WRITE_VALUE_COUNT]) {
  DeviceRecord scratch;
  return SaveBufferedWrites(record, AsReadOf(record, &scratch), typed, rejected, &Recorder);
}
inline bool WriteConfigurationFile(const char* path, const DeviceRecord* record) {
  return WriteConfigurationFile(path, record, &Recorder);
}
inline bool ReadConfigurationFile(const char* path, DeviceRecord* record) {
  return ReadConfigurationFile(path, record, &Recorder);
}

// ComDB for the record at SelectedIndex, as one opening of the COM Port
// Assignment dialog owned by owner reads it; and a change of its numbers
// (0 for none) through the core's one write path, reported to owner.
bool ReadComDb(HWND owner);
bool ChangeComDb(HWND owner, int take, int release);
