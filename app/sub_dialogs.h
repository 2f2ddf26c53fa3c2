// The commands that open the sub-dialogs, the file dialogs and help. Each
// lives with its subsystem; the Main window dispatches to them.
#pragma once

#include <windows.h>

// "Please select COM-Port" / "No Selection".
void ShowNoSelection();
// "Dialog failed!" / "Error".
void ShowDialogFailed();

// Runs a dialog resource modally, owned by the Main window. Every dialog of
// the program ends with 1, so any other result means it never ran: that is
// reported with "Dialog failed!".
void RunSubDialog(int resource, DLGPROC procedure);

void RunBaudRateMappingCommand();    // baud/baud_dialog.cpp
void RunBufferedWritesCommand();     // bufwrite/bufwrite_dialog.cpp
void RunRenameComPortCommand();      // comdb/comport_dialog.cpp
void RunSaveConfigurationCommand();  // configfile/config_file_commands.cpp
void RunLoadConfigurationCommand();  // configfile/config_file_commands.cpp
void RunAboutCommand();              // app/about_box.cpp
void RunViewHelpCommand();           // app/about_box.cpp

// Runs the command of a sub-dialog, file or help menu id; other ids do
// nothing.
void RunSubDialogCommand(int id);
