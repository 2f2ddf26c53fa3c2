// The Baud Rate Mapping dialog's stories: the alias list of the selected
// port, Generate, Add on selected rows, the two built-in tables, OK, Apply,
// Cancel and Esc, the invalid-input warning, and the Main window after the
// dialog has closed.
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include <string>
#include <vector>

#include "baud/baud_dialog_ids.h"
#include "listview_remote.h"
#include "e2e/scenario.h"
#include "main_window_ids.h"
#include "stories.h"

namespace {

const char BaudTitle[] = "Baud Rate Mapping";
const char NotValid[] = "Not Valid Input   ";

const uint32_t Ft232r = 0x04036001, Ft2232 = 0x04036010;
const char Com6Status[] =
    " Dual RS232-HS B, SN: FT55AA55B,  ID: 4036010, LocalID: 2022, Open COM Ports: 0";

std::string Com5Params() { return DeviceKey(Ft232r, "FT12AB34A", true); }
std::string Com6Params() { return DeviceKey(Ft2232, "FT55AA55B", true); }

// The default table ConfigData, with option bits and bytes 2 and 3 that no
// alias edit may touch.
std::vector<unsigned char> SeededConfigData() {
  const unsigned char entries[] = {0x88, 0x02, 0x5A, 0xC3,                          // entry 0
                                   0x10, 0x27, 0, 0, 0x88, 0x13, 0, 0, 0xC4, 0x09, 0, 0,  // 1-3
                                   0xE2, 0x04, 0, 0, 0x71, 0x02, 0, 0, 0x38, 0x41, 0, 0,  // 4-6
                                   0x9C, 0x80, 0, 0, 0x4E, 0xC0, 0, 0, 0x34, 0, 0, 0,     // 7-9
                                   0x1A, 0, 0, 0, 0x0D, 0, 0, 0, 0x06, 0x40, 0, 0,        // 10-12
                                   0x03, 0x80, 0, 0, 0x77, 0x66, 0, 0, 0xD0, 0x80, 0, 0}; // 13-15
  return std::vector<unsigned char>(entries, entries + sizeof entries);
}

// Two attached adapters: COM5 and COM6, none of them open.
void SeedBench() {
  AddRegisteredDevice(Ft232r, "FT12AB34A", "COM5");
  AddRegisteredDevice(Ft2232, "FT55AA55B", "COM6", true);
  SetBinary(Com5Params(), "ConfigData", SeededConfigData());
  SetBinary(Com6Params(), "ConfigData", SeededConfigData());
  WriteStandinDevices(
      "device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n"
      "device 0 6 04036010 2022 FT55AA55B Dual RS232-HS B\n");
}

std::vector<unsigned char> ConfigDataOf(const std::string& params) {
  std::vector<unsigned char> data;
  ReadValue(params, "ConfigData", &data);
  return data;
}

void SetEntry(std::vector<unsigned char>* config, int entry, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*config)[4 * entry + i] = static_cast<unsigned char>(value >> (8 * i));
}

// Start, pick a port, open the dialog.
std::vector<Step> OpenForRow(const char* row) {
  return {{Do::Launch},
          {Do::Window, 0, MainTitle},
          {Do::NoMessage},
          {Do::SelectRow, IDL_DEVICES, row},
          {Do::Click, IDB_BAUD_RATE_MAPPINGS},
          {Do::Window, 0, BaudTitle}};
}

const std::vector<Step> Reopen = {{Do::Window, 0, MainTitle},
                                  {Do::Click, IDB_BAUD_RATE_MAPPINGS},
                                  {Do::Window, 0, BaudTitle}};

// Generate for a typed rate; the two result fields as they should read.
std::vector<Step> Generate(const char* typed, const char* closest, const char* error) {
  return {{Do::Type, IDE_DESIRED_BAUD, typed},
          {Do::Click, IDB_GENERATE},
          {Do::NoMessage},
          {Do::ExpectText, IDE_CLOSEST_BAUD, closest},
          {Do::ExpectText, IDE_ERROR_PERCENT, error}};
}

