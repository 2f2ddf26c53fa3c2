// Registry chaos: random FTDIBUS trees with values of every wrong type and
// size, odd and overlong key names, missing keys and keys that refuse writes,
// run through the windowed program's read, commit-nothing and write path and
// through portmeld.exe's `show all` and `set all`. After each run the whole
// tree is compared with what the run may have changed, value by value.
//
// Every tree comes from a printed seed. PORTMELD_CHAOS_SEED=<seed> builds the
// same trees again (a failing tree's seed as the first one), and
// PORTMELD_CHAOS_TREES=<n> says how many (20 by default).
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// Before the fixture: its DeviceKey() would hide the enum of the same name.
#include "devices/registry_paths.h"
#include "component/core_calls.h"
#include "component/registry_fixture.h"
#include "devices/device_keys.h"
#include "devices/device_names.h"
#include "devices/settings_rules.h"
#include "../console/console_harness.h"

namespace {

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size());
  wide.resize(n > 0 ? n : 0);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string text(wide.size() * 3, '\0');
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &text[0], (int)text.size(),
                              nullptr, nullptr);
  text.resize(n > 0 ? n : 0);
  return text;
}

// The registry compares names without case.
std::wstring Upper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(&text[0], (DWORD)text.size());
  return text;
}

const std::wstring Root = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
const wchar_t* const PortsClass = L"{4d36e978-e325-11ce-bfc1-08002be10318}";
// Rights that let Everyone change a key: none of them may appear.
const ACCESS_MASK WriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC | WRITE_OWNER | DELETE;

// --- the whole tree, as stored ----------------------------------------------

struct Stored {
  std::wstring Name;
  DWORD Type;
  Bytes Data;
};

struct KeyState {
  std::wstring Path;
  std::map<std::wstring, Stored> Values;  // by upper-cased name
  ACCESS_MASK Everyone;                   // what its DACL grants Everyone
};

typedef std::map<std::wstring, KeyState> TreeState;  // by upper-cased path

// Allowed entries less the denied ones before them, generic rights mapped;
// no DACL at all grants everything.
ACCESS_MASK EveryoneAccess(HKEY key) {
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  Bytes descriptor(size + 1);
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS)
    return KEY_ALL_ACCESS;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted);
  if (!present || !dacl) return KEY_ALL_ACCESS;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
  ACCESS_MASK granted = 0, denied = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
      continue;
    ACCESS_ALLOWED_ACE* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);  // same layout as denied
    if (!EqualSid(&entry->SidStart, everyone)) continue;
    ACCESS_MASK mask = entry->Mask;
    MapGenericMask(&mask, &mapping);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE)
      denied |= mask & ~granted;
    else
      granted |= mask & ~denied;
  }
  FreeSid(everyone);
  return granted;
}

void ReadKey(const std::wstring& path, TreeState* tree) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot read " << Utf8(path);
    return;
  }
  KeyState& state = (*tree)[Upper(path)];
  state.Path = path;
  state.Everyone = EveryoneAccess(key);
  DWORD subkeys = 0, values = 0, maxName = 0, maxData = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &maxName,
                   &maxData, nullptr, nullptr);
  for (DWORD i = 0; i < values; ++i) {
    std::wstring name(maxName + 1, L'\0');
    Bytes data(maxData + 1);
    DWORD nameLength = maxName + 1, size = maxData + 1, type = 0;
    if (RegEnumValueW(key, i, &name[0], &nameLength, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot read value " << i << " of " << Utf8(path);
      continue;
    }
    name.resize(nameLength);
    data.resize(size);
    state.Values[Upper(name)] = {name, type, data};
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0; i < subkeys; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      children.push_back(std::wstring(name, length));
  }
  RegCloseKey(key);
  for (const std::wstring& child : children) ReadKey(path + L"\\" + child, tree);
}

TreeState ReadTree() {
  TreeState tree;
  ReadKey(Root, &tree);
  return tree;
}

std::string Describe(const Stored& value) {
  return "type " + std::to_string(value.Type) + ", " + std::to_string(value.Data.size()) + " bytes";
}

