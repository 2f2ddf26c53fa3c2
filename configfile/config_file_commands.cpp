// "Save Configuration..." and "Load Configuration...": the common file
// dialogs that choose the file, around WriteConfigurationFile and
// ReadConfigurationFile.
#include <windows.h>
#include <commdlg.h>

#include <stdio.h>
#include <string.h>

#include "app/main_window.h"
#include "app/sub_dialogs.h"
#include "configfile/config_file.h"
#include "devices/inventory.h"
#include "platform/ui.h"

// The 32-bit program must hand the dialogs the full record, the size the
// dialogs of Windows 2000 and later expect.
static_assert(sizeof(void*) != 4 || sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA is not full size");

enum { FILE_NAME_BUFFER_SIZE = 256 };

static const char ConfigFileFilter[] = "DAT files\0*.dat\0";
static const char ConfigFileExtension[] = "dat";

static const DWORD SaveDialogFlags =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static const DWORD LoadDialogFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

static DeviceRecord* RecordAt(int index) {
  if (index < 0 || (uint32_t)index >= Inventory.count || !Inventory.Records) return nullptr;
  return &Inventory.Records[index];
}

static void FillFileDialog(OPENFILENAMEA* dialog, char* fileName, DWORD flags) {
  memset(dialog, 0, sizeof *dialog);
  dialog->lStructSize = sizeof *dialog;
  dialog->hwndOwner = MainWindow;
  dialog->lpstrFilter = ConfigFileFilter;
  dialog->nFilterIndex = 1;
  dialog->lpstrFile = fileName;
  dialog->nMaxFile = FILE_NAME_BUFFER_SIZE;
  dialog->Flags = flags;
  dialog->lpstrDefExt = ConfigFileExtension;
}

// Writes the record of the device at index to a file the user chooses.
// Returns 0 when the file could not be written (already shown), 1 otherwise,
// also when the user cancelled.
int SaveConfiguration(int index) {
  DeviceRecord* record = RecordAt(index);
  if (!record) return 0;
  char fileName[FILE_NAME_BUFFER_SIZE];
  snprintf(fileName, sizeof fileName, "Config_%.*s", (int)PORT_NAME_SIZE, record->PortName);
  OPENFILENAMEA dialog;
  FillFileDialog(&dialog, fileName, SaveDialogFlags);
  if (!GetSaveFileNameA(&dialog)) return 1;
  return WriteConfigurationFile(fileName, record);
}

// Reads a file the user chooses into the record of the device at index.
// Returns 1 only when the record was loaded; a cancelled dialog or a
// rejected file leave it as it was.
int LoadConfiguration(int index) {
  DeviceRecord* record = RecordAt(index);
  if (!record) return 0;
  char fileName[FILE_NAME_BUFFER_SIZE] = "";
  OPENFILENAMEA dialog;
  FillFileDialog(&dialog, fileName, LoadDialogFlags);
  if (!GetOpenFileNameA(&dialog)) return 0;
  return ReadConfigurationFile(fileName, record);
}

void RunSaveConfigurationCommand() {
  if (SelectedIndex == -1) {
    ShowNoSelection();
    return;
  }
  SaveConfiguration(SelectedIndex);
}

void RunLoadConfigurationCommand() {
  if (SelectedIndex == -1) {
    ShowNoSelection();
    return;
  }
  // Only a loaded file replaces what the fields show: after a cancel or a
  // rejected file, values typed but not yet applied stay on screen.
  if (LoadConfiguration(SelectedIndex)) ShowSelectedDevice();
}
