// Giving a device a new COM number: ComDB, PortName and FriendlyName as one
// change, the same for both programs and for undo.
#pragma once

#include <windows.h>

#include <string>

#include "devices/change_set.h"
#include "devices/device_record.h"
#include "platform/report.h"

// Plans the ComDB change that reserves `take` and frees `release` (0 for
// none) into the set, onto ComDB as it is now, or as an earlier change of
// the same set leaves it. The change is written as bits, onto ComDB as it
// is at the write. False after a report ("Can't open Key: COM Name
// Arbiter", "Can't open COMDB") when ComDB cannot be read.
bool PlanComDbChange(ChangeSet* set, int take, int release, int group, const Reporter* reporter);

// As one transaction: reserves the numbers in take and frees those in
// release (1 to 256), onto ComDB as it is now. False after a report
// ("Can't open Key: COM Name Arbiter", "Can't open COMDB").
bool ChangeComDb(const int* take, int takeCount, const int* release, int releaseCount,
                 const char* command, const Reporter* reporter);

// Whether a registered FTDI device other than the record's holds COMn in
// its PortName.
bool ComNumberHeldByOther(const DeviceRecord* record, int number);

// Who holds a number that a device is to take.
enum NumberHolder {
  NUMBER_FREE,
  NUMBER_RESERVED,      // ComDB reserves it, no adapter's PortName is it
  NUMBER_HELD_BY_GHOST, // the PortName of an adapter not attached now
  NUMBER_HELD_ATTACHED  // the PortName of an attached adapter (or one not known not to be)
};
// attached: the D2XX listing sorted by serial; nullptr when it cannot be
// known, and every holder counts as attached. *holder names the adapter
// ("COM6 (serial FT12AB34A)") or "ComDB".
NumberHolder FindNumberHolder(const DeviceRecord* record, int number,
                              const DeviceInventory* attached, const unsigned char* comDb,
                              std::string* holder);
// The one rule of taking a number, for rename and undo alike: a free
// number always; one that ComDB reserves or a ghost holds only with force;
// one that an attached adapter holds never.
bool MayTakeNumber(NumberHolder holder, bool force);

// Plans a rename as one all-or-nothing group: the new number reserved in
// ComDB first, then PortName "COMn" and the FriendlyName with its "(COMn)"
// ending, and the old number freed last, when no other registered device
// holds it. False after a report when ComDB cannot be read.
bool PlanRename(ChangeSet* set, const DeviceRecord* record, int number,
                ValueWriter instanceWriter, int group, const Reporter* reporter);

// Reports a failed step of a rename ("Can't open COMDB", "Can't open Key:
// COM Name Arbiter", "Can't write PortName", "Can't write FriendlyName";
// caption "ERROR") with its Win32 error.
void ReportRenameFailure(const ChangeSet& set, const FailedChange& failed,
                         const Reporter* reporter);

// One rename as one transaction. A step that fails puts back the steps
// done, writes nothing more and is reported. ERROR_SUCCESS (the record's
// PortName is the new name), WAIT_TIMEOUT (another writer kept the lock),
// ERROR_CANCELLED (not recorded, and so not written) or the step's error.
DWORD RenameDevice(DeviceRecord* record, int number, ValueWriter instanceWriter,
                   const char* command, const Reporter* reporter);
