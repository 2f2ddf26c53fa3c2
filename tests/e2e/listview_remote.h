// Probes of the program's dialogs that the step language lacks: list-view
// rows and columns (whose messages carry pointers, so their structures live
// in the program's own memory), edit selections and styles, and the texts
// of controls without an id. Like the driver, each returns 1 for done and 0
// with the reason in AppSession::Error, and works on the current dialog.
#pragma once

#include <string>
#include <vector>

#include "e2e/driver.h"

struct ListViewColumn {
  std::string Header;
  int Width;   // pixels
  int Format;  // LVCFMT_* justification bits
};

int ReadListViewCount(AppSession* app, int id, int* count);  // LVM_GETITEMCOUNT
int ReadListViewCell(AppSession* app, int id, int row, int column,
                     std::string* text);  // LVM_GETITEMTEXTA
int ReadListViewColumn(AppSession* app, int id, int column, ListViewColumn* out);  // LVM_GETCOLUMNA
// Leaves exactly these rows selected, as a user's Ctrl+clicks would; settles.
int SelectListViewRows(AppSession* app, int id, const std::vector<int>& rows);
int ReadListViewSelection(AppSession* app, int id, std::vector<int>* rows);  // LVM_GETITEMSTATE

int ReadEditSelection(AppSession* app, int id, int* start, int* end);  // EM_GETSEL
int ReadEditReadOnly(AppSession* app, int id, int* readOnly);          // ES_READONLY style
// The texts of the current dialog's child windows in template order.
int ReadDialogTexts(AppSession* app, std::vector<std::string>* texts);
// A key pressed while a given control of the current dialog has the focus
// (the dialog manager routes Enter to the default button); settles.
int PressKeyIn(AppSession* app, int id, int virtualKey);
// The owner window of the message box left open by a Message step.
HWND OpenBoxOwner(AppSession* app);