// Every key and value as wanted; Everyone gains no write right.
void ExpectTree(const TreeState& want, const TreeState& got, const char* stage) {
  for (const auto& key : want) {
    auto found = got.find(key.first);
    if (found == got.end()) {
      ADD_FAILURE() << stage << ": key gone: " << Utf8(key.second.Path);
      continue;
    }
    const KeyState& now = found->second;
    std::string where = std::string(stage) + ": " + Utf8(key.second.Path) + " ";
    for (const auto& value : key.second.Values) {
      auto other = now.Values.find(value.first);
      if (other == now.Values.end())
        ADD_FAILURE() << where << "value gone: " << Utf8(value.second.Name);
      else if (other->second.Type != value.second.Type || other->second.Data != value.second.Data)
        ADD_FAILURE() << where << "value " << Utf8(value.second.Name) << " was "
                      << Describe(value.second) << ", is " << Describe(other->second) << ": "
                      << ::testing::PrintToString(other->second.Data).substr(0, 200);
    }
    for (const auto& value : now.Values)
      if (!key.second.Values.count(value.first))
        ADD_FAILURE() << where << "value added: " << Utf8(value.second.Name) << ", "
                      << Describe(value.second);
    if (now.Everyone & WriteRights & ~key.second.Everyone)
      ADD_FAILURE() << where << "Everyone may now write it: access 0x" << std::hex << now.Everyone
                    << ", was 0x" << key.second.Everyone;
  }
  for (const auto& key : got)
    if (!want.count(key.first)) ADD_FAILURE() << stage << ": key added: " << Utf8(key.second.Path);
}

// --- random trees -----------------------------------------------------------

struct Tree {
  std::set<std::wstring> Refused;  // upper-cased paths of keys that refuse writes
  std::string Description;         // every key and value, printed when the tree fails
};

class TreeBuilder {
 public:
  explicit TreeBuilder(uint32_t seed) : random_(seed) {}

  Tree Build() {
    MakeKey(Root);
    if (Chance(20)) Put(Root, L"FTDIBUS", REG_SZ, Text(L"not a device"), "a stray value");
    int devices = 1 + (int)Pick(6);
    for (int i = 0; i < devices; ++i) AddDevice();
    if (Chance(25)) {
      std::wstring stray = Root + L"\\" + (Chance(50) ? L"LEGACY" : std::wstring(200, L'x'));
      MakeKey(stray);
      AddStrayValue(stray);
    }
    return tree_;
  }

 private:
  uint32_t Pick(uint32_t n) { return random_() % n; }
  bool Chance(uint32_t percent) { return Pick(100) < percent; }

  static Bytes Text(const std::wstring& text, bool terminated = true) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    return Bytes(p, p + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
  }
  static Bytes Multi(const std::vector<std::wstring>& strings) {
    Bytes data;
    for (const std::wstring& s : strings) {
      Bytes one = Text(s);
      data.insert(data.end(), one.begin(), one.end());
    }
    data.push_back(0);
    data.push_back(0);
    return data;
  }
  static Bytes Dword(uint32_t value) {
    return Bytes(reinterpret_cast<unsigned char*>(&value),
                 reinterpret_cast<unsigned char*>(&value) + 4);
  }
  Bytes Noise(size_t size) {
    Bytes data(size);
    for (unsigned char& b : data) b = (unsigned char)Pick(256);
    return data;
  }
  std::wstring Serial(size_t length) {
    static const wchar_t chars[] = L"ABCDEFGHJKLMNPQRSTUVWXYZ0123456789";
    std::wstring serial;
    for (size_t i = 0; i < length; ++i) serial += chars[Pick(34)];
    return serial;
  }

