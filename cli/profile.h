// Profiles: the desired state of a machine's adapters, as fleet engines
// hand it over. A JSON document of rules; each rule matches ports and names
// settings with the console program's names. Reading one is pure: it only
// checks and takes the document apart.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "history/port_settings.h"

struct ProfileMatch {
  std::string Port;    // "COM5", any case; "" for any
  std::string Serial;  // a glob with * and ?; "" for any
  bool HasVidPid = false;
  uint32_t DeviceId = 0;  // vendor << 16 | product
};

struct ProfileSetting {
  const SettingSpec* Definition;
  SettingValue Value;
};

struct ProfileRule {
  ProfileMatch Match;
  std::vector<ProfileSetting> Settings;
  int ComNumber = 0;  // "port": "COMn": the number asked for; 0 for none
};

struct Profile {
  bool HasIgnoreSerial = false;
  bool IgnoreSerial = false;
  std::vector<ProfileRule> Rules;
};

enum ProfileSource {
  PROFILE_FILE,  // a profile file: "schema" must say portmeld-profile/1
  PROFILE_DSC    // DSC's desired state: no schema, read-only "_" properties ignored
};

// Reads a profile. False with a reason that names the rule and the key for
// anything unknown, of the wrong type or out of range.
bool ReadProfile(const std::string& text, ProfileSource source, Profile* profile,
                 std::string* reason);

// "*" any run of characters, "?" one; letters compared without case.
bool MatchesGlob(const std::string& pattern, const std::string& text);

// "0403:6001" into vendor << 16 | product; false when malformed.
bool ParseVidPidText(const std::string& text, uint32_t* deviceId);
