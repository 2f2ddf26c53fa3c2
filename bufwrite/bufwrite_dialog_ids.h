// Ids of the Buffered Writes dialog (dialog 107).
// Prefixes: IDB button, IDE edit, IDX check box.
#pragma once

#define IDD_BUFFERED_WRITES 107

#define IDB_BUFWRITE_OK 1      // IDOK
#define IDB_BUFWRITE_CANCEL 2  // IDCANCEL: also Esc, and Enter (the default button)
#define IDB_BUFWRITE_APPLY 1003
#define IDE_WRITE_BUFFER_THRESHOLD 1004
#define IDE_WRITE_LATENCY 1005
#define IDE_WRITE_BUFFER_SIZE 1007
#define IDX_ACTIVATE_BUFFERED_WRITES 1008

#define BUFWRITE_DIALOG_TITLE "Buffered Writes Configuration"
