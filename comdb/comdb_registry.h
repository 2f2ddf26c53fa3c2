// Reading and writing the system's ComDB value (COM Name Arbiter) for the
// selected port's record. The value is kept whole as read, so that writing
// it back changes only the bits the rename touched, whatever its length.
#pragma once

#include <windows.h>

// Reads ComDB into the ComDB field of the record at SelectedIndex and keeps
// the whole value for WriteComDb. 1 when read; 0 after a message owned by
// owner, and then nothing is kept: WriteComDb refuses until a read succeeds.
int ReadComDb(HWND owner);

// Writes the value kept by the last ReadComDb back, at its length, with the
// selected record's ComDB field over its first bytes. 1 when written; 0
// after a message owned by owner.
int WriteComDb(HWND owner);

// The plain message box of the COM numbering messages (not centred on the
// pointer). Defined with the COM Port Assignment dialog in the program;
// component tests link a recording substitute.
int ComPortMessageBox(HWND owner, const char* text, const char* caption, UINT style);
