#include "component/core_calls.h"

DeviceInventory Inventory;
int SelectedIndex = -1;
bool IgnoreSerialChecked = false;

// What the dialog keeps between its read and its write.
static ComDbValue KeptComDb;

static DeviceRecord* SelectedRecord() {
  if (SelectedIndex < 0 || (uint32_t)SelectedIndex >= Inventory.count) return nullptr;
  return &Inventory.Records[SelectedIndex];
}

bool ReadComDb(HWND owner) {
  FreeComDbValue(&KeptComDb);
  DeviceRecord* record = SelectedRecord();
  if (!record) return false;
  Reporter reporter = RecorderFor(owner);
  return ReadComDb(&KeptComDb, record->ComDB, &reporter);
}

bool WriteComDb(HWND owner) {
  DeviceRecord* record = SelectedRecord();
  Reporter reporter = RecorderFor(owner);
  if (!record) return false;
  return WriteComDb(&KeptComDb, record->ComDB, &reporter);
}
