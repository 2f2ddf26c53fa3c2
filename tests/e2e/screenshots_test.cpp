// Pictures of the Main window and of each dialog for the README, taken by
// scripts/screenshots on the demo machine. Not a test of its own: skipped
// unless PORTMELD_SCREENSHOTS names the folder for the pictures, and then it
// keeps the registry and device list that the script prepared.
#include <stdlib.h>

#include <string>
#include <vector>

#include "about_box_ids.h"
#include "baud/baud_dialog_ids.h"
#include "bufwrite/bufwrite_dialog_ids.h"
#include "comdb/comport_dialog_ids.h"
#include "e2e/driver.h"
#include "e2e/steps.h"
#include "history/history_dialog_ids.h"
#include "listview_remote.h"
#include "main_window_ids.h"

#include <gtest/gtest.h>

namespace {

// The Change History dialog with the newest set portmeld made selected:
// the start-up access sets of the window's starts come after it.
int SelectNewestPortmeldSet(AppSession* app) {
  const int programColumn = 3;  // after the set's number, time and user
  int count = 0;
  if (!ReadListViewCount(app, IDV_CHANGE_SETS, &count)) return 0;
  for (int row = 0; row < count; ++row) {
    std::string program;
    if (!ReadListViewCell(app, IDV_CHANGE_SETS, row, programColumn, &program)) return 0;
    if (program.compare(0, 9, "portmeld ") == 0) return SelectListViewRows(app, IDV_CHANGE_SETS, {row});
  }
  return FailStep(app, "the journal holds no set of portmeld");
}

// Dialogs open with their top-left corner at the pointer under Wine: these
// places keep every window whole on the 1024 x 768 desktop.
const int MainWindowCorner = 16;
const int DialogCorner = 72;

class Screenshots : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA("PORTMELD_SCREENSHOTS", folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) GTEST_SKIP() << "PORTMELD_SCREENSHOTS is not set";
    Folder = folder;
    InitSession(&App, "screenshots");
  }
  void TearDown() override { EndProgram(&App); }

  void Steps(const std::vector<Step>& steps) {
    if (!HasFatalFailure() && !RunSteps(&App, steps)) FAIL() << App.Error;
  }

  // Saves the current dialog, and only it, as <name>.bmp.
  void Picture(const char* name) {
    if (HasFatalFailure()) return;
    RECT rect;
    ASSERT_TRUE(GetWindowRect(CurrentDialog(&App), &rect)) << name;
    std::string path = Folder + "\\" + name + ".bmp";
    ASSERT_EQ(1, SaveScreenshot(path, &rect)) << path;
  }

  AppSession App;
  std::string Folder;
};

}  // namespace

TEST_F(Screenshots, MainWindowAndEveryDialog) {
  const std::string corner =
      std::to_string(MainWindowCorner) + "," + std::to_string(MainWindowCorner);
  Steps({{Do::Pointer, 0, corner},
         {Do::Launch},
         {Do::Window, 0, MAIN_WINDOW_TITLE},
         {Do::NoMessage},
         {Do::SelectRow, IDL_DEVICES, "0"},
         {Do::NoMessage}});
  Picture("main-window");

  struct Dialog {
    const char* Picture;
    Do How;  // Click for the buttons, Command for the menu items
    int Id;
    const char* Caption;
    int (*Arrange)(AppSession* app);  // before the picture; nullptr for nothing
  } dialogs[] = {
      {"baud-rate-mapping", Do::Click, IDB_BAUD_RATE_MAPPINGS, BAUD_DIALOG_TITLE, nullptr},
      {"buffered-writes", Do::Click, IDB_BUFFERED_WRITES, BUFWRITE_DIALOG_TITLE, nullptr},
      {"com-port-assignment", Do::Click, IDB_RENAME_COM_PORT, COM_PORT_DIALOG_TITLE, nullptr},
      {"save-configuration", Do::Command, IDM_SAVE_CONFIGURATION, "Save As", nullptr},
      {"about-box", Do::Command, IDM_ABOUT, "About", nullptr},
      // The changes scripts/screenshots made with portmeld, the newest selected.
      {"change-history", Do::Command, IDM_CHANGE_HISTORY, CHANGE_HISTORY_TITLE,
       SelectNewestPortmeldSet},
  };
  const std::string dialogCorner =
      std::to_string(DialogCorner) + "," + std::to_string(DialogCorner);
  for (const Dialog& d : dialogs) {
    SCOPED_TRACE(d.Picture);
    Steps({{Do::Pointer, 0, dialogCorner},
           {d.How, d.Id},
           {Do::Window, 0, d.Caption},
           {Do::NoMessage}});
    if (!HasFatalFailure() && d.Arrange && !d.Arrange(&App)) FAIL() << App.Error;
    Picture(d.Picture);
    Steps({{Do::Key, VK_ESCAPE}, {Do::Window, 0, MAIN_WINDOW_TITLE}});
    // Renaming a port ends with a fresh list: select the port again.
    Steps({{Do::SelectRow, IDL_DEVICES, "0"}, {Do::NoMessage}});
  }

  Steps({{Do::Click, IDB_CANCEL},
         {Do::Message, IDOK, "Abort Configuration?\nUnsaved Data will be lost", "Warning"},
         {Do::ExpectExit, 0, "0"}});
}
