#include "platform/ui.h"

HINSTANCE ModuleInstance;