struct AliasRowText {
  const char* Label;
  const char* Generated;
  const char* Divisor;
};

const std::vector<AliasRowText> DefaultRows = {
    {"300", "300", "10000.000"},       {"600", "600", "5000.000"},
    {"1200", "1200", "2500.000"},      {"2400", "2400", "1250.000"},
    {"4800", "4800", "625.000"},       {"9600", "9600", "312.500"},
    {"19200", "19200", "156.250"},     {"38400", "38400", "78.125"},
    {"57600", "57692", "52.000"},      {"115200", "115385", "26.000"},
    {"230400", "230769", "13.000"},    {"460800", "461538", "6.500"},
    {"921600", "923077", "3.250"},     {"14400", "14406", "208.250"},
};

std::vector<AliasRowText> TarnlinkRows() {
  std::vector<AliasRowText> rows = DefaultRows;
  for (AliasRowText& row : rows)
    if (strcmp(row.Label, "115200") != 0) row.Generated = "3000000", row.Divisor = "1.000";
  return rows;
}

// DefaultRows with some rows replaced.
std::vector<AliasRowText> DefaultRowsWith(
    const std::vector<std::pair<int, AliasRowText>>& changes) {
  std::vector<AliasRowText> rows = DefaultRows;
  for (const auto& change : changes) rows[change.first] = change.second;
  return rows;
}

class BaudDialog : public E2eScenario {
 protected:
  // The list shows exactly these rows, in this order.
  void ExpectRows(const std::vector<AliasRowText>& expected) {
    if (HasFatalFailure()) return;
    int count = 0;
    ASSERT_TRUE(ReadListViewCount(&App, IDV_ALIASES, &count)) << App.Error;
    ASSERT_EQ(static_cast<int>(expected.size()), count);
    for (int row = 0; row < count; ++row) {
      const char* columns[] = {expected[row].Label, expected[row].Generated, expected[row].Divisor};
      for (int column = 0; column < 3; ++column) {
        std::string text;
        ASSERT_TRUE(ReadListViewCell(&App, IDV_ALIASES, row, column, &text)) << App.Error;
        EXPECT_EQ(columns[column], text) << "row " << row << ", column " << column;
      }
    }
  }

  void SelectRows(const std::vector<int>& rows) {
    if (HasFatalFailure()) return;
    ASSERT_TRUE(SelectListViewRows(&App, IDV_ALIASES, rows)) << App.Error;
  }

  void ExpectSelection(const std::vector<int>& rows) {
    if (HasFatalFailure()) return;
    std::vector<int> selected;
    ASSERT_TRUE(ReadListViewSelection(&App, IDV_ALIASES, &selected)) << App.Error;
    EXPECT_EQ(rows, selected);
  }

  // The Main window after the dialog: the port's row selected again, its
  // stored values shown (an uncommitted edit is gone), box 1013 from the
  // registry.
  void ExpectMainWindowShowsCom6() {
    Run({{Do::Window, 0, MainTitle},
         {Do::NoMessage},
         {Do::ExpectSelectedRow, IDL_DEVICES, "1"},
         {Do::ExpectText, IDE_STATUS, Com6Status},
         {Do::ExpectText, IDE_LATENCY_TIMER, "16"},
         {Do::ExpectEnabled, IDE_LATENCY_TIMER},
         {Do::ExpectChecked, IDX_SERIAL_ENUMERATOR},
         {Do::ExpectUnchecked, IDX_IGNORE_SERIAL}});
  }

