// What the Main window's buttons and menu commands do.
#pragma once

#include <windows.h>

void OnMainCommand(HWND window, int id, int notification);
