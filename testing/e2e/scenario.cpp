#include "e2e/scenario.h"

#include "devices/registry_paths.h"

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!info) return "outside-a-test";
  return FileSafeName(std::string(info->test_suite_name()) + "." + info->name());
}

std::string SaveFailureScreenshot(const std::string& name) {
  std::string dir = ResultsDirectory() + "\\screenshots";
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string path = dir + "\\" + name + ".bmp";
  return SaveScreenshot(path, nullptr) ? path : "";
}

void E2eScenario::SetUp() {
  InitSession(&App, CurrentTestName());
  ResetFtdiRegistry();
  // What every Windows machine has and a fresh Wine prefix may lack: the
  // COM name database (COM1 taken) and the UsbFlags key.
  std::vector<unsigned char> comdb(32, 0);
  comdb[0] = 0x01;
  SetBinary(ComNameArbiterKeyPath, "ComDB", comdb);
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, UsbFlagsKeyPath, 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);
  WriteStandinDevices("");
}

void E2eScenario::TearDown() {
  if (HasFailure()) {
    std::string shot = SaveFailureScreenshot(App.Name);
    printf("  screenshot: %s\n", shot.empty() ? "(could not be saved)" : shot.c_str());
    if (App.Launched) {
      printf("  windows of the program:\n%s", DescribeWindows(&App).c_str());
      std::string output = ProgramOutput(&App);
      printf("  program output (%s):\n%s\n", App.OutputPath.c_str(),
             output.empty() ? "  (none)" : output.c_str());
    }
  }
  EndProgram(&App);
}

void E2eScenario::Run(const std::vector<Step>& steps) {
  if (HasFatalFailure()) return;
  if (!RunSteps(&App, steps)) FAIL() << App.Error;
}
