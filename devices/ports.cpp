#include "devices/ports.h"

#include <stdio.h>

#include "platform/serial.h"

bool CloseAllPorts(const Reporter* reporter) {
  for (int n = 1; n <= HIGHEST_COM_NUMBER; n++) {
    char name[16];
    snprintf(name, sizeof name, "COM%d", n);
    if (!SerialPortExists(name)) continue;
    HANDLE port = OpenSerialPortExclusive(name);
    if (port == INVALID_HANDLE_VALUE) {
      Report report = MakeReport(REPORT_CLOSE_PORT, "Close COMPort not possible", "ERROR", MB_OK);
      report.Port = name;
      report.Error = GetLastError();
      TellReporter(reporter, report);
      continue;
    }
    PurgeAndCloseSerialPort(port);
  }
  return true;
}

FT_STATUS ReloadDriver() {
  D2xxLibrary library;
  if (!LoadD2xx(&library)) return FT_LIBRARY_MISSING;
  FT_STATUS status = library.FT_Reload(0, 0);
  UnloadD2xx(&library);
  return status;
}
