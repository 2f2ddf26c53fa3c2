// Saving and loading a port's configuration through the real file dialogs:
// the proposed name, the overwrite question, a load into another port that
// Apply then writes, a short file refused, and cancelled dialogs.
#include <string.h>

#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "main_window_ids.h"
#include "stories.h"

namespace {

const char SaveTitle[] = "Save As";  // the common dialogs' own captions
const char OpenTitle[] = "Open";
const int FileNameBox = 0x47C;  // cmb13: the explorer-style dialogs' file name
const char TooShortText[] = "Not a configuration file: it is shorter than 84 bytes";

const uint32_t Ft232r = 0x04036001, Ft2232 = 0x04036010;

// COM5 and COM6 attached; COM6 has the serial enumerator on.
void SeedBench() {
  AddRegisteredDevice(Ft232r, "FT12AB34A", "COM5");
  AddRegisteredDevice(Ft2232, "FT55AA55B", "COM6", true);
  WriteStandinDevices(
      "device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n"
      "device 0 6 04036010 2022 FT55AA55B Dual RS232-HS B\n");
}

std::string Com5Params() { return DeviceKey(Ft232r, "FT12AB34A", true); }
std::string Com6Params() { return DeviceKey(Ft2232, "FT55AA55B", true); }
std::string Com6Instance() { return DeviceKey(Ft2232, "FT55AA55B", false); }

// Choosing a file in the dialog that the previous step opened.
std::vector<Step> ChooseFile(const char* dialog, const std::string& path) {
  return {{Do::Window, 0, dialog}, {Do::Type, FileNameBox, path}, {Do::Click, IDOK}};
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}


// A file image as another port would have saved it: COM5's ConfigData with
// Serial Printer and Set RTS On Close on, MinReadTimeout 1000 (kept as its
// low byte, 232), MinWriteTimeout 7, LatencyTimer 2, serial enumerator off,
// PollingPeriod 9.
std::vector<unsigned char> OtherPortsFile(const std::vector<unsigned char>& configData) {
  std::vector<unsigned char> image = configData;
  image.resize(64, 0);
  image[0] = 0x80 | 0x08;
  image.push_back(0xE8);
  image.push_back(7);
  image.push_back(2);
  image.insert(image.end(), 16, 0);
  image.push_back(9);
  return image;
}

// The one message box the program shows besides its entered dialogs.
HWND OpenQuestion(AppSession* app) {
  if (!Settle(app)) return nullptr;
  std::vector<HWND> windows = UnexpectedWindows(app);
  return windows.size() == 1 ? windows[0] : nullptr;
}

class ConfigFileScenario : public E2eScenario {
 protected:
  void SetUp() override {
    E2eScenario::SetUp();
    // Each story keeps its files in a folder of its own under results\.
    std::string dir = ResultsDirectory() + "\\config-files";
    CreateDirectoryA(dir.c_str(), nullptr);
    char full[MAX_PATH];
    GetFullPathNameA((dir + "\\" + CurrentTestName()).c_str(), sizeof full, full, nullptr);
    Folder = full;
    for (const std::string& name : FolderContents(Folder))
      DeleteFileA((Folder + "\\" + name).c_str());
    CreateDirectoryA(Folder.c_str(), nullptr);
    SeedBench();
  }

  std::string PathOf(const char* name) const { return Folder + "\\" + name; }

  std::string Folder;
};

}  // namespace

TEST_F(ConfigFileScenario, SaveProposesConfigComFiveAndWritesEightyFourBytes) {
  std::vector<unsigned char> configData;
  ASSERT_TRUE(ReadValue(Com5Params(), "ConfigData", &configData));
  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "0"},
                   {Do::Command, IDM_SAVE_CONFIGURATION},
                   {Do::Window, 0, SaveTitle},
                   {Do::ExpectText, FileNameBox, "Config_COM5"},
                   // Typed without extension: the dialog adds "dat".
                   {Do::Type, FileNameBox, PathOf("Config_COM5")},
                   {Do::Click, IDOK},
                   {Do::Window, 0, MainTitle},
                   {Do::NoMessage}}));

  std::vector<unsigned char> file = ReadBytes(PathOf("Config_COM5.dat"));
  ASSERT_EQ(84u, file.size());
  EXPECT_EQ(configData, std::vector<unsigned char>(file.begin(), file.begin() + 64));
  EXPECT_EQ(0, file[64]);   // MinReadTimeout
  EXPECT_EQ(0, file[65]);   // MinWriteTimeout
  EXPECT_EQ(16, file[66]);  // LatencyTimer
  EXPECT_EQ(std::vector<unsigned char>(16, 0),
            std::vector<unsigned char>(file.begin() + 67, file.begin() + 83));
  EXPECT_EQ(0, file[83]);  // PollingPeriod
  EXPECT_EQ(std::vector<std::string>{"Config_COM5.dat"}, FolderContents(Folder));
  Run(CancelAndExit);
}

