#include "e2e/driver.h"

#include "runner/process_runner.h"

#include <stdio.h>
#include <string.h>

namespace {

const char DialogClass[] = "#32770";
const int MessageBoxTextId = 0xFFFF;  // the static that holds a message box's text
const DWORD PollMs = 20;

int Fail(AppSession* app, const std::string& reason) {
  app->Error = reason;
  return 0;
}

std::string WindowCaption(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

bool IsDialogClass(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return strcmp(name, DialogClass) == 0;
}

struct WindowSearch {
  DWORD ProcessId;
  std::vector<HWND> Found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->ProcessId) search->Found.push_back(window);
  return TRUE;
}

// Top-level windows of the program, in z-order.
std::vector<HWND> ProgramWindows(const AppSession* app) {
  WindowSearch search = {app->Process.dwProcessId, {}};
  if (app->Launched) EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

bool IsEntered(const AppSession* app, HWND window) {
  for (HWND dialog : app->Dialogs)
    if (dialog == window) return true;
  return false;
}

// What Settle compares between rounds: which windows are there, shown,
// enabled and what their captions say.
std::string WindowState(const AppSession* app) {
  std::string state;
  for (HWND window : ProgramWindows(app)) {
    char line[64];
    snprintf(line, sizeof line, "%p:%d%d:", static_cast<void*>(window),
             IsWindowVisible(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0);
    state += line + WindowCaption(window) + "\n";
  }
  return state;
}

bool NeedsPaint(HWND window) {
  if (!IsWindowVisible(window)) return false;
  if (GetUpdateRect(window, nullptr, FALSE)) return true;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (NeedsPaint(child)) return true;
  return false;
}

bool PendingPaint(const AppSession* app) {
  for (HWND window : ProgramWindows(app))
    if (NeedsPaint(window)) return true;
  return false;
}

// A window of the program that can take a WM_NULL: the open box, the
// current dialog, or any window it has.
HWND AnyProgramWindow(AppSession* app) {
  if (app->Box && IsWindow(app->Box)) return app->Box;
  HWND current = CurrentDialog(app);
  if (current) return current;
  std::vector<HWND> windows = ProgramWindows(app);
  return windows.empty() ? nullptr : windows.front();
}

// The control of the current dialog, or null with the reason in Error.
HWND Control(AppSession* app, int id) {
  HWND dialog = CurrentDialog(app);
  if (!dialog) {
    Fail(app, "no dialog is open to look for control " + std::to_string(id) + " in");
    return nullptr;
  }
  HWND control = GetDlgItem(dialog, id);
  if (!control)
    Fail(app, "control " + std::to_string(id) + " not found in \"" + WindowCaption(dialog) + "\"");
  return control;
}

int SendTo(AppSession* app, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
           DWORD_PTR* result) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS, &r))
    return Fail(app, "no answer to message " + std::to_string(message) +
                         " (the program is busy or gone)");
  if (result) *result = r;
  return 1;
}

void EnsureDirectory(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

}  // namespace

void InitSession(AppSession* app, const std::string& name) {
  app->Name = name;
  app->OutputPath.clear();
  ZeroMemory(&app->Process, sizeof app->Process);
  app->Launched = false;
  app->Dialogs.clear();
  app->Box = nullptr;
  app->Error.clear();
}

std::string ExeDirectory() {
  char path[MAX_PATH] = "";
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  char* slash = strrchr(path, '\\');
  if (slash) *slash = '\0';
  return path;
}

std::string ResultsDirectory() {
  std::string dir = ExeDirectory() + "\\..\\results";
  EnsureDirectory(dir);
  return dir;
}

std::string FileSafeName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe)
    if (strchr("/\\:*?\"<>| ", c)) c = '_';
  return safe;
}

int LaunchProgram(AppSession* app, const char* exe) {
  if (app->Launched) return Fail(app, "the program was already started in this scenario");
  if (app->OutputPath.empty()) {
    std::string dir = ResultsDirectory() + "\\e2e-output";
    EnsureDirectory(dir);
    app->OutputPath = dir + "\\" + FileSafeName(app->Name) + ".txt";
  }
  Launch launch;
  launch.Exe = ExeDirectory() + "\\" + exe;
  launch.Folder = ExeDirectory();
  launch.OutPath = app->OutputPath;
  launch.NoteInOutput = true;
  RunningProcess process;
  std::string error;
  if (!StartProcess(launch, &process, &error)) return Fail(app, error);
  app->Process = process.Info;
  app->Launched = true;
  return 1;
}

