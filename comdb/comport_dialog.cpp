// The COM Port Assignment dialog (resource 108): gives the selected port a
// new COM number among those ComDB marks free (ComDB, PortName and
// FriendlyName, as one change).
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "comdb/comport_dialog.h"
#include "comdb/comport_dialog_ids.h"
#include "comdb/rename.h"
#include "platform/ui.h"

enum {
  ITEM_TEXT_SIZE = 16,
  NUMBER_TEXT_LENGTH = 3,  // a COM number has at most three digits
  EDIT_CHANGE_LIMIT = 2
};

static const char ComPrefix[] = "COM";
static const int ComPrefixLength = sizeof ComPrefix - 1;

// The texts of the list's items, in list order, for the program's run. One
// entry per COM number, so a ComDB with every number free still fits.
static char ItemTexts[COMDB_MAX_NUMBER][ITEM_TEXT_SIZE];

// Text changes of the typed number handled in this program run, up to 2.
// While below 2, a number that matches no free one leaves the selection as
// it is.
static int EditChangeCount;

// One opening of the dialog.
struct ComPortDialog {
  DeviceRecord* Record;
  HWND Dialog, FreeList, SelectedPortEdit, NewNumberEdit, NewNumberArrows;
  // On once the dialog is initialised: the texts the dialog and its arrows
  // are given while they are made are not the user's changes.
  bool Ready;
  ComDbValue ComDb;   // as read when the dialog opened, or as last written
  Reporter Messages;  // plain boxes owned by the dialog
};

static int ComPortMessageBox(const ComPortDialog* d, const char* text, const char* caption,
                             UINT style) {
  return MessageBoxA(d->Dialog, text, caption, style);
}

static int ShowReport(void* context, const Report* report) {
  return ComPortMessageBox(static_cast<const ComPortDialog*>(context), report->Text,
                           report->Caption, report->Style);
}

// The number in "COMn"; 0 (no number) for a name too short to hold one.
static int NumberOfName(const char* name, size_t size) {
  const char* end = static_cast<const char*>(memchr(name, '\0', size));
  size_t length = end ? (size_t)(end - name) : size;
  if (length <= (size_t)ComPrefixLength) return 0;
  char digits[PORT_NAME_SIZE + 1] = "";
  snprintf(digits, sizeof digits, "%.*s", (int)(length - ComPrefixLength), name + ComPrefixLength);
  return atoi(digits);
}

static int ItemCount(const ComPortDialog* d) {
  LRESULT count = SendMessageA(d->FreeList, LB_GETCOUNT, 0, 0);
  if (count < 0) return 0;
  return count > COMDB_MAX_NUMBER ? COMDB_MAX_NUMBER : (int)count;
}

// The list item that offers COM number n; -1 when none does.
static int ItemOfNumber(const ComPortDialog* d, long n) {
  int count = ItemCount(d);
  for (int item = 0; item < count; ++item)
    if (NumberOfName(ItemTexts[item], ITEM_TEXT_SIZE) == n) return item;
  return -1;
}

static void SelectItem(const ComPortDialog* d, int item) {
  SendMessageA(d->FreeList, LB_SETCURSEL, (WPARAM)item, 0);
}

// The typed number; false when the text is too long to be a COM number.
static bool ReadTypedNumber(const ComPortDialog* d, long* number) {
  if (GetWindowTextLengthA(d->NewNumberEdit) > NUMBER_TEXT_LENGTH) return false;
  char text[NUMBER_TEXT_LENGTH + 1] = "";
  GetWindowTextA(d->NewNumberEdit, text, sizeof text);
  *number = atol(text);
  return true;
}

static void FillFreeNumbers(const ComPortDialog* d) {
  int numbers[COMDB_MAX_NUMBER];
  int count = FreeComNumbers(d->Record->ComDB, numbers);
  for (int item = 0; item < count; ++item) {
    char text[ITEM_TEXT_SIZE];
    snprintf(text, sizeof text, "%s%i", ComPrefix, numbers[item]);
    // LB_ERRSPACE is a failure as much as LB_ERR.
    if (SendMessageA(d->FreeList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)) < 0) {
      ComPortMessageBox(d, "ListBox Error", "ERROR", MB_ICONERROR | MB_OK);
      return;
    }
    memcpy(ItemTexts[item], text, sizeof text);
  }
}

