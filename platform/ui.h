// Process-wide user-interface state that the dialogs of every subsystem use.
#pragma once

#include <windows.h>

// Module instance, stored once by the entry point; the dialogs' resources
// are loaded from it.
extern HINSTANCE ModuleInstance;
