// The Baud Rate Mapping dialog (resource 105).
#pragma once

#include <windows.h>

#include "devices/device_record.h"
#include "platform/report.h"

// Shows the record's alias entries; OK and Apply write its ConfigData (a
// failure goes to the reporter). False when the dialog could not be shown.
bool ShowBaudRateMappingDialog(HWND owner, DeviceRecord* record, DeviceRecord* asRead,
                               const Reporter* reporter);
