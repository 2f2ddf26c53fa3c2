// portmeld: the console program. Reads its command line, runs one command
// on the same core as the windowed program, prints text or one JSON
// document, and ends with an exit code scripts can act on.
#include <stdio.h>
#include <string.h>

#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "history/port_settings.h"
#include "devices/journal.h"

namespace {

const char Version[] = "portmeld 1.0";

const char Overview[] =
    "Configures the FTDI virtual-COM-port driver's settings of USB-serial adapters, for scripts "
    "and fleet engines.\n"
    "PORT is COMn, a serial number as the device key spells it (e.g. FT12AB34A), or all.\n"
    "A profile is a JSON file: {\"schema\": \"portmeld-profile/1\", \"ignoreSerial\": false, "
    "\"ports\": [{\"match\": {\"vidpid\": \"0403:6001\"}, \"latencyTimer\": 2}]}; match takes "
    "port, serial (with * and ?) and vidpid, the settings take set's names, \"port\": \"COMn\" "
    "asks for a number.";

const char ExitCodes[] =
    "Options of every command: --json (one JSON document on standard output), --check (write "
    "nothing, say what would change), --no-reload (do not reload the driver after writing), "
    "--vidpid VVVV:PPPP (only those adapters).\n"
    "Exit codes: 0 done (nothing to do counts as done), 1 with --check when something would "
    "change, 2 an operation failed, 3 bad input (nothing written), 4 no port matches, 5 not "
    "allowed (not elevated, or a key refused the write).\n"
    "Examples:\n"
    "  portmeld list\n"
    "  portmeld show COM5 --json\n"
    "  portmeld set all --vidpid 0403:6001 latencyTimer=2\n"
    "  portmeld rename FT12AB34A COM7";

std::string SettingsHelp() { return SettingsHelpText() + ExitCodes; }

// "/?" is the Windows way to ask for help.
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = argc - 1; i >= 1; --i)  // CLI11 takes them in reverse
    arguments.push_back(strcmp(argv[i], "/?") == 0 ? "--help" : argv[i]);
  return arguments;
}

bool IsCommand(const char* word) { return FindCommand(word) != nullptr; }

// One command of the table as a CLI11 subcommand: its words and options.
void AddCommand(CLI::App* app, const CommandSpec& entry, CommandLine* line) {
  CLI::App* sub = app->add_subcommand(entry.Name, entry.Help);
  const char* name = entry.Name;
  sub->callback([line, name] { line->Command = name; });
  if (entry.DefaultPort) line->Port = entry.DefaultPort;
  for (const CommandArgument& argument : entry.Arguments) {
    if (!argument.Name) continue;
    CLI::Option* option =
        argument.Target == TO_PORT        ? sub->add_option(argument.Name, line->Port, argument.Help)
        : argument.Target == TO_CHANGE_ID ? sub->add_option(argument.Name, line->ChangeId,
                                                            argument.Help)
                                          : sub->add_option(argument.Name, line->Arguments,
                                                            argument.Help);
    if (argument.Required) option->required();
  }
  if (entry.Options & OPTION_ATTACHED)
    sub->add_flag("--attached", line->AttachedOnly, "only the ports attached now");
  if (entry.Options & OPTION_FORCE_NUMBER)
    sub->add_flag("--force", line->Force, "take the number even when it is in use");
  if (entry.Options & OPTION_FORCE_UNDO)
    sub->add_flag("--force", line->Force, "put values back even when they were changed since");
  if (entry.Options & OPTION_EXPORT_FILES) {
    sub->add_option("--profile", line->ProfileFile, "the profile to write (- for standard output)");
    sub->add_option("--reg", line->RegFile, "the .reg file to write (UTF-16, for reg import)");
  }
  if (entry.Options & OPTION_RESTART)
    sub->add_option("--restart", line->Restart,
                    "after writing: device (restart each written adapter), driver (reload the "
                    "driver, the default) or none")
        ->check(CLI::IsMember({"device", "driver", "none"}));
  if (entry.Options & OPTION_FORCE_RESTART)
    sub->add_flag("--force", line->Force, "restart a port even when another program has it open");
  if (entry.Options & OPTION_WATCH)
    sub->add_option("--give-up", line->GiveUpSeconds,
                    "seconds to wait for an arriving adapter's installation (default 60)")
        ->check(CLI::Range(1.0, 86400.0));
  if (entry.Options & OPTION_LAST)
    sub->add_option("--last", line->Last, "how many change sets (default 20)");
  sub->footer(entry.Options & OPTION_SETTINGS_HELP ? SettingsHelp() : ExitCodes);
}

bool AskedForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--json") == 0) return true;
  return false;
}

int Run(int argc, char** argv) {
  CommandLine line;
  CLI::App app(Overview, "portmeld");
  app.footer(ExitCodes);
  app.set_version_flag("--version", Version);
  app.require_subcommand(1);
  app.fallthrough();
  app.add_flag("--json", line.Json, "one JSON document on standard output");
  app.add_flag("--check", line.Check, "say what would change, write nothing (exit 1 if it would)");
  app.add_flag("--no-reload", line.NoReload, "after writing, do not reload the driver");
  app.add_option("--vidpid", line.VidPid, "only the ports of this VID:PID, e.g. 0403:6001");
  app.add_flag("--no-journal", line.NoJournal,
               "write even when the change cannot be recorded in the change journal, and do not "
               "record it");
  app.add_flag("--allow-writable-profile", line.AllowWritableProfile,
               "apply a profile file that others than SYSTEM and Administrators may change");
  app.add_option("--wait", line.WaitSeconds,
                 "seconds to wait while another Portmeld program writes (default 10)")
      ->check(CLI::Range(0.0, 86400.0));

  for (int i = 0; i < CommandCount; ++i) AddCommand(&app, Commands[i], &line);


  try {
    // A first word that is no command and no option: say so plainly.
    if (argc > 1 && argv[1][0] != '-' && strcmp(argv[1], "/?") != 0 && !IsCommand(argv[1])) {
      Outcome outcome;
      outcome.JsonOutput = AskedForJson(argc, argv);
      return Refuse(&outcome, EXIT_BAD_INPUT,
                    std::string("unknown command '") + argv[1] + "' (portmeld --help lists them)");
    }
    std::vector<std::string> arguments = Arguments(argc, argv);
    app.parse(arguments);
    for (int i = 1; i < argc; ++i) line.Text += (i > 1 ? " " : "") + std::string(argv[i]);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Outcome outcome;
    outcome.JsonOutput = AskedForJson(argc, argv);
    return Refuse(&outcome, EXIT_BAD_INPUT,
                  std::string(e.what()) + " (portmeld --help shows the usage)");
  }
  SetJournalEnabled(!line.NoJournal);
  return RunCommand(line);
}

}  // namespace

int main(int argc, char** argv) {
  // The runtime writes an unbuffered stream a few bytes at a time, each a
  // call into the system: thousands of lines would take seconds.
  static char outputBuffer[1 << 16];
  setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  SetJournalProgram("portmeld 1.0");
  // Nothing may end the program as an uncaught exception: MinGW's runtime
  // would exit with 3, which reads as "bad input".
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    fprintf(stderr, "portmeld: unexpected error: %s\n", e.what());
  } catch (...) {
    fprintf(stderr, "portmeld: unexpected error\n");
  }
  fflush(stderr);
  return EXIT_FAILED;
}
