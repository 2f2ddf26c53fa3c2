#include "bufwrite/buffered_writes.h"

#include "devices/config_data.h"
#include "devices/device_changes.h"
#include "devices/device_keys.h"


bool ReadBufferedWrites(DeviceRecord* record) {
  SetInitialBufferedWrites(record);
  if (!GetOptionBit(record->ConfigData, BufferedWritesEnabled)) return true;
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_PARAMETERS_KEY, KEY_READ, &key) != ERROR_SUCCESS) return false;
  for (const BufferedWriteValue& value : BufferedWriteValues)
    QueryDeviceValue(key, value.Name, REG_DWORD, &(record->*value.Field), sizeof(uint32_t),
                     nullptr);
  RegCloseKey(key);
  return true;
}

void ApplyBufferedWritesCheck(DeviceRecord* record, LRESULT checkState) {
  bool on = checkState == BST_CHECKED;
  if (on == GetOptionBit(record->ConfigData, BufferedWritesEnabled)) return;
  SetOptionBit(record->ConfigData, BufferedWritesEnabled, on);
  record->KnownSettings |= KNOWN_CONFIG_DATA;
}

// The switch first, merged as every ConfigData write is; without it
// written, the values are neither written nor deleted (one group). The
// dialog's OK asks for all three: written when on, deleted when off.
static void PlanBufferedWrites(ChangeSet* set, const DeviceRecord* record,
                               const DeviceRecord* asRead) {
  bool on = GetOptionBit(record->ConfigData, BufferedWritesEnabled);
  PlanConfigDataChanges(set, record, asRead, 0);
  for (int index : BufferedWriteStoreOrder) {
    const BufferedWriteValue& value = BufferedWriteValues[index];
    PlanDeviceValue(set, record, DriverValueNamed(value.Name),
                    on ? DwordImage(record->*value.Field) : ValueImage(), THROUGH_REGISTRY, 0);
  }
}

bool SaveBufferedWrites(DeviceRecord* record, DeviceRecord* asRead,
                        const char* const typed[BUFFERED_WRITE_VALUE_COUNT],
                        bool rejected[BUFFERED_WRITE_VALUE_COUNT], const Reporter* reporter) {
  bool on = GetOptionBit(record->ConfigData, BufferedWritesEnabled);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) {
    const BufferedWriteValue& value = BufferedWriteValues[i];
    uint32_t number;
    rejected[i] = on && !ParseBufferedWriteText(typed[i], value, &number);
    if (on && !rejected[i]) record->*value.Field = number;
  }
  ChangeSet set;
  set.Command = "Buffered Writes";
  // The dialog closes on OK whatever the outcome: a failure is said now, once.
  return WriteDeviceChanges(&set, record, asRead, PlanBufferedWrites,
                            REPORT_WRITE_BUFFERED_WRITES, "buffered writes", reporter);
}
