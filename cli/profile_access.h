// A profile that SYSTEM applies must be changeable by administrators only:
// whoever may change it chooses what the machine gets.
#pragma once

#include <string>

#include "cli/commands.h"

// apply (and dsc set) writing as an administrator refuse a profile file
// that someone else may change, unless --allow-writable-profile; test, and
// apply --check, warn. EXIT_DONE, or the refusal's exit code. Standard
// input ("-") has no access list to judge.
int CheckProfileAccess(const CommandLine& line, const std::string& path, bool writes,
                       Outcome* outcome);
