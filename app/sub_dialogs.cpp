#include "app/sub_dialogs.h"

#include "app/about_box.h"
#include "app/main_commands.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "baud/baud_dialog.h"
#include "bufwrite/bufwrite_dialog.h"
#include "comdb/comport_dialog.h"
#include "configfile/config_file_dialogs.h"
#include "history/history_dialog.h"
#include "main_window_ids.h"

// The selected record as its settings were read: what the sub-dialogs'
// writes compare with. None only when memory ran out at the read.
static DeviceRecord* SelectedAsRead() {
  return Inventory.AsRead && SelectedRecord() ? &Inventory.AsRead[SelectedIndex] : nullptr;
}

static void RunBaudRateMapping(DeviceRecord* record) {
  DeviceRecord* asRead = SelectedAsRead();
  if (!asRead || !ShowBaudRateMappingDialog(MainWindow, record, asRead, &MainWindowMessages))
    ShowDialogFailed();
  // The record may hold another alias table now: show it afresh.
  ShowOpenPortCount();
  ShowIgnoreSerialSetting();
  SelectRowOfDevice(SelectedIndex);
  ShowSelectedDevice();
}

static void RunBufferedWrites(DeviceRecord* record) {
  DeviceRecord* asRead = SelectedAsRead();
  if (!asRead || !ShowBufferedWritesDialog(MainWindow, record, asRead, &MainWindowMessages))
    ShowDialogFailed();
}

static void RunRenameComPort(DeviceRecord* record) {
  if (!ShowComPortAssignmentDialog(MainWindow, record)) ShowDialogFailed();
  // Reads the new PortName back and drops the selection, whatever happened.
  RefreshDeviceList();
}

static void RunSaveConfiguration(DeviceRecord* record) {
  SaveConfiguration(MainWindow, record, &MainWindowMessages);
}

static void RunLoadConfiguration(DeviceRecord* record) {
  // Only a loaded file replaces what the fields show: after a cancel or a
  // rejected file, values typed but not yet applied stay on screen.
  if (LoadConfiguration(MainWindow, record, &MainWindowMessages)) ShowSelectedDevice();
}

// The journal's sets and their undo. The window lends the dialog its boxes,
// Cancel's question for edits not written yet, and Apply's re-read.
static void RunChangeHistory() {
  const HistoryWindowHooks hooks = {MessageBoxAtCursor, ConfirmPendingEdits, ReadPortsAgain};
  if (!ShowChangeHistoryDialog(MainWindow, hooks)) ShowDialogFailed();
}

struct SubDialogCommand {
  int Id;
  void (*RunOnRecord)(DeviceRecord* record);  // needs a selected port
  void (*Run)();                              // needs none
};

static const SubDialogCommand SubDialogCommands[] = {
    {IDB_BAUD_RATE_MAPPINGS, RunBaudRateMapping, nullptr},
    {IDB_BUFFERED_WRITES, RunBufferedWrites, nullptr},
    {IDB_RENAME_COM_PORT, RunRenameComPort, nullptr},
    {IDM_SAVE_CONFIGURATION, RunSaveConfiguration, nullptr},
    {IDM_LOAD_CONFIGURATION, RunLoadConfiguration, nullptr},
    {IDM_CHANGE_HISTORY, nullptr, RunChangeHistory},
    {IDM_ABOUT, nullptr, RunAboutCommand},
    {IDM_VIEW_HELP, nullptr, RunViewHelpCommand},
};

bool RunSubDialogCommand(int id) {
  for (const SubDialogCommand& command : SubDialogCommands) {
    if (command.Id != id) continue;
    if (command.Run) {
      command.Run();
      return true;
    }
    DeviceRecord* record = SelectedRecord();
    if (record)
      command.RunOnRecord(record);
    else
      ShowNoSelection();
    return true;
  }
  return false;
}
