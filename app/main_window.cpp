// Main window: initialisation, the device list, and moving a port's settings
// between its record and the controls.
#include "app/main_window.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/access.h"
#include "app/main_window_controls.h"
#include "app/message_box.h"
#include "devices/config_data.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"
#include "devices/settings_rules.h"
#include "devices/settings_store.h"
#include "main_window_ids.h"

DeviceInventory Inventory;
int SelectedIndex = -1;
HWND MainWindow;
// The box's state as last read; kept when UsbFlags cannot be opened.
static bool IgnoreSerialChecked = false;

const NumberFieldControl NumberFields[NUMBER_FIELD_COUNT] = {
    {IDE_MIN_READ_TIMEOUT, &DeviceRecord::MinReadTimeout, MinReadTimeoutRange,
     KNOWN_MIN_READ_TIMEOUT},
    {IDE_MIN_WRITE_TIMEOUT, &DeviceRecord::MinWriteTimeout, MinWriteTimeoutRange,
     KNOWN_MIN_WRITE_TIMEOUT},
    {IDE_POLLING_PERIOD, &DeviceRecord::PollingPeriod, PollingPeriodRange, KNOWN_POLLING_PERIOD},
    {IDE_LATENCY_TIMER, &DeviceRecord::LatencyTimer, LatencyTimerRange, KNOWN_LATENCY_TIMER},
};

const OptionBoxControl OptionBoxes[OPTION_BOX_COUNT] = {
    {IDX_SERIAL_PRINTER, SerialPrinter},
    {IDX_CANCEL_IF_POWER_OFF, CancelIfPowerOff},
    {IDX_EVENT_ON_SURPRISE_REMOVAL, EventOnSurpriseRemoval},
    {IDX_SET_RTS_ON_CLOSE, SetRtsOnClose},
    {IDX_DISABLE_MODEM_CTRL, DisableModemCtrlAtStartup},
};

// Disabled while no port is selected.
static const int DeviceControls[] = {
    IDX_SERIAL_PRINTER,
    IDX_CANCEL_IF_POWER_OFF,
    IDX_EVENT_ON_SURPRISE_REMOVAL,
    IDX_SET_RTS_ON_CLOSE,
    IDX_DISABLE_MODEM_CTRL,
    IDX_SERIAL_ENUMERATOR,
    IDE_MIN_READ_TIMEOUT,
    IDE_MIN_WRITE_TIMEOUT,
    IDE_POLLING_PERIOD,
    IDE_LATENCY_TIMER,
    IDE_STATUS,
};

struct TooltipText {
  int Id;
  const char* Text;
};
static const TooltipText Tooltips[] = {
    {IDX_SERIAL_PRINTER,
     "If enabled, serial printer will disable timeouts to allow for long delays associated with "
     "paper loading"},
    {IDX_CANCEL_IF_POWER_OFF,
     "This otion will cancel any requests received by the driver when going into hibernate or "
     "suspend"},
    {IDX_EVENT_ON_SURPRISE_REMOVAL, "The driver signals an event on surprise removal"},
    {IDX_SET_RTS_ON_CLOSE, "This option will set the RTS signal on closing the port"},
    {IDX_DISABLE_MODEM_CTRL,
     "This option is used to control the modem control signals DTR and RTS at startup"},
    {IDX_IGNORE_SERIAL,
     "Treat all devices with matching VID and PID connected to the same USB port as the same "
     "device"},
    {IDX_SERIAL_ENUMERATOR,
     "Detect a Plug-and-Play enabled device that is attached to the USB serial port"},
    {IDB_OPTIMIZE_TARNLINK, "Reload Driver to make this change effective"},
    {IDB_OPTIMIZE_PORTMELD, "Reload Driver to make this change effective"},
    {IDE_LATENCY_TIMER, "The latency timer is a form of time-out mechanism for the read buffer"},
};

HWND MainControl(int id) { return GetDlgItem(MainWindow, id); }

