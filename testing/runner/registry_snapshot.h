// Snapshots of the FTDI part of the registry and what a test expects of
// the difference between two of them: every expected change happened and
// nothing else changed.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

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
