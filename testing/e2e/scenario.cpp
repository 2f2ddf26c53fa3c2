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

// Wine closes its virtual desktop when the last program with a window on it
// ends; a program started in that moment finds no desktop and its dialog
// fails. A window of our own, on a thread that keeps answering messages,
// holds the desktop open for the whole run.
static DWORD WINAPI KeepDesktopOpen(void*) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "PortmeldDesktopKeeper";
  RegisterClassA(&windowClass);
  HWND keeper = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, windowClass.lpszClassName, "",
                                WS_POPUP, -10, -10, 1, 1, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  ShowWindow(keeper, SW_SHOWNOACTIVATE);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

static void EnsureDesktopKept() {
  static bool started = false;
  if (started) return;
  started = true;
  HANDLE thread = CreateThread(nullptr, 0, KeepDesktopOpen, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

void E2eScenario::SetUp() {
  EnsureDesktopKept();
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
