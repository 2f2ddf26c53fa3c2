// The COM Port Assignment dialog (resource 108): gives the selected port a
// new COM number among those ComDB marks free, writing PortName,
// FriendlyName and ComDB.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/main_window.h"
#include "app/main_window_controls.h"
#include "app/sub_dialogs.h"
#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "comport_dialog_ids.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"
#include "platform/ui.h"

enum {
  ITEM_TEXT_SIZE = 16,
  NUMBER_TEXT_LENGTH = 3,  // a COM number has at most three digits
  EDIT_CHANGE_LIMIT = 2,
  DEVICE_KEY_PATH_SIZE = 1024
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

static HWND Dialog, FreeList, SelectedPortEdit, NewNumberEdit, NewNumberArrows;
// On only while an initialised dialog is open: the texts the dialog and
// its arrows are given while they are made are not the user's changes.
static bool Ready;

// Component tests link a recording substitute in place of this one.
int ComPortMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
  return MessageBoxA(owner, text, caption, style);
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

static int ItemCount() {
  LRESULT count = SendMessageA(FreeList, LB_GETCOUNT, 0, 0);
  if (count < 0) return 0;
  return count > COMDB_MAX_NUMBER ? COMDB_MAX_NUMBER : (int)count;
}

// The list item that offers COM number n; -1 when none does.
static int ItemOfNumber(long n) {
  int count = ItemCount();
  for (int item = 0; item < count; ++item)
    if (NumberOfName(ItemTexts[item], ITEM_TEXT_SIZE) == n) return item;
  return -1;
}

static void SelectItem(int item) { SendMessageA(FreeList, LB_SETCURSEL, (WPARAM)item, 0); }

// The typed number; false when the text is too long to be a COM number.
static bool ReadTypedNumber(long* number) {
  if (GetWindowTextLengthA(NewNumberEdit) > NUMBER_TEXT_LENGTH) return false;
  char text[NUMBER_TEXT_LENGTH + 1] = "";
  GetWindowTextA(NewNumberEdit, text, sizeof text);
  *number = atol(text);
  return true;
}

static void FillFreeNumbers(const DeviceRecord* record) {
  int numbers[COMDB_MAX_NUMBER];
  int count = FreeComNumbers(record->ComDB, numbers);
  for (int item = 0; item < count; ++item) {
    char text[ITEM_TEXT_SIZE];
    snprintf(text, sizeof text, "%s%i", ComPrefix, numbers[item]);
    // LB_ERRSPACE is a failure as much as LB_ERR.
    if (SendMessageA(FreeList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)) < 0) {
      ComPortMessageBox(Dialog, "ListBox Error", "ERROR", MB_ICONERROR | MB_OK);
      return;
    }
    memcpy(ItemTexts[item], text, sizeof text);
  }
}

static INT_PTR OnInitDialog(HWND dialog) {
  Ready = false;
  Dialog = dialog;
  FreeList = GetDlgItem(dialog, IDL_FREE_NUMBERS);
  SelectedPortEdit = GetDlgItem(dialog, IDE_SELECTED_PORT);
  NewNumberEdit = GetDlgItem(dialog, IDE_NEW_NUMBER);
  NewNumberArrows = GetDlgItem(dialog, IDU_NEW_NUMBER);
  SendMessageA(NewNumberArrows, UDM_SETRANGE, 0, MAKELPARAM(COMDB_MAX_NUMBER, 1));

  const DeviceRecord* record = SelectedRecord();
  if (!record) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  // A ComDB that could not be read offers no number: the zero field would
  // offer all of them, and a rename would wipe the machine's reservations.
  bool comDbRead = ReadComDb(dialog) != 0;

  char name[PORT_NAME_SIZE + 1];
  snprintf(name, sizeof name, "%.*s", (int)PORT_NAME_SIZE, record->PortName);
  SetWindowTextA(SelectedPortEdit, name);
  char digits[NUMBER_TEXT_LENGTH + 1] = "";
  if (strlen(name) > (size_t)ComPrefixLength)
    snprintf(digits, sizeof digits, "%s", name + ComPrefixLength);
  SetWindowTextA(NewNumberEdit, digits);

  if (comDbRead) FillFreeNumbers(record);
  Ready = true;
  return TRUE;
}

