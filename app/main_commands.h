// What the Main window's buttons and menu commands do.
#pragma once

#include <windows.h>

void OnMainCommand(HWND window, int id, int notification);

// Before a write from elsewhere (an undo) replaces what the window shows:
// true when nothing is pending, or the user gives it up as Cancel asks,
// in a box owned by the window that asks.
bool ConfirmPendingEdits(HWND owner);
// Lists the ports again and shows what the registry holds now, keeping the
// selected port selected, as after Apply's write.
void ReadPortsAgain();
