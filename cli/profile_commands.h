// The commands that fleet engines run: test and apply a profile, export the
// ports as a profile or a .reg file, and the DSC resource's get, set, test.
#pragma once

#include <vector>

#include "cli/commands.h"
#include "cli/machine.h"
#include "cli/profile.h"

int RunTest(const CommandLine& line, Outcome* outcome);
int RunApply(const CommandLine& line, Outcome* outcome);
int RunExport(const CommandLine& line, Outcome* outcome);
int RunDsc(const CommandLine& line, Outcome* outcome);

// Compares the machine with the profile and, unless outcome->CheckOnly,
// writes the differences as one change set (each number asked for as a
// rename in it), named by line.Text; with only, just the registered ports
// it marks.
void Enforce(Machine* machine, const Profile& profile, const CommandLine& line, Outcome* outcome,
             const std::vector<bool>* only = nullptr);