bool ProgramRunning(const AppSession* app) {
  return app->Launched && WaitForSingleObject(app->Process.hProcess, 0) == WAIT_TIMEOUT;
}

int WaitForExit(AppSession* app, DWORD timeoutMs, DWORD* exitCode) {
  if (!app->Launched) return Fail(app, "the program was not started");
  if (WaitForSingleObject(app->Process.hProcess, timeoutMs) != WAIT_OBJECT_0)
    return Fail(app, "the program is still running after " + std::to_string(timeoutMs) + " ms\n" +
                         DescribeWindows(app));
  GetExitCodeProcess(app->Process.hProcess, exitCode);
  return 1;
}

void EndProgram(AppSession* app) {
  if (!app->Launched) return;
  if (ProgramRunning(app)) {
    TerminateProcess(app->Process.hProcess, 1);
    WaitForSingleObject(app->Process.hProcess, EXIT_WAIT_MS);
  }
  CloseHandle(app->Process.hThread);
  CloseHandle(app->Process.hProcess);
  ZeroMemory(&app->Process, sizeof app->Process);
  app->Launched = false;
  app->Dialogs.clear();
  app->Box = nullptr;
}

std::string ProgramOutput(const AppSession* app) {
  return app->OutputPath.empty() ? "" : ReadTextFile(app->OutputPath);
}

HWND CurrentDialog(AppSession* app) {
  while (!app->Dialogs.empty() && !IsWindow(app->Dialogs.back())) app->Dialogs.pop_back();
  return app->Dialogs.empty() ? nullptr : app->Dialogs.back();
}

namespace {

// Polls the program's windows until one matches; reports the program's
// windows (or its end and output) when none comes in time.
HWND WaitForWindow(AppSession* app, const char* caption, DWORD timeoutMs, bool box) {
  if (!app->Launched) {
    Fail(app, "the program was not started");
    return nullptr;
  }
  DWORD start = GetTickCount();
  DWORD blockedSince = 0;
  for (;;) {
    bool boxOpen = false;
    for (HWND window : ProgramWindows(app)) {
      if (!IsWindowVisible(window) || !IsDialogClass(window)) continue;
      bool boxLike = !IsEntered(app, window) && GetDlgItem(window, MessageBoxTextId);
      boxOpen = boxOpen || boxLike;
      if (WindowCaption(window) != caption) continue;
      if (box && !boxLike) continue;
      return window;
    }
    // The program runs on one thread: while a message box waits for the
    // user, no other window can come, so there is no point waiting it out.
    if (!box && boxOpen) {
      if (!blockedSince) blockedSince = GetTickCount();
      if (GetTickCount() - blockedSince > BLOCKED_WAIT_MS) {
        Fail(app, std::string("no window \"") + caption +
                      "\": a message box waits for an answer; the program shows:\n" +
                      DescribeWindows(app));
        return nullptr;
      }
    } else {
      blockedSince = 0;
    }
    if (!ProgramRunning(app)) {
      DWORD code = 0;
      GetExitCodeProcess(app->Process.hProcess, &code);
      Fail(app, std::string("the program ended (exit code ") + std::to_string(code) +
                    ") before showing \"" + caption + "\"; its output:\n" + ProgramOutput(app));
      return nullptr;
    }
    if (GetTickCount() - start > timeoutMs) {
      Fail(app, std::string(box ? "no message box" : "no window") + " \"" + caption + "\" within " +
                    std::to_string(timeoutMs) + " ms; the program shows:\n" +
                    DescribeWindows(app));
      return nullptr;
    }
    Sleep(PollMs);
  }
}

}  // namespace

HWND WaitForDialog(AppSession* app, const char* caption, DWORD timeoutMs) {
  HWND window = WaitForWindow(app, caption, timeoutMs, false);
  if (!window) return nullptr;
  if (!IsEntered(app, window)) app->Dialogs.push_back(window);
  // A dialog that is reached again becomes the innermost one.
  while (CurrentDialog(app) != window) app->Dialogs.pop_back();
  // Its initialisation may still have posted work; let it finish.
  return Settle(app) ? window : nullptr;
}

HWND WaitForMessageBox(AppSession* app, const char* caption, DWORD timeoutMs) {
  HWND box = WaitForWindow(app, caption, timeoutMs, true);
  app->Box = box;
  return box && Settle(app) ? box : nullptr;
}

std::string MessageBoxText(HWND box) {
  char text[2048] = "";
  GetDlgItemTextA(box, MessageBoxTextId, text, sizeof text);
  return text;
}

