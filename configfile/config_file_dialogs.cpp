// "Save Configuration..." and "Load Configuration...": the common file
// dialogs that choose the file, around WriteConfigurationFile and
// ReadConfigurationFile.
#include <windows.h>
#include <commdlg.h>

#include <stdio.h>
#include <string.h>

#include "configfile/config_file.h"
#include "configfile/config_file_dialogs.h"

// The 32-bit program must hand the dialogs the full record, the size the
// dialogs of Windows 2000 and later expect.
static_assert(sizeof(void*) != 4 || sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA is not full size");

enum { FILE_NAME_BUFFER_SIZE = 256 };

static const char ConfigFileFilter[] = "DAT files\0*.dat\0";
static const char ConfigFileExtension[] = "dat";

static const DWORD SaveDialogFlags =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static const DWORD LoadDialogFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

static void FillFileDialog(OPENFILENAMEA* dialog, HWND owner, char* fileName, DWORD flags) {
  memset(dialog, 0, sizeof *dialog);
  dialog->lStructSize = sizeof *dialog;
  dialog->hwndOwner = owner;
  dialog->lpstrFilter = ConfigFileFilter;
  dialog->nFilterIndex = 1;
  dialog->lpstrFile = fileName;
  dialog->nMaxFile = FILE_NAME_BUFFER_SIZE;
  dialog->Flags = flags;
  dialog->lpstrDefExt = ConfigFileExtension;
}

bool SaveConfiguration(HWND owner, const DeviceRecord* record, const Reporter* reporter) {
  char fileName[FILE_NAME_BUFFER_SIZE];
  snprintf(fileName, sizeof fileName, "Config_%.*s", (int)PORT_NAME_SIZE, record->PortName);
  OPENFILENAMEA dialog;
  FillFileDialog(&dialog, owner, fileName, SaveDialogFlags);
  if (!GetSaveFileNameA(&dialog)) return true;
  return WriteConfigurationFile(fileName, record, reporter);
}

bool LoadConfiguration(HWND owner, DeviceRecord* record, const Reporter* reporter) {
  char fileName[FILE_NAME_BUFFER_SIZE] = "";
  OPENFILENAMEA dialog;
  FillFileDialog(&dialog, owner, fileName, LoadDialogFlags);
  if (!GetOpenFileNameA(&dialog)) return false;
  return ReadConfigurationFile(fileName, record, reporter);
}
