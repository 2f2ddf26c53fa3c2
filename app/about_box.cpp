// Help menu: the About box (dialog 110) and the help document.
#include <windows.h>
#include <shellapi.h>

#include "about_box_ids.h"
#include "app/message_box.h"
#include "app/sub_dialogs.h"
#include "platform/ui.h"

// The open About box; every call of its procedure works on it.
static HWND AboutBox;

static void CloseAboutBox() { EndDialog(AboutBox, 1); }

// The shell opens the address in the user's browser; the box stays open.
static void OpenMakerAddress() {
  ShellExecuteA(AboutBox, "open", MAKER_WEB_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
}

static INT_PTR OnAboutCommand(int id) {
  switch (id) {
    case IDCANCEL:  // Escape or the close box
      CloseAboutBox();
      return TRUE;
    case IDS_MAKER_ADDRESS:
      OpenMakerAddress();
      return TRUE;
    default:  // Enter among them: the box has no default button
      return FALSE;
  }
}

// The statics other than the address let clicks through, so a click
// anywhere else on the box arrives here as WM_LBUTTONDOWN and closes it.
static INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      AboutBox = window;
      return FALSE;
    case WM_COMMAND:
      return OnAboutCommand(LOWORD(wParam));
    case WM_LBUTTONDOWN:
      CloseAboutBox();
      return TRUE;
    default:
      return FALSE;
  }
}

void RunAboutCommand() {
  INT_PTR result =
      DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), MainWindow, AboutProc, 0);
  AboutBox = nullptr;
  // The box ends with 1; anything else means it never ran.
  if (result != 1) ShowDialogFailed();
}

void RunViewHelpCommand() {
  ShellExecuteA(MainWindow, "open", HELP_DOCUMENT_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
}