TEST_F(ConfigFileScenario, SavingOverAnExistingFileAsksFirst) {
  const std::vector<unsigned char> old(10, 0x5A);
  ASSERT_TRUE(WriteBytes(PathOf("Config_COM5.dat"), old));
  struct Case {
    const char* Label;
    int Answer;        // to the dialog's question
    size_t SizeAfter;  // of the file
  } cases[] = {{"No keeps the file", IDNO, 10}, {"Yes replaces it", IDYES, 84}};
  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "0"}}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    Run(Then({{Do::Command, IDM_SAVE_CONFIGURATION}},
             ChooseFile(SaveTitle, PathOf("Config_COM5.dat"))));
    // The question is the dialog's own, in the system's words and caption.
    HWND box = OpenQuestion(&App);
    ASSERT_NE(nullptr, box) << DescribeWindows(&App);
    EXPECT_NE(std::string::npos, MessageBoxText(box).find("already exists")) << MessageBoxText(box);
    App.Box = box;
    ASSERT_EQ(1, AnswerMessageBox(&App, c.Answer)) << App.Error;
    if (c.Answer == IDNO) Run({{Do::Window, 0, SaveTitle}, {Do::Click, IDCANCEL}});
    Run({{Do::Window, 0, MainTitle}, {Do::NoMessage}});
    EXPECT_EQ(c.SizeAfter, ReadBytes(PathOf("Config_COM5.dat")).size());
  }
  Run(CancelAndExit);
}

TEST_F(ConfigFileScenario, AFileLoadedIntoAnotherPortIsWrittenByApply) {
  std::vector<unsigned char> com5ConfigData;
  ASSERT_TRUE(ReadValue(Com5Params(), "ConfigData", &com5ConfigData));
  std::vector<unsigned char> image = OtherPortsFile(com5ConfigData);
  ASSERT_TRUE(WriteBytes(PathOf("from_com5.dat"), image));

  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "1"},
                   {Do::ExpectChecked, IDX_SERIAL_ENUMERATOR},
                   {Do::Command, IDM_LOAD_CONFIGURATION}}));
  Run(Then(ChooseFile(OpenTitle, PathOf("from_com5.dat")),
           {
               {Do::Window, 0, MainTitle},
               {Do::NoMessage},
               // The window shows the file's values at once...
               {Do::ExpectText, IDE_MIN_READ_TIMEOUT, "232"},
               {Do::ExpectText, IDE_MIN_WRITE_TIMEOUT, "7"},
               {Do::ExpectText, IDE_POLLING_PERIOD, "9"},
               {Do::ExpectText, IDE_LATENCY_TIMER, "2"},
               {Do::ExpectChecked, IDX_SERIAL_PRINTER},
               {Do::ExpectChecked, IDX_SET_RTS_ON_CLOSE},
               {Do::ExpectUnchecked, IDX_CANCEL_IF_POWER_OFF},
               {Do::ExpectUnchecked, IDX_SERIAL_ENUMERATOR},
           }));
  // ...but nothing reaches the registry before Apply.
  EXPECT_EQ(16u, ReadDword(Com6Params(), "LatencyTimer"));

  Run({{Do::Click, IDB_APPLY}, {Do::NoMessage}, {Do::ExpectText, IDE_LATENCY_TIMER, "2"}});
  EXPECT_EQ(232u, ReadDword(Com6Params(), "MinReadTimeout"));
  EXPECT_EQ(7u, ReadDword(Com6Params(), "MinWriteTimeout"));
  EXPECT_EQ(2u, ReadDword(Com6Params(), "LatencyTimer"));
  EXPECT_EQ(9u, ReadDword(Com6Params(), "PollingPeriod"));
  std::vector<unsigned char> written;
  ASSERT_TRUE(ReadValue(Com6Params(), "ConfigData", &written));
  EXPECT_EQ(std::vector<unsigned char>(image.begin(), image.begin() + 64), written);
  EXPECT_FALSE(ValueExists(Com6Instance(), "UpperFilters"));
  // The port the file came from is not touched.
  EXPECT_EQ(16u, ReadDword(Com5Params(), "LatencyTimer"));
  EXPECT_EQ(com5ConfigData, [] {
    std::vector<unsigned char> data;
    ReadValue(Com5Params(), "ConfigData", &data);
    return data;
  }());
  Run(CancelAndExit);
}

