// The Main window: the program's one dialog (resource 100).
#pragma once

#include <windows.h>

#include "devices/device_record.h"

// The DeviceInventory the Main window shows and edits.
extern DeviceInventory Inventory;
// Index of the DeviceRecord the Main window shows; -1 for none.
extern int SelectedIndex;

// The record at SelectedIndex; nullptr when none (or past the inventory).
DeviceRecord* SelectedRecord();

// The window's start: privilege, access lists, the listings, the list.
void InitMainWindow(HWND window);
// One row of the owner-drawn device list.
BOOL DrawDeviceRow(const DRAWITEMSTRUCT* item);
// The list's selection moved: the edits go into the record left, the new
// record's values into the fields.
void OnDeviceSelectionChange();

// Moves the edits of the selected port's fields and boxes into its record.
void CommitFields();
// Fills the status line, fields and boxes from the selected record.
void ShowSelectedDevice();
// Drops the selection and rebuilds the inventory and the list.
void RefreshDeviceList();

// How a re-read of the inventory went.
enum ListingOutcome { LISTED, NOTHING_LISTED, NO_DRIVER_KEY };
// Lists the devices of the current mode again and reads their settings;
// the records of the connected listing mark the attached ones of the
// registered listing.
ListingOutcome ListDevicesWithSettings();
// "No active FTDI devices found", unless disconnected devices are shown.
void ReportNoDevices();

// Helpers the commands share with the window.
void ClearDeviceControls();
void AddDeviceRows();
void ShowOpenPortCount();
void ShowIgnoreSerialSetting();
// The option's state as last read from the registry.
bool IgnoreSerialAsRead();
// The record index a list row stands for; -1 for no row.
int DeviceOfRow(int row);
// The record index of the list's selected row; -1 for none.
int DeviceOfSelectedRow();
// The list row that stands for a record; -1 when it has none.
int RowOfDevice(int index);
// Selects the row of a record in the list (none when it has no row).
void SelectRowOfDevice(int index);
void ShowPresetValues(bool serialEnumeratorOn);
