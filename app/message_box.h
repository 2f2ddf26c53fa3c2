// The windowed program's messages: boxes centred on the mouse pointer,
// owned by the Main window once it exists, and tooltips.
#pragma once

#include <windows.h>

#include "platform/report.h"

// The Main window once it exists; owner of the program's messages.
extern HWND MainWindow;

// A message box centred on the mouse pointer.
int MessageBoxAtCursor(HWND owner, const char* text, const char* caption, UINT style);

// Shows every report of the core as its box, owned by the Main window.
extern const Reporter MainWindowMessages;

// Attaches a tooltip with a fixed text to one control of a dialog.
HWND AddTooltip(int controlId, HWND dialog, const char* text);

// "Please select COM-Port" / "No Selection".
void ShowNoSelection();
// "Dialog failed!" / "Error".
void ShowDialogFailed();
