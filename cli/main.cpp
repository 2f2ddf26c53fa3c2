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
#include "cli/settings.h"
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

std::string SettingsHelp() {
  std::string text =
      "Settings (on/off ones take on, off, true, false, 1, 0):\n"
      "  minReadTimeout, minWriteTimeout (0-10000 ms), pollingPeriod (0-255 ms),\n"
      "  latencyTimer (1-255 ms), serialPrinter, cancelIfPowerOff, eventOnSurpriseRemoval,\n"
      "  setRtsOnClose, disableModemCtrlAtStartup, serialEnumerator, bufferedWrites,\n"
      "  writeBufferSize (1-4096), writeBufferThreshold (1-20), writeLatency (1-16),\n"
      "  baudAliases (default or tarnlink), baudAlias.N (N one of";
  for (const SettingSpec& definition : Settings)
    if (definition.Kind == SETTING_ALIAS_ENTRY) text += std::string(" ") + (definition.Name + 10);
  text += "): the actual rate a program asking for N baud gets, e.g. baudAlias.9600=9700.\n";
  text += ExitCodes;
  return text;
}

struct Subcommand {
  const char* Name;
  const char* Description;
};

// "/?" is the Windows way to ask for help.
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = argc - 1; i >= 1; --i)  // CLI11 takes them in reverse
    arguments.push_back(strcmp(argv[i], "/?") == 0 ? "--help" : argv[i]);
  return arguments;
}

bool IsCommand(const char* word) {
  for (int i = 0; i < CommandCount; ++i)
    if (strcmp(Commands[i].Name, word) == 0) return true;
  for (int i = 0; i < ProfileCommandCount; ++i)
    if (strcmp(ProfileCommands[i].Name, word) == 0) return true;
  return false;
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

  auto command = [&](const char* name, const char* description) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->callback([&line, name] { line.Command = name; });
    return sub;
  };
  auto port = [&](CLI::App* sub, bool required = true) {
    CLI::Option* option = sub->add_option("PORT", line.Port, "COMn, a serial number, or all");
    if (required) option->required();
  };

  CLI::App* list = command("list", "every registered FTDI port: attached and open now or not");
  list->add_flag("--attached", line.AttachedOnly, "only the ports attached now");

  port(command("show",
               "every setting of the ports; a value missing in the registry shows as missing"));

  CLI::App* set = command("set", "changes the named settings; writes only values that differ");
  port(set);
  set->add_option("NAME=VALUE", line.Arguments, "settings to change")->required();
  set->footer(SettingsHelp());

  CLI::App* preset = command("preset", "one of the windowed program's three presets");
  port(preset);
  preset->add_option("PRESET", line.Arguments, "default, portmeld or tarnlink")->required();

  CLI::App* save = command("save", "writes one port's settings to an 84-byte configuration file");
  port(save);
  save->add_option("FILE", line.Arguments, "the file to write")->required();

  CLI::App* load = command("load", "writes a configuration file's values to the ports");
  port(load);
  load->add_option("FILE", line.Arguments, "the file to read")->required();

  CLI::App* rename = command("rename", "gives one port a new COM number, kept in ComDB");
  port(rename);
  rename->add_option("COMn", line.Arguments, "the new name, COM1 to COM256")->required();
  rename->add_flag("--force", line.Force, "take the number even when it is in use");

  CLI::App* ignore = command("ignore-serial",
                             "shows, or sets, the machine-wide option to ignore the adapters' "
                             "hardware serial numbers");
  ignore->add_option("STATE", line.Arguments, "on or off");

  command("reload", "asks the D2XX library to reload the driver");
  command("stale", "registered adapters not attached now, with the COM numbers they hold");

  CLI::App* test = command("test", "compares the ports with a profile: exit 0 compliant, 1 not");
  test->add_option("PROFILE", line.Port, "the profile file, or - for standard input")->required();

  CLI::App* apply = command("apply",
                            "writes what differs from a profile (and reloads the driver once); "
                            "exit 0 when compliant afterwards");
  apply->add_option("PROFILE", line.Port, "the profile file, or - for standard input")->required();

  CLI::App* exporter = command("export",
                               "writes the ports' current settings as a profile (matched by "
                               "serial) or as a .reg file of their Device Parameters values");
  port(exporter);
  exporter->add_option("--profile", line.ProfileFile,
                       "the profile to write (- for standard output)");
  exporter->add_option("--reg", line.RegFile, "the .reg file to write (UTF-16, for reg import)");

  CLI::App* dsc = command("dsc",
                          "the PowerShell DSC v3 resource (portmeld.dsc.resource.json): the "
                          "desired state as JSON on standard input");
  dsc->add_option("OPERATION", line.Port, "get, set or test")->required();

  CLI::App* remove = command("remove-stale",
                             "removes adapters that are not attached, and frees the COM numbers "
                             "only they held");
  line.Port = "all";
  port(remove, false);

  CLI::App* history = command("history",
                               "the change sets both programs recorded, newest first, each with "
                               "the values it wrote");
  port(history, false);
  history->add_option("--last", line.Last, "how many change sets (default 20)");

  CLI::App* undo = command("undo",
                           "puts back the values a change set wrote (default: the newest not "
                           "undone); a value changed since is left alone unless --force");
  undo->add_option("ID", line.ChangeId, "the change set's number, as history shows it");
  undo->add_flag("--force", line.Force, "put values back even when they were changed since");

  for (CLI::App* sub : app.get_subcommands({}))
    sub->footer(sub == set ? SettingsHelp() : ExitCodes);

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
