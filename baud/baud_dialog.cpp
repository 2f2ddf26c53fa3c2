// The Baud Rate Mapping dialog (resource 105): the selected port's alias
// entries as a fourteen-row list, the closest-divisor search, the two
// built-in tables, and the write of ConfigData.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>

#include "baud/alias.h"
#include "baud/alias_registry.h"
#include "baud/baud_dialog.h"
#include "baud/baud_dialog_ids.h"
#include "platform/ui.h"

namespace {

// One opening of the dialog: the record it edits and the handles it keeps.
struct BaudDialog {
  DeviceRecord* Record;
  DeviceRecord* AsRead;  // the record as read: a write changes what differs from it
  const Reporter* Reporter;
  HWND Dialog;
  HWND List;
  HWND DesiredBaud;
  HWND ClosestBaud;
  HWND ErrorPercent;
};

enum { GENERATED_BAUD_COLUMN = 1, DIVISOR_COLUMN = 2, DESIRED_TEXT_SIZE = 1024 };

struct AliasColumn {
  const char* Header;
  int Width;  // pixels
};
const AliasColumn AliasColumns[] = {
    {"Virtual Baud", 80}, {"Generated Baud", 100}, {"Divisor", 100}};

void SetSubItemText(HWND list, int row, int column, const char* text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  SendMessageA(list, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

// Columns 1 and 2 of a row from its entry in AliasTable.
void ShowAliasEntry(HWND list, int row) {
  const AliasTableEntry& alias = AliasTable[AliasRows[row].Entry];
  char text[64];
  snprintf(text, sizeof text, "%.0f", alias.GeneratedBaud);
  SetSubItemText(list, row, GENERATED_BAUD_COLUMN, text);
  snprintf(text, sizeof text, "%.3f", alias.Divisor);
  SetSubItemText(list, row, DIVISOR_COLUMN, text);
}

// The fourteen rows from AliasTable; stops at the first row the list refuses.
void FillAliasList(HWND list) {
  for (int row = 0; row < ALIAS_ROW_COUNT; ++row) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(AliasRows[row].Label);
    if (SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item) == -1) return;
    ShowAliasEntry(list, row);
  }
}

void InsertAliasColumns(HWND list) {
  for (int i = 0; i < (int)(sizeof AliasColumns / sizeof AliasColumns[0]); ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_RIGHT;
    column.cx = AliasColumns[i].Width;
    column.pszText = const_cast<char*>(AliasColumns[i].Header);
    column.iSubItem = i;
    if (SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column) == -1) return;
  }
}

// Shows the invalid-input warning, owned by this dialog, and empties the
// Desired Baud field so that the next number starts afresh.
void ReportInvalidInput(const BaudDialog* d) {
  MessageBoxA(d->Dialog, "Not Valid Input   ", "Warning", MB_ICONWARNING);
  SetWindowTextA(d->DesiredBaud, "");
}

void InitBaudDialog(HWND dialog, BaudDialog* d) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
  d->Dialog = dialog;
  d->List = GetDlgItem(dialog, IDV_ALIASES);
  d->DesiredBaud = GetDlgItem(dialog, IDE_DESIRED_BAUD);
  d->ClosestBaud = GetDlgItem(dialog, IDE_CLOSEST_BAUD);
  d->ErrorPercent = GetDlgItem(dialog, IDE_ERROR_PERCENT);
  InsertAliasColumns(d->List);
  LoadAliasTable(d->Record);
  FillAliasList(d->List);
}

void OnGenerate(const BaudDialog* d) {
  char text[DESIRED_TEXT_SIZE] = "";
  GetWindowTextA(d->DesiredBaud, text, sizeof text);
  double desired = atof(text);
  // Selected, so that the next number typed replaces it.
  SendMessageA(d->DesiredBaud, EM_SETSEL, 0, -1);

  ClosestDivisor closest;
  if (!FindClosestDivisor(desired, &closest)) {
    ReportInvalidInput(d);
    return;
  }
  char shown[64];
  snprintf(shown, sizeof shown, "%.0f", closest.ClosestBaud);
  SetWindowTextA(d->ClosestBaud, shown);
  snprintf(shown, sizeof shown, closest.ErrorFormat, closest.ErrorPercent);
  SetWindowTextA(d->ErrorPercent, shown);
}

// The divisor generated last goes to every selected row; the selection
// stays so that the user sees which rows changed.
void OnAdd(const BaudDialog* d) {
  if (PendingDivisor == 0) {
    ReportInvalidInput(d);
    return;
  }
  for (int row = 0; row < ALIAS_ROW_COUNT; ++row) {
    if (!(SendMessageA(d->List, LVM_GETITEMSTATE, (WPARAM)row, LVIS_SELECTED) & LVIS_SELECTED))
      continue;
    AliasTableEntry& alias = AliasTable[AliasRows[row].Entry];
    alias.Divisor = PendingDivisor;
    alias.GeneratedBaud = BaseBaudRate / PendingDivisor;
    ShowAliasEntry(d->List, row);
  }
}

// A built-in table replaces the record's aliases in memory at once; only
// OK or Apply writes them.
void OnBuiltInTable(const BaudDialog* d, const unsigned char* table) {
  LoadBuiltInAliasTable(d->Record, table);
  SendMessageA(d->List, LVM_DELETEALLITEMS, 0, 0);
  LoadAliasTable(d->Record);
  FillAliasList(d->List);
}

// WriteConfigData reports its own failure; the dialog carries on as the
// user asked.
void OnStoreAndWrite(const BaudDialog* d) {
  StoreAliasTable(d->Record);
  WriteConfigData(d->Record, d->AsRead, d->Reporter);
}

void OnBaudCommand(const BaudDialog* d, int id) {
  switch (id) {
    case IDB_BAUD_OK:
      OnStoreAndWrite(d);
      EndDialog(d->Dialog, 1);
      break;
    case IDB_BAUD_APPLY:
      OnStoreAndWrite(d);
      break;
    case IDB_BAUD_CANCEL:
    case IDCANCEL:
      EndDialog(d->Dialog, 1);
      break;
    case IDB_GENERATE:
      OnGenerate(d);
      break;
    case IDB_ADD:
      OnAdd(d);
      break;
    case IDB_RESTORE_DEFAULTS:
      OnBuiltInTable(d, DefaultAliasTable);
      break;
    case IDB_TARNLINK_STANDARD:
      OnBuiltInTable(d, TarnlinkAliasTable);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK BaudRateMappingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  BaudDialog* d = reinterpret_cast<BaudDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      InitBaudDialog(dialog, reinterpret_cast<BaudDialog*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (d) OnBaudCommand(d, LOWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

bool ShowBaudRateMappingDialog(HWND owner, DeviceRecord* record, DeviceRecord* asRead,
                               const Reporter* reporter) {
  BaudDialog d = {};
  d.Record = record;
  d.AsRead = asRead;
  d.Reporter = reporter;
  INT_PTR result = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_BAUD_RATE_MAPPING), owner,
                                   BaudRateMappingProc, reinterpret_cast<LPARAM>(&d));
  // Every opening ends with 1; anything else means it never ran.
  return result == 1;
}
