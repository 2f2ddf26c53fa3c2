// Thin wrapper over the serial-port calls, so that tests can put a
// substitute in its place at link time.
#pragma once

#include <windows.h>

// True when the system knows a port of this name (GetDefaultCommConfigA
// with a buffer of the size the port asks for).
bool SerialPortExists(const char* name);
// Opens \\.\name for exclusive read and write; INVALID_HANDLE_VALUE when
// another program holds it.
HANDLE OpenSerialPortExclusive(const char* name);
// Discards what waits in both buffers and closes the port.
void PurgeAndCloseSerialPort(HANDLE port);
