#include "app/sub_dialogs.h"

#include "main_window_ids.h"
#include "platform/ui.h"

void RunSubDialog(int resource, DLGPROC procedure) {
  INT_PTR result =
      DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(resource), MainWindow, procedure, 0);
  if (result != 1) ShowDialogFailed();
}

void RunSubDialogCommand(int id) {
  switch (id) {
    case IDB_BAUD_RATE_MAPPINGS:
      RunBaudRateMappingCommand();
      break;
    case IDB_BUFFERED_WRITES:
      RunBufferedWritesCommand();
      break;
    case IDB_RENAME_COM_PORT:
      RunRenameComPortCommand();
      break;
    case IDM_SAVE_CONFIGURATION:
      RunSaveConfigurationCommand();
      break;
    case IDM_LOAD_CONFIGURATION:
      RunLoadConfigurationCommand();
      break;
    case IDM_ABOUT:
      RunAboutCommand();
      break;
    case IDM_VIEW_HELP:
      RunViewHelpCommand();
      break;
    default:
      break;
  }
}