  // COM6 selected, with a typed but uncommitted latency and box 1013 ticked
  // but not applied: both must be replaced when the dialog closes.
  std::vector<Step> OpenForCom6WithUnsavedEdits() {
    return {{Do::Launch},
            {Do::Window, 0, MainTitle},
            {Do::NoMessage},
            {Do::SelectRow, IDL_DEVICES, "1"},
            {Do::Type, IDE_LATENCY_TIMER, "77"},
            {Do::Click, IDX_IGNORE_SERIAL},
            {Do::ExpectChecked, IDX_IGNORE_SERIAL},
            {Do::Click, IDB_BAUD_RATE_MAPPINGS},
            {Do::Window, 0, BaudTitle}};
  }
};

TEST_F(BaudDialog, ShowsTheDefaultTableInThreeRightAlignedColumns) {
  SeedBench();
  Run(OpenForCom6WithUnsavedEdits());

  std::vector<std::string> texts;
  ASSERT_TRUE(ReadDialogTexts(&App, &texts)) << App.Error;
  // Every control in template order; the list and the three edits are empty.
  const std::vector<std::string> expectedTexts = {
      "",  "Custom Baud Rate", "Desired Baud:",    "", "Generate", "Closest possible Baud:",
      "",  "Add",              "Error [%]:",       "", "Tarnlink Standard", "Restore Defaults",
      "OK", "Cancel",          "Apply"};
  EXPECT_EQ(expectedTexts, texts);

  const struct {
    const char* Header;
    int Width;
  } columns[] = {{"Virtual Baud", 80}, {"Generated Baud", 100}, {"Divisor", 100}};
  for (int i = 0; i < 3; ++i) {
    ListViewColumn column;
    ASSERT_TRUE(ReadListViewColumn(&App, IDV_ALIASES, i, &column)) << App.Error;
    EXPECT_EQ(columns[i].Header, column.Header);
    EXPECT_EQ(columns[i].Width, column.Width) << columns[i].Header;
    // The first column of a list view is always drawn left-aligned.
    if (i > 0) {
      EXPECT_EQ(LVCFMT_RIGHT, column.Format) << columns[i].Header;
    }
  }
  ExpectRows(DefaultRows);
  ExpectSelection({});

  Run({{Do::Click, IDB_BAUD_CANCEL}});
  ExpectMainWindowShowsCom6();
  Run(CancelAndExit);
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com6Params()));
}

TEST_F(BaudDialog, GenerateShowsTheClosestRateAndItsError) {
  SeedBench();
  Run(OpenForRow("0"));
  const struct {
    const char* Typed;
    const char* Closest;
    const char* Error;
  } valid[] = {
      {"9600", "9600", "0.000"},
      {"57600", "57554", "-0.080"},
      {"231660", "233010", "0.579"},  // 12.875, never rounded up to 13
      {"250000", "250000", "0.000"},
      {"1500000", "1500000", "0.000"},
      {"3000000", "3000000", "0.000%"},
      {"2000000", "2000000", "0.000%"},
  };
  for (const auto& c : valid) {
    SCOPED_TRACE(c.Typed);
    Run(Generate(c.Typed, c.Closest, c.Error));
    // The typed text stays, selected whole, so the next number replaces it.
    int start = -1, end = -1;
    ASSERT_TRUE(ReadEditSelection(&App, IDE_DESIRED_BAUD, &start, &end)) << App.Error;
    EXPECT_EQ(0, start);
    EXPECT_EQ(static_cast<int>(strlen(c.Typed)), end);
    Run({{Do::ExpectText, IDE_DESIRED_BAUD, c.Typed}});
  }

  // Enter in the Desired Baud field is Generate (the default button).
  Run({{Do::Type, IDE_DESIRED_BAUD, "115200"}});
  ASSERT_TRUE(PressKeyIn(&App, IDE_DESIRED_BAUD, VK_RETURN)) << App.Error;
  Run({{Do::NoMessage},
       {Do::ExpectText, IDE_CLOSEST_BAUD, "115385"},
       {Do::ExpectText, IDE_ERROR_PERCENT, "0.160"}});

  // Invalid rates warn, empty the field and leave the results as they were.
  for (const char* typed : {"1500001", "100", "183", "0", "", "abc"}) {
    SCOPED_TRACE(typed);
    Run({{Do::Type, IDE_DESIRED_BAUD, typed},
         {Do::Click, IDB_GENERATE},
         {Do::Message, 0, NotValid, "Warning"}});
    EXPECT_EQ(CurrentDialog(&App), OpenBoxOwner(&App)) << "owned by the dialog";
    Run({{Do::Answer, IDOK},
         {Do::NoMessage},
         {Do::ExpectText, IDE_DESIRED_BAUD, ""},
         {Do::ExpectText, IDE_CLOSEST_BAUD, "115385"},
         {Do::ExpectText, IDE_ERROR_PERCENT, "0.160"}});
  }
  ExpectRows(DefaultRows);  // Generate alone changes no row
  Run(Then({{Do::Click, IDB_BAUD_OK}}, CancelAndExit));
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com5Params()));
}

