// The Change History dialog (resource 112): the change journal's sets as a
// list, newest first, the selected set's changes under it, and Undo. An
// undo is planned first without writing: when values changed since the
// set, nothing is written, they are named, and "Undo anyway" puts the set
// back over them after asking again. So a refused undo leaves the set
// undoable, as it would be after `portmeld undo --check`.
#include "history/history_dialog.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "history/history_dialog_ids.h"
#include "history/journal_file.h"
#include "history/undo.h"
#include "platform/ui.h"

namespace {

// One opening of the dialog: the rows it lists and the handles it keeps.
struct HistoryDialog {
  const HistoryWindowHooks* Hooks;
  HWND Dialog, Warnings, Sets, Reason, Lines, Undo, UndoAnyway;
  HFONT LinesFont;  // fixed pitch, so that the lines' columns align
  Reporter Messages;  // the core's boxes, owned by this dialog
  std::vector<HistoryRow> Rows;  // in list order: newest first
  // The set whose undo was withheld because values changed since it: the
  // one that "Undo anyway" puts back. 0 for none.
  uint64_t OfferedAnyway;
};

struct SetColumn {
  const char* Header;
  int Width;  // dialog units, so that the columns grow with the font and the DPI
};
enum { ID_COLUMN, TIME_COLUMN, USER_COLUMN, PROGRAM_COLUMN, COMMAND_COLUMN, STATE_COLUMN };
const SetColumn SetColumns[] = {{"Set", 20},     {"Time", 70},     {"User", 56},
                                {"Program", 94}, {"Command", 112}, {"State", 84}};

enum { LINES_FONT_POINTS = 9, POINTS_PER_INCH = 72 };

int Ask(const HistoryDialog* d, const std::string& text, UINT style) {
  return d->Hooks->ShowMessage(d->Dialog, text.c_str(), CHANGE_HISTORY_TITLE, style);
}

int ShowReport(void* context, const Report* report) {
  const HistoryDialog* d = static_cast<const HistoryDialog*>(context);
  return d->Hooks->ShowMessage(d->Dialog, report->Text, report->Caption, report->Style);
}

std::string Id(uint64_t id) { return std::to_string(id); }

// The system's words for a Win32 error, without the line break it ends with.
std::string SystemMessage(DWORD error) {
  char text[512] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
    text[--length] = '\0';
  return length ? std::string(text) : "error " + std::to_string(error);
}

// "2026-12-09T09:12:40Z" in this machine's local time, "2026-12-09 10:12:40";
// a time that does not read as one is shown as recorded.
std::string LocalTimeText(const std::string& utc) {
  SYSTEMTIME recorded = {}, local = {};
  unsigned year, month, day, hour, minute, second;
  char zone = 0, tail = 0;
  if (sscanf(utc.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c%c", &year, &month, &day, &hour, &minute,
             &second, &zone, &tail) != 7 ||
      zone != 'Z')
    return utc;
  recorded.wYear = (WORD)year;
  recorded.wMonth = (WORD)month;
  recorded.wDay = (WORD)day;
  recorded.wHour = (WORD)hour;
  recorded.wMinute = (WORD)minute;
  recorded.wSecond = (WORD)second;
  FILETIME check;
  if (!SystemTimeToFileTime(&recorded, &check) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &recorded, &local))
    return utc;
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth,
           local.wDay, local.wHour, local.wMinute, local.wSecond);
  return text;
}

// Why Undo is disabled for the row; "" when it is not.
std::string UndoReason(uint64_t id, UndoAbility ability, uint64_t undoneBy) {
  switch (ability) {
    case UNDO_ABLE_ALREADY_UNDONE:
      return "Change set " + Id(id) + " is already undone by change set " + Id(undoneBy) + ".";
    case UNDO_ABLE_NOTHING:
      return "Change set " + Id(id) +
             " removed devices or reloaded the driver only: that cannot be undone.";
    case UNDO_ABLE_START_UP_ACCESS:
      return "Change set " + Id(id) +
             " gave this program the access lists it needs to write the driver settings. "
             "It is undone from an elevated prompt only: portmeld undo " +
             Id(id);
    case UNDO_ABLE:
      break;
  }
  return "";
}

