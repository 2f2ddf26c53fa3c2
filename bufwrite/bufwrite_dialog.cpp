// The Buffered Writes dialog (resource 107): the switch and the three values
// of the selected port, written to its Device Parameters key on OK and Apply.
#include <windows.h>

#include <stdio.h>

#include "bufwrite/buffered_writes.h"
#include "bufwrite/bufwrite_dialog.h"
#include "bufwrite/bufwrite_dialog_ids.h"
#include "devices/config_data.h"
#include "platform/ui.h"

namespace {

// The edit of each value, in BufferedWriteValues order (size, latency,
// threshold).
const int ValueEdits[BUFFERED_WRITE_VALUE_COUNT] = {IDE_WRITE_BUFFER_SIZE, IDE_WRITE_LATENCY,
                                                    IDE_WRITE_BUFFER_THRESHOLD};

// One opening of the dialog: the record it edits and the handles it keeps.
struct BufferedWritesDialog {
  DeviceRecord* Record;
  DeviceRecord* AsRead;  // the record as read: a write changes what differs from it
  const Reporter* Reporter;
  HWND Dialog;
  HWND Check;
  HWND Edits[BUFFERED_WRITE_VALUE_COUNT];
};

void SetEditsEditable(const BufferedWritesDialog* d, bool editable) {
  for (HWND edit : d->Edits) SendMessageA(edit, EM_SETREADONLY, editable ? FALSE : TRUE, 0);
}

void ShowValue(const BufferedWritesDialog* d, int index) {
  char text[16];
  snprintf(text, sizeof text, "%d", (int)(d->Record->*BufferedWriteValues[index].Field));
  SetWindowTextA(d->Edits[index], text);
}

void InitBufferedWritesDialog(HWND dialog, BufferedWritesDialog* d) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
  d->Dialog = dialog;
  d->Check = GetDlgItem(dialog, IDX_ACTIVATE_BUFFERED_WRITES);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i)
    d->Edits[i] = GetDlgItem(dialog, ValueEdits[i]);
  bool enabled = GetOptionBit(d->Record->ConfigData, BufferedWritesEnabled);
  SendMessageA(d->Check, BM_SETCHECK, enabled ? BST_CHECKED : BST_UNCHECKED, 0);
  SetEditsEditable(d, enabled);
  // The numbers are set afresh at every opening; only a set switch reads
  // the registry's values over them.
  ReadBufferedWrites(d->Record);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) ShowValue(d, i);
}

// The check box decides; a refused number is replaced by the one kept.
void OnSave(const BufferedWritesDialog* d) {
  ApplyBufferedWritesCheck(d->Record, SendMessageA(d->Check, BM_GETCHECK, 0, 0));
  char texts[BUFFERED_WRITE_VALUE_COUNT][BUFFERED_WRITE_TEXT_LENGTH + 1];
  const char* typed[BUFFERED_WRITE_VALUE_COUNT];
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) {
    GetWindowTextA(d->Edits[i], texts[i], sizeof texts[i]);
    typed[i] = texts[i];
  }
  bool rejected[BUFFERED_WRITE_VALUE_COUNT];
  SaveBufferedWrites(d->Record, d->AsRead, typed, rejected, d->Reporter);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i)
    if (rejected[i]) ShowValue(d, i);
}

void OnBufferedWritesCommand(const BufferedWritesDialog* d, int id, int notification) {
  switch (id) {
    case IDB_BUFWRITE_OK:
      OnSave(d);
      EndDialog(d->Dialog, 1);
      break;
    case IDB_BUFWRITE_APPLY:
      OnSave(d);
      break;
    case IDB_BUFWRITE_CANCEL:
      EndDialog(d->Dialog, 1);
      break;
    case IDX_ACTIVATE_BUFFERED_WRITES:
      // The bit itself changes only with OK or Apply.
      if (notification == BN_CLICKED)
        SetEditsEditable(d, SendMessageA(d->Check, BM_GETCHECK, 0, 0) == BST_CHECKED);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK BufferedWritesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  BufferedWritesDialog* d =
      reinterpret_cast<BufferedWritesDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      InitBufferedWritesDialog(dialog, reinterpret_cast<BufferedWritesDialog*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (d) OnBufferedWritesCommand(d, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

bool ShowBufferedWritesDialog(HWND owner, DeviceRecord* record, DeviceRecord* asRead,
                              const Reporter* reporter) {
  BufferedWritesDialog d = {};
  d.Record = record;
  d.AsRead = asRead;
  d.Reporter = reporter;
  INT_PTR result = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_BUFFERED_WRITES), owner,
                                   BufferedWritesProc, reinterpret_cast<LPARAM>(&d));
  // Every opening ends with 1; anything else means it never ran.
  return result == 1;
}
