#include "platform/ui.h"

HINSTANCE ModuleInstance;
HWND MainWindow;
