#include "runner/registry_snapshot.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "component/registry_fixture.h"
#include "devices/registry_paths.h"

static void SnapshotKey(const std::string& path, Snapshot* snapshot) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  (*snapshot)[path + "|"] = {REG_KEY_MARK, {}};
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    Bytes data;
    ReadValue(path, name, &data, &type);
    (*snapshot)[path + "|" + name] = {type, data};
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.push_back(path + "\\" + name);
  }
  RegCloseKey(key);
  for (const std::string& subkey : subkeys) SnapshotKey(subkey, snapshot);
}

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  for (const char* path : {FtdibusKeyPath, ComNameArbiterKeyPath, UsbFlagsKeyPath})
    SnapshotKey(path, &snapshot);
  return snapshot;
}

Expected Dw(DWORD value) {
  Bytes data(4);
  memcpy(data.data(), &value, 4);
  return {Expected::EXACT, {REG_DWORD, data}, "", {}};
}
Expected Sz(const char* text) {
  return {Expected::EXACT, {REG_SZ, Bytes(text, text + strlen(text) + 1)}, "", {}};
}
Expected Bin(const Bytes& data) { return {Expected::EXACT, {REG_BINARY, data}, "", {}}; }
Expected SzHas(const char* text) { return {Expected::TEXT_HAS, {}, text, {}}; }
Expected Filters(std::vector<std::string> strings) {
  return {Expected::FILTERS, {}, "", std::move(strings)};
}
Expected Gone() { return {Expected::GONE, {}, "", {}}; }

static std::string Describe(const Snapshot& snapshot, const std::string& id) {
  auto found = snapshot.find(id);
  if (found == snapshot.end()) return "(missing)";
  if (found->second.Type == REG_KEY_MARK) return "(key)";
  std::string text = "type " + std::to_string(found->second.Type) + ":";
  char hex[4];
  for (unsigned char b : found->second.Data) {
    snprintf(hex, sizeof hex, " %02x", b);
    text += hex;
  }
  return text;
}

static bool Matches(const Expected& expected, const Snapshot& after, const std::string& id) {
  auto found = after.find(id);
  if (expected.What == Expected::GONE) return found == after.end();
  if (found == after.end()) return false;
  const StoredValue& value = found->second;
  if (expected.What == Expected::EXACT) return value == expected.Value;
  if (expected.What == Expected::TEXT_HAS)
    return value.Type == REG_SZ &&
           std::string(value.Data.begin(), value.Data.end()).find(expected.Text) !=
               std::string::npos;
  // REG_MULTI_SZ: its strings up to the first empty one.
  if (value.Type != REG_MULTI_SZ) return false;
  std::vector<std::string> strings;
  std::string data(value.Data.begin(), value.Data.end());
  for (size_t at = 0; at < data.size() && data[at] != '\0';) {
    size_t end = data.find('\0', at);
    if (end == std::string::npos) end = data.size();
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return strings == expected.Strings;
}

void ExpectOnlyChanges(const Snapshot& before, const Snapshot& after,
                       const std::vector<Change>& changes) {
  std::string problems;
  std::map<std::string, bool> accounted;
  for (const Change& change : changes) {
    if (change.Name == "*") {
      int left = 0;
      for (const Snapshot* s : {&before, &after})
        for (const auto& entry : *s) {
          const std::string& id = entry.first;
          bool under = id.compare(0, change.Key.size(), change.Key) == 0 &&
                       (id[change.Key.size()] == '|' || id[change.Key.size()] == '\\');
          if (!under || accounted[id]) continue;
          accounted[id] = true;
          if (after.count(id)) ++left;
        }
      if (left)
        problems += "\nstill there: " + std::to_string(left) + " keys and values of " + change.Key;
      continue;
    }
    std::string id = change.Key + "|" + change.Name;
    accounted[id] = true;
    if (!Matches(change.After, after, id))
      problems += "\nnot as expected: " + id + "\n  before: " + Describe(before, id) +
                  "\n  after:  " + Describe(after, id);
  }
  for (const Snapshot* s : {&before, &after})
    for (const auto& entry : *s) {
      const std::string& id = entry.first;
      if (accounted[id]) continue;
      accounted[id] = true;
      auto b = before.find(id), a = after.find(id);
      if (b == before.end() || a == after.end() || !(b->second == a->second))
        problems += "\nunexpected change: " + id + "\n  before: " + Describe(before, id) +
                    "\n  after:  " + Describe(after, id);
    }
  if (!problems.empty()) ADD_FAILURE() << "registry:" << problems;
}