int AnswerMessageBox(AppSession* app, int button) {
  HWND box = app->Box;
  if (!box || !IsWindow(box)) return Fail(app, "no message box is open to answer");
  HWND control = GetDlgItem(box, button);
  if (!control)
    return Fail(app, "the message box \"" + MessageBoxText(box) + "\" has no button " +
                         std::to_string(button));
  PostMessageA(control, BM_CLICK, 0, 0);
  DWORD start = GetTickCount();
  while (IsWindow(box)) {
    if (GetTickCount() - start > WINDOW_WAIT_MS)
      return Fail(app, "the message box did not close after its button " + std::to_string(button));
    Sleep(PollMs / 2);
  }
  app->Box = nullptr;
  return Settle(app);
}

std::vector<HWND> UnexpectedWindows(AppSession* app) {
  std::vector<HWND> found;
  for (HWND window : ProgramWindows(app))
    if (IsWindowVisible(window) && IsDialogClass(window) && !IsEntered(app, window))
      found.push_back(window);
  return found;
}

std::string DescribeWindows(AppSession* app) {
  std::string text;
  for (HWND window : ProgramWindows(app)) {
    if (!IsWindowVisible(window)) continue;
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    text += std::string("  [") + name + "] \"" + WindowCaption(window) + "\"";
    if (IsDialogClass(window) && GetDlgItem(window, MessageBoxTextId))
      text += " text \"" + MessageBoxText(window) + "\"";
    text += "\n";
  }
  if (text.empty()) text = ProgramRunning(app) ? "  (no visible window)\n" : "  (not running)\n";
  return text;
}

int Settle(AppSession* app) {
  std::string before = WindowState(app);
  int quiet = 0;
  for (int round = 0; round < 200 && quiet < 2; ++round) {
    HWND target = AnyProgramWindow(app);
    if (target) {
      DWORD_PTR r = 0;
      SendMessageTimeoutA(target, WM_NULL, 0, 0, SMTO_NORMAL, SEND_TIMEOUT_MS, &r);
    }
    Sleep(5);
    std::string now = WindowState(app);
    quiet = now == before ? quiet + 1 : 0;
    before = now;
  }
  if (quiet < 2) return Fail(app, "the program's windows kept changing");
  // Painting comes last in a thread's queue; screenshots and pixel checks
  // need it done. A window that never validates only costs the wait.
  DWORD start = GetTickCount();
  while (PendingPaint(app) && GetTickCount() - start < PAINT_WAIT_MS) Sleep(5);
  return 1;
}

int RepaintProgram(AppSession* app) {
  // Invalidated, not painted from here: a synchronous repaint would hang
  // the driver on a hung program. Settle waits for the painting.
  for (HWND window : ProgramWindows(app))
    if (IsWindowVisible(window))
      RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  return Settle(app);
}

int SetControlText(AppSession* app, int id, const char* text) {
  HWND control = Control(app, id);
  if (!control) return 0;
  if (!SendTo(app, control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), nullptr)) return 0;
  return Settle(app);
}

int ClickControl(AppSession* app, int id) {
  HWND control = Control(app, id);
  if (!control) return 0;
  // Posted: a sent click that opens a modal box would block the driver.
  PostMessageA(control, BM_CLICK, 0, 0);
  return Settle(app);
}

int PostCommand(AppSession* app, int id) {
  HWND dialog = CurrentDialog(app);
  if (!dialog) return Fail(app, "no dialog is open to take command " + std::to_string(id));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, 0), 0);
  return Settle(app);
}

int SelectListRow(AppSession* app, int id, int row) {
  HWND list = Control(app, id);
  if (!list) return 0;
  DWORD_PTR result = 0;
  if (!SendTo(app, list, LB_SETCURSEL, static_cast<WPARAM>(row), 0, &result)) return 0;
  if (static_cast<LRESULT>(result) == LB_ERR && row >= 0)
    return Fail(app, "list " + std::to_string(id) + " has no row " + std::to_string(row));
  // LB_SETCURSEL does not notify; a user's click would.
  PostMessageA(CurrentDialog(app), WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
  return Settle(app);
}

int PressKey(AppSession* app, int virtualKey) {
  HWND dialog = CurrentDialog(app);
  if (!dialog) return Fail(app, "no dialog is open to take a key");
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  HWND target = dialog;
  if (GetGUIThreadInfo(app->Process.dwThreadId, &info) && info.hwndFocus) target = info.hwndFocus;
  PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
  PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(virtualKey), 0xC0000001);
  return Settle(app);
}

