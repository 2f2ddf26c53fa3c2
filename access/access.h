// Take-ownership privilege, and the owners and access lists that let the
// program write the driver's and the COM name arbiter's keys.
#pragma once

bool SetPrivilege(const char* name, bool enable);
bool SetDriverKeyPermissions();
bool SetDeviceKeyPermissions();
