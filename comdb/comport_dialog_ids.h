// Ids of the COM Port Assignment dialog (dialog 108).
// Prefixes: IDE edit, IDL list, IDU up-down. OK and Cancel are IDOK and IDCANCEL.
#pragma once

#define IDD_COM_PORT 108

#define IDE_NEW_NUMBER 1004
#define IDL_FREE_NUMBERS 40006
#define IDE_SELECTED_PORT 40007
#define IDU_NEW_NUMBER 40011

// Texts shared by the resource and the code.
#define COM_PORT_DIALOG_TITLE "COM Port Assignment"