int PressCloseBox(AppSession* app) {
  HWND dialog = CurrentDialog(app);
  if (!dialog) return Fail(app, "no dialog is open to close");
  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return Settle(app);
}

int ReadControlText(AppSession* app, int id, std::string* text) {
  HWND control = Control(app, id);
  if (!control) return 0;
  char buffer[4096] = "";
  DWORD_PTR length = 0;
  if (!SendTo(app, control, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), &length))
    return 0;
  text->assign(buffer, length < sizeof buffer ? length : sizeof buffer - 1);
  return 1;
}

int ReadCheck(AppSession* app, int id, int* state) {
  HWND control = Control(app, id);
  if (!control) return 0;
  DWORD_PTR result = 0;
  if (!SendTo(app, control, BM_GETCHECK, 0, 0, &result)) return 0;
  *state = static_cast<int>(result);
  return 1;
}

int ReadEnabled(AppSession* app, int id, int* enabled) {
  HWND control = Control(app, id);
  if (!control) return 0;
  *enabled = IsWindowEnabled(control) ? 1 : 0;
  return 1;
}

int ReadListCount(AppSession* app, int id, int* count) {
  HWND list = Control(app, id);
  if (!list) return 0;
  DWORD_PTR result = 0;
  if (!SendTo(app, list, LB_GETCOUNT, 0, 0, &result)) return 0;
  *count = static_cast<int>(result);
  return 1;
}

int ReadListSelection(AppSession* app, int id, int* row) {
  HWND list = Control(app, id);
  if (!list) return 0;
  DWORD_PTR result = 0;
  if (!SendTo(app, list, LB_GETCURSEL, 0, 0, &result)) return 0;
  *row = static_cast<int>(static_cast<LRESULT>(result));
  return 1;
}

int ReadListRowText(AppSession* app, int id, int row, std::string* text) {
  HWND list = Control(app, id);
  if (!list) return 0;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0, SMTO_NORMAL,
                           SEND_TIMEOUT_MS, &length) ||
      static_cast<LRESULT>(length) == LB_ERR)
    return Fail(app, "list " + std::to_string(id) + " has no row " + std::to_string(row));
  // Read through the "W" call: under Wine the "A" call hands another
  // process UTF-16 text.
  std::vector<wchar_t> wide(length + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(list, LB_GETTEXT, static_cast<WPARAM>(row),
                           reinterpret_cast<LPARAM>(wide.data()), SMTO_NORMAL, SEND_TIMEOUT_MS,
                           &got))
    return Fail(app, "list " + std::to_string(id) + " did not answer LB_GETTEXT");
  char narrow[1024] = "";
  WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, narrow, sizeof narrow, nullptr, nullptr);
  *text = narrow;
  return 1;
}

int PlacePointer(int x, int y) {
  if (!SetCursorPos(x, y)) return 0;
  Sleep(50);
  if (!SetCursorPos(x, y)) return 0;
  Sleep(20);
  POINT at;
  return GetCursorPos(&at) && at.x == x && at.y == y;
}

int SaveScreenshot(const std::string& path, const RECT* area) {
  RECT rect;
  if (area) {
    rect = *area;
  } else {
    rect.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    rect.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    rect.right = rect.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    rect.bottom = rect.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
  }
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return 0;
  HDC screen = GetDC(nullptr);
  if (!screen) return 0;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  int done = 0;
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as .bmp files store rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    std::vector<unsigned char> pixels(stride * static_cast<DWORD>(height));
    if (GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == height) {
      BITMAPFILEHEADER header = {};
      header.bfType = 0x4D42;  // "BM"
      header.bfOffBits = sizeof header + sizeof info;
      header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
      FILE* file = fopen(path.c_str(), "wb");
      if (file) {
        done = fwrite(&header, sizeof header, 1, file) == 1 &&
               fwrite(&info, sizeof info, 1, file) == 1 &&
               fwrite(pixels.data(), pixels.size(), 1, file) == 1;
        done = (fclose(file) == 0) && done;
      }
    }
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return done;
}

int FailStep(AppSession* app, const std::string& reason) { return Fail(app, reason); }

HWND FindControl(AppSession* app, int id) { return Control(app, id); }

int SendToProgram(AppSession* app, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                  LRESULT* result) {
  DWORD_PTR r = 0;
  if (!SendTo(app, window, message, wParam, lParam, &r)) return 0;
  if (result) *result = static_cast<LRESULT>(r);
  return 1;
}
