// portmeld watch PROFILE: the profile applied to every adapter as it
// arrives, once its installation has finished, until stopped.
#pragma once

#include <windows.h>

#include "cli/commands.h"

int RunWatch(const CommandLine& line, Outcome* outcome);

// The watch itself, until stopEvent is set: each action a line on standard
// output and, for the agent service, an event in the Application log.
// The exit code: EXIT_DONE once stopped, else why it could not start.
int WatchProfile(const CommandLine& line, Outcome* outcome, HANDLE stopEvent, bool toEventLog);
