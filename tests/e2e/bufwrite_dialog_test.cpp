// The Buffered Writes dialog's stories: the switch clear and set, the three
// values and their ranges, unticking (which deletes the values), Cancel and
// Enter after ticking, and a key that cannot be written.
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "bufwrite/bufwrite_dialog_ids.h"
#include "listview_remote.h"
#include "e2e/scenario.h"
#include "main_window_ids.h"
#include "stories.h"

namespace {

const char BufwriteTitle[] = "Buffered Writes Configuration";

const uint32_t Ft232r = 0x04036001;
std::string Params() { return DeviceKey(Ft232r, "FT12AB34A", true); }

struct Values {
  DWORD Size, Threshold, Latency;
};
const DWORD Absent = 0xDEADBEEF;  // ReadDword of a missing value

// One attached adapter, COM5. Byte 1 of its ConfigData holds the switch
// (0x04) beside a bit no one names (0x80).
void SeedDevice(bool switchOn, const Values* stored) {
  AddRegisteredDevice(Ft232r, "FT12AB34A", "COM5");
  std::vector<unsigned char> config;
  ReadValue(Params(), "ConfigData", &config);
  config[1] = switchOn ? 0x84 : 0x80;
  SetBinary(Params(), "ConfigData", config);
  if (stored) {
    SetDword(Params(), "WriteBufferSize", stored->Size);
    SetDword(Params(), "WriteBufferThreshold", stored->Threshold);
    SetDword(Params(), "WriteLatency", stored->Latency);
  }
  WriteStandinDevices("device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n");
}

std::vector<unsigned char> ConfigData() {
  std::vector<unsigned char> data;
  ReadValue(Params(), "ConfigData", &data);
  return data;
}

void ExpectStored(const Values& expected) {
  EXPECT_EQ(expected.Size, ReadDword(Params(), "WriteBufferSize"));
  EXPECT_EQ(expected.Threshold, ReadDword(Params(), "WriteBufferThreshold"));
  EXPECT_EQ(expected.Latency, ReadDword(Params(), "WriteLatency"));
}

const std::vector<Step> Open = {{Do::Launch},
                                {Do::Window, 0, MainTitle},
                                {Do::NoMessage},
                                {Do::SelectRow, IDL_DEVICES, "0"},
                                {Do::Click, IDB_BUFFERED_WRITES},
                                {Do::Window, 0, BufwriteTitle},
                                {Do::NoMessage}};

const std::vector<Step> Reopen = {{Do::Window, 0, MainTitle},
                                  {Do::Click, IDB_BUFFERED_WRITES},
                                  {Do::Window, 0, BufwriteTitle}};

// The three edits, as the dialog shows them.
std::vector<Step> Shows(const char* size, const char* threshold, const char* latency) {
  return {{Do::ExpectText, IDE_WRITE_BUFFER_SIZE, size},
          {Do::ExpectText, IDE_WRITE_BUFFER_THRESHOLD, threshold},
          {Do::ExpectText, IDE_WRITE_LATENCY, latency}};
}

std::vector<Step> Type(const char* size, const char* threshold, const char* latency) {
  return {{Do::Type, IDE_WRITE_BUFFER_SIZE, size},
          {Do::Type, IDE_WRITE_BUFFER_THRESHOLD, threshold},
          {Do::Type, IDE_WRITE_LATENCY, latency}};
}

class BufferedWritesDialog : public E2eScenario {
 protected:
  void ExpectEditsReadOnly(bool readOnly) {
    if (HasFatalFailure()) return;
    for (int id : {IDE_WRITE_BUFFER_SIZE, IDE_WRITE_BUFFER_THRESHOLD, IDE_WRITE_LATENCY}) {
      int state = -1;
      ASSERT_TRUE(ReadEditReadOnly(&App, id, &state)) << App.Error;
      EXPECT_EQ(readOnly ? 1 : 0, state) << "edit " << id;
    }
  }
};

TEST_F(BufferedWritesDialog, SwitchClearOpensReadOnlyAndOkDeletesTheValues) {
  const Values stale = {512, 7, 3};
  SeedDevice(false, &stale);
  // A ConfigData shorter than 64 bytes shows that OK leaves it as it is:
  // the switch was not changed.
  std::vector<unsigned char> shortConfig = ConfigData();
  shortConfig.resize(40);
  SetBinary(Params(), "ConfigData", shortConfig);
  Run(Open);

  std::vector<std::string> texts;
  ASSERT_TRUE(ReadDialogTexts(&App, &texts)) << App.Error;
  const std::vector<std::string> expectedTexts = {
      "  Aktivate Buffered Writess", "Write Buffer Size:", "4096", "Write Buffer Treshold:", "20",
      "Write Latency:", "1", "OK", "Cancel", "Apply"};
  EXPECT_EQ(expectedTexts, texts);
  Run({{Do::ExpectUnchecked, IDX_ACTIVATE_BUFFERED_WRITES}});
  ExpectEditsReadOnly(true);
  ExpectStored(stale);  // opening reads and writes nothing

  Run({{Do::Click, IDB_BUFWRITE_OK}, {Do::Window, 0, MainTitle}, {Do::NoMessage}});
  ExpectStored({Absent, Absent, Absent});
  EXPECT_EQ(shortConfig, ConfigData());
  Run(CancelAndExit);
}

TEST_F(BufferedWritesDialog, TickingMakesTheEditsEditableAndCancelKeepsEverything) {
  const Values stale = {512, 7, 3};
  SeedDevice(false, &stale);
  std::vector<unsigned char> before = ConfigData();
  Run(Open);
  Run({{Do::Click, IDX_ACTIVATE_BUFFERED_WRITES},
       {Do::ExpectChecked, IDX_ACTIVATE_BUFFERED_WRITES}});
  ExpectEditsReadOnly(false);
  Run({{Do::Click, IDX_ACTIVATE_BUFFERED_WRITES}});
  ExpectEditsReadOnly(true);
  Run({{Do::Click, IDX_ACTIVATE_BUFFERED_WRITES}});
  Run(Then(Type("2048", "12", "8"), {{Do::Click, IDB_BUFWRITE_CANCEL}, {Do::NoMessage}}));
  EXPECT_EQ(before, ConfigData());
  ExpectStored(stale);

  // Enter is Cancel too (the default button): nothing saved.
  Run(Reopen);
  Run(Then({{Do::ExpectUnchecked, IDX_ACTIVATE_BUFFERED_WRITES},
            {Do::Click, IDX_ACTIVATE_BUFFERED_WRITES}},
           Type("2048", "12", "8")));
  ASSERT_TRUE(PressKeyIn(&App, IDE_WRITE_LATENCY, VK_RETURN)) << App.Error;
  Run({{Do::Window, 0, MainTitle}, {Do::NoMessage}});
  EXPECT_EQ(before, ConfigData());
  ExpectStored(stale);
  Run(CancelAndExit);
}

TEST_F(BufferedWritesDialog, TickingThenOkSetsTheSwitchAndWritesTheValues) {
  SeedDevice(false, nullptr);
  std::vector<unsigned char> expected = ConfigData();
  expected[1] = 0x84;
  Run(Open);
  Run(Then({{Do::Click, IDX_ACTIVATE_BUFFERED_WRITES}}, Type("2048", "12", "8")));
  Run({{Do::Click, IDB_BUFWRITE_OK}, {Do::Window, 0, MainTitle}, {Do::NoMessage}});
  EXPECT_EQ(expected, ConfigData());
  ExpectStored({2048, 12, 8});

  // Reopened, the switch is on and the stored values are read.
  Run(Reopen);
  Run(Then({{Do::ExpectChecked, IDX_ACTIVATE_BUFFERED_WRITES}}, Shows("2048", "12", "8")));
  ExpectEditsReadOnly(false);
  Run(Then({{Do::Click, IDB_BUFWRITE_CANCEL}}, CancelAndExit));
}

TEST_F(BufferedWritesDialog, SwitchSetReadsTheValuesAndApplyTakesThoseInRange) {
  const Values stored = {512, 7, 3};
  SeedDevice(true, &stored);
  Run(Then(Open, Shows("512", "7", "3")));
  Run({{Do::ExpectChecked, IDX_ACTIVATE_BUFFERED_WRITES}});
  ExpectEditsReadOnly(false);

  struct Case {
    const char* Label;
    const char* Typed[3];  // size, threshold, latency
    const char* Shown[3];  // the edits after Apply
    Values Stored;
  };
  const Case cases[] = {
      {"all out of range", {"5000", "21", "17"}, {"512", "7", "3"}, {512, 7, 3}},
      {"40960 read as 4096; the bounds",
       {"40960", "20", "16"}, {"40960", "20", "16"}, {4096, 20, 16}},
      {"zeros put the kept values back", {"0", "0", "0"}, {"4096", "20", "16"}, {4096, 20, 16}},
      {"lower bounds", {"1", "1", "1"}, {"1", "1", "1"}, {1, 1, 1}},
      {"empty fields", {"", "", ""}, {"1", "1", "1"}, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    Run(Type(c.Typed[0], c.Typed[1], c.Typed[2]));
    Run(Then({{Do::Click, IDB_BUFWRITE_APPLY}, {Do::NoMessage}, {Do::Window, 0, BufwriteTitle}},
             Shows(c.Shown[0], c.Shown[1], c.Shown[2])));
    ExpectStored(c.Stored);
  }
  Run({{Do::Click, IDB_BUFWRITE_OK}, {Do::Window, 0, MainTitle}, {Do::NoMessage}});
  ExpectStored({1, 1, 1});
  EXPECT_EQ(0x84, ConfigData()[1]);
  Run(CancelAndExit);
}

TEST_F(BufferedWritesDialog, SwitchSetWithoutStoredValuesShowsTheInitialNumbers) {
  SeedDevice(true, nullptr);
  Run(Then(Open, Shows("4096", "20", "1")));
  Run(Then({{Do::Click, IDB_BUFWRITE_CANCEL}}, CancelAndExit));
  ExpectStored({Absent, Absent, Absent});
}

TEST_F(BufferedWritesDialog, UntickingDeletesTheValuesAndClearsTheSwitch) {
  const Values stored = {512, 7, 3};
  SeedDevice(true, &stored);
  std::vector<unsigned char> expected = ConfigData();
  expected[1] = 0x80;
  Run(Open);
  Run({{Do::Click, IDX_ACTIVATE_BUFFERED_WRITES},
       {Do::ExpectUnchecked, IDX_ACTIVATE_BUFFERED_WRITES},
       {Do::Click, IDB_BUFWRITE_OK},
       {Do::Window, 0, MainTitle},
       {Do::NoMessage}});
  ExpectStored({Absent, Absent, Absent});
  EXPECT_EQ(expected, ConfigData());

  // The numbers are set afresh at every opening: the initial ones now.
  Run(Then(Reopen, Shows("4096", "20", "1")));
  Run({{Do::ExpectUnchecked, IDX_ACTIVATE_BUFFERED_WRITES}});
  ExpectEditsReadOnly(true);
  Run(Then({{Do::Click, IDB_BUFWRITE_CANCEL}}, CancelAndExit));
}

TEST_F(BufferedWritesDialog, AKeyThatCannotBeWrittenIsReportedOnce) {
  const Values stored = {512, 7, 3};
  SeedDevice(true, &stored);
  Run(Open);
  // The adapter's key goes away while the dialog is open.
  DeleteKeyTree(Params());
  const char message[] = "Cannot write the buffered writes of COM5 (serial FT12AB34A)";
  Run({{Do::Click, IDB_BUFWRITE_APPLY},
       {Do::Message, IDOK, message, "ERROR"},
       {Do::NoMessage},
       {Do::Window, 0, BufwriteTitle},
       {Do::Click, IDB_BUFWRITE_OK},
       {Do::Message, IDOK, message, "ERROR"},
       {Do::Window, 0, MainTitle},
       {Do::NoMessage}});
  EXPECT_FALSE(KeyExists(Params()));
  Run(CancelAndExit);
}

}  // namespace