  void MakeKey(const std::wstring& path) {
    // Keys as Windows keeps them: Everyone may read, no more.
    static const char sddl[] = "D:(A;;KR;;;WD)(A;;KA;;;BA)(A;;KA;;;SY)";
    static PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!descriptor) {
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, &attributes, &key, nullptr))
        << Utf8(path);
    RegCloseKey(key);
    tree_.Description += Utf8(path) + "\n";
  }

  void Put(const std::wstring& path, const std::wstring& name, DWORD type, const Bytes& data,
           const std::string& what) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key));
    static const BYTE none = 0;
    LSTATUS rc = RegSetValueExW(key, name.c_str(), 0, type, data.empty() ? &none : data.data(),
                                (DWORD)data.size());
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, rc) << Utf8(path) << " " << Utf8(name);
    tree_.Description += "  " + Utf8(name) + ": type " + std::to_string(type) + ", " +
                         std::to_string(data.size()) + " bytes (" + what + ")\n";
  }
  enum Kind { NUMBER, CONFIG_DATA, PORT_NAME, UPPER_FILTERS };
  struct Candidate {
    DWORD Type;
    Bytes Data;
    const char* What;
  };

  // One of the driver's values: missing, as the driver keeps it, or wrong
  // in type or size.
  void AddValue(const std::wstring& path, const wchar_t* name, Kind kind) {
    if (Chance(15)) return;
    static const DWORD driverTypes[] = {REG_DWORD, REG_BINARY, REG_SZ, REG_MULTI_SZ};
    static const size_t oddSizes[] = {0, 3, 65, 4096};
    std::vector<Candidate> right[] = {
        {{REG_DWORD, Dword(Chance(20) ? 7 : Pick(300)), "right"}},
        {{REG_BINARY, Noise(64), "right"}, {REG_BINARY, Noise(1 + Pick(64)), "short"}},
        {{REG_SZ, Text(L"COM" + std::to_wstring(1 + Pick(256))), "right"}},
        {{REG_MULTI_SZ, Multi({L"serenum"}), "serenum"},
         {REG_MULTI_SZ, Text(L"serenum" + std::wstring(9, L'\0'), false), "serenum, 16 chars"},
         {REG_MULTI_SZ, Multi({}), "empty list"},
         {REG_MULTI_SZ, Multi({L"usbfilt", L"serenum"}), "a foreign filter first"}}};
    std::vector<Candidate> wrong[] = {
        {{REG_MULTI_SZ, Dword(16), "REG_MULTI_SZ"}},
        {{REG_DWORD, Dword(16), "REG_DWORD"}},
        {{REG_SZ, Text(L"COM12", false), "no terminator"},
         {REG_SZ, Text(L"COM1234567890123", false), "16 characters, no terminator"},
         {REG_SZ, Text(std::wstring(300, L'C')), "300 characters"},
         {REG_SZ, Text(L"COM\x00e9\x00e8"), "non-ASCII"}},
        {{REG_SZ, Text(L"serenum"), "REG_SZ serenum"},
         {REG_MULTI_SZ, Multi({L"serenum", L"usbfilt"}), "serenum and a foreign filter"}}};
    for (Candidate c :
         std::vector<Candidate>{{driverTypes[kind], Noise(oddSizes[Pick(4)]), "odd size"},
                                {driverTypes[kind], Noise(1 + Pick(4096)), "random size"},
                                {REG_SZ, Text(Chance(50) ? L"16" : L"hello world"), "text"},
                                {REG_BINARY, Noise(4), "4 binary bytes"},
                                {REG_QWORD, Noise(8), "a QWORD"},
                                {REG_DWORD_BIG_ENDIAN, Dword(16), "big-endian DWORD"},
                                {REG_NONE, Noise(Pick(9)), "REG_NONE"},
                                {REG_EXPAND_SZ, Text(L"COM5"), "REG_EXPAND_SZ"}})
      wrong[kind].push_back(c);
    const std::vector<Candidate>& from = Chance(53) ? right[kind] : wrong[kind];
    const Candidate& c = from[Pick((uint32_t)from.size())];
    Put(path, name, c.Type, c.Data, c.What);
  }

  void AddStrayValue(const std::wstring& path) {
    static const wchar_t* const names[] = {L"", L"LatencyTimer ", L"Port\x00e9Name", L"Extra"};
    std::wstring name = Chance(20) ? std::wstring(200, L'v') : names[Pick(4)];
    Put(path, name, Pick(12), Noise(Pick(70)), "stray");
  }

  // A name for a device key: the bus driver's shape, or anything else a
  // registry may hold under FTDIBUS.
  std::wstring DeviceName() {
    static const wchar_t* const ids[] = {L"VID_0403+PID_6001", L"VID_0403+PID_6010",
                                         L"VID_0403+PID_6011", L"VID_0403+PID_6014"};
    std::wstring id = ids[Pick(4)];
    switch (Pick(16)) {
      case 0:
        return id + L"+" + Serial(200 - id.size() - 1);
      case 1:
        return id + L"+" + Serial(27 + Pick(10));  // around the 28-character cut
      case 2: {  // no '+' separators, mostly spelling another device's key
        std::wstring name = shaped_.empty() || Chance(30) ? id + L"+" + Serial(8)
                                                          : shaped_[Pick((uint32_t)shaped_.size())];
        name[8] = L'&';
        name[17] = L'_';
        return name;
      }
      case 3:
        return id + L"+" + Serial(4) + L" #&{}.-" + (Chance(50) ? L"\x00e9" : L"\x65e5\x672c");
      case 4:
        return Chance(50) ? L"VID" : L"X";
      case 5:
        return L"VID_ZZZZ+PID_6001+" + Serial(8);
      case 6:
        return id + L"+";
      default:
        shaped_.push_back(id + L"+" + Serial(1 + Pick(12)));
        return shaped_.back();
    }
  }

  static bool Ascii(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
  }

  void Refuse(const std::wstring& path) {
    // RefuseWrites opens the "A" path, which Wine takes up to 255 characters.
    if (!Ascii(path) || path.size() > 255) return;
    RefuseWrites(Utf8(path), true);
    tree_.Refused.insert(Upper(path));
    tree_.Description += Utf8(path) + " refuses writes\n";
  }

  void AddDevice() {
    std::wstring name = DeviceName();
    std::wstring device = Root + L"\\" + name;
    if (!names_.insert(Upper(name)).second) return;  // the same name twice
    MakeKey(device);
    if (Chance(10)) AddStrayValue(device);
    uint32_t roll = Pick(100);
    if (roll >= 95) return;  // no instance key
    std::wstring instance = device + (roll < 88 ? L"\\0000" : L"\\0001");
    MakeKey(instance);
    Put(instance, L"ClassGUID", REG_SZ, Text(PortsClass), "Ports class");
    if (Chance(60))
      Put(instance, L"FriendlyName", REG_SZ, Text(L"USB Serial Port (COM5)"), "right");
    AddValue(instance, L"UpperFilters", UPPER_FILTERS);
    if (Chance(10)) MakeKey(instance + L"\\" + (Chance(50) ? L"LogConf" : std::wstring(200, L'L')));
    if (Chance(85)) {
      std::wstring parameters = instance + L"\\Device Parameters";
      MakeKey(parameters);
      AddValue(parameters, L"ConfigData", CONFIG_DATA);
      AddValue(parameters, L"PortName", PORT_NAME);
      for (const wchar_t* number :
           {L"MinReadTimeout", L"MinWriteTimeout", L"PollingPeriod", L"LatencyTimer",
            L"WriteBufferSize", L"WriteBufferThreshold", L"WriteLatency"})
        AddValue(parameters, number, NUMBER);
      if (Chance(30)) AddStrayValue(parameters);
      if (Chance(10)) MakeKey(parameters + L"\\" + std::wstring(1 + Pick(200), L'P'));
      if (Chance(20)) Refuse(parameters);
    }
    if (Chance(10)) Refuse(instance);
  }

  std::mt19937 random_;
  std::vector<std::wstring> shaped_;  // names of the bus driver's shape
  std::set<std::wstring> names_;
  Tree tree_;
};

