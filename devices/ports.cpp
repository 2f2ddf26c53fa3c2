#include "devices/ports.h"

#include <stdio.h>

#include "platform/serial.h"
#include "platform/ui.h"

int CloseAllPorts() {
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  for (int n = 1; n <= HIGHEST_COM_NUMBER; n++) {
    char name[16];
    snprintf(name, sizeof name, "COM%d", n);
    if (!SerialPortExists(name)) continue;
    HANDLE port = OpenSerialPortExclusive(name);
    if (port == INVALID_HANDLE_VALUE) {
      MessageBoxAtCursor(MainWindow, "Close COMPort not possible", "ERROR", MB_OK);
      continue;
    }
    PurgeAndCloseSerialPort(port);
  }
  SetCursor(previous);
  return 1;
}

FT_STATUS ReloadDriver() {
  D2xxLibrary library;
  if (!LoadD2xx(&library)) return FT_LIBRARY_MISSING;
  FT_STATUS status = library.FT_Reload(0, 0);
  UnloadD2xx(&library);
  return status;
}
