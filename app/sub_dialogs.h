// The commands that open the sub-dialogs, the file dialogs and help.
#pragma once

// "Please select COM-Port" / "No Selection".
void ShowNoSelection();
// "Dialog failed!" / "Error".
void ShowDialogFailed();

// Runs the command of a sub-dialog, file or help menu id; other ids do
// nothing.
void RunSubDialogCommand(int id);