// --- what the core sees ------------------------------------------------------

// When a value counts as read: the driver's type, and its size.
struct ReadRule {
  const char* Name;
  DWORD Type;
  size_t MaxSize;
  bool Exact;
  const char* Setting;  // the console program's name for it; nullptr for none
};

// The settings store's six in its order, then the buffered-write values.
const ReadRule Rules[] = {
    {"ConfigData", REG_BINARY, 64, false, "serialPrinter"},
    {"PortName", REG_SZ, 16, false, nullptr},
    {"MinReadTimeout", REG_DWORD, 4, true, "minReadTimeout"},
    {"MinWriteTimeout", REG_DWORD, 4, true, "minWriteTimeout"},
    {"PollingPeriod", REG_DWORD, 4, true, "pollingPeriod"},
    {"LatencyTimer", REG_DWORD, 4, true, "latencyTimer"},
    {"WriteBufferSize", REG_DWORD, 4, true, "writeBufferSize"},
    {"WriteBufferThreshold", REG_DWORD, 4, true, "writeBufferThreshold"},
    {"WriteLatency", REG_DWORD, 4, true, "writeLatency"},
};
const int SettingsStoreRules = 6;

struct SeenValue {
  bool Present = false;
  DWORD Type = REG_NONE;
  Bytes Data;  // as the "A" calls return it
};

