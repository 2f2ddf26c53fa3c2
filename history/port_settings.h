// The console program's settings: one name per setting of a port, its
// values as text, and how a value is read from and put into a DeviceRecord.
// The same names serve `set`, `show` and the profiles. Pure.
#pragma once

#include <stdint.h>

#include <string>

#include <nlohmann/json.hpp>

#include "devices/config_data.h"
#include "devices/device_record.h"
#include "devices/driver_values.h"
#include "devices/settings_rules.h"

enum SettingKind {
  SETTING_NUMBER,             // a DWORD of Device Parameters
  SETTING_OPTION,             // a bit of ConfigData
  SETTING_SERIAL_ENUMERATOR,  // UpperFilters "serenum"
  SETTING_ALIAS_TABLE,        // ConfigData bytes 4 to 63: a built-in table
  SETTING_ALIAS_ENTRY,        // one alias entry of ConfigData
  SETTING_TRANSFER_SIZE       // a ConfigData byte n holding (n + 1) * 64 bytes
};

struct SettingSpec {
  const char* Name;
  SettingKind Kind;
  DriverValueId Value;  // where it is stored, so that a change writes that value only
  uint32_t DeviceRecord::*Field;  // SETTING_NUMBER
  NumberFieldRange Range;         // SETTING_NUMBER
  uint32_t Known;                 // SETTING_NUMBER: its KnownSetting bit
  OptionBit Bit;                  // SETTING_OPTION
  int Entry;  // SETTING_ALIAS_ENTRY: ConfigData entry; SETTING_TRANSFER_SIZE: its byte
  const char* Unit;               // SETTING_NUMBER: "ms", or "" for a count of bytes
};

// An alias entry's setting is this prefix and the standard rate: baudAlias.9600.
constexpr char AliasSettingPrefix[] = "baudAlias.";

enum { SETTING_COUNT = 33 };
extern const SettingSpec Settings[SETTING_COUNT];

// The settings as `set --help` lists them, from the table: each name with
// its range and unit, the on/off ones, the alias table and its entries.
std::string SettingsHelpText();

// The machine-wide option to ignore the adapters' serial numbers: on or off,
// as `ignore-serial` and the profiles' "ignoreSerial" take it.
extern const SettingSpec IgnoreSerialSetting;

// The setting of that name; nullptr for none.
const SettingSpec* FindSetting(const std::string& name);

enum AliasTableChoice { ALIASES_DEFAULT, ALIASES_TARNLINK, ALIASES_CUSTOM };

// One value of a setting; Known false for a value missing or unreadable in
// the registry.
struct SettingValue {
  bool Known;
  uint32_t Number;  // a number, an on/off (0 or 1), an AliasTableChoice, an alias entry
};

// The value the record holds.
SettingValue CurrentValue(const SettingSpec& definition, const DeviceRecord& record);

// A value as the user writes it: numbers in range, on/off as on, off, true,
// false, 1, 0, baudAliases as default or tarnlink, an alias as the actual
// rate wanted (decimals allowed). False with the reason when refused.
bool ParseSettingValue(const SettingSpec& definition, const std::string& text, SettingValue* value,
                       std::string* reason);

// Puts the value into the record and marks what must be written.
void ApplySetting(const SettingSpec& definition, const SettingValue& value, DeviceRecord* record);

bool SameValue(const SettingValue& a, const SettingValue& b);

// For JSON output, typed as the profiles type it: a number, true or false,
// "default" or "tarnlink", an alias as its rate; null when unknown.
nlohmann::ordered_json SettingJson(const SettingSpec& definition, const SettingValue& value);

// For text output: "16", "on", "default", "9600"; "missing" when unknown.
std::string FormatSettingValue(const SettingSpec& definition, const SettingValue& value);

// "COM7" (any case) → 7; 0 for a name that is no COM port name.
int ComNumberOf(const std::string& name);

// The order in which list, show and stale give ports: by COM number (COM2
// before COM10), then by serial; a port without a COM number last.
bool ListedBefore(const std::string& portA, const std::string& serialA, const std::string& portB,
                  const std::string& serialB);

// The generated rate of an alias entry to three decimals: what `show` gives
// for it, and what gives the same entry again when set.
double GeneratedRateOfEntry(uint32_t entry);
// "9600", "57692.308": the rate without trailing zeros.
std::string FormatRate(double rate);
