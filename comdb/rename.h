// Giving a device a new COM number: ComDB, PortName and FriendlyName as one
// change, the same for both programs.
#pragma once

#include <windows.h>

#include "devices/change_set.h"
#include "devices/device_record.h"
#include "platform/report.h"

// Plans the ComDB change that reserves `take` and frees `release` (0 for
// none) into the set, onto ComDB as it is now, or as an earlier change of
// the same set leaves it. False after a report ("Can't open Key: COM Name
// Arbiter", "Can't open COMDB") when ComDB cannot be read.
bool PlanComDbChange(ChangeSet* set, int take, int release, int group, const Reporter* reporter);

// Under the writer lock, as one change set: reserves the numbers in take
// and frees those in release (1 to 256), onto ComDB as it is now. False
// after a report ("Can't open Key: COM Name Arbiter", "Can't open COMDB").
bool ChangeComDb(const int* take, int takeCount, const int* release, int releaseCount,
                 const char* command, const Reporter* reporter);

// Whether a registered FTDI device other than the record's holds COMn in
// its PortName.
bool ComNumberHeldByOther(const DeviceRecord* record, int number);

// Under the writer lock, as one change set: reserves the number in ComDB,
// writes PortName "COMn", then FriendlyName "USB Serial Port (COMn)", and
// frees the old number last, when no other registered device holds it. A
// step that fails puts back the steps done, writes nothing more and is
// reported with its Win32 error ("Can't open COMDB", "Can't open Key: COM
// Name Arbiter", "Can't write PortName", "Can't write FriendlyName";
// caption "ERROR"). ERROR_SUCCESS (the record's PortName is the new name)
// or that error.
DWORD RenameDevice(DeviceRecord* record, int number, ValueWriter instanceWriter,
                   const char* command, const Reporter* reporter);
