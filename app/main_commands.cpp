// What the Main window's buttons and menu commands do.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "app/main_commands.h"
#include "app/main_window.h"
#include "app/main_window_controls.h"
#include "app/message_box.h"
#include "app/sub_dialogs.h"
#include "devices/device_changes.h"
#include "devices/inventory.h"
#include "devices/ports.h"
#include "devices/settings_rules.h"
#include "devices/settings_store.h"
#include "devices/write_transaction.h"
#include "main_window_ids.h"

static void ShowReloadFailed() {
  MessageBoxAtCursor(MainWindow, "Reload Driver failed!", "Error", MB_OK | MB_ICONERROR);
}

static void EndMainWindow() {
  FreeInventory(&Inventory);
  EndDialog(MainWindow, 1);
}

static void OnPreset(Preset preset) {
  SelectedIndex = DeviceOfSelectedRow();
  DeviceRecord* record = SelectedRecord();
  if (!record) {
    ShowNoSelection();
    return;
  }
  ApplyPreset(record, preset);
  ShowPresetValues(preset == PRESET_DEFAULT);
}

// Writes what the user changed, then reloads the driver, as one
// transaction: the selected port's edits and those of every record, and
// the global option when its box changed. False when nothing was written
// because another writer kept the lock or the journal answer was no
// (already shown): the edits stay on screen. *reloaded says whether the
// reload went through.
static bool WriteAllSettings(const char* command, bool* reloaded) {
  bool checked = IsMainBoxChecked(IDX_IGNORE_SERIAL);
  IgnoreSerialChange option = checked == IgnoreSerialAsRead() ? IGNORE_SERIAL_UNCHANGED
                              : checked                       ? IGNORE_SERIAL_ON
                                                              : IGNORE_SERIAL_OFF;
  bool devices = SelectedIndex != -1;
  if (devices) CommitFields();
  SettingsWrite write = {command, THROUGH_REGISTRY, option, RELOAD_ALWAYS, devices};
  ChangeSet set;
  WriteOutcome outcome = WriteChangedSettings(&Inventory, write, &set, &MainWindowMessages);
  *reloaded = set.Reload == RELOAD_DONE;
  return outcome != WRITE_WITHHELD;
}

// Who each record is, to tell whether a re-read inventory still matches
// the rows on screen.
struct DeviceIdentity {
  uint32_t DeviceId;
  char SerialNumber[SERIAL_NUMBER_SIZE];
};

static DeviceIdentity IdentityOf(const DeviceRecord* record) {
  DeviceIdentity identity;
  identity.DeviceId = record->DeviceId;
  memcpy(identity.SerialNumber, record->SerialNumber, sizeof identity.SerialNumber);
  return identity;
}

static bool SameIdentity(const DeviceIdentity& a, const DeviceIdentity& b) {
  return a.DeviceId == b.DeviceId && strcmp(a.SerialNumber, b.SerialNumber) == 0;
}

// After Apply's re-read the rows and the selection must still denote
// existing records. When the devices differ from what the rows show, the
// rows are rebuilt and the selection follows its device, or is dropped.
static void MatchRowsToInventory(const DeviceIdentity* before, uint32_t beforeCount,
                                 const DeviceIdentity* selected) {
  bool same = beforeCount == Inventory.count;
  for (uint32_t i = 0; same && i < beforeCount; i++)
    same = SameIdentity(before[i], IdentityOf(&Inventory.Records[i]));
  if (same) return;

  SendMessageA(MainControl(IDL_DEVICES), LB_RESETCONTENT, 0, 0);
  AddDeviceRows();
  SelectedIndex = -1;
  if (selected)
    for (uint32_t i = 0; i < Inventory.count; i++)
      if (SameIdentity(*selected, IdentityOf(&Inventory.Records[i])) && RowOfDevice((int)i) != -1) {
        SelectedIndex = (int)i;
        break;
      }
  if (SelectedIndex != -1) {
    SelectRowOfDevice(SelectedIndex);
  } else {
    DisableDeviceControls();
  }
}

static void OnApply() {
  bool reloaded;
  if (!WriteAllSettings("Apply", &reloaded)) return;
  ReadPortsAgain();
}

