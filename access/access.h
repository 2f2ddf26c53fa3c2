// Take-ownership privilege, and the owners and access lists that let the
// program write the driver's and the COM name arbiter's keys.
#pragma once

#include "devices/device_record.h"
#include "platform/report.h"

bool SetPrivilege(const char* name, bool enable, const Reporter* reporter);
bool SetDriverKeyPermissions(const Reporter* reporter);
// Every device instance key of the inventory.
bool SetDeviceKeyPermissions(const DeviceInventory* inventory, const Reporter* reporter);
