// Take-ownership privilege, and the owners and access lists that let the
// program write the driver's and the COM name arbiter's keys.
#pragma once

#include "devices/device_record.h"
#include "platform/report.h"

bool SetPrivilege(const char* name, bool enable, const Reporter* reporter);

// The owners and access lists the program needs to write the driver's
// keys: FTDIBUS and each device instance key owned by Administrators, the
// driver-key list on FTDIBUS and the COM Name Arbiter, the device-key list
// on each device key. Each call is one change set of its own, recorded in
// the journal under the writer lock; a key that has them already is left
// untouched and not recorded.
// The driver keys alone: false when the pass ended.
bool SetDriverKeyPermissions(const Reporter* reporter);
// Every device instance key of the inventory alone.
bool SetDeviceKeyPermissions(const DeviceInventory* inventory, const Reporter* reporter);
// Both, as the window's start-up step ("Start-up access"): false when the
// device pass ended early.
bool SetStartUpAccess(const DeviceInventory* inventory, const Reporter* reporter);