bool IsMainBoxChecked(int id) {
  return SendMessageA(MainControl(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

static void SetCheck(int id, bool on) {
  SendMessageA(MainControl(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

static void SetNumberText(int id, uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%d", (int)value);
  SetWindowTextA(MainControl(id), text);
}

DeviceRecord* SelectedRecord() {
  if (SelectedIndex < 0 || (uint32_t)SelectedIndex >= Inventory.count) return nullptr;
  return &Inventory.Records[SelectedIndex];
}

int DeviceOfSelectedRow() {
  int row = (int)SendMessageA(MainControl(IDL_DEVICES), LB_GETCURSEL, 0, 0);
  return row == LB_ERR ? -1 : DeviceOfRow(row);
}

int DeviceOfRow(int row) {
  if (row < 0) return -1;
  LRESULT index = SendMessageA(MainControl(IDL_DEVICES), LB_GETITEMDATA, row, 0);
  if (index == LB_ERR || index < 0 || (uint32_t)index >= Inventory.count) return -1;
  return (int)index;
}

void SelectRowOfDevice(int index) {
  SendMessageA(MainControl(IDL_DEVICES), LB_SETCURSEL, (WPARAM)RowOfDevice(index), 0);
}

int RowOfDevice(int index) {
  int rows = (int)SendMessageA(MainControl(IDL_DEVICES), LB_GETCOUNT, 0, 0);
  for (int row = 0; row < rows; row++)
    if (DeviceOfRow(row) == index) return row;
  return -1;
}

void ShowOpenPortCount() {
  char text[64];
  snprintf(text, sizeof text, "Open COM Ports: %i", (int)Inventory.OpenPortCount);
  SetWindowTextA(MainControl(IDE_STATUS), text);
}

bool IgnoreSerialAsRead() { return IgnoreSerialChecked; }

void ShowIgnoreSerialSetting() {
  SendMessageA(MainControl(IDX_IGNORE_SERIAL), BM_SETCHECK,
               ReadIgnoreSerialSetting(&IgnoreSerialChecked) ? 1 : 0, 0);
}

// One row for every record whose PortName starts with 'C'; the row's item
// data is the index of its record.
void AddDeviceRows() {
  HWND list = MainControl(IDL_DEVICES);
  // One redraw for the whole list, and its room taken at once.
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_INITSTORAGE, Inventory.count, 0);
  for (uint32_t i = 0; i < Inventory.count; i++)
    if (Inventory.Records[i].PortName[0] == 'C') SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)i);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void ClearDeviceControls() {
  for (const NumberFieldControl& field : NumberFields) SetWindowTextA(MainControl(field.Id), "");
  for (const OptionBoxControl& box : OptionBoxes) SetCheck(box.Id, false);
  SetCheck(IDX_SERIAL_ENUMERATOR, false);
}

void DisableDeviceControls() {
  for (int id : DeviceControls) EnableWindow(MainControl(id), FALSE);
}

void ReportNoDevices() {
  if (Inventory.count == 0 && !Inventory.ShowDisconnected)
    MessageBoxAtCursor(MainWindow, "No active FTDI devices found", "ERROR", MB_OK);
}

void CommitFields() {
  DeviceRecord* record = SelectedRecord();
  if (!record) return;

  SetSerialEnumerator(record, IsMainBoxChecked(IDX_SERIAL_ENUMERATOR));

  unsigned char before[CONFIG_DATA_SIZE];
  memcpy(before, record->ConfigData, sizeof before);
  for (const OptionBoxControl& box : OptionBoxes)
    SetOptionBit(record->ConfigData, box.Bit, IsMainBoxChecked(box.Id));
  // A ConfigData the program could not read is only written once the user
  // actually changes one of its bits.
  if (memcmp(before, record->ConfigData, sizeof before) != 0)
    record->KnownSettings |= KNOWN_CONFIG_DATA;

  for (const NumberFieldControl& field : NumberFields) {
    char text[64];
    GetWindowTextA(MainControl(field.Id), text, sizeof text);
    uint32_t value;
    if (ParseNumberField(text, field.Range, &value)) {
      // An unread value stays unwritten until the user gives it another one.
      if (value != record->*field.Field) record->KnownSettings |= field.KnownBit;
      record->*field.Field = value;
    } else {
      SetNumberText(field.Id, record->*field.Field);
    }
  }
}

void ShowSelectedDevice() {
  const DeviceRecord* record = SelectedRecord();
  if (!record) return;

  char status[256];
  SetWindowTextA(MainControl(IDE_STATUS), "");
  if (!Inventory.ShowDisconnected)
    snprintf(status, sizeof status, " %s, SN: %s,  ID: %x, LocalID: %x, Open COM Ports: %i",
             record->Description, record->SerialNumber, (unsigned)record->DeviceId,
             (unsigned)record->LocationId, (int)Inventory.OpenPortCount);
  else
    snprintf(status, sizeof status, " SN: %s,  ID: %x", record->SerialNumber,
             (unsigned)record->DeviceId);
  SetWindowTextA(MainControl(IDE_STATUS), status);

  for (const NumberFieldControl& field : NumberFields) {
    EnableWindow(MainControl(field.Id), TRUE);
    SetNumberText(field.Id, record->*field.Field);
  }
  for (const OptionBoxControl& box : OptionBoxes) EnableWindow(MainControl(box.Id), TRUE);
  EnableWindow(MainControl(IDX_SERIAL_ENUMERATOR), TRUE);
  for (const OptionBoxControl& box : OptionBoxes)
    SetCheck(box.Id, GetOptionBit(record->ConfigData, box.Bit));
  SetCheck(IDX_SERIAL_ENUMERATOR, IsSerialEnumeratorOn(record->UpperFilters));
}

void ShowPresetValues(bool serialEnumeratorOn) {
  const DeviceRecord* record = SelectedRecord();
  if (!record) return;
  for (const NumberFieldControl& field : NumberFields)
    SetNumberText(field.Id, record->*field.Field);
  for (const OptionBoxControl& box : OptionBoxes)
    SetCheck(box.Id, GetOptionBit(record->ConfigData, box.Bit));
  SetCheck(IDX_SERIAL_ENUMERATOR, serialEnumeratorOn);
}

// Lists every registered device (the attached ones marked from the records
// the inventory held before), then reads their settings.
static ListingOutcome ListRegisteredWithSettings() {
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS)
    return NO_DRIVER_KEY;
  bool listed = ListRegisteredDevices(&Inventory, ftdibus, &MainWindowMessages);
  if (listed) ReadDeviceSettings(&Inventory, &MainWindowMessages);
  RegCloseKey(ftdibus);
  return listed ? LISTED : NOTHING_LISTED;
}

ListingOutcome ListDevicesWithSettings() {
  if (!Inventory.ShowDisconnected) {
    if (!ListConnectedDevices(&Inventory, &MainWindowMessages)) return NOTHING_LISTED;
    ReadDeviceSettings(&Inventory, &MainWindowMessages);
    return LISTED;
  }
  // The connected listing supplies the serial numbers that mark the
  // attached devices of the registered listing.
  ListConnectedDevices(&Inventory, &MainWindowMessages);
  ReadDeviceSettings(&Inventory, &MainWindowMessages);
  return ListRegisteredWithSettings();
}

void RefreshDeviceList() {
  SelectedIndex = -1;
  SetWindowTextA(MainControl(IDE_STATUS), "");
  SendMessageA(MainControl(IDL_DEVICES), LB_RESETCONTENT, 0, 0);
  ClearDeviceControls();
  DisableDeviceControls();

  ListingOutcome outcome = ListDevicesWithSettings();
  if (outcome == NO_DRIVER_KEY) return;
  if (outcome == NOTHING_LISTED) {
    DisableDeviceControls();
    ReportNoDevices();
    return;
  }
  AddDeviceRows();
  ShowOpenPortCount();
}

void InitMainWindow(HWND window) {
  MainWindow = window;
  SelectedIndex = -1;
  SetWindowTextA(window, MAIN_WINDOW_TITLE);
  SetPrivilege("SeTakeOwnershipPrivilege", true, &MainWindowMessages);
  for (const TooltipText& tip : Tooltips) AddTooltip(tip.Id, window, tip.Text);

  // Every registered device key gets its owner and access list, attached or
  // not, in the one start-up access set with the driver's keys; the
  // inventory built here is replaced by the connected listing below, whose
  // devices take the values read here rather than being read again.
  SettingsCache registered = {nullptr, 0};
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) == ERROR_SUCCESS) {
    if (ListRegisteredDevices(&Inventory, ftdibus, &MainWindowMessages))
      ReadDeviceSettingsKeeping(&Inventory, &MainWindowMessages, &registered);
    RegCloseKey(ftdibus);
  }
  if (!SetStartUpAccess(&Inventory, &MainWindowMessages) && Inventory.count)
    MessageBoxAtCursor(MainWindow, "Some Registry Key are corrupted./nPlease clean your Registry.",
                       "Error", MB_OK | MB_ICONWARNING);

  ShowIgnoreSerialSetting();

  if (!ListConnectedDevices(&Inventory, &MainWindowMessages)) {
    FreeSettingsCache(&registered);
    ReportNoDevices();
    return;
  }
  ReadDeviceSettingsCached(&Inventory, &registered, &MainWindowMessages);
  FreeSettingsCache(&registered);
  SetWindowTextA(MainControl(IDE_STATUS), "");
  SendMessageA(MainControl(IDL_DEVICES), LB_RESETCONTENT, 0, 0);
  AddDeviceRows();
  ShowOpenPortCount();
}

static COLORREF RowColour(const DeviceRecord* record) {
  if (!Inventory.ShowDisconnected) return RGB(0, 0, 0);
  return (record->Flags & REGISTERED_FLAG_ATTACHED) ? RGB(0, 255, 0) : RGB(255, 0, 0);
}

// Rows have no strings: each is drawn from its record. The selection is
// marked only by the focus rectangle, toggled by XOR.
BOOL DrawDeviceRow(const DRAWITEMSTRUCT* item) {
  if (item->itemID == (UINT)-1) return FALSE;
  if (item->itemAction == ODA_DRAWENTIRE) {
    uint32_t index = (uint32_t)item->itemData;
    if (index < Inventory.count) {
      const DeviceRecord* record = &Inventory.Records[index];
      char name[PORT_NAME_SIZE];
      snprintf(name, sizeof name, "%.15s", record->PortName);
      TEXTMETRICA metrics;
      GetTextMetricsA(item->hDC, &metrics);
      int y = (item->rcItem.top + item->rcItem.bottom - metrics.tmHeight) / 2;
      SetTextColor(item->hDC, RowColour(record));
      // 6 pixels at the 13-pixel dialog font of 96 DPI: the indent grows
      // with the font, which follows the DPI.
      TextOutA(item->hDC, MulDiv(6, metrics.tmHeight, 13), y, name, (int)strlen(name));
    }
    if (item->itemState & ODS_SELECTED) {
      SetTextColor(item->hDC, RGB(0, 0, 0));
      DrawFocusRect(item->hDC, &item->rcItem);
    }
  } else if (item->itemAction == ODA_SELECT) {
    SetTextColor(item->hDC, RGB(0, 0, 0));
    DrawFocusRect(item->hDC, &item->rcItem);
  }
  return TRUE;
}

void OnDeviceSelectionChange() {
  CommitFields();
  SelectedIndex = DeviceOfSelectedRow();
  if (SelectedIndex != -1) ShowSelectedDevice();
}
