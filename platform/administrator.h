// Whether the process runs with the rights of the Administrators group.
#pragma once

#include <windows.h>

// True when the thread's (else the process's) token is granted access to a
// descriptor that only Administrators may access; false on any failure.
bool IsAdministrator();