// A device key as the core lists it: the paths it formats from the key's
// name, which need not be the key's own.
struct Device {
  std::string Serial, VidPid, Parameters, Instance;
  std::wstring ParametersKey, InstanceKey;  // upper-cased, as TreeState holds them
  bool ParametersOpen = false, InstanceOpen = false;
  bool ParametersRefused = false, InstanceRefused = false;
  SeenValue Values[sizeof Rules / sizeof Rules[0]];
  SeenValue Filters;

  bool Readable(int rule) const {
    const SeenValue& v = Values[rule];
    return ParametersOpen && v.Present && v.Type == Rules[rule].Type &&
           (Rules[rule].Exact ? v.Data.size() == Rules[rule].MaxSize
                              : v.Data.size() <= Rules[rule].MaxSize);
  }
  bool FiltersReadable() const {
    return InstanceOpen && (!Filters.Present || (Filters.Type == REG_MULTI_SZ &&
                                                 Filters.Data.size() <= UPPER_FILTERS_SIZE));
  }
  Bytes PaddedFilters() const {
    Bytes padded = Filters.Data;
    padded.resize(UPPER_FILTERS_SIZE);
    return padded;
  }
  bool SerenumOn() const { return memcmp(PaddedFilters().data(), SerenumUpperFilters, 8) == 0; }
  // Nothing or "serenum" alone: the program's to rewrite.
  bool FiltersOurs() const {
    Bytes padded = PaddedFilters();
    return FiltersReadable() &&
           (padded == Bytes(UPPER_FILTERS_SIZE, 0) ||
            padded == Bytes(SerenumUpperFilters, SerenumUpperFilters + UPPER_FILTERS_SIZE));
  }
};

SeenValue Seen(const std::string& path, const char* name) {
  SeenValue value;
  value.Present = ReadValue(path, name, &value.Data, &value.Type);
  return value;
}

std::vector<Device> ListDevices(const Tree& tree) {
  std::vector<Device> devices;
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS)
    return devices;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = 255;
    LONG rc = RegEnumKeyExA(ftdibus, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;
    DeviceRecord record = {};
    ParseDeviceKeyName(name, &record);
    if (record.DeviceId == 0) continue;
    Device d;
    d.Serial = record.SerialNumber;
    char text[DEVICE_KEY_PATH_SIZE];
    snprintf(text, sizeof text, "%04x:%04x", (unsigned)(record.DeviceId >> 16),
             (unsigned)(record.DeviceId & 0xFFFF));
    d.VidPid = text;
    FormatDeviceKeyPath(text, sizeof text, &record, DEVICE_PARAMETERS_KEY);
    d.Parameters = text;
    FormatDeviceKeyPath(text, sizeof text, &record, DEVICE_INSTANCE_KEY);
    d.Instance = text;
    d.ParametersKey = Upper(Wide(d.Parameters));
    d.InstanceKey = Upper(Wide(d.Instance));
    d.ParametersOpen = KeyExists(d.Parameters);
    d.InstanceOpen = KeyExists(d.Instance);
    d.ParametersRefused = tree.Refused.count(d.ParametersKey) > 0;
    d.InstanceRefused = tree.Refused.count(d.InstanceKey) > 0;
    for (size_t r = 0; r < sizeof Rules / sizeof Rules[0]; ++r)
      d.Values[r] = Seen(d.Parameters, Rules[r].Name);
    d.Filters = Seen(d.Instance, "UpperFilters");
    devices.push_back(d);
  }
  RegCloseKey(ftdibus);
  return devices;
}

// The 16-byte "serenum" image as an "A" write of REG_MULTI_SZ stores it.
Bytes StoredSerenumImage() {
  wchar_t wide[UPPER_FILTERS_SIZE];
  MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(SerenumUpperFilters),
                      UPPER_FILTERS_SIZE, wide, UPPER_FILTERS_SIZE);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(wide);
  return Bytes(p, p + sizeof wide);
}

std::vector<std::string> Sorted(std::vector<std::string> list) {
  std::sort(list.begin(), list.end());
  return list;
}

// What the trees exercised, printed at the end.
struct Tally {
  int Devices = 0, Refused = 0, ConsoleWrites = 0, ConsoleErrors = 0, Reads = 0, Writes = 0;
} Counted;

