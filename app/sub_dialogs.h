// The Main window's commands that open the sub-dialogs, the file dialogs
// and help: each picks the selected record, runs its subsystem's dialog and
// shows the outcome in the Main window.
#pragma once

#include <windows.h>

// Runs the command of a sub-dialog, file or help menu id. False for an id
// that is none of them.
bool RunSubDialogCommand(int id);
