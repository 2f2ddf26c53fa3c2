// The Baud Rate Mapping dialog (resource 105): the selected port's alias
// entries as a fourteen-row list, the closest-divisor search, the two
// built-in tables, and the write of ConfigData.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>

#include "app/main_window.h"
#include "app/main_window_controls.h"
#include "app/sub_dialogs.h"
#include "baud/alias.h"
#include "baud/alias_registry.h"
#include "baud_dialog_ids.h"
#include "devices/inventory.h"
#include "main_window_ids.h"
#include "platform/ui.h"

namespace {

// Handles kept while the dialog is open.
struct BaudDialogControls {
  HWND Dialog;
  HWND List;
  HWND DesiredBaud;
  HWND ClosestBaud;
  HWND ErrorPercent;
};
BaudDialogControls Controls;

enum { GENERATED_BAUD_COLUMN = 1, DIVISOR_COLUMN = 2, DESIRED_TEXT_SIZE = 1024 };

struct AliasColumn {
  const char* Header;
  int Width;  // pixels
};
const AliasColumn AliasColumns[] = {
    {"Virtual Baud", 80}, {"Generated Baud", 100}, {"Divisor", 100}};

void SetSubItemText(int row, int column, const char* text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  SendMessageA(Controls.List, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

// Columns 1 and 2 of a row from its entry in AliasTable.
void ShowAliasEntry(int row) {
  const AliasTableEntry& alias = AliasTable[AliasRows[row].Entry];
  char text[64];
  snprintf(text, sizeof text, "%.0f", alias.GeneratedBaud);
  SetSubItemText(row, GENERATED_BAUD_COLUMN, text);
  snprintf(text, sizeof text, "%.3f", alias.Divisor);
  SetSubItemText(row, DIVISOR_COLUMN, text);
}

// The fourteen rows from AliasTable; stops at the first row the list refuses.
void FillAliasList() {
  for (int row = 0; row < ALIAS_ROW_COUNT; ++row) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(AliasRows[row].Label);
    if (SendMessageA(Controls.List, LVM_INSERTITEMA, 0, (LPARAM)&item) == -1) return;
    ShowAliasEntry(row);
  }
}

void InsertAliasColumns() {
  for (int i = 0; i < (int)(sizeof AliasColumns / sizeof AliasColumns[0]); ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_RIGHT;
    column.cx = AliasColumns[i].Width;
    column.pszText = const_cast<char*>(AliasColumns[i].Header);
    column.iSubItem = i;
    if (SendMessageA(Controls.List, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column) == -1) return;
  }
}

// Shows the invalid-input warning, owned by this dialog, and empties the
// Desired Baud field so that the next number starts afresh.
void ReportInvalidInput() {
  MessageBoxA(Controls.Dialog, "Not Valid Input   ", "Warning", MB_ICONWARNING);
  SetWindowTextA(Controls.DesiredBaud, "");
}

void InitBaudDialog(HWND dialog) {
  Controls.Dialog = dialog;
  Controls.List = GetDlgItem(dialog, IDV_ALIASES);
  Controls.DesiredBaud = GetDlgItem(dialog, IDE_DESIRED_BAUD);
  Controls.ClosestBaud = GetDlgItem(dialog, IDE_CLOSEST_BAUD);
  Controls.ErrorPercent = GetDlgItem(dialog, IDE_ERROR_PERCENT);
  InsertAliasColumns();
  const DeviceRecord* record = SelectedRecord();
  if (!record) {  // the command opens the dialog only for a selected port
    EndDialog(dialog, 1);
    return;
  }
  LoadAliasTable(record);
  FillAliasList();
}

void OnGenerate() {
  char text[DESIRED_TEXT_SIZE] = "";
  GetWindowTextA(Controls.DesiredBaud, text, sizeof text);
  double desired = atof(text);
  // Selected, so that the next number typed replaces it.
  SendMessageA(Controls.DesiredBaud, EM_SETSEL, 0, -1);

  ClosestDivisor closest;
  if (!FindClosestDivisor(desired, &closest)) {
    ReportInvalidInput();
    return;
  }
  char shown[64];
  snprintf(shown, sizeof shown, "%.0f", closest.ClosestBaud);
  SetWindowTextA(Controls.ClosestBaud, shown);
  snprintf(shown, sizeof shown, closest.ErrorFormat, closest.ErrorPercent);
  SetWindowTextA(Controls.ErrorPercent, shown);
}

// The divisor generated last goes to every selected row; the selection
// stays so that the user sees which rows changed.
void OnAdd() {
  if (PendingDivisor == 0) {
    ReportInvalidInput();
    return;
  }
  for (int row = 0; row < ALIAS_ROW_COUNT; ++row) {
    if (!(SendMessageA(Controls.List, LVM_GETITEMSTATE, (WPARAM)row, LVIS_SELECTED) &
          LVIS_SELECTED))
      continue;
    AliasTableEntry& alias = AliasTable[AliasRows[row].Entry];
    alias.Divisor = PendingDivisor;
    alias.GeneratedBaud = BaseBaudRate / PendingDivisor;
    ShowAliasEntry(row);
  }
}

// A built-in table replaces the record's aliases in memory at once; only
// OK or Apply writes them.
void OnBuiltInTable(const unsigned char* table) {
  DeviceRecord* record = SelectedRecord();
  if (!record) return;
  LoadBuiltInAliasTable(record, table);
  SendMessageA(Controls.List, LVM_DELETEALLITEMS, 0, 0);
  LoadAliasTable(record);
  FillAliasList();
}

// WriteConfigData reports its own failure; the dialog carries on as the
// user asked.
void OnStoreAndWrite() {
  DeviceRecord* record = SelectedRecord();
  if (!record) return;
  StoreAliasTable(record);
  WriteConfigData(record);
}

void OnBaudCommand(HWND dialog, int id) {
  switch (id) {
    case IDB_BAUD_OK:
      OnStoreAndWrite();
      EndDialog(dialog, 1);
      break;
    case IDB_BAUD_APPLY:
      OnStoreAndWrite();
      break;
    case IDB_BAUD_CANCEL:
    case IDCANCEL:
      EndDialog(dialog, 1);
      break;
    case IDB_GENERATE:
      OnGenerate();
      break;
    case IDB_ADD:
      OnAdd();
      break;
    case IDB_RESTORE_DEFAULTS:
      OnBuiltInTable(DefaultAliasTable);
      break;
    case IDB_TARNLINK_STANDARD:
      OnBuiltInTable(TarnlinkAliasTable);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK BaudRateMappingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitBaudDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      OnBaudCommand(dialog, LOWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void RunBaudRateMappingCommand() {
  if (!SelectedRecord()) {
    ShowNoSelection();
    return;
  }
  RunSubDialog(IDD_BAUD_RATE_MAPPING, BaudRateMappingProc);

  // The record may hold another alias table now: show it afresh.
  ShowOpenPortCount();
  ShowIgnoreSerialSetting();
  SelectRowOfDevice(SelectedIndex);
  ShowSelectedDevice();
}
