// Message boxes centred on the mouse pointer, and tooltips.
#include <windows.h>
#include <commctrl.h>

#include "app/message_box.h"
#include "platform/ui.h"

static HHOOK CursorHook;

// Runs after a window procedure of this thread has handled a message; the
// first WM_INITDIALOG it sees is the message box's own.
static LRESULT CALLBACK CursorHookProc(int code, WPARAM wParam, LPARAM lParam) {
  LRESULT result = CallNextHookEx(CursorHook, code, wParam, lParam);
  const CWPRETSTRUCT* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && message->message == WM_INITDIALOG) {
    UnhookWindowsHookEx(CursorHook);
    CursorHook = nullptr;
    RECT box;
    POINT pointer;
    GetWindowRect(message->hwnd, &box);
    GetCursorPos(&pointer);
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    MoveWindow(message->hwnd, pointer.x - width / 2, pointer.y - height / 2, width, height, TRUE);
  }
  return result;
}

int MessageBoxAtCursor(HWND owner, const char* text, const char* caption, UINT style) {
  CursorHook = SetWindowsHookExA(WH_CALLWNDPROCRET, CursorHookProc, nullptr, GetCurrentThreadId());
  int result = MessageBoxA(owner, text, caption, style);
  if (CursorHook) {
    UnhookWindowsHookEx(CursorHook);
    CursorHook = nullptr;
  }
  return result;
}

static int ShowReportAtCursor(void*, const Report* report) {
  return MessageBoxAtCursor(MainWindow, report->Text, report->Caption, report->Style);
}

const Reporter MainWindowMessages = {ShowReportAtCursor, nullptr};

HWND AddTooltip(int controlId, HWND dialog, const char* text) {
  if (controlId == 0 || !dialog || !text) return nullptr;
  HWND control = GetDlgItem(dialog, controlId);
  HWND tooltip = CreateWindowExA(
      0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ModuleInstance, nullptr);
  if (!control || !tooltip) {
    // Nothing to attach to: do not leave an idle tooltip window behind.
    if (tooltip) DestroyWindow(tooltip);
    return nullptr;
  }
  SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);

  TOOLINFOA tool = {};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;  // without lpReserved: accepted by every comctl32
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<char*>(text);
  SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  return tooltip;
}

void ShowNoSelection() {
  MessageBoxAtCursor(MainWindow, "Please select COM-Port", "No Selection", MB_OK | MB_ICONWARNING);
}

void ShowDialogFailed() {
  MessageBoxAtCursor(MainWindow, "Dialog failed!", "Error", MB_OK | MB_ICONERROR);
}
