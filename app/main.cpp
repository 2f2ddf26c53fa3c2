// Entry point: the administrator check, then the Main window as a modal
// dialog until the user closes it.
#include <windows.h>
#include <commctrl.h>

#include "platform/administrator.h"
#include "app/main_dialog.h"
#include "main_window_ids.h"
#include "app/message_box.h"
#include "devices/journal.h"
#include "platform/ui.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SetJournalProgram("PortmeldConfigurator 1.0");
  if (!IsAdministrator()) {
    MessageBoxAtCursor(nullptr, "Please Start As Administrator", "Warning", MB_OK | MB_ICONERROR);
    return 0;
  }
  ModuleInstance = instance;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                        ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&controls);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc, 0);
  return 0;
}
