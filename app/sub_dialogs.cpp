#include "app/sub_dialogs.h"

#include "devices/inventory.h"
#include "main_window_ids.h"

void RunSubDialogCommand(int id) {
  switch (id) {
    case IDB_BAUD_RATE_MAPPINGS:
    case IDB_BUFFERED_WRITES:
    case IDB_RENAME_COM_PORT:
    case IDM_SAVE_CONFIGURATION:
    case IDM_LOAD_CONFIGURATION:
      // These work on the selected port.
      if (SelectedIndex == -1) ShowNoSelection();
      break;
    default:
      break;
  }
}
