// Many writers, one truth, as the window sees it: another program writes
// while the window is open, and another holds the writer lock on Apply.
#include <windows.h>

#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "main_window_ids.h"
#include "runner/lock_holder.h"
#include "runner/process_runner.h"
#include "stories.h"

namespace {

const uint32_t Ft232r = 0x04036001, Ft2232 = 0x04036010;
const char Attached[] =
    "device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n"
    "device 0 6 04036010 2022 FT55AA55B Dual RS232-HS B\n";

void SeedTwoPorts() {
  AddRegisteredDevice(Ft232r, "FT12AB34A", "COM5");
  AddRegisteredDevice(Ft2232, "FT55AA55B", "COM6");
  WriteStandinDevices(Attached);
}

std::string Com5Params() { return DeviceKey(Ft232r, "FT12AB34A", true); }
std::string Com6Params() { return DeviceKey(Ft2232, "FT55AA55B", true); }

std::vector<unsigned char> ConfigDataOf(const std::string& params) {
  std::vector<unsigned char> data;
  ReadValue(params, "ConfigData", &data);
  return data;
}

// portmeld.exe, beside the program, run to its end as another writer.
void Portmeld(const std::string& args) {
  Launch launch;
  launch.Exe = ExeDirectory() + "\\portmeld.exe";
  launch.Args = args;
  launch.OutPath = ResultsDirectory() + "\\e2e-output\\" + CurrentTestName() + "-portmeld.txt";
  launch.Detached = true;
  ProcessResult run = RunProcess(launch, 30000);
  EXPECT_TRUE(run.Ended && run.ExitCode == 0)
      << "portmeld " << args << ": " << run.Error << " exit code " << run.ExitCode << "\n"
      << run.Out;
}

}  // namespace

// Apply writes what the user changed, merged onto what is in the registry
// then: another port's latency and the selected port's alias entry, both
// written by portmeld while the window was open, stay.
TEST_F(E2eScenario, ApplyKeepsWhatAnotherProgramWroteMeanwhile) {
  SeedTwoPorts();
  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "0"}, {Do::ExpectText, IDE_LATENCY_TIMER, "16"}}));
  std::vector<unsigned char> shown = ConfigDataOf(Com5Params());
  Portmeld("set COM6 latencyTimer=7 --no-reload");
  Portmeld("set COM5 baudAlias.9600=10000 --no-reload");
  std::vector<unsigned char> aliased = ConfigDataOf(Com5Params());
  ASSERT_NE(shown, aliased) << "portmeld did not change the alias entry";

  Run({{Do::Type, IDE_LATENCY_TIMER, "3"},
       {Do::Click, IDB_APPLY},
       {Do::NoMessage},
       {Do::ExpectText, IDE_LATENCY_TIMER, "3"}});
  EXPECT_EQ(3u, ReadDword(Com5Params(), "LatencyTimer"));
  EXPECT_EQ(7u, ReadDword(Com6Params(), "LatencyTimer"));
  EXPECT_EQ(aliased, ConfigDataOf(Com5Params()));
  EXPECT_EQ(1, CountStandinCalls("FT_Reload"));
  Run(CancelAndExit);
}

// While another Portmeld program holds the writer lock, Apply waits ten
// seconds, then says so and writes nothing; once its holder has died, Apply
// writes.
TEST_F(E2eScenario, ApplyWaitsForTheWriterLockThenWritesNothing) {
  SeedTwoPorts();
  Run(Then(Start, {{Do::SelectRow, IDL_DEVICES, "0"}, {Do::Type, IDE_LATENCY_TIMER, "3"}}));
  RunningProcess holder;
  std::string error;
  ASSERT_TRUE(HoldWriterLock(60000, false, &holder, &error)) << error;
  // Posted without settling: the program answers nothing while it waits.
  DWORD clicked = GetTickCount();
  PostMessageA(GetDlgItem(CurrentDialog(&App), IDB_APPLY), BM_CLICK, 0, 0);
  HWND box = WaitForMessageBox(&App, "ERROR", 25000);
  DWORD waited = GetTickCount() - clicked;
  if (!box) EndProcess(&holder);
  ASSERT_TRUE(box) << App.Error;
  EXPECT_EQ("another Portmeld program is writing the driver settings", MessageBoxText(box));
  EXPECT_GE(waited, 9000u);
  EXPECT_TRUE(AnswerMessageBox(&App, IDOK)) << App.Error;
  EXPECT_EQ(16u, ReadDword(Com5Params(), "LatencyTimer"));
  EXPECT_EQ(0, CountStandinCalls("FT_Reload"));

  EndProcess(&holder);  // killed holding it: the lock is abandoned
  Run({{Do::Window, MainTitle},
       {Do::ExpectText, IDE_LATENCY_TIMER, "3"},
       {Do::Click, IDB_APPLY},
       {Do::NoMessage}});
  EXPECT_EQ(3u, ReadDword(Com5Params(), "LatencyTimer"));
  Run(CancelAndExit);
}
