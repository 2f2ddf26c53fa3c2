// Ids of the Baud Rate Mapping dialog (dialog 105).
// Prefixes: IDB button, IDE edit, IDV list view.
#pragma once

#define IDD_BAUD_RATE_MAPPING 105

// OK and Cancel are not IDOK and IDCANCEL: Esc still sends IDCANCEL.
#define IDB_BAUD_OK 1000
#define IDB_BAUD_CANCEL 1001
#define IDV_ALIASES 1002
#define IDB_ADD 1003
#define IDB_BAUD_APPLY 1004
#define IDB_RESTORE_DEFAULTS 1005
#define IDE_CLOSEST_BAUD 1006
#define IDE_DESIRED_BAUD 1007
#define IDE_ERROR_PERCENT 1008
#define IDB_GENERATE 1009
#define IDB_TARNLINK_STANDARD 1019

#define BAUD_DIALOG_TITLE "Baud Rate Mapping"
