// The COM Port Assignment dialog's stories: renaming COM5, typing numbers
// and the run's first two changes, the arrows, the "reserved" warning, a
// ComDB that cannot be read, a long ComDB, and writes that are refused.
#include <windows.h>

#include <string>
#include <vector>

#include "comdb/comport_dialog_ids.h"
#include "devices/registry_paths.h"
#include "e2e/scenario.h"
#include "runner/registry_snapshot.h"
#include "main_window_ids.h"
#include "stories.h"

namespace {

const uint32_t Ft232r = 0x04036001;
const char Serial[] = "FT12AB34A";

std::string InstanceKey() { return DeviceKey(Ft232r, Serial); }
std::string ParamsKey() { return DeviceKey(Ft232r, Serial, true); }

// Byte 0 as given, the other bytes free; a longer value gets a tail whose
// bytes differ from each other (reservations of COM257 and above).
std::vector<unsigned char> ComDb(unsigned char byte0, size_t size = 32) {
  std::vector<unsigned char> value(size, 0);
  value[0] = byte0;
  for (size_t i = 32; i < size; ++i) value[i] = static_cast<unsigned char>(0x80 + i);
  return value;
}

// COM5 attached; ComDB as given, or none at all in its key.
void SeedCom5(const std::vector<unsigned char>& comDb) {
  AddRegisteredDevice(Ft232r, Serial, "COM5");
  WriteStandinDevices("device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n");
  if (!comDb.empty()) {
    SetBinary(ComNameArbiterKeyPath, "ComDB", comDb);
    return;
  }
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, KEY_ALL_ACCESS, &key));
  RegDeleteValueA(key, "ComDB");
  RegCloseKey(key);
}

std::vector<unsigned char> StoredComDb() {
  std::vector<unsigned char> data;
  ReadValue(ComNameArbiterKeyPath, "ComDB", &data);
  return data;
}

// A REG_SZ value as text; "(missing)" or "(not REG_SZ)" otherwise.
std::string StoredString(const std::string& path, const char* name) {
  std::vector<unsigned char> data;
  DWORD type = 0;
  if (!ReadValue(path, name, &data, &type)) return "(missing)";
  if (type != REG_SZ) return "(not REG_SZ)";
  return std::string(data.begin(), data.end()).c_str();
}


enum Arrow { UP, DOWN };

// A mouse click on one arrow of the up-down beside the typed number.
int ClickArrow(AppSession* app, Arrow arrow) {
  HWND arrows = GetDlgItem(CurrentDialog(app), IDU_NEW_NUMBER);
  RECT client;
  if (!arrows || !GetClientRect(arrows, &client)) {
    app->Error = "the dialog has no arrows";
    return 0;
  }
  LPARAM at = MAKELPARAM(client.right / 2, arrow == UP ? client.bottom / 4 : client.bottom * 3 / 4);
  PostMessageA(arrows, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(arrows, WM_LBUTTONUP, 0, at);
  return Settle(app);
}

const std::vector<Step> StartAndRenameCom5 = {
    {Do::Launch},
    {Do::Window, MAIN_WINDOW_TITLE},
    {Do::NoMessage},
    {Do::SelectRow, IDL_DEVICES, "0"},
    {Do::Click, IDB_RENAME_COM_PORT},
};

const std::vector<Step> OpenForCom5 = Then(StartAndRenameCom5, {
    {Do::Window, COM_PORT_DIALOG_TITLE},
    {Do::NoMessage},
    {Do::ExpectText, IDE_SELECTED_PORT, "COM5"},
    {Do::ExpectText, IDE_NEW_NUMBER, "5"},
    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "-1"},
});

const std::vector<Step> BackInMainWindow = {
    {Do::NoMessage},
    {Do::ExpectSelectedRow, IDL_DEVICES, "-1"},
    {Do::ExpectDisabled, IDE_LATENCY_TIMER},
};

void ExpectNothingWritten(const std::vector<unsigned char>& comDb) {
  EXPECT_EQ(comDb, StoredComDb());
  EXPECT_EQ("COM5", StoredString(ParamsKey(), "PortName"));
  EXPECT_EQ("(missing)", StoredString(InstanceKey(), "FriendlyName"));
}

}  // namespace