static INT_PTR OnInitDialog(HWND dialog, ComPortDialog* d) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
  d->Dialog = dialog;
  d->FreeList = GetDlgItem(dialog, IDL_FREE_NUMBERS);
  d->SelectedPortEdit = GetDlgItem(dialog, IDE_SELECTED_PORT);
  d->NewNumberEdit = GetDlgItem(dialog, IDE_NEW_NUMBER);
  d->NewNumberArrows = GetDlgItem(dialog, IDU_NEW_NUMBER);
  SendMessageA(d->NewNumberArrows, UDM_SETRANGE, 0, MAKELPARAM(COMDB_MAX_NUMBER, 1));

  // A ComDB that could not be read offers no number: the zero field would
  // offer all of them, and a rename would wipe the machine's reservations.
  bool comDbRead = ReadComDb(&d->ComDb, d->Record->ComDB, &d->Messages);

  char name[PORT_NAME_SIZE + 1];
  snprintf(name, sizeof name, "%.*s", (int)PORT_NAME_SIZE, d->Record->PortName);
  SetWindowTextA(d->SelectedPortEdit, name);
  char digits[NUMBER_TEXT_LENGTH + 1] = "";
  if (strlen(name) > (size_t)ComPrefixLength)
    snprintf(digits, sizeof digits, "%s", name + ComPrefixLength);
  SetWindowTextA(d->NewNumberEdit, digits);

  if (comDbRead) FillFreeNumbers(d);
  d->Ready = true;
  return TRUE;
}

static void RaiseEditChangeCount() {
  if (EditChangeCount < EDIT_CHANGE_LIMIT) ++EditChangeCount;
}

// Selects the free number typed; what a number that is not free does
// depends on the run's change count.
static void OnNewNumberChanged(const ComPortDialog* d) {
  if (!d->Ready) return;
  long number;
  if (!ReadTypedNumber(d, &number)) number = -1;  // too long: matches nothing, and is not 1
  int item = ItemOfNumber(d, number);
  if (item != -1) {
    SelectItem(d, item);
    RaiseEditChangeCount();
    return;
  }
  if (EditChangeCount < EDIT_CHANGE_LIMIT) {
    ++EditChangeCount;
    return;
  }
  if (number == 1) return;
  SelectItem(d, -1);
}

// Runs before the arrows write their new number; that text then goes
// through OnNewNumberChanged. 0 lets the arrows go ahead.
static LRESULT OnArrowClick(const ComPortDialog* d, const NMUPDOWN* change) {
  long number;
  if (ReadTypedNumber(d, &number)) SelectItem(d, ItemOfNumber(d, number + change->iDelta));
  return 0;
}

// True when the dialog is to close, false when it stays open.
static bool RenameComPort(ComPortDialog* d) {
  LRESULT item = SendMessageA(d->FreeList, LB_GETCURSEL, 0, 0);
  if (item < 0 || item >= COMDB_MAX_NUMBER)
    return ComPortMessageBox(d, "Selected COM Port Number is reserved", "Error",
                             MB_ICONWARNING | MB_OKCANCEL) == IDOK;
  // Each failed step was shown, and what was written before it put back.
  int number = NumberOfName(ItemTexts[item], ITEM_TEXT_SIZE);
  return RenameDevice(d->Record, number, THROUGH_REGISTRY, "Rename COM Port", &d->Messages) ==
         ERROR_SUCCESS;
}

static void OnCommand(ComPortDialog* d, int id, int notification) {
  switch (id) {
    case IDOK:
      if (RenameComPort(d)) EndDialog(d->Dialog, 1);
      break;
    case IDCANCEL:
      EndDialog(d->Dialog, 1);
      break;
    case IDE_NEW_NUMBER:
      if (notification == EN_CHANGE) OnNewNumberChanged(d);
      break;
    default:
      break;
  }
}

static INT_PTR OnNotify(HWND dialog, const ComPortDialog* d, const NMHDR* header) {
  if (header->idFrom != IDU_NEW_NUMBER || header->code != UDN_DELTAPOS) return FALSE;
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT,
                    OnArrowClick(d, reinterpret_cast<const NMUPDOWN*>(header)));
  return TRUE;
}

static INT_PTR CALLBACK ComPortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  ComPortDialog* d = reinterpret_cast<ComPortDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, reinterpret_cast<ComPortDialog*>(lParam));
    case WM_COMMAND:
      if (d) OnCommand(d, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY:
      return d ? OnNotify(dialog, d, reinterpret_cast<const NMHDR*>(lParam)) : FALSE;
    default:
      return FALSE;
  }
}

bool ShowComPortAssignmentDialog(HWND owner, DeviceRecord* record) {
  ComPortDialog d = {};
  d.Record = record;
  d.Messages.Function = ShowReport;
  d.Messages.Context = &d;
  INT_PTR result = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_COM_PORT), owner,
                                   ComPortDialogProc, reinterpret_cast<LPARAM>(&d));
  FreeComDbValue(&d.ComDb);
  // Every opening ends with 1; anything else means it never ran.
  return result == 1;
}
