#include "platform/serial.h"

#include <stdio.h>
#include <stdlib.h>

bool SerialPortExists(const char* name) {
  // The first call only learns how large the port's configuration is.
  DWORD size = 0;
  unsigned char probe[1];
  GetDefaultCommConfigA(name, reinterpret_cast<COMMCONFIG*>(probe), &size);
  if (size < sizeof(COMMCONFIG)) size = sizeof(COMMCONFIG);
  COMMCONFIG* config = static_cast<COMMCONFIG*>(calloc(1, size));
  if (!config) return false;
  config->dwSize = size;
  BOOL exists = GetDefaultCommConfigA(name, config, &size);
  free(config);
  return exists != FALSE;
}

HANDLE OpenSerialPortExclusive(const char* name) {
  char path[64];
  snprintf(path, sizeof path, "\\\\.\\%s", name);
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void PurgeAndCloseSerialPort(HANDLE port) {
  PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
  CloseHandle(port);
}
