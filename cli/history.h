// portmeld history and portmeld undo: the change journal read back, and a
// recorded change set put back as a change set of its own.
#pragma once

#include <string>

#include "cli/commands.h"

int RunHistory(const CommandLine& line, Outcome* outcome);
int RunUndo(const CommandLine& line, Outcome* outcome);
