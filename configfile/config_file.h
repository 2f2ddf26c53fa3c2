// Reading and writing one device's configuration file. The file dialogs
// that choose the path live with the Main window's commands.
#pragma once

#include "devices/device_record.h"

// Writes the record's file image to path. The bytes go to a temporary file
// in the same folder first, which replaces path only once it is complete,
// so a failed save leaves whatever path held before. Failures are shown
// (caption "ERROR"); returns 1 when the file was written.
int WriteConfigurationFile(const char* path, const DeviceRecord* record);

// Reads a configuration file into the record. The record changes only when
// a whole file image was read: a file that cannot be opened or read, or that
// is too short, is reported (caption "ERROR") and returns 0.
int ReadConfigurationFile(const char* path, DeviceRecord* record);

// The File menu's commands (config_file_commands.cpp, in the program): the
// file dialog, then the file operation above on the record at index.
int SaveConfiguration(int index);
int LoadConfiguration(int index);
