// The Buffered Writes dialog (resource 107): the switch and the three values
// of the selected port, written to its Device Parameters key on OK and Apply.
#include <windows.h>

#include <stdio.h>

#include "app/main_window_controls.h"
#include "app/sub_dialogs.h"
#include "bufwrite/buffered_writes.h"
#include "bufwrite_dialog_ids.h"
#include "devices/config_data.h"
#include "platform/ui.h"

namespace {

// The edit of each value, in BufferedWriteValues order (size, latency,
// threshold).
const int ValueEdits[BUFFERED_WRITE_VALUE_COUNT] = {IDE_WRITE_BUFFER_SIZE, IDE_WRITE_LATENCY,
                                                    IDE_WRITE_BUFFER_THRESHOLD};

// Handles kept while the dialog is open.
struct BufferedWritesControls {
  HWND Check;
  HWND Edits[BUFFERED_WRITE_VALUE_COUNT];
};
BufferedWritesControls Controls;

void SetEditsEditable(bool editable) {
  for (HWND edit : Controls.Edits) SendMessageA(edit, EM_SETREADONLY, editable ? FALSE : TRUE, 0);
}

void ShowValue(int index, const DeviceRecord* record) {
  char text[16];
  snprintf(text, sizeof text, "%d", (int)(record->*BufferedWriteValues[index].Field));
  SetWindowTextA(Controls.Edits[index], text);
}

void InitBufferedWritesDialog(HWND dialog) {
  Controls.Check = GetDlgItem(dialog, IDX_ACTIVATE_BUFFERED_WRITES);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i)
    Controls.Edits[i] = GetDlgItem(dialog, ValueEdits[i]);
  DeviceRecord* record = SelectedRecord();
  if (!record) {  // the command opens the dialog only for a selected port
    EndDialog(dialog, 1);
    return;
  }
  bool enabled = GetOptionBit(record->ConfigData, BufferedWritesEnabled);
  SendMessageA(Controls.Check, BM_SETCHECK, enabled ? BST_CHECKED : BST_UNCHECKED, 0);
  SetEditsEditable(enabled);
  // The numbers are set afresh at every opening; only a set switch reads
  // the registry's values over them.
  ReadBufferedWrites(record);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) ShowValue(i, record);
}

// The check box decides; a refused number is replaced by the one kept.
void OnSave() {
  DeviceRecord* record = SelectedRecord();
  if (!record) return;
  ApplyBufferedWritesCheck(record, SendMessageA(Controls.Check, BM_GETCHECK, 0, 0));
  char texts[BUFFERED_WRITE_VALUE_COUNT][BUFFERED_WRITE_TEXT_LENGTH + 1];
  const char* typed[BUFFERED_WRITE_VALUE_COUNT];
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i) {
    GetWindowTextA(Controls.Edits[i], texts[i], sizeof texts[i]);
    typed[i] = texts[i];
  }
  bool rejected[BUFFERED_WRITE_VALUE_COUNT];
  SaveBufferedWrites(record, typed, rejected);
  for (int i = 0; i < BUFFERED_WRITE_VALUE_COUNT; ++i)
    if (rejected[i]) ShowValue(i, record);
}

void OnBufferedWritesCommand(HWND dialog, int id, int notification) {
  switch (id) {
    case IDB_BUFWRITE_OK:
      OnSave();
      EndDialog(dialog, 1);
      break;
    case IDB_BUFWRITE_APPLY:
      OnSave();
      break;
    case IDB_BUFWRITE_CANCEL:
      EndDialog(dialog, 1);
      break;
    case IDX_ACTIVATE_BUFFERED_WRITES:
      // The bit itself changes only with OK or Apply.
      if (notification == BN_CLICKED)
        SetEditsEditable(SendMessageA(Controls.Check, BM_GETCHECK, 0, 0) == BST_CHECKED);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK BufferedWritesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitBufferedWritesDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      OnBufferedWritesCommand(dialog, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void RunBufferedWritesCommand() {
  if (!SelectedRecord()) {
    ShowNoSelection();
    return;
  }
  RunSubDialog(IDD_BUFFERED_WRITES, BufferedWritesProc);
}
