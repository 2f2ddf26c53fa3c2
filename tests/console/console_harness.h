// Runs the console program as a script would, and compares what it left in
// the registry and on standard output with what a case expects.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using Bytes = std::vector<unsigned char>;

struct ProgramRun {
  DWORD ExitCode = 0xDEADBEEF;
  std::string Out;
  std::string Err;
};

// Starts <dir>\portmeld.exe (by default the one beside this test program)
// with the arguments and the input on its standard input, and waits for it.
// A run that does not end within the timeout is ended and fails the test.
ProgramRun RunPortmeld(const std::string& args, const std::string& input = "",
                       const std::string& dir = "");
// A folder holding only a copy of portmeld.exe: no FTD2XX.dll beside it.
std::string FolderWithoutD2xx();
// A path in this run's scratch folder.
std::string ScratchPath(const char* name);

// One registry value as stored, or a key (Type REG_KEY_MARK, no data).
constexpr DWORD REG_KEY_MARK = 0xFFFFFFFF;
struct StoredValue {
  DWORD Type;
  Bytes Data;
  bool operator==(const StoredValue& o) const { return Type == o.Type && Data == o.Data; }
};
// Every key and value under FTDIBUS, COM Name Arbiter and UsbFlags, by
// "key path|value name" ("key path|" for the key itself).
using Snapshot = std::map<std::string, StoredValue>;
Snapshot TakeSnapshot();

// What a case expects of one value after the run.
struct Expected {
  enum Kind { GONE, EXACT, TEXT_HAS, FILTERS } What;
  StoredValue Value;                 // EXACT
  std::string Text;                  // TEXT_HAS: a REG_SZ containing it
  std::vector<std::string> Strings;  // FILTERS: a REG_MULTI_SZ of exactly these
};
Expected Dw(DWORD value);
Expected Sz(const char* text);
Expected Bin(const Bytes& data);
Expected SzHas(const char* text);
Expected Filters(std::vector<std::string> strings);
Expected Gone();

// A value the run must leave as described; name "*" means the key and
// everything under it must be gone.
struct Change {
  std::string Key;
  std::string Name;
  Expected After;
};

// Fails the test for every expected change that did not happen and for
// every other difference between the two snapshots.
void ExpectOnlyChanges(const Snapshot& before, const Snapshot& after,
                       const std::vector<Change>& changes);

// Checks each "pointer": value pair of expected against the document. A
// pointer is a JSON pointer in which a token "[X]" picks the element of an
// array whose "serial", "port" or "setting" is X, and a last token "#"
// stands for the array's size.
void ExpectJsonFields(const nlohmann::json& document, const nlohmann::json& expected);
