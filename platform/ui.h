// Process-wide user-interface state and the message box every subsystem uses.
#pragma once

#include <windows.h>

// Module instance, stored once by the entry point.
extern HINSTANCE ModuleInstance;
// The Main window once it exists; owner of the program's messages.
extern HWND MainWindow;

// A message box centred on the mouse pointer. Component tests link a
// recording substitute in place of the real one.
int MessageBoxAtCursor(HWND owner, const char* text, const char* caption, UINT style);

// Attaches a tooltip with a fixed text to one control of a dialog.
HWND AddTooltip(int controlId, HWND dialog, const char* text);