// --- the two front ends -------------------------------------------------------
// The core's strings are in the ANSI code page; JSON text is UTF-8.

// Read, change each device's latency timer and flip its serial enumerator
// (where it is ours to flip), and write, as Apply does after such edits:
// those values and nothing else change; then the device keys' access lists
// as the windowed program sets them at start.
const DWORD EditedLatency = 123;
void CheckWindowedProgram(const Tree& tree) {
  std::vector<Device> devices = ListDevices(tree);
  TreeState before = ReadTree();
  TreeState want = before;
  std::vector<std::string> wantReads, wantWrites;
  for (const Device& d : devices) {
    for (int r = 0; r < SettingsStoreRules; ++r)
      if (d.ParametersOpen && !d.Readable(r)) wantReads.push_back(d.Serial + " " + Rules[r].Name);
    if (!d.ParametersOpen) continue;  // not edited: a device without settings shows none
    // One report for the device at its first refused write; its later
    // values are not tried.
    if (d.ParametersRefused) {
      wantWrites.push_back(d.Serial + " " + d.Parameters);
      continue;
    }
    Stored& latency = want[d.ParametersKey].Values[L"LATENCYTIMER"];
    if (latency.Name.empty()) latency.Name = L"LatencyTimer";
    latency.Type = REG_DWORD;
    latency.Data = Bytes(reinterpret_cast<const unsigned char*>(&EditedLatency),
                         reinterpret_cast<const unsigned char*>(&EditedLatency) + 4);
    if (!d.FiltersOurs()) continue;
    if (d.InstanceRefused) {
      wantWrites.push_back(d.Serial + " " + d.Instance);
    } else if (!d.SerenumOn()) {
      Stored& filters = want[d.InstanceKey].Values[L"UPPERFILTERS"];
      if (filters.Name.empty()) filters.Name = L"UpperFilters";
      filters.Type = REG_MULTI_SZ;
      filters.Data = StoredSerenumImage();
    } else {
      want[d.InstanceKey].Values.erase(L"UPPERFILTERS");
    }
  }

  ClearRecordedMessages();
  HKEY ftdibus;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus));
  ListRegisteredDevices(ftdibus);
  RegCloseKey(ftdibus);
  ReadDeviceSettings();
  // By key path: odd key names can give two records one serial.
  std::set<std::string> edited;
  for (const Device& d : devices)
    if (d.ParametersOpen) edited.insert(d.Parameters);
  for (uint32_t i = 0; i < Inventory.count; ++i) {
    DeviceRecord& record = Inventory.Records[i];
    char path[DEVICE_KEY_PATH_SIZE];
    if (!FormatDeviceKeyPath(path, sizeof path, &record, DEVICE_PARAMETERS_KEY) ||
        !edited.count(path))
      continue;
    record.LatencyTimer = EditedLatency;
    record.KnownSettings |= KNOWN_LATENCY_TIMER;
    if (record.KnownSettings & KNOWN_UPPER_FILTERS)
      SetSerialEnumerator(&record, !IsSerialEnumeratorOn(record.UpperFilters));
  }
  WriteDeviceSettings();
  TreeState written = ReadTree();
  ExpectTree(want, written, "windowed read and write");

  std::vector<std::string> reads, writes;
  for (const RecordedMessage& m : RecordedMessages) {
    if (m.Operation == REPORT_READ_SETTING) reads.push_back(m.Serial + " " + m.Value);
    if (m.Operation == REPORT_WRITE_SETTINGS) writes.push_back(m.Serial + " " + m.Key);
  }
  Counted.Devices += (int)devices.size();
  Counted.Reads += (int)wantReads.size();
  Counted.Writes += (int)wantWrites.size();
  for (const Device& d : devices) Counted.Refused += d.ParametersRefused + d.InstanceRefused;
  EXPECT_EQ(Sorted(wantReads), Sorted(reads)) << "values reported unreadable";
  EXPECT_EQ(Sorted(wantWrites), Sorted(writes)) << "writes reported failed";

  SetDeviceKeyPermissions();
  TreeState permitted = ReadTree();
  for (const Device& d : devices) {
    auto key = permitted.find(d.InstanceKey);
    if (key == permitted.end()) continue;
    EXPECT_EQ((ACCESS_MASK)KEY_READ, key->second.Everyone) << "Everyone's access to " << d.Instance;
    written[d.InstanceKey].Everyone = KEY_READ;
  }
  ExpectTree(written, permitted, "device key access lists");
  FreeInventory();
}

