// The Buffered Writes dialog (resource 107).
#pragma once

#include <windows.h>

#include "devices/device_record.h"
#include "platform/report.h"

// Shows the record's buffered-write switch and values; OK and Apply write
// them (a failure goes to the reporter). False when the dialog could not be
// shown.
bool ShowBufferedWritesDialog(HWND owner, DeviceRecord* record, DeviceRecord* asRead,
                               const Reporter* reporter);
