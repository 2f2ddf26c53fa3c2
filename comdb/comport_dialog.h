// The COM Port Assignment dialog (resource 108).
#pragma once

#include <windows.h>

#include "devices/device_record.h"

// Offers the numbers ComDB marks free and gives the record's port the one
// chosen: PortName, FriendlyName and ComDB are written on OK. Its messages
// are plain boxes owned by the dialog. False when the dialog could not be
// shown.
bool ShowComPortAssignmentDialog(HWND owner, DeviceRecord* record);
