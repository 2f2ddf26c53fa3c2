// Help menu: the About box (dialog 110) and the help document.
#include <windows.h>
#include <shellapi.h>

#include "about_box_ids.h"
#include "app/message_box.h"
#include "app/about_box.h"
#include "platform/ui.h"

// The open About box; every call of its procedure works on it.
static HWND AboutBox;

static void CloseAboutBox() { EndDialog(AboutBox, 1); }

// The picture is 77 by 60 pixels, drawn for 96 DPI. A bitmap static shows
// a bitmap at its own size, so at higher DPI the box gets a copy stretched
// to the DPI; the copy is deleted with the box.
static const int BitmapWidth = 77, BitmapHeight = 60;
static HBITMAP ScaledBitmap;

// The window's DPI: GetDpiForWindow where Windows has it (10, 1607 on),
// else the screen's.
static UINT WindowDpi(HWND window) {
  typedef UINT(WINAPI * GetDpiForWindowFn)(HWND);
  HMODULE user32 = GetModuleHandleA("user32.dll");
  GetDpiForWindowFn getDpi =
      user32 ? (GetDpiForWindowFn)(void*)GetProcAddress(user32, "GetDpiForWindow") : nullptr;
  UINT dpi = getDpi ? getDpi(window) : 0;
  if (dpi == 0) {
    HDC screen = GetDC(nullptr);
    dpi = (UINT)GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  return dpi ? dpi : 96;
}

static HWND BitmapStatic() {
  for (HWND child = GetWindow(AboutBox, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) return child;
  return nullptr;
}

static void ScaleBitmap(UINT dpi) {
  HWND picture = BitmapStatic();
  if (!picture || (dpi == 96 && !ScaledBitmap)) return;
  // Size 0 by 0 loads the picture as drawn (back on a 96 DPI screen).
  int width = dpi == 96 ? 0 : MulDiv(BitmapWidth, (int)dpi, 96);
  int height = dpi == 96 ? 0 : MulDiv(BitmapHeight, (int)dpi, 96);
  HBITMAP scaled = (HBITMAP)LoadImageA(ModuleInstance, "IDB_BITMAP1", IMAGE_BITMAP, width, height, 0);
  if (!scaled) return;  // the picture keeps its size
  SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)scaled);
  if (ScaledBitmap) DeleteObject(ScaledBitmap);
  ScaledBitmap = scaled;
}

static void ReleaseScaledBitmap() {
  if (ScaledBitmap) DeleteObject(ScaledBitmap);
  ScaledBitmap = nullptr;
}

// The shell opens the address in the user's browser; the box stays open.
static void OpenMakerAddress() {
  ShellExecuteA(AboutBox, "open", MAKER_WEB_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
}

static INT_PTR OnAboutCommand(int id) {
  switch (id) {
    case IDCANCEL:  // Escape or the close box
      CloseAboutBox();
      return TRUE;
    case IDS_MAKER_ADDRESS:
      OpenMakerAddress();
      return TRUE;
    default:  // Enter among them: the box has no default button
      return FALSE;
  }
}

// The statics other than the address let clicks through, so a click
// anywhere else on the box arrives here as WM_LBUTTONDOWN and closes it.
static INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      AboutBox = window;
      ScaleBitmap(WindowDpi(window));
      return FALSE;
    case WM_DPICHANGED:  // moved to a screen of another DPI (per-monitor awareness)
      ScaleBitmap(LOWORD(wParam));
      return FALSE;
    case WM_DESTROY:
      ReleaseScaledBitmap();
      return FALSE;
    case WM_COMMAND:
      return OnAboutCommand(LOWORD(wParam));
    case WM_LBUTTONDOWN:
      CloseAboutBox();
      return TRUE;
    default:
      return FALSE;
  }
}

void RunAboutCommand() {
  INT_PTR result =
      DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), MainWindow, AboutProc, 0);
  AboutBox = nullptr;
  // The box ends with 1; anything else means it never ran.
  if (result != 1) ShowDialogFailed();
}

void RunViewHelpCommand() {
  ShellExecuteA(MainWindow, "open", HELP_DOCUMENT_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
}
