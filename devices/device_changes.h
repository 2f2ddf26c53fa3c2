// Planning one device's writes as changes of a change set: from the record
// as it was read to the record the user wants, merged onto what the
// registry holds now, so that what somebody else wrote in between stays.
#pragma once

#include "devices/change_set.h"
#include "devices/driver_values.h"

// The write of one value of the device: after as given, before as the
// registry holds it now.
void PlanDeviceValue(ChangeSet* set, const DeviceRecord* device, DriverValueId value,
                     const ValueImage& after, ValueWriter writer, int group);

// Every setting the user changed from read to wanted, and nothing else:
// each number, each option bit and alias entry of ConfigData (merged into
// the ConfigData the registry holds now), the serial enumerator, each
// buffered-write value. Where somebody else changed the same setting since
// it was read, the user's value wins.
void PlanDeviceChanges(ChangeSet* set, const DeviceRecord* read, const DeviceRecord* wanted,
                       ValueWriter instanceWriter, int group);

// Only the ConfigData of record, as it differs from asRead: what a dialog
// that writes ConfigData at once plans.
void PlanConfigDataChanges(ChangeSet* set, const DeviceRecord* record, const DeviceRecord* asRead,
                           int group);

// Plans one device's changes (group 0) under the writer lock.
typedef void (*DeviceChangePlan)(ChangeSet* set, const DeviceRecord* record,
                                 const DeviceRecord* asRead);

// A dialog's write of one device that writes at once: runs the plan as one
// transaction (set->Command names it), brings both records up to what was
// written and reports a failure once ("Cannot write the <what> of ...").
// True when all was written.
bool WriteDeviceChanges(ChangeSet* set, DeviceRecord* record, DeviceRecord* asRead,
                        DeviceChangePlan plan, ReportOperation operation, const char* what,
                        const Reporter* reporter);

// A report carrying a change's facts: port, serial, value, key, error.
Report ChangeReport(ReportOperation operation, const char* text, UINT style,
                    const ValueChange& change, DWORD error);

// The record's fields take what the set wrote of the group, so that the
// record says what the registry holds.
void AdoptWrittenValues(const ChangeSet& set, int group, DeviceRecord* record);
// The same for one change, whatever its group.
void AdoptWrittenChange(const ValueChange& change, DeviceRecord* record);

enum { NO_SILENT_GROUP = -1000000 };

// Each failed group's first failure, once: "Cannot write the <what> of COM5
// (serial FT12AB34A)", caption "ERROR", with the value, key and error.
// A group given as silent is not reported.
void ReportFailedGroups(const ChangeSet& set, ReportOperation operation, const char* what,
                        const Reporter* reporter, int silent = NO_SILENT_GROUP);

// The table's entry of a value name; VALUE_NAME_COUNT for none.
DriverValueId DriverValueNamed(const std::string& name);
