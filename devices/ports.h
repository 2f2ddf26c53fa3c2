// Closing every COM port, and asking the D2XX library to reload the driver.
#pragma once

#include "platform/d2xx.h"
#include "platform/report.h"

enum { HIGHEST_COM_NUMBER = 256 };

// Opens, purges and closes COM1 to COM256 in turn; a port another program
// holds is reported, once per port, and the pass goes on. Returns true.
bool CloseAllPorts(const Reporter* reporter);
// FT_Reload(0, 0): FT_OK on success.
FT_STATUS ReloadDriver();
