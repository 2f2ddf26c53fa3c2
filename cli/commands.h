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
  std::string Restart;                // --restart device|driver|none; "" the default
  double GiveUpSeconds = 60;          // watch --give-up: how long an install may take
};

// Where a command's word on the command line goes.
enum ArgumentTarget { TO_PORT, TO_ARGUMENTS, TO_CHANGE_ID };

struct CommandArgument {
  const char* Name;  // nullptr: none
  const char* Help;
  ArgumentTarget Target;
  bool Required;
  bool Many;  // NAME=VALUE...
};

// The options a command takes besides the global ones.
enum CommandOption : unsigned {
  OPTION_ATTACHED = 1u << 0,        // --attached
  OPTION_FORCE_NUMBER = 1u << 1,    // --force: take a COM number in use
  OPTION_FORCE_UNDO = 1u << 2,      // --force: put back values changed since
  OPTION_EXPORT_FILES = 1u << 3,    // --profile FILE, --reg FILE
  OPTION_LAST = 1u << 4,            // --last N
  OPTION_SETTINGS_HELP = 1u << 5,   // the settings' names in its help
  OPTION_RESTART = 1u << 6,         // --restart device|driver|none
  OPTION_FORCE_RESTART = 1u << 7,   // --force: restart a port open in another program
  OPTION_WATCH = 1u << 8            // --give-up SECONDS
};

// When a command writes: it needs an elevated prompt then, and holds the
// writer lock while it writes.
enum WriteRule {
  NEVER_WRITES,
  ALWAYS_WRITES,
  WRITES_WITH_ARGUMENT,  // ignore-serial: only with on or off
  WRITES_FOR_SET,        // dsc: only its set
  WRITES_FOR_AGENT       // agent: its install and remove
};

struct CommandSpec {
  const char* Name;
  const char* Help;
  CommandArgument Arguments[2];
  unsigned Options;  // CommandOption bits
  WriteRule Writes;
  const char* DefaultPort;  // nullptr: none
  int (*Run)(const CommandLine& line, Outcome* outcome);
};

// Every command of the program, in the order --help lists them.
extern const CommandSpec Commands[];
extern const int CommandCount;

// The command of that name; nullptr for none.
const CommandSpec* FindCommand(const std::string& name);
// Whether this command line writes (--check never does).
bool CommandWrites(const CommandSpec& command, const CommandLine& line);

// Runs the named command: EXIT_BAD_INPUT for a name that is none.
int RunCommand(const CommandLine& line);
