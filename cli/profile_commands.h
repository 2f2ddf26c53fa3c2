// The commands that fleet engines run: test and apply a profile, export the
// ports as a profile or a .reg file, and the DSC resource's get, set, test.
#pragma once

#include "cli/commands.h"

int RunTest(const CommandLine& line, Outcome* outcome);
int RunApply(const CommandLine& line, Outcome* outcome);
int RunExport(const CommandLine& line, Outcome* outcome);
int RunDsc(const CommandLine& line, Outcome* outcome);
