// The console program's commands, looked up by name.
#pragma once

#include <string>
#include <vector>

#include "cli/output.h"

struct CommandLine {
  std::string Command;
  std::string Text;  // the command line as given, less the program: the journal's "command"
  double WaitSeconds = 10;  // --wait: how long a writer waits for another to finish
  std::string Port;
  std::vector<std::string> Arguments;  // NAME=VALUE…, FILE, a preset, COMn, on/off
  std::string ProfileFile;             // export --profile
  std::string RegFile;                 // export --reg
  std::string VidPid;
  bool Json = false;
  bool Check = false;
  bool NoReload = false;
  bool Force = false;
  bool AttachedOnly = false;
  int Last = 20;                      // history --last
  std::string ChangeId;               // undo ID
  bool NoJournal = false;             // --no-journal: write without recording
  bool AllowWritableProfile = false;  // --allow-writable-profile
};

struct CommandSpec {
  const char* Name;
  int (*Run)(const CommandLine& line, Outcome* outcome);
  bool Writes;  // needs an elevated prompt unless --check
};

extern const CommandSpec Commands[];
extern const int CommandCount;
// test, apply, export, dsc (profile_commands.cpp)
extern const CommandSpec ProfileCommands[];
extern const int ProfileCommandCount;

// Runs the named command: EXIT_BAD_INPUT for a name that is none.
int RunCommand(const CommandLine& line);