// A thing the undo left alone, as one line: the port, then the core's words.
std::string IssueLine(const UndoIssue& issue) {
  std::string message = issue.Message;
  if (issue.Error) message += ": " + SystemMessage(issue.Error);
  return (issue.Port.empty() ? std::string() : issue.Port + "  ") + message;
}

void InsertSetColumns(const HistoryDialog* d) {
  for (int i = 0; i < (int)(sizeof SetColumns / sizeof SetColumns[0]); ++i) {
    RECT width = {0, 0, SetColumns[i].Width, 0};
    MapDialogRect(d->Dialog, &width);
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = i == ID_COLUMN ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = width.right;
    column.pszText = const_cast<char*>(SetColumns[i].Header);
    column.iSubItem = i;
    if (SendMessageA(d->Sets, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column) == -1) return;
  }
  SendMessageA(d->Sets, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

void SetCell(HWND list, int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

// One list row per set; stops at the first row the list refuses.
void FillSets(const HistoryDialog* d) {
  for (size_t i = 0; i < d->Rows.size(); ++i) {
    const HistoryRow& row = d->Rows[i];
    std::string id = "#" + Id(row.Id);
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = (int)i;
    item.pszText = const_cast<char*>(id.c_str());
    if (SendMessageA(d->Sets, LVM_INSERTITEMA, 0, (LPARAM)&item) == -1) return;
    SetCell(d->Sets, (int)i, TIME_COLUMN, LocalTimeText(row.Time));
    SetCell(d->Sets, (int)i, USER_COLUMN, row.User);
    SetCell(d->Sets, (int)i, PROGRAM_COLUMN, row.Program);
    SetCell(d->Sets, (int)i, COMMAND_COLUMN, row.Command);
    SetCell(d->Sets, (int)i, STATE_COLUMN, row.State);
  }
}

const HistoryRow* SelectedRow(const HistoryDialog* d) {
  LRESULT item = SendMessageA(d->Sets, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
  if (item < 0 || (size_t)item >= d->Rows.size()) return nullptr;
  return &d->Rows[(size_t)item];
}

void SelectItem(const HistoryDialog* d, int item) {
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(d->Sets, LVM_SETITEMSTATE, (WPARAM)item, (LPARAM)&state);
  SendMessageA(d->Sets, LVM_ENSUREVISIBLE, (WPARAM)item, FALSE);
}

// The selected set's lines, why it cannot be undone, and the buttons.
void ShowSelectedSet(const HistoryDialog* d) {
  const HistoryRow* row = SelectedRow(d);
  if (!row) {
    SetWindowTextA(d->Lines, "");
    EnableWindow(d->Undo, FALSE);
    EnableWindow(d->UndoAnyway, FALSE);
    if (!d->Rows.empty()) SetWindowTextA(d->Reason, "");
    return;
  }
  std::string lines;
  for (const std::string& line : row->Lines) lines += (lines.empty() ? "" : "\r\n") + line;
  SetWindowTextA(d->Lines, lines.c_str());
  SetWindowTextA(d->Reason, UndoReason(row->Id, row->Undo, row->UndoneBy).c_str());
  EnableWindow(d->Undo, row->Undo == UNDO_ABLE);
  EnableWindow(d->UndoAnyway, row->Undo == UNDO_ABLE && row->Id == d->OfferedAnyway);
}

// Reads the journal afresh and lists it; selects the set with the given
// id, or the newest.
void LoadSets(HistoryDialog* d, uint64_t select) {
  std::vector<std::string> warnings;
  std::string failedPath;
  DWORD error = LoadHistoryRows(&d->Rows, &warnings, &failedPath);
  std::string warningText;
  for (const std::string& warning : warnings)
    warningText += (warningText.empty() ? "Warning: " : "\r\nWarning: ") + warning;
  SetWindowTextA(d->Warnings, warningText.c_str());

  SendMessageA(d->Sets, LVM_DELETEALLITEMS, 0, 0);
  if (error != ERROR_SUCCESS) {
    d->Rows.clear();
    SetWindowTextA(d->Reason, ("The change journal cannot be read: " + failedPath + ": " +
                               SystemMessage(error))
                                  .c_str());
  } else if (d->Rows.empty()) {
    SetWindowTextA(d->Reason, "No changes recorded yet.");
  }
  FillSets(d);
  int item = d->Rows.empty() ? -1 : 0;
  for (size_t i = 0; i < d->Rows.size(); ++i)
    if (d->Rows[i].Id == select) item = (int)i;
  if (item != -1) SelectItem(d, item);
  ShowSelectedSet(d);
}

// A fixed-pitch font of the dialog font's size at this DPI.
HFONT MakeLinesFont(HWND dialog) {
  HDC screen = GetDC(dialog);
  int height = -MulDiv(LINES_FONT_POINTS, GetDeviceCaps(screen, LOGPIXELSY), POINTS_PER_INCH);
  ReleaseDC(dialog, screen);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     FIXED_PITCH | FF_MODERN, "Courier New");
}

INT_PTR OnInitDialog(HWND dialog, HistoryDialog* d) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
  d->Dialog = dialog;
  d->Warnings = GetDlgItem(dialog, IDT_HISTORY_WARNINGS);
  d->Sets = GetDlgItem(dialog, IDV_CHANGE_SETS);
  d->Reason = GetDlgItem(dialog, IDT_UNDO_REASON);
  d->Lines = GetDlgItem(dialog, IDE_SET_LINES);
  d->Undo = GetDlgItem(dialog, IDB_UNDO);
  d->UndoAnyway = GetDlgItem(dialog, IDB_UNDO_ANYWAY);
  d->LinesFont = MakeLinesFont(dialog);
  if (d->LinesFont) SendMessageA(d->Lines, WM_SETFONT, (WPARAM)d->LinesFont, FALSE);
  InsertSetColumns(d);
  LoadSets(d, 0);
  SetFocus(d->Sets);
  return FALSE;  // the focus is set
}

// What the written undo left alone or could not write, and how the reload
// went; "" when all went as asked.
std::string UndoOutcomeText(const UndoResult& result) {
  std::string lines;
  for (const UndoIssue& issue : result.Issues) lines += "\n" + IssueLine(issue);
  const ChangeSet& set = result.Set;
  for (const FailedChange& failure : set.Failed) {
    if (failure.Index >= set.Changes.size()) continue;
    const ValueChange& change = set.Changes[failure.Index];
    lines += "\n" + (change.Port.empty() ? std::string() : change.Port + "  ") +
             (failure.Unread ? "cannot read " : "cannot put back ") + change.Value + ": " +
             SystemMessage(failure.Error);
  }
  std::string text;
  if (!lines.empty())
    text = (AnyWritten(set) ? "Change set " + Id(result.UndoneId) + " is undone, except:"
                            : "Nothing of change set " + Id(result.UndoneId) + " was put back:") +
           lines;
  if (set.Reload == RELOAD_FAILED)
    text += (text.empty() ? "Change set " + Id(result.UndoneId) + " is undone, but the driver "
                          : std::string("\n\nThe driver ")) +
            "was not reloaded: " + set.ReloadFailure + ".";
  return text;
}

// A refusal of the core before anything was planned; false when there was none.
bool ShowRefusal(const HistoryDialog* d, const UndoResult& result, uint64_t id) {
  switch (result.Refusal) {
    case UNDO_PLANNED:
      return false;
    case UNDO_JOURNAL_UNREADABLE:
      Ask(d, "The change journal cannot be read: " + result.JournalPath + ": " +
                 SystemMessage(result.JournalError),
          MB_OK | MB_ICONERROR);
      break;
    case UNDO_NO_SET:
      Ask(d, "The change journal holds no change set " + Id(id) + " any more.",
          MB_OK | MB_ICONWARNING);
      break;
    case UNDO_ALREADY_UNDONE:
      Ask(d, UndoReason(id, UNDO_ABLE_ALREADY_UNDONE, result.UndoneBy), MB_OK | MB_ICONWARNING);
      break;
    case UNDO_CANNOT_BE_UNDONE:
      Ask(d, UndoReason(id, UNDO_ABLE_NOTHING, 0), MB_OK | MB_ICONWARNING);
      break;
    case UNDO_WITHHELD:
      break;  // the lock or the journal said no, and that was shown
  }
  return true;
}

UndoRequest RequestFor(uint64_t id, bool force, bool check) {
  // The driver reloads once when the undo wrote, as after the window's
  // other writes; an undo that wrote nothing leaves it alone.
  return {id, force, check, check ? RELOAD_NONE : RELOAD_WHEN_WRITTEN, nullptr, nullptr};
}

// Plans the undo without writing. True when it may go ahead; false when it
// was refused or values changed since the set (shown, and "Undo anyway"
// offered when forcing would put them back).
bool PlanWithoutWriting(HistoryDialog* d, uint64_t id, bool force) {
  UndoResult plain;
  UndoChangeSet(RequestFor(id, force, true), &plain, nullptr);
  if (ShowRefusal(d, plain, id)) return false;
  bool forcible = false;
  for (const UndoIssue& issue : plain.Issues) forcible = forcible || issue.ForceHint;
  if (!force && forcible) {
    std::string lines;
    for (const UndoIssue& issue : plain.Issues) lines += "\n" + IssueLine(issue);
    Ask(d, "Change set " + Id(id) + " was not undone: values it changed were changed since." +
               lines + "\n\n\"Undo anyway\" puts them back too.",
        MB_OK | MB_ICONWARNING);
    d->OfferedAnyway = id;
    ShowSelectedSet(d);
    return false;
  }
  if (plain.Set.Changes.empty() && plain.Issues.empty()) {
    Ask(d, "The registry holds what change set " + Id(id) + " found: nothing to put back.",
        MB_OK | MB_ICONINFORMATION);
    return false;
  }
  return true;
}

// Undo (force false) and Undo anyway (force true) of the selected set.
void OnUndo(HistoryDialog* d, bool force) {
  const HistoryRow* row = SelectedRow(d);
  if (!row || row->Undo != UNDO_ABLE || (force && row->Id != d->OfferedAnyway)) return;
  uint64_t id = row->Id;
  std::string question =
      force ? "Undo change set " + Id(id) +
                  " anyway? The values changed since it are put back to what it found too."
            : "Undo change set " + Id(id) + "? The values it changed are put back.";
  if (Ask(d, question, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
  if (!PlanWithoutWriting(d, id, force)) return;
  if (!d->Hooks->ConfirmPendingEdits(d->Dialog)) return;

  UndoResult result;
  UndoChangeSet(RequestFor(id, force, false), &result, &d->Messages);
  if (ShowRefusal(d, result, id)) {
    LoadSets(d, id);
    return;
  }
  d->OfferedAnyway = 0;
  if (AnyWritten(result.Set)) d->Hooks->ReadPortsAgain();
  LoadSets(d, id);
  std::string outcome = UndoOutcomeText(result);
  if (!outcome.empty()) Ask(d, outcome, MB_OK | MB_ICONWARNING);
}

void OnCommand(HistoryDialog* d, int id) {
  switch (id) {
    case IDB_UNDO:
      OnUndo(d, false);
      break;
    case IDB_UNDO_ANYWAY:
      OnUndo(d, true);
      break;
    case IDB_HISTORY_CLOSE:
      EndDialog(d->Dialog, 1);
      break;
    default:
      break;
  }
}

INT_PTR OnNotify(const HistoryDialog* d, const NMHDR* header) {
  if (header->idFrom != IDV_CHANGE_SETS || header->code != LVN_ITEMCHANGED) return FALSE;
  const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if ((change->uChanged & LVIF_STATE) &&
      ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
    ShowSelectedSet(d);
  return FALSE;
}

INT_PTR CALLBACK HistoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  HistoryDialog* d = reinterpret_cast<HistoryDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, reinterpret_cast<HistoryDialog*>(lParam));
    case WM_COMMAND:
      if (d) OnCommand(d, LOWORD(wParam));
      return TRUE;
    case WM_NOTIFY:
      return d ? OnNotify(d, reinterpret_cast<const NMHDR*>(lParam)) : FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool ShowChangeHistoryDialog(HWND owner, const HistoryWindowHooks& hooks) {
  HistoryDialog d = {};
  d.Hooks = &hooks;
  d.Messages.Function = ShowReport;
  d.Messages.Context = &d;
  INT_PTR result = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_CHANGE_HISTORY), owner,
                                   HistoryDialogProc, reinterpret_cast<LPARAM>(&d));
  if (d.LinesFont) DeleteObject(d.LinesFont);
  // Every opening ends with 1; anything else means it never ran.
  return result == 1;
}
