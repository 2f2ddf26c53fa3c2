// The Main window's dialog procedure: hands each message to the window's
// own functions or to its commands.
#include "app/main_dialog.h"

#include "app/main_commands.h"
#include "app/main_window.h"
#include "main_window_ids.h"

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainWindow(window);
      return TRUE;
    case WM_DRAWITEM:
      return DrawDeviceRow(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDL_DEVICES) {
        if (HIWORD(wParam) == LBN_SELCHANGE) OnDeviceSelectionChange();
        return TRUE;
      }
      OnMainCommand(window, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}