TEST_F(ConfigFileScenario, AShortFileIsRefusedAndApplyWritesTheOldValues) {
  std::vector<unsigned char> configData;
  ASSERT_TRUE(ReadValue(Com5Params(), "ConfigData", &configData));
  // The first 83 bytes of a good file: one byte, PollingPeriod, is missing.
  std::vector<unsigned char> image = OtherPortsFile(configData);
  image.pop_back();
  ASSERT_TRUE(WriteBytes(PathOf("short.dat"), image));

  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "0"}, {Do::Command, IDM_LOAD_CONFIGURATION}}));
  const std::vector<Step> refusedThenApply = {
      {Do::Message, IDOK, TooShortText, "ERROR"},
      {Do::NoMessage},
      {Do::ExpectText, IDE_LATENCY_TIMER, "16"},
      {Do::ExpectText, IDE_MIN_READ_TIMEOUT, "0"},
      {Do::ExpectUnchecked, IDX_SERIAL_PRINTER},
      {Do::Click, IDB_APPLY},
      {Do::NoMessage},
  };
  Run(Then(ChooseFile(OpenTitle, PathOf("short.dat")), refusedThenApply));
  EXPECT_EQ(16u, ReadDword(Com5Params(), "LatencyTimer"));
  EXPECT_EQ(0u, ReadDword(Com5Params(), "MinReadTimeout"));
  EXPECT_EQ(0u, ReadDword(Com5Params(), "PollingPeriod"));
  std::vector<unsigned char> written;
  ASSERT_TRUE(ReadValue(Com5Params(), "ConfigData", &written));
  EXPECT_EQ(configData, written);
  Run(CancelAndExit);
}

TEST_F(ConfigFileScenario, CancellingEitherDialogChangesNothing) {
  // The program runs in its own folder: a save that ignored the cancel
  // would land there, under the proposed name.
  const std::string besideProgram[] = {ExeDirectory() + "\\Config_COM5",
                                       ExeDirectory() + "\\Config_COM5.dat"};
  for (const std::string& path : besideProgram) DeleteFileA(path.c_str());
  struct Case {
    int Command;
    const char* Dialog;
    Do How;  // how the user leaves the dialog
  } cases[] = {
      {IDM_SAVE_CONFIGURATION, SaveTitle, Do::Click},
      {IDM_SAVE_CONFIGURATION, SaveTitle, Do::CloseBox},
      {IDM_LOAD_CONFIGURATION, OpenTitle, Do::Click},
      {IDM_LOAD_CONFIGURATION, OpenTitle, Do::CloseBox},
  };
  // A value typed but not applied yet stays in its field throughout.
  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "0"}, {Do::Type, IDE_LATENCY_TIMER, "5"}}));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Dialog) + (c.How == Do::Click ? " / Cancel" : " / close box"));
    Run({{Do::Command, c.Command},
         {Do::Window, 0, c.Dialog},
         {c.How, c.How == Do::Click ? IDCANCEL : 0},
         {Do::Window, 0, MainTitle},
         {Do::NoMessage},
         {Do::ExpectText, IDE_LATENCY_TIMER, "5"},
         {Do::ExpectSelectedRow, IDL_DEVICES, "0"}});
  }
  for (const std::string& path : besideProgram) EXPECT_FALSE(FileExists(path)) << path;
  EXPECT_TRUE(FolderContents(Folder).empty());
  Run(CancelAndExit);
  EXPECT_EQ(16u, ReadDword(Com5Params(), "LatencyTimer"));
}
