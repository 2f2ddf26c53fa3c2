#include "listview_remote.h"

#include <windows.h>
#include <commctrl.h>

#include <string.h>

namespace {

const DWORD TimeoutMs = SEND_TIMEOUT_MS;
const int CellTextSize = 256;

// A block of the program's memory for one message: a structure followed by
// a text buffer. Released when it goes out of scope.
struct RemoteBlock {
  HANDLE Process;
  unsigned char* Base;
  SIZE_T Size;

  RemoteBlock(AppSession* app, SIZE_T size) : Process(app->Process.hProcess), Size(size) {
    Base = static_cast<unsigned char*>(
        VirtualAllocEx(Process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  ~RemoteBlock() {
    if (Base) VirtualFreeEx(Process, Base, 0, MEM_RELEASE);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  bool Write(SIZE_T offset, const void* data, SIZE_T size) {
    SIZE_T done = 0;
    return Base && WriteProcessMemory(Process, Base + offset, data, size, &done) && done == size;
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) {
    SIZE_T done = 0;
    return Base && ReadProcessMemory(Process, Base + offset, data, size, &done) && done == size;
  }
};

}  // namespace

int ReadListViewCount(AppSession* app, int id, int* count) {
  HWND list = FindControl(app, id);
  LRESULT result = 0;
  if (!list || !SendToProgram(app, list, LVM_GETITEMCOUNT, 0, 0, &result)) return 0;
  *count = static_cast<int>(result);
  return 1;
}

int ReadListViewCell(AppSession* app, int id, int row, int column, std::string* text) {
  HWND list = FindControl(app, id);
  if (!list) return 0;
  RemoteBlock block(app, sizeof(LVITEMA) + CellTextSize);
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<char*>(block.Base + sizeof(LVITEMA));
  item.cchTextMax = CellTextSize;
  char buffer[CellTextSize] = "";
  if (!block.Write(0, &item, sizeof item) || !block.Write(sizeof item, buffer, sizeof buffer))
    return FailStep(app, "cannot write into the program's memory");
  LRESULT length = 0;
  if (!SendToProgram(app, list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
            reinterpret_cast<LPARAM>(block.Base), &length))
    return 0;
  if (!block.Read(sizeof item, buffer, sizeof buffer))
    return FailStep(app, "cannot read the program's memory");
  buffer[CellTextSize - 1] = '\0';
  *text = buffer;
  return 1;
}

int ReadListViewColumn(AppSession* app, int id, int column, ListViewColumn* out) {
  HWND list = FindControl(app, id);
  if (!list) return 0;
  RemoteBlock block(app, sizeof(LVCOLUMNA) + CellTextSize);
  LVCOLUMNA info = {};
  info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  info.pszText = reinterpret_cast<char*>(block.Base + sizeof(LVCOLUMNA));
  info.cchTextMax = CellTextSize;
  if (!block.Write(0, &info, sizeof info))
    return FailStep(app, "cannot write into the program's memory");
  LRESULT done = 0;
  if (!SendToProgram(app, list, LVM_GETCOLUMNA, static_cast<WPARAM>(column),
            reinterpret_cast<LPARAM>(block.Base), &done))
    return 0;
  if (!done) return FailStep(app, "the list has no column " + std::to_string(column));
  char header[CellTextSize] = "";
  if (!block.Read(0, &info, sizeof info) || !block.Read(sizeof info, header, sizeof header))
    return FailStep(app, "cannot read the program's memory");
  header[CellTextSize - 1] = '\0';
  out->Header = header;
  out->Width = info.cx;
  out->Format = info.fmt & LVCFMT_JUSTIFYMASK;
  return 1;
}

int SelectListViewRows(AppSession* app, int id, const std::vector<int>& rows) {
  HWND list = FindControl(app, id);
  if (!list) return 0;
  RemoteBlock block(app, sizeof(LVITEMA));
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = 0;
  LRESULT done = 0;
  // Row -1 stands for every row: clear the selection first.
  if (!block.Write(0, &item, sizeof item) ||
      !SendToProgram(app, list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
            reinterpret_cast<LPARAM>(block.Base), &done))
    return FailStep(app, app->Error.empty() ? "cannot clear the selection" : app->Error);
  item.state = LVIS_SELECTED;
  for (int row : rows) {
    if (!block.Write(0, &item, sizeof item) ||
        !SendToProgram(app, list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
              reinterpret_cast<LPARAM>(block.Base), &done))
      return 0;
    if (!done) return FailStep(app, "the list has no row " + std::to_string(row));
  }
  return Settle(app);
}

int ReadListViewSelection(AppSession* app, int id, std::vector<int>* rows) {
  int count = 0;
  if (!ReadListViewCount(app, id, &count)) return 0;
  HWND list = FindControl(app, id);
  rows->clear();
  for (int row = 0; row < count; ++row) {
    LRESULT state = 0;
    if (!SendToProgram(app, list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED, &state))
      return 0;
    if (state & LVIS_SELECTED) rows->push_back(row);
  }
  return 1;
}

int ReadEditSelection(AppSession* app, int id, int* start, int* end) {
  HWND edit = FindControl(app, id);
  LRESULT packed = 0;
  // Without pointers EM_GETSEL packs both ends into its result.
  if (!edit || !SendToProgram(app, edit, EM_GETSEL, 0, 0, &packed)) return 0;
  *start = LOWORD(packed);
  *end = HIWORD(packed);
  return 1;
}

int ReadEditReadOnly(AppSession* app, int id, int* readOnly) {
  HWND edit = FindControl(app, id);
  if (!edit) return 0;
  *readOnly = (GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) ? 1 : 0;
  return 1;
}

int ReadDialogTexts(AppSession* app, std::vector<std::string>* texts) {
  HWND dialog = CurrentDialog(app);
  if (!dialog) return FailStep(app, "no dialog is open");
  texts->clear();
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char text[512] = "";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_NORMAL, TimeoutMs, &length))
      return FailStep(app, "a control of the dialog does not answer WM_GETTEXT");
    texts->push_back(std::string(text, length < sizeof text ? length : sizeof text - 1));
  }
  return 1;
}

int PressKeyIn(AppSession* app, int id, int virtualKey) {
  HWND control = FindControl(app, id);
  if (!control) return 0;
  PostMessageA(control, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
  PostMessageA(control, WM_KEYUP, static_cast<WPARAM>(virtualKey), 0xC0000001);
  return Settle(app);
}

HWND OpenBoxOwner(AppSession* app) {
  if (!app->Box || !IsWindow(app->Box)) return nullptr;
  return GetWindow(app->Box, GW_OWNER);
}