static void RaiseEditChangeCount() {
  if (EditChangeCount < EDIT_CHANGE_LIMIT) ++EditChangeCount;
}

// Selects the free number typed; what a number that is not free does
// depends on the run's change count.
static void OnNewNumberChanged() {
  if (!Ready) return;
  long number;
  if (!ReadTypedNumber(&number)) number = -1;  // too long: matches nothing, and is not 1
  int item = ItemOfNumber(number);
  if (item != -1) {
    SelectItem(item);
    RaiseEditChangeCount();
    return;
  }
  if (EditChangeCount < EDIT_CHANGE_LIMIT) {
    ++EditChangeCount;
    return;
  }
  if (number == 1) return;
  SelectItem(-1);
}

// Runs before the arrows write their new number; that text then goes
// through OnNewNumberChanged. 0 lets the arrows go ahead.
static LRESULT OnArrowClick(const NMUPDOWN* change) {
  long number;
  if (ReadTypedNumber(&number)) SelectItem(ItemOfNumber(number + change->iDelta));
  return 0;
}

static int SetDeviceString(const DeviceRecord* record, DeviceKeyKind which, const char* name,
                           const char* text) {
  char path[DEVICE_KEY_PATH_SIZE];
  HKEY key;
  if (!FormatDeviceKeyPath(path, sizeof path, record, which) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           (DWORD)strlen(text) + 1);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// 1 when the dialog is to close, 0 when it stays open.
static int RenameComPort() {
  DeviceRecord* record = SelectedRecord();
  if (!record) return 1;
  LRESULT item = SendMessageA(FreeList, LB_GETCURSEL, 0, 0);
  if (item < 0 || item >= COMDB_MAX_NUMBER)
    return ComPortMessageBox(Dialog, "Selected COM Port Number is reserved", "Error",
                             MB_ICONWARNING | MB_OKCANCEL) == IDOK;

  const char* newName = ItemTexts[item];
  char friendlyName[64];
  snprintf(friendlyName, sizeof friendlyName, "USB Serial Port (%s)", newName);
  int newNumber = NumberOfName(newName, ITEM_TEXT_SIZE);
  int oldNumber = NumberOfName(record->PortName, PORT_NAME_SIZE);

  // Without the new PortName the port keeps its old number: ComDB must go
  // on marking that one taken, so nothing else is written.
  if (!SetDeviceString(record, DEVICE_PARAMETERS_KEY, "PortName", newName)) {
    ComPortMessageBox(Dialog, "Can't write PortName", "ERROR", MB_ICONERROR | MB_OK);
    return 0;
  }
  // Only the name shown for the device: a failure here is not reported.
  SetDeviceString(record, DEVICE_INSTANCE_KEY, "FriendlyName", friendlyName);

  unsigned char before[COMDB_SIZE];
  memcpy(before, record->ComDB, COMDB_SIZE);
  ReserveComNumber(record->ComDB, newNumber);
  // A port given its own number keeps it taken.
  if (oldNumber != newNumber) ReleaseComNumber(record->ComDB, oldNumber);
  if (WriteComDb(Dialog)) return 1;
  // Not written: another choice must not carry this one's bits along.
  memcpy(record->ComDB, before, COMDB_SIZE);
  return 0;
}

static void OnCommand(int id, int notification) {
  switch (id) {
    case IDOK:
      if (RenameComPort()) EndDialog(Dialog, 1);
      break;
    case IDCANCEL:
      EndDialog(Dialog, 1);
      break;
    case IDE_NEW_NUMBER:
      if (notification == EN_CHANGE) OnNewNumberChanged();
      break;
    default:
      break;
  }
}

static INT_PTR CALLBACK ComPortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != IDU_NEW_NUMBER || header->code != UDN_DELTAPOS) return FALSE;
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT,
                        OnArrowClick(reinterpret_cast<const NMUPDOWN*>(lParam)));
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void RunRenameComPortCommand() {
  if (!SelectedRecord()) {
    ShowNoSelection();
    return;
  }
  RunSubDialog(IDD_COM_PORT, ComPortDialogProc);
  Ready = false;
  // Reads the new PortName back and drops the selection, whatever happened.
  RefreshDeviceList();
}
