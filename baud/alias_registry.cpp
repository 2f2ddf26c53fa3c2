#include "baud/alias_registry.h"

#include "devices/device_changes.h"

bool WriteConfigData(DeviceRecord* record, DeviceRecord* asRead, const Reporter* reporter) {
  WriterLock lock;
  if (!TakeWriterLock(reporter, &lock)) return false;
  ChangeSet set;
  set.Command = "Baud Rate Mapping";
  PlanConfigDataChanges(&set, record, asRead, 0);
  // The dialog that called us closes whatever the outcome: a failure is said now.
  return FinishDeviceWrite(&set, &lock, record, asRead, REPORT_WRITE_CONFIG_DATA, "ConfigData",
                           reporter);
}
