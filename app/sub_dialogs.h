// The commands that open the sub-dialogs, the file dialogs and help. Each
// lives with its subsystem; the Main window dispatches to them.
#pragma once

// "Please select COM-Port" / "No Selection".
void ShowNoSelection();
// "Dialog failed!" / "Error".
void ShowDialogFailed();

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
