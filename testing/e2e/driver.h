// End-to-end driver: starts PortmeldConfigurator.exe beside this program and
// works its windows from outside, as a user would. Everything here runs in
// the driver's process; the program under test is a separate Windows process
// on the same Wine desktop.
//
// Operations return 1 for done and 0 for failed; a failure leaves its reason
// in AppSession::Error. The step language (steps.h) is built on these.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Waits are bounded: a window that does not come is a failure, not a hang.
enum : DWORD {
  FIRST_WINDOW_WAIT_MS = 20000,  // a cold Wine desktop takes a few seconds
  WINDOW_WAIT_MS = 10000,
  EXIT_WAIT_MS = 10000,
  BLOCKED_WAIT_MS = 1500,  // a message box that stays this long blocks the wait
  PAINT_WAIT_MS = 2000,
  SEND_TIMEOUT_MS = 5000,
};

struct AppSession {
  std::string Name;        // names the output and screenshot files
  std::string OutputPath;  // the program's stdout and stderr; set by LaunchProgram when empty
  PROCESS_INFORMATION Process;
  bool Launched;
  std::vector<HWND> Dialogs;  // dialogs entered with WaitForDialog, innermost last
  HWND Box;                   // the message box found last and not yet answered
  std::string Error;          // reason of the last failure
};

void InitSession(AppSession* app, const std::string& name);

// Folders, as Windows paths without a trailing backslash.
std::string ExeDirectory();      // where this program (and PortmeldConfigurator.exe) lives
std::string ResultsDirectory();  // <build>/results, beside <build>/bin; created on demand
// A name made safe for a file name ("Suite/Case.0" -> "Suite_Case.0").
std::string FileSafeName(const std::string& name);

// Starts <ExeDirectory>\<exe> through the process runner (runner/process_runner.h)
// with this process's environment (so the stand-in variables set by
// WriteStandinDevices reach it) and its output in a file.
int LaunchProgram(AppSession* app, const char* exe = "PortmeldConfigurator.exe");
bool ProgramRunning(const AppSession* app);
// Waits for the program to end; 0 when it is still running after the wait.
int WaitForExit(AppSession* app, DWORD timeoutMs, DWORD* exitCode);
// Kills the program if it still runs and releases the handles.
void EndProgram(AppSession* app);
// The captured output of the program (crash reports land here).
std::string ProgramOutput(const AppSession* app);

// The dialog that steps work on: the innermost entered dialog still open.
HWND CurrentDialog(AppSession* app);
// Waits for a visible "#32770" window of the program with this caption and
// makes it the current dialog.
HWND WaitForDialog(AppSession* app, const char* caption, DWORD timeoutMs);
// Waits for a message box of the program with this caption (any other
// window than the entered dialogs) and remembers it as the open box.
HWND WaitForMessageBox(AppSession* app, const char* caption, DWORD timeoutMs);
// The text of a message box.
std::string MessageBoxText(HWND box);
// Clicks a button of the open box and waits until the box has gone.
int AnswerMessageBox(AppSession* app, int button);
// Windows of the program that are visible "#32770" windows but not entered
// dialogs: message boxes and dialogs nobody waited for.
std::vector<HWND> UnexpectedWindows(AppSession* app);
// One line per visible window of the program, for failure reports.
std::string DescribeWindows(AppSession* app);

// Lets the program handle everything sent so far: WM_NULL round trips until
// the program's windows stayed the same for two rounds in a row, then until
// none of its windows waits to be painted. A click that opens a box, or a
// close box that posts IDCANCEL, has shown its result (on screen too) when
// this returns.
int Settle(AppSession* app);

// Has every window of the program painted afresh, frames included, and
// waits for it: a picture taken right after a window appeared can miss
// its caption.
int RepaintProgram(AppSession* app);

// Input to a control of the current dialog; each settles afterwards.
int SetControlText(AppSession* app, int id, const char* text);  // WM_SETTEXT
int ClickControl(AppSession* app, int id);                      // BM_CLICK, posted
int PostCommand(AppSession* app, int id);                       // WM_COMMAND, posted (menus)
int SelectListRow(AppSession* app, int id, int row);            // LB_SETCURSEL + LBN_SELCHANGE
int PressKey(AppSession* app, int virtualKey);                  // to the focused control
int PressCloseBox(AppSession* app);                             // SC_CLOSE, posted

// For helpers built on the driver: records a failure's reason (returns 0),
// finds a control of the current dialog (null, with the reason, when
// missing), and sends a message with the driver's timeout (0 on none).
int FailStep(AppSession* app, const std::string& reason);
HWND FindControl(AppSession* app, int id);
int SendToProgram(AppSession* app, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                  LRESULT* result);

// Reading controls of a dialog; 0 when the control is missing or does not answer.
int ReadControlText(AppSession* app, int id, std::string* text);  // WM_GETTEXT
int ReadCheck(AppSession* app, int id, int* state);               // BM_GETCHECK
int ReadEnabled(AppSession* app, int id, int* enabled);
int ReadListCount(AppSession* app, int id, int* count);           // LB_GETCOUNT
int ReadListSelection(AppSession* app, int id, int* row);         // LB_GETCURSEL
int ReadListRowText(AppSession* app, int id, int row, std::string* text);  // LB_GETTEXT, "W"

// Moves the pointer; stale pointer events can move it back, so it is set
// twice with a short pause.
int PlacePointer(int x, int y);

// Saves the screen (area null) or a part of it as a 24-bit .bmp file.
int SaveScreenshot(const std::string& path, const RECT* area);
