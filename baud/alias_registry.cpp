#include "baud/alias_registry.h"

#include "devices/device_changes.h"

bool WriteConfigData(DeviceRecord* record, DeviceRecord* asRead, const Reporter* reporter) {
  ChangeSet set;
  set.Command = "Baud Rate Mapping";
  // The dialog that called us closes whatever the outcome: a failure is said now.
  return WriteDeviceChanges(
      &set, record, asRead,
      [](ChangeSet* planned, const DeviceRecord* wanted, const DeviceRecord* read) {
        PlanConfigDataChanges(planned, wanted, read, 0);
      },
      REPORT_WRITE_CONFIG_DATA, "ConfigData", reporter);
}
