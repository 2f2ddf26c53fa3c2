#include "baud/alias_registry.h"

#include "devices/device_changes.h"
#include "platform/writer_lock.h"

bool WriteConfigData(DeviceRecord* record, DeviceRecord* asRead, const Reporter* reporter) {
  WriterLock lock;
  if (!TakeWriterLock(reporter, &lock)) return false;
  ChangeSet set;
  set.Command = "Baud Rate Mapping";
  PlanConfigDataChanges(&set, record, asRead, 0);
  bool done = CommitChangeSet(&set, reporter);
  ReleaseWriterLock(&lock);
  AdoptWrittenValues(set, 0, asRead);
  AdoptWrittenValues(set, 0, record);
  // The dialog that called us closes whatever the outcome: say so now.
  ReportFailedGroups(set, REPORT_WRITE_CONFIG_DATA, "ConfigData", reporter);
  return done;
}
