// Component tests link this in place of the COM numbering messages' plain
// message box. In the test program MessageBoxAtCursor is the recording sink,
// so these messages are recorded and answered with all the others.
#include "comdb/comdb_registry.h"
#include "platform/ui.h"

int ComPortMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
  return MessageBoxAtCursor(owner, text, caption, style);
}
