// Ids of the Change History dialog (dialog 112).
// Prefixes: IDB button, IDE edit, IDT static text, IDV list view. Close is
// IDCANCEL, so Escape and the close box end the dialog too.
#pragma once

#define IDD_CHANGE_HISTORY 112

#define IDT_HISTORY_WARNINGS 1201
#define IDV_CHANGE_SETS 1202
#define IDT_UNDO_REASON 1203
#define IDE_SET_LINES 1204
#define IDB_UNDO 1205
#define IDB_UNDO_ANYWAY 1206
#define IDB_HISTORY_CLOSE 2  // IDCANCEL

// Texts shared by the resource and the code.
#define CHANGE_HISTORY_TITLE "Change History"
