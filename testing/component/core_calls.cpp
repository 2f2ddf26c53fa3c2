#include "component/core_calls.h"

#include "comdb/rename.h"

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

bool ChangeComDb(HWND owner, int take, int release) {
  Reporter reporter = RecorderFor(owner);
  return ChangeComDb(&take, take ? 1 : 0, &release, release ? 1 : 0, "test", &reporter);
}