TEST_F(BaudDialog, AddToSelectedRowsThenApplyAndOkWriteTheEntries) {
  SeedBench();
  Run(OpenForCom6WithUnsavedEdits());
  Run(Generate("3000000", "3000000", "0.000%"));
  SelectRows({0, 1});
  Run({{Do::Click, IDB_ADD}, {Do::NoMessage}});
  std::vector<AliasRowText> rows =
      DefaultRowsWith({{0, {"300", "3000000", "1.000"}}, {1, {"600", "3000000", "1.000"}}});
  ExpectRows(rows);
  ExpectSelection({0, 1});  // the selection stays

  // Apply writes and keeps the dialog open.
  std::vector<unsigned char> expected = SeededConfigData();
  SetEntry(&expected, 1, 0);
  SetEntry(&expected, 2, 0);
  Run({{Do::Click, IDB_BAUD_APPLY},
       {Do::NoMessage},
       {Do::ExpectText, IDE_CLOSEST_BAUD, "3000000"}});
  EXPECT_EQ(expected, ConfigDataOf(Com6Params()));

  // More rows, then OK.
  Run(Generate("2000000", "2000000", "0.000%"));
  SelectRows({13});
  Run({{Do::Click, IDB_ADD}});
  Run(Generate("57600", "57554", "-0.080"));
  SelectRows({8});
  Run({{Do::Click, IDB_ADD}});
  rows[13] = {"14400", "2000000", "1.500"};
  rows[8] = {"57600", "57554", "52.125"};
  ExpectRows(rows);
  Run({{Do::Click, IDB_BAUD_OK}});

  SetEntry(&expected, 15, 1);       // divisor 1.5
  SetEntry(&expected, 9, 0xC034);   // 52 + 0.125
  EXPECT_EQ(expected, ConfigDataOf(Com6Params()));  // entry 14 and bytes 0 to 3 kept
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com5Params()));
  ExpectMainWindowShowsCom6();

  Run(Reopen);
  ExpectRows(rows);  // what was written is what the record holds
  Run(Then({{Do::Click, IDB_BAUD_CANCEL}}, CancelAndExit));
}

TEST_F(BaudDialog, CancelAndEscAfterAddKeepConfigData) {
  SeedBench();
  Run(OpenForRow("0"));
  Run(Generate("3000000", "3000000", "0.000%"));
  SelectRows({0, 1});
  Run({{Do::Click, IDB_ADD}, {Do::Click, IDB_BAUD_CANCEL}, {Do::NoMessage}});
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com5Params()));

  // The record was not changed: the dialog shows it as before.
  Run(Reopen);
  ExpectRows(DefaultRows);
  SelectRows({5});
  Run({{Do::Click, IDB_ADD}});  // the divisor of the last opening is still pending
  ExpectRows(DefaultRowsWith({{5, {"9600", "3000000", "1.000"}}}));
  ASSERT_TRUE(PressKeyIn(&App, IDV_ALIASES, VK_ESCAPE)) << App.Error;
  Run({{Do::Window, 0, MainTitle}, {Do::NoMessage}, {Do::ExpectSelectedRow, IDL_DEVICES, "0"}});
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com5Params()));

  Run(Reopen);
  ExpectRows(DefaultRows);
  Run(Then({{Do::Click, IDB_BAUD_CANCEL}}, CancelAndExit));
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com5Params()));
}