// COM1 to COM5 taken: the list offers COM6 to COM256; COM7 chosen.
TEST_F(E2eScenario, RenamesCom5ToCom7AndTheListIsReadAgain) {
  SeedCom5(ComDb(0x1F));
  Run(Then(OpenForCom5, {
      {Do::ExpectRows, IDL_FREE_NUMBERS, "251"},
      {Do::ExpectRowText, IDL_FREE_NUMBERS, "0=COM6"},
      {Do::ExpectRowText, IDL_FREE_NUMBERS, "250=COM256"},
      {Do::SelectRow, IDL_FREE_NUMBERS, "1"},
      {Do::ExpectText, IDE_NEW_NUMBER, "5"},  // a click leaves the typed number
      {Do::Click, IDOK},
  }));
  Run(Then(BackInMainWindow, {{Do::ExpectRows, IDL_DEVICES, "1"}}));
  EXPECT_EQ(ComDb(0x4F), StoredComDb());  // 0x40 (COM7) set, 0x10 (COM5) cleared
  EXPECT_EQ("USB Serial Port (COM7)", StoredString(InstanceKey(), "FriendlyName"));
  EXPECT_EQ("COM7", StoredString(ParamsKey(), "PortName"));

  // The rebuilt list stands for COM7 now, and COM5 is offered.
  Run({{Do::SelectRow, IDL_DEVICES, "0"},
       {Do::Click, IDB_RENAME_COM_PORT},
       {Do::Window, COM_PORT_DIALOG_TITLE},
       {Do::ExpectText, IDE_SELECTED_PORT, "COM7"},
       {Do::ExpectText, IDE_NEW_NUMBER, "7"},
       {Do::ExpectRowText, IDL_FREE_NUMBERS, "0=COM5"},
       {Do::Click, IDCANCEL}});
  Run(BackInMainWindow);
  EXPECT_EQ(ComDb(0x4F), StoredComDb());
}

// A fresh program: its first two text changes leave the selection alone
// when the number is not free; from the third on, a taken number clears it,
// in this opening and every later one.
TEST_F(E2eScenario, TypedNumbersSelectFreePortsAfterTheRunsFirstTwoChanges) {
  SeedCom5(ComDb(0x1F));
  Run(Then(OpenForCom5, {
      {Do::SelectRow, IDL_FREE_NUMBERS, "2"},  // COM8 clicked
      // Taken numbers: the run's first two changes keep the click, the third clears it.
      {Do::Type, IDE_NEW_NUMBER, "3"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "2"},
      {Do::Type, IDE_NEW_NUMBER, "4"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "2"},
      {Do::Type, IDE_NEW_NUMBER, "3"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "-1"},
      // Free numbers, the first and the last of the list.
      {Do::Type, IDE_NEW_NUMBER, "6"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "0"},
      {Do::Type, IDE_NEW_NUMBER, "256"},  {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "250"},
      // A taken 1 keeps the selection; the port's own 5 and four digits clear it.
      {Do::Type, IDE_NEW_NUMBER, "1"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "250"},
      {Do::Type, IDE_NEW_NUMBER, "5"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "-1"},
      {Do::Type, IDE_NEW_NUMBER, "7"},    {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "1"},
      {Do::Type, IDE_NEW_NUMBER, "1007"}, {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "-1"},
      // OK without a free number: Cancel goes back, OK closes writing nothing.
      {Do::Click, IDOK},
      {Do::Message, IDCANCEL, "Selected COM Port Number is reserved", "Error"},
      {Do::ExpectRows, IDL_FREE_NUMBERS, "251"},
      {Do::ExpectText, IDE_NEW_NUMBER, "1007"},
      {Do::Click, IDOK},
      {Do::Message, IDOK, "Selected COM Port Number is reserved", "Error"},
  }));
  Run(BackInMainWindow);
  ExpectNothingWritten(ComDb(0x1F));

  Run({{Do::SelectRow, IDL_DEVICES, "0"},
       {Do::Click, IDB_RENAME_COM_PORT},
       {Do::Window, COM_PORT_DIALOG_TITLE},
       {Do::SelectRow, IDL_FREE_NUMBERS, "2"},
       {Do::Type, IDE_NEW_NUMBER, "3"},
       {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "-1"}});
}

// COM1 free, COM2 to COM5 taken. The arrows look up the number they go to
// before they write it, so the run's first changes do not keep a selection;
// they wrap from 256 to 1 and back.
TEST_F(E2eScenario, ArrowsSelectTheNumberTheyGoToAndWrapAround) {
  SeedCom5(ComDb(0x1E));
  struct {
    const char* Typed;  // typed before the click, when not null
    Arrow Click;
    const char* Text;
    const char* Row;
  } clicks[] = {
      {nullptr, DOWN, "4", "-1"},  // the run's first change, yet the click on COM6 is undone
      {nullptr, UP, "5", "-1"},
      {nullptr, UP, "6", "1"},
      {nullptr, DOWN, "5", "-1"},
      {"256", UP, "1", "0"},
      {nullptr, DOWN, "256", "251"},
      {nullptr, DOWN, "255", "250"},
      {nullptr, UP, "256", "251"},
  };
  Run(Then(OpenForCom5, {{Do::SelectRow, IDL_FREE_NUMBERS, "1"}}));  // COM6 clicked
  for (const auto& c : clicks) {
    SCOPED_TRACE(std::string(c.Click == UP ? "up to " : "down to ") + c.Text);
    if (c.Typed) Run({{Do::Type, IDE_NEW_NUMBER, c.Typed}});
    ASSERT_TRUE(ClickArrow(&App, c.Click)) << App.Error;
    Run({{Do::ExpectText, IDE_NEW_NUMBER, c.Text},
         {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, c.Row}});
  }
}