// The document, or a failure naming the output and a null document.
nlohmann::json ParseJson(const ProgramRun& run, const char* command) {
  EXPECT_TRUE(run.ExitCode == 0 || run.ExitCode == 2 || run.ExitCode == 4 || run.ExitCode == 5)
      << command << " exit " << run.ExitCode << "\nstderr: " << run.Err;
  try {
    nlohmann::json document = nlohmann::json::parse(run.Out);
    if (document.is_object() && document["ports"].is_array() && document["errors"].is_array())
      return document;
  } catch (const nlohmann::json::exception& e) {
    ADD_FAILURE() << command << ": " << e.what();
  }
  ADD_FAILURE() << command << " printed no JSON document (exit " << run.ExitCode << "):\n"
                << run.Out.substr(0, 2000) << "\nstderr: " << run.Err.substr(0, 2000);
  return nullptr;
}

void CheckConsoleShow(const Tree& tree) {
  std::vector<Device> devices = ListDevices(tree);
  TreeState before = ReadTree();
  ProgramRun run = RunPortmeld("show all --json");
  ExpectTree(before, ReadTree(), "portmeld show");
  nlohmann::json document = ParseJson(run, "show all --json");
  if (document.is_null()) return;
  EXPECT_EQ(devices.empty() ? 4u : 0u, run.ExitCode) << run.Err;
  if (devices.empty()) return;
  EXPECT_TRUE(document["errors"].empty()) << document["errors"].dump();
  const nlohmann::json& ports = document["ports"];
  ASSERT_EQ(devices.size(), ports.size()) << ports.dump();
  // show gives ports in COM order: each device's port is found by its
  // serial and VID:PID, and each port shows one device.
  std::vector<bool> shownOnce(ports.size(), false);
  for (const Device& d : devices) {
    SCOPED_TRACE(d.Parameters);
    size_t i = 0;
    while (i < ports.size() &&
           (shownOnce[i] || ports[i].value("serial", "") != Utf8(Wide(d.Serial)) ||
            ports[i].value("vidpid", "") != d.VidPid))
      ++i;
    if (i == ports.size()) {
      ADD_FAILURE() << "no port shows this device: " << ports.dump();
      continue;
    }
    shownOnce[i] = true;
    const nlohmann::json& port = ports[i];
    const nlohmann::json& settings = port["settings"];
    for (int r = 0; r < (int)(sizeof Rules / sizeof Rules[0]); ++r) {
      if (!Rules[r].Setting) continue;
      const nlohmann::json& shown = settings[Rules[r].Setting];
      if (!d.Readable(r)) {
        EXPECT_TRUE(shown.is_null()) << Rules[r].Setting << " shows " << shown.dump();
      } else if (Rules[r].Type == REG_DWORD) {
        uint32_t stored;
        memcpy(&stored, d.Values[r].Data.data(), 4);
        EXPECT_EQ(nlohmann::json(stored), shown) << Rules[r].Setting;
      } else {
        EXPECT_TRUE(shown.is_boolean()) << Rules[r].Setting << " shows " << shown.dump();
      }
    }
    const nlohmann::json& enumerator = settings["serialEnumerator"];
    if (d.FiltersReadable())
      EXPECT_EQ(nlohmann::json(d.SerenumOn()), enumerator) << "serialEnumerator";
    else
      EXPECT_TRUE(enumerator.is_null()) << "serialEnumerator shows " << enumerator.dump();
  }
}

