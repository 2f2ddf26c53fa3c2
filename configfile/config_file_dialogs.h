// "Save Configuration..." and "Load Configuration...": the common file
// dialogs that choose the file, around WriteConfigurationFile and
// ReadConfigurationFile. The caller picks the record and shows the result.
#pragma once

#include <windows.h>

#include "devices/device_record.h"
#include "platform/report.h"

// Writes the record to a file the user chooses. False when the file could
// not be written (already reported); true otherwise, also when the user
// cancelled.
bool SaveConfiguration(HWND owner, const DeviceRecord* record, const Reporter* reporter);

// Reads a file the user chooses into the record. True only when the record
// was loaded; a cancelled dialog or a rejected file leave it as it was.
bool LoadConfiguration(HWND owner, DeviceRecord* record, const Reporter* reporter);