void ReadPortsAgain() {
  ClearDeviceControls();

  uint32_t beforeCount = Inventory.count;
  DeviceIdentity* before =
      static_cast<DeviceIdentity*>(calloc(beforeCount ? beforeCount : 1, sizeof(DeviceIdentity)));
  DeviceIdentity selected = {};
  bool hadSelection = SelectedRecord() != nullptr;
  if (hadSelection) selected = IdentityOf(SelectedRecord());
  for (uint32_t i = 0; before && i < beforeCount; i++)
    before[i] = IdentityOf(&Inventory.Records[i]);

  ListDevicesWithSettings();
  if (before)
    MatchRowsToInventory(before, beforeCount, hadSelection ? &selected : nullptr);
  else  // without the snapshot, assume the worst: rebuild the rows
    MatchRowsToInventory(nullptr, (uint32_t)-1, hadSelection ? &selected : nullptr);
  free(before);
  // A row is drawn from its record: a port renamed meanwhile shows its new name.
  InvalidateRect(MainControl(IDL_DEVICES), nullptr, TRUE);

  ShowOpenPortCount();
  ShowIgnoreSerialSetting();
  if (SelectedIndex != -1) ShowSelectedDevice();
}

static void OnOk() {
  bool reloaded;
  if (!WriteAllSettings("OK", &reloaded)) return;
  if (!reloaded) {
    ShowReloadFailed();
    return;
  }
  EndMainWindow();
}

static void OnReloadDriver() {
  ChangeSet set;
  if (RunWrite("reload", RELOAD_ALWAYS, &set, &MainWindowMessages, nullptr) != WRITE_WITHHELD &&
      set.Reload != RELOAD_DONE)
    ShowReloadFailed();
}

static const char CancelQuestion[] = "Abort Configuration?\nUnsaved Data will be lost";
static const char ExitQuestion[] = "Abort Configuration??\nUnsaved Data will be lost";

// Whether the user gives up what is not written yet. The box belongs to the
// window the user works in: a box owned by the Main window while a dialog
// of it is open would bring the Main window up over that dialog.
static bool ConfirmAbort(HWND owner, const char* question) {
  return MessageBoxAtCursor(owner, question, "Warning", MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

static void OnAbort(const char* question) {
  if (ConfirmAbort(MainWindow, question)) EndMainWindow();
}

// Whether a write now would change anything: the fields' edits go into the
// selected record first, as a change of selection puts them there.
static bool HasPendingEdits() {
  if (IsMainBoxChecked(IDX_IGNORE_SERIAL) != IgnoreSerialAsRead()) return true;
  if (SelectedRecord()) CommitFields();
  // Without the records as read (memory ran out) nothing tells: asking
  // costs less than losing edits.
  if (!Inventory.AsRead) return Inventory.count != 0;
  ChangeSet planned;
  for (uint32_t i = 0; i < Inventory.count && planned.Changes.empty(); i++)
    if (Inventory.Records[i].DeviceId != 0)
      PlanDeviceChanges(&planned, &Inventory.AsRead[i], &Inventory.Records[i], THROUGH_REGISTRY,
                        (int)i);
  return !planned.Changes.empty();
}

bool ConfirmPendingEdits(HWND owner) {
  return !HasPendingEdits() || ConfirmAbort(owner, CancelQuestion);
}

// Probing 256 ports takes a while: the wait cursor says so.
static void OnCloseAllPorts() {
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  CloseAllPorts(&MainWindowMessages);
  SetCursor(previous);
  RefreshDeviceList();
}

void OnMainCommand(HWND, int id, int notification) {
  switch (id) {
    case IDB_OK:
      OnOk();
      break;
    case IDB_CANCEL:
      OnAbort(CancelQuestion);
      break;
    case IDM_EXIT:
      OnAbort(ExitQuestion);
      break;
    case IDB_APPLY:
      OnApply();
      break;
    case IDB_REFRESH:
      ShowIgnoreSerialSetting();
      RefreshDeviceList();
      break;
    case IDX_SHOW_DISCONNECTED:
      if (notification != BN_CLICKED) break;
      Inventory.ShowDisconnected = IsMainBoxChecked(IDX_SHOW_DISCONNECTED);
      RefreshDeviceList();
      break;
    case IDB_CLOSE_ALL_PORTS:
      OnCloseAllPorts();
      break;
    case IDB_RELOAD_DRIVER:
      OnReloadDriver();
      break;
    case IDB_OPTIMIZE_PORTMELD:
      OnPreset(PRESET_PORTMELD);
      break;
    case IDB_OPTIMIZE_TARNLINK:
      OnPreset(PRESET_TARNLINK);
      break;
    case IDB_DEFAULT_SETTINGS:
      OnPreset(PRESET_DEFAULT);
      break;
    default:
      RunSubDialogCommand(id);
      break;
  }
}