void CheckConsoleSet(const Tree& tree) {
  std::vector<Device> devices = ListDevices(tree);
  TreeState want = ReadTree();
  std::vector<std::string> wantErrors;
  bool changes = false;
  const int latency = 5;  // Rules[5]
  for (const Device& d : devices) {
    uint32_t stored = 0;
    if (d.Readable(latency)) memcpy(&stored, d.Values[latency].Data.data(), 4);
    if (d.Readable(latency) && stored == 7) continue;
    if (!d.ParametersOpen || d.ParametersRefused) {
      wantErrors.push_back(Utf8(Wide(d.Serial)) + " LatencyTimer " +
                           (d.ParametersOpen ? "5" : "2"));
      continue;
    }
    changes = true;
    Counted.ConsoleWrites++;
    Stored& value = want[d.ParametersKey].Values[L"LATENCYTIMER"];
    if (value.Name.empty()) value.Name = L"LatencyTimer";
    value.Type = REG_DWORD;
    value.Data = {7, 0, 0, 0};
  }
  Counted.ConsoleErrors += (int)wantErrors.size();
  ProgramRun run = RunPortmeld("set all latencyTimer=7 --no-reload --json");
  ExpectTree(want, ReadTree(), "portmeld set");
  nlohmann::json document = ParseJson(run, "set all latencyTimer=7 --no-reload --json");
  if (document.is_null()) return;
  if (devices.empty()) {  // refused as naming no port: the refusal is the one error
    EXPECT_EQ(4u, run.ExitCode) << run.Err;
    EXPECT_EQ(1u, document["errors"].size()) << document["errors"].dump();
    return;
  }
  std::vector<std::string> errors;
  bool onlyDenied = true;
  for (const nlohmann::json& e : document["errors"]) {
    unsigned long code = e.value("error", 0ul);
    onlyDenied = onlyDenied && code == ERROR_ACCESS_DENIED;
    errors.push_back(e.value("serial", "") + " " + e.value("value", "") + " " +
                     std::to_string(code));
  }
  EXPECT_EQ(Sorted(wantErrors), Sorted(errors)) << "failed writes in \"errors\"";
  DWORD wantExit = errors.empty() ? 0 : onlyDenied ? 5 : 2;
  EXPECT_EQ(wantExit, run.ExitCode) << run.Err;
  EXPECT_EQ(changes, document.value("changed", !changes));
}

// --- the run ------------------------------------------------------------------

uint32_t FromEnvironment(const char* name, uint32_t otherwise) {
  char text[32];
  DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  if (n == 0 || n >= sizeof text) return otherwise;
  return (uint32_t)strtoul(text, nullptr, 0);
}

class RegistryChaos : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFtdiRegistry();
    WriteStandinDevices("");  // no adapter attached
  }
  void TearDown() override {
    ResetFtdiRegistry();
    EXPECT_FALSE(KeyExists(FtdibusKeyPath)) << "the last tree could not be removed";
  }

  Tree Rebuild(uint32_t seed) {
    ResetFtdiRegistry();
    return TreeBuilder(seed).Build();
  }
};

TEST_F(RegistryChaos, RandomTreesThroughBothFrontEnds) {
  uint32_t seed =
      FromEnvironment("PORTMELD_CHAOS_SEED", GetTickCount() ^ (GetCurrentProcessId() << 16));
  uint32_t trees = FromEnvironment("PORTMELD_CHAOS_TREES", 20);
  printf("chaos: %u trees from seed %u (PORTMELD_CHAOS_SEED=%u builds them again)\n", trees, seed,
         seed);
  fflush(stdout);
  RecordProperty("seed", std::to_string(seed));
  DWORD started = GetTickCount();
  for (uint32_t i = 0; i < trees; ++i) {
    uint32_t treeSeed = seed + i;
    printf("chaos: tree %u, seed %u\n", i, treeSeed);
    fflush(stdout);
    SCOPED_TRACE("tree seed " + std::to_string(treeSeed));
    Tree tree = Rebuild(treeSeed);
    CheckConsoleShow(tree);
    CheckConsoleSet(tree);
    tree = Rebuild(treeSeed);
    CheckWindowedProgram(tree);
    if (HasFailure()) {
      printf(
          "chaos: tree seed %u failed; PORTMELD_CHAOS_SEED=%u PORTMELD_CHAOS_TREES=1 builds it "
          "again:\n%s",
          treeSeed, treeSeed, tree.Description.c_str());
      break;
    }
  }
  printf(
      "chaos: %.1f s; %d device keys listed (%d keys refusing writes): %d unreadable values and "
      "%d failed writes reported by the core, %d LatencyTimer values set and %d failed by "
      "portmeld\n",
      (GetTickCount() - started) / 1000.0, Counted.Devices, Counted.Refused, Counted.Reads,
      Counted.Writes, Counted.ConsoleWrites, Counted.ConsoleErrors);
}

}  // namespace