TEST_F(BaudDialog, AddWithoutGenerateWarnsAndWithoutSelectionChangesNothing) {
  SeedBench();
  Run(OpenForRow("0"));
  SelectRows({2});
  Run({{Do::Type, IDE_DESIRED_BAUD, "4800"},
       {Do::Click, IDB_ADD},
       {Do::Message, 0, NotValid, "Warning"}});
  EXPECT_EQ(CurrentDialog(&App), OpenBoxOwner(&App)) << "owned by the dialog";
  Run({{Do::Answer, IDOK}, {Do::ExpectText, IDE_DESIRED_BAUD, ""}});
  ExpectRows(DefaultRows);

  Run(Generate("300", "300", "0.000"));
  SelectRows({});
  Run({{Do::Click, IDB_ADD}, {Do::NoMessage}});
  ExpectRows(DefaultRows);
  Run(Then({{Do::Click, IDB_BAUD_CANCEL}}, CancelAndExit));
}

TEST_F(BaudDialog, BuiltInTablesChangeTheRecordAtOnceButNotTheRegistry) {
  SeedBench();
  Run(OpenForRow("1"));
  Run({{Do::Click, IDB_TARNLINK_STANDARD}, {Do::NoMessage}});
  ExpectRows(TarnlinkRows());
  Run({{Do::Click, IDB_BAUD_CANCEL}});
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com6Params()));

  // Cancel did not undo it: the record holds the Tarnlink table.
  Run(Reopen);
  ExpectRows(TarnlinkRows());
  Run({{Do::Click, IDB_RESTORE_DEFAULTS}, {Do::NoMessage}});
  ExpectRows(DefaultRows);
  Run({{Do::Click, IDB_BAUD_CANCEL}});
  Run(Reopen);
  ExpectRows(DefaultRows);
  Run({{Do::Click, IDB_TARNLINK_STANDARD}, {Do::Click, IDB_BAUD_CANCEL}});
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com6Params()));

  // The next write of the record takes the table along, entry 14 included;
  // the option bits and bytes 2 and 3 stay.
  Run({{Do::Window, 0, MainTitle}, {Do::Click, IDB_APPLY}, {Do::NoMessage}});
  std::vector<unsigned char> expected(64, 0);
  memcpy(expected.data(), SeededConfigData().data(), 4);
  SetEntry(&expected, 10, 0x1A);
  EXPECT_EQ(expected, ConfigDataOf(Com6Params()));
  EXPECT_EQ(SeededConfigData(), ConfigDataOf(Com5Params()));
  Run(CancelAndExit);
}

TEST_F(BaudDialog, AFailedWriteIsReportedOnce) {
  SeedBench();
  Run(OpenForRow("0"));
  Run(Generate("3000000", "3000000", "0.000%"));
  SelectRows({0});
  Run({{Do::Click, IDB_ADD}});
  // The adapter's key goes away while the dialog is open.
  DeleteKeyTree(Com5Params());
  Run({{Do::Click, IDB_BAUD_APPLY},
       {Do::Message, IDOK, "Cannot write the ConfigData of COM5 (serial FT12AB34A)", "ERROR"},
       {Do::NoMessage},
       {Do::Window, 0, BaudTitle},
       {Do::Click, IDB_BAUD_OK},
       {Do::Message, IDOK, "Cannot write the ConfigData of COM5 (serial FT12AB34A)", "ERROR"},
       {Do::Window, 0, MainTitle},
       {Do::NoMessage},
       {Do::ExpectSelectedRow, IDL_DEVICES, "0"}});
  EXPECT_FALSE(KeyExists(Com5Params()));
  Run(CancelAndExit);
}

}  // namespace
