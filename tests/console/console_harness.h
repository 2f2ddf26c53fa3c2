// Runs the console program as a script would, and compares what it left in
// the registry and on standard output with what a case expects.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <stdint.h>

#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "component/registry_fixture.h"
#include "runner/process_runner.h"
#include "runner/registry_snapshot.h"
#include "devices/config_data.h"
#include "devices/registry_paths.h"

struct ProgramRun {
  DWORD ExitCode = 0xDEADBEEF;
  std::string Out;
  std::string Err;
  DWORD ElapsedMs = 0;
};

// Starts <dir>\portmeld.exe (by default the one beside this test program)
// with the arguments and the input on its standard input, and waits for it.
// A run that does not end within the timeout is ended and fails the test.
ProgramRun RunPortmeld(const std::string& args, const std::string& input = "",
                       const std::string& dir = "");
// How RunPortmeld starts portmeld.exe, for a test that starts several at
// once: its standard streams in this run's scratch folder, named after name.
Launch PortmeldLaunch(const std::string& args, const std::string& name,
                         const std::string& dir = "");
// The folder of this test program, where the build puts portmeld.exe.
std::string ExeFolder();
// A folder holding only a copy of portmeld.exe: no FTD2XX.dll beside it.
std::string FolderWithoutD2xx();
// A folder holding portmeld_restart_seam.exe as portmeld.exe, beside the
// D2XX stand-in: the program with the restart seam's stand-in, whose
// answers are the lines given (see testing/restart/restart_calls_standin.cpp).
std::string FolderWithRestartSeam(const std::string& answers);
// A path in this run's scratch folder.
std::string ScratchPath(const char* name);

// Imports the .reg file with `reg import` into a Wine prefix made for it
// alone and removed again (tests/console/reg_import_fresh_prefix.sh), and
// gives what the import left under the key (e.g. "HKLM\\SYSTEM\\...") as
// TakeSnapshot names it. Fails the test and returns false when a step
// failed or did not end in time.
bool ImportIntoFreshPrefix(const std::string& regFile, const std::string& key, Snapshot* imported);

// Checks each "pointer": value pair of expected against the document. A
// pointer is a JSON pointer in which a token "[X]" picks the element of an
// array whose "serial", "port" or "setting" is X, and a last token "#"
// stands for the array's size.
void ExpectJsonFields(const nlohmann::json& document, const nlohmann::json& expected);

// --- The bench ---------------------------------------------------------------

// Three registered ports: COM5 attached, COM6 attached, open and with the
// serial enumerator on, COM7 not attached. ComDB holds COM1 (a port of
// another kind), 5, 6 and 7; UsbFlags holds one unrelated value.
constexpr uint32_t FT232R = 0x04036001, FT2232 = 0x04036010;
inline const std::string P5 = DeviceKey(FT232R, "FT12AB34A", true),
                         I5 = DeviceKey(FT232R, "FT12AB34A");
inline const std::string P6 = DeviceKey(FT2232, "FT9XK2L1A", true),
                         I6 = DeviceKey(FT2232, "FT9XK2L1A");
inline const std::string P7 = DeviceKey(FT232R, "FT77ZZ11A", true);
inline const std::string Arbiter = ComNameArbiterKeyPath, Flags = UsbFlagsKeyPath;
extern const char BenchDevices[];
void Bench();

std::string DeviceRoot(const char* name);  // FTDIBUS\name
// A device key SetupAPI sees under Wine: a Ports-class instance.
void Register(uint32_t id, const char* serial, const char* port, bool serenum = false);
void DeleteValue(const std::string& path, const char* name);
// Everyone is refused writes to the key until the test ends.
void Deny(const std::string& path);
// ComDB with these numbers taken; bytes from 32 on are `beyond`.
Bytes ComDb(std::initializer_list<int> taken, size_t size = 32, unsigned char beyond = 0);
// ConfigData with these option bytes and alias table.
Bytes Config(unsigned char byte0, unsigned char byte1 = 0,
             const unsigned char* aliases = DefaultAliasTable);
Bytes WithEntry(Bytes config, int entry, uint32_t value);

// Lifts what Deny refused, removes the FTDI keys and values and leaves
// UsbFlags as the run found it.
void CleanBench();

// A test on the bench: the registry is cleaned before and after it.
template <class Base>
class OnBench : public Base {
 protected:
  void SetUp() override { CleanBench(); }
  void TearDown() override { CleanBench(); }
};

// The change journal's files removed.
void ClearJournal();

// A test on the bench with an empty change journal.
class OnJournalBench : public OnBench<::testing::Test> {
 protected:
  void SetUp() override {
    OnBench::SetUp();
    ClearJournal();
    Bench();
  }
  void TearDown() override {
    ClearJournal();
    OnBench::TearDown();
  }
};

// How many lines of the text start with `start`.
int CountLines(const std::string& text, const std::string& start);

// --- The table runner ----------------------------------------------------------

constexpr int AUTO_RELOADS = -1;  // one reload when the case changes something, unless told not to

// One case of a console table: the bench, changed by Tweak; a command line
// in which %F stands for the case's file (FileIn before, FileOut after) and
// %P for its profile; the one exit code; fields of the JSON output (with
// --json, or the state a dsc command answers); every registry value the run
// may change; texts found in standard output or error.
struct ConsoleCase {
  const char* Name;
  void (*Tweak)();
  const char* Args;
  DWORD Exit;
  const char* Json = "{}";
  std::vector<Change> Changes = {};
  std::vector<const char*> Texts = {};
  Bytes FileIn = {}, FileOut = {};
  bool NoD2xx = false;
  int Reloads = AUTO_RELOADS;
  const char* Input = "";            // standard input
  const char* Profile = nullptr;     // the file %P names
  // Run the program's test build, whose device restarts answer from these
  // lines (testing/restart/restart_calls_standin.cpp); nullptr: portmeld.exe.
  const char* Restarts = nullptr;
};
void PrintTo(const ConsoleCase& c, std::ostream* os);
std::string CaseName(const ::testing::TestParamInfo<ConsoleCase>& info);
std::string ProfilePath();
// Runs the case on a fresh bench and checks everything it expects.
ProgramRun RunConsoleCase(const ConsoleCase& c);

// Everyone is refused reading the key (its values and subkeys) until the test ends.
void DenyReading(const std::string& path);
