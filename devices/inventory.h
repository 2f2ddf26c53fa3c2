// The DeviceInventory and the two listings that build it.
#pragma once

#include <windows.h>

#include "devices/device_record.h"
#include "platform/report.h"

// Devices the D2XX library reports attached now. True when the listing ran
// (also when empty), false when FTDIBUS did not open or memory ran out.
bool ListConnectedDevices(DeviceInventory* inventory, const Reporter* reporter);
// Every device instance under the open FTDIBUS key; the records the
// inventory held before mark the attached ones. True when rebuilt from at
// least one subkey, false when the key has none.
bool ListRegisteredDevices(DeviceInventory* inventory, HKEY ftdibus, const Reporter* reporter);
// Sorts the records by SerialNumber, for FindRecordBySerial.
void SortRecordsBySerial(DeviceInventory* inventory);
// The record of that serial number in a sorted inventory; nullptr for none.
const DeviceRecord* FindRecordBySerial(const DeviceInventory* sorted, const char* serial);
// Frees the records; the inventory is empty afterwards.
void FreeInventory(DeviceInventory* inventory);
