// portmeld agent install PROFILE|remove|status|run: the Windows service
// PortmeldAgent that runs portmeld watch on one profile.
#pragma once

#include "cli/commands.h"

int RunAgent(const CommandLine& line, Outcome* outcome);
