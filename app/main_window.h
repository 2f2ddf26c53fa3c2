// The Main window: the program's one dialog (resource 100).
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the edits of the selected port's fields and boxes into its record.
void CommitFields();
// Fills the status line, fields and boxes from the selected record.
void ShowSelectedDevice();
// Drops the selection and rebuilds the inventory and the list.
void RefreshDeviceList();
// "No active FTDI devices found", unless disconnected devices are shown.
void ReportNoDevices();

// Helpers the commands share with the window.
void ClearDeviceControls();
void AddDeviceRows();
void ShowOpenPortCount();
void ShowIgnoreSerialSetting();
// The record index a list row stands for; -1 for no row.
int DeviceOfRow(int row);
// The list row that stands for a record; -1 when it has none.
int RowOfDevice(int index);
// Selects the row of a record in the list (none when it has no row).
void SelectRowOfDevice(int index);
void ShowPresetValues(bool serialEnumeratorOn);

// Commands of the window's buttons and menu (main_commands.cpp).
void OnMainCommand(HWND window, int id, int notification);
