// The DeviceInventory the Main window shows and edits, and the two listings
// that build it.
#pragma once

#include <windows.h>

#include "devices/device_record.h"

extern DeviceInventory Inventory;
// Index of the DeviceRecord the Main window shows; -1 for none.
extern int SelectedIndex;

// Devices the D2XX library reports attached now. 1 when the listing ran
// (also when empty), 0 when FTDIBUS did not open or memory ran out.
int ListConnectedDevices();
// Every device instance under the open FTDIBUS key. 1 when rebuilt from at
// least one subkey, 0 when the key has none.
int ListRegisteredDevices(HKEY ftdibus);
// Frees the records; the inventory is empty afterwards.
void FreeInventory();
