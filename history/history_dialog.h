// The Change History dialog (resource 112): the change journal's sets,
// newest first, the selected set's changes in the words of history, and its
// undo through the core's undo.
#pragma once

#include <windows.h>

// What the window lends the dialog: its message boxes, and the two steps an
// undo takes in the window around its write.
struct HistoryWindowHooks {
  // Shows a message box owned by the given window; returns the answer.
  int (*ShowMessage)(HWND owner, const char* text, const char* caption, UINT style);
  // Before an undo writes: edits the window has not written yet are given
  // up, after the user agreed in a box owned by the given window. False
  // when the user keeps them: nothing is undone.
  bool (*ConfirmPendingEdits)(HWND owner);
  // After an undo wrote: the window reads the ports again and shows what
  // the registry holds now.
  void (*ReadPortsAgain)();
};

// Runs the dialog modally. False when it could not be shown.
bool ShowChangeHistoryDialog(HWND owner, const HistoryWindowHooks& hooks);