// Without ComDB nothing is offered, so nothing can be written over the
// system's reservations.
TEST_F(E2eScenario, UnreadableComDbOffersNoNumberAndWritesNothing) {
  SeedCom5({});
  Run(Then(StartAndRenameCom5, {
      {Do::Message, IDOK, "Can't open COMDB", "ERROR"},
      {Do::Window, COM_PORT_DIALOG_TITLE},
      {Do::ExpectRows, IDL_FREE_NUMBERS, "0"},
      {Do::ExpectText, IDE_SELECTED_PORT, "COM5"},
      {Do::ExpectText, IDE_NEW_NUMBER, "5"},
      {Do::Type, IDE_NEW_NUMBER, "7"},
      {Do::Click, IDOK},
      {Do::Message, IDOK, "Selected COM Port Number is reserved", "Error"},
  }));
  Run(BackInMainWindow);
  EXPECT_FALSE(ValueExists(ComNameArbiterKeyPath, "ComDB"));
  EXPECT_EQ("COM5", StoredString(ParamsKey(), "PortName"));
  EXPECT_EQ("(missing)", StoredString(InstanceKey(), "FriendlyName"));
}

// Bytes 32 to 63 hold COM257 and above: they are written back unchanged.
TEST_F(E2eScenario, LongComDbKeepsTheReservationsBeyondCom256) {
  SeedCom5(ComDb(0x1F, 64));
  Run(Then(OpenForCom5, {{Do::Type, IDE_NEW_NUMBER, "7"},
                         {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "1"},
                         {Do::Click, IDOK}}));
  Run(BackInMainWindow);
  EXPECT_EQ(ComDb(0x4F, 64), StoredComDb());
  EXPECT_EQ("COM7", StoredString(ParamsKey(), "PortName"));
}

// ComDB marks the port's own COM5 free; choosing it marks it taken.
TEST_F(E2eScenario, ChoosingThePortsOwnFreeNumberReservesIt) {
  SeedCom5(ComDb(0x0F));
  Run(Then(OpenForCom5, {{Do::ExpectRowText, IDL_FREE_NUMBERS, "0=COM5"},
                         {Do::Type, IDE_NEW_NUMBER, "5"},
                         {Do::ExpectSelectedRow, IDL_FREE_NUMBERS, "0"},
                         {Do::Click, IDOK}}));
  Run(BackInMainWindow);
  EXPECT_EQ(ComDb(0x1F), StoredComDb());
  EXPECT_EQ("USB Serial Port (COM5)", StoredString(InstanceKey(), "FriendlyName"));
}

// A rename is one change: whichever of ComDB, PortName and FriendlyName is
// refused, the steps before it are undone, the dialog stays open and says
// which write failed; with nothing refused the next choice is written whole.
TEST_F(E2eScenario, RefusedRenameStepsAreUndoneAndTheDialogStaysOpen) {
  SeedCom5(ComDb(0x1F));
  struct {
    std::string Key;
    std::vector<std::string> Texts;  // the box says one of them
  } refusals[] = {
      {ComNameArbiterKeyPath, {"Can't open COMDB", "Can't open Key: COM Name Arbiter"}},
      {ParamsKey(), {"Can't write PortName"}},
      {InstanceKey(), {"Can't write FriendlyName"}},
  };
  Run(OpenForCom5);
  Snapshot before = TakeSnapshot();
  for (const auto& refusal : refusals) {
    SCOPED_TRACE("refused: " + refusal.Key);
    // After start-up, which gives each of these keys an access list of its own.
    RefuseWrites(refusal.Key, true);
    Run({{Do::SelectRow, IDL_FREE_NUMBERS, "1"}, {Do::Click, IDOK}});  // COM7
    HWND box = WaitForMessageBox(&App, "ERROR", WINDOW_WAIT_MS);
    ASSERT_TRUE(box) << App.Error;
    std::string text = MessageBoxText(box);
    bool named = false;
    for (const std::string& expected : refusal.Texts) named = named || text == expected;
    EXPECT_TRUE(named) << "the box says \"" << text << "\"";
    ASSERT_TRUE(AnswerMessageBox(&App, IDOK)) << App.Error;
    Run({{Do::Window, COM_PORT_DIALOG_TITLE}, {Do::ExpectText, IDE_SELECTED_PORT, "COM5"}});
    RefuseWrites(refusal.Key, false);
    ExpectOnlyChanges(before, TakeSnapshot(), {});
  }
  ExpectNothingWritten(ComDb(0x1F));

  Run(Then({{Do::SelectRow, IDL_FREE_NUMBERS, "2"}, {Do::Click, IDOK}}, BackInMainWindow));
  EXPECT_EQ(ComDb(0x8F), StoredComDb());  // COM8 taken, COM7 not, COM5 free
  EXPECT_EQ("COM8", StoredString(ParamsKey(), "PortName"));
  EXPECT_EQ("USB Serial Port (COM8)", StoredString(InstanceKey(), "FriendlyName"));
}
