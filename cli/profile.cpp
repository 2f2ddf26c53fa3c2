#include "cli/profile.h"

#include <stdio.h>

#include <nlohmann/json.hpp>

namespace {

typedef nlohmann::json Json;

const char ProfileSchema[] = "portmeld-profile/1";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

std::string RuleName(size_t index) {
  return "rule " + std::to_string(index + 1) + " (ports[" + std::to_string(index) + "])";
}

// The text the setting parser takes, from a JSON value of the right type.
bool SettingText(const SettingSpec& definition, const Json& value, std::string* text,
                 std::string* expected) {
  switch (definition.Kind) {
    case SETTING_ALIAS_ENTRY:
      *expected = "a baud rate";
      if (!value.is_number()) return false;
      if (value.is_number_float()) {
        char number[64];
        snprintf(number, sizeof number, "%.6f", value.get<double>());
        *text = number;
        return true;
      }
      if (value.is_number_integer() && value.get<int64_t>() < 0) {
        *text = "-1";
        return true;
      }
      *text = std::to_string(value.get<uint64_t>());
      return true;
    case SETTING_NUMBER:
    case SETTING_TRANSFER_SIZE:
      *expected = "a whole number";
      if (!value.is_number_unsigned() && !value.is_number_integer()) return false;
      if (value.is_number_integer() && value.get<int64_t>() < 0) {
        *text = "-1";  // refused by the range check with its own reason
        return true;
      }
      *text = std::to_string(value.get<uint64_t>());
      return true;
    case SETTING_OPTION:
    case SETTING_SERIAL_ENUMERATOR:
      *expected = "true or false";
      if (!value.is_boolean()) return false;
      *text = value.get<bool>() ? "on" : "off";
      return true;
    case SETTING_ALIAS_TABLE:
      *expected = "\"default\" or \"tarnlink\"";
      if (!value.is_string()) return false;
      *text = value.get<std::string>();
      return true;
  }
  return false;
}

bool ReadMatch(const Json& match, size_t index, ProfileMatch* out, std::string* reason) {
  if (!match.is_object()) {
    *reason = RuleName(index) + ": \"match\" must be an object";
    return false;
  }
  for (auto item = match.begin(); item != match.end(); ++item) {
    const std::string& key = item.key();
    const Json& value = item.value();
    if (!value.is_string()) {
      *reason = RuleName(index) + ": match \"" + key + "\" must be a string";
      return false;
    }
    std::string text = value.get<std::string>();
    if (key == "port") {
      // A misspelt name would match nothing and read as compliant.
      int number = ComNumberOf(text);
      if (number < 1 || number > 256) {
        *reason = RuleName(index) + ": match \"port\" takes \"COMn\", n from 1 to 256, not \"" +
                  text + "\"";
        return false;
      }
      out->Port = text;
    } else if (key == "serial") {
      out->Serial = text;
    } else if (key == "vidpid") {
      if (!ParseVidPidText(text, &out->DeviceId)) {
        *reason = RuleName(index) + ": match \"vidpid\" takes \"VVVV:PPPP\", not \"" + text + "\"";
        return false;
      }
      out->HasVidPid = true;
    } else {
      *reason = RuleName(index) + ": unknown match key \"" + key +
                "\" (port, serial and vidpid are known)";
      return false;
    }
  }
  return true;
}

bool ReadRule(const Json& rule, size_t index, ProfileRule* out, std::string* reason) {
  if (!rule.is_object()) {
    *reason = RuleName(index) + " must be an object";
    return false;
  }
  for (auto item = rule.begin(); item != rule.end(); ++item) {
    const std::string& key = item.key();
    const Json& value = item.value();
    if (key == "match") {
      if (!ReadMatch(value, index, &out->Match, reason)) return false;
      continue;
    }
    if (key == "port") {
      int number = value.is_string() ? ComNumberOf(value.get<std::string>()) : 0;
      if (number < 1 || number > 256) {
        *reason = RuleName(index) + ": \"port\" takes \"COMn\", n from 1 to 256";
        return false;
      }
      out->ComNumber = number;
      continue;
    }
    const SettingSpec* definition = FindSetting(key);
    if (!definition) {
      *reason = RuleName(index) + ": unknown key \"" + key + "\"";
      return false;
    }
    std::string text, expected, why;
    SettingValue setting;
    if (!SettingText(*definition, value, &text, &expected)) {
      *reason = RuleName(index) + ": \"" + key + "\" takes " + expected + ", not " + value.dump();
      return false;
    }
    if (!ParseSettingValue(*definition, text, &setting, &why)) {
      *reason = RuleName(index) + ": \"" + key + "\" " + why + ", not " + value.dump();
      return false;
    }
    // A key named twice in one rule: JSON keeps the last; so do we.
    out->Settings.push_back({definition, setting});
  }
  return true;
}

}  // namespace

bool ParseVidPidText(const std::string& text, uint32_t* deviceId) {
  if (text.size() != 9 || text[4] != ':') return false;
  uint32_t value = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 4) continue;
    char c = Lower(text[i]);
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | (uint32_t)digit;
  }
  *deviceId = value;
  return true;
}

bool MatchesGlob(const std::string& pattern, const std::string& text) {
  // Iterative, with one point to go back to: linear in practice, and no
  // recursion for a pattern of many stars.
  size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool ReadProfile(const std::string& text, ProfileSource source, Profile* profile,
                 std::string* reason) {
  *profile = Profile();
  Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded()) {
    *reason = "not a JSON document";
    return false;
  }
  if (!document.is_object()) {
    *reason = "a profile is a JSON object";
    return false;
  }
  bool schemaSeen = false;
  for (auto item = document.begin(); item != document.end(); ++item) {
    const std::string& key = item.key();
    const Json& value = item.value();
    if (key == "schema") {
      if (!value.is_string() || value.get<std::string>() != ProfileSchema) {
        *reason = std::string("\"schema\" must be \"") + ProfileSchema + "\"";
        return false;
      }
      schemaSeen = true;
    } else if (key == "ignoreSerial") {
      if (!value.is_boolean()) {
        *reason = "\"ignoreSerial\" takes true or false";
        return false;
      }
      profile->HasIgnoreSerial = true;
      profile->IgnoreSerial = value.get<bool>();
    } else if (key == "ports") {
      if (!value.is_array()) {
        *reason = "\"ports\" must be an array of rules";
        return false;
      }
      for (size_t i = 0; i < value.size(); ++i) {
        ProfileRule rule;
        if (!ReadRule(value[i], i, &rule, reason)) return false;
        profile->Rules.push_back(rule);
      }
    } else if (source == PROFILE_DSC && !key.empty() && key[0] == '_') {
      continue;  // DSC's own read-only properties, such as _inDesiredState
    } else {
      *reason = "unknown key \"" + key + "\" (schema, ignoreSerial and ports are known)";
      return false;
    }
  }
  if (source == PROFILE_FILE && !schemaSeen) {
    *reason = std::string("\"schema\": \"") + ProfileSchema + "\" is missing";
    return false;
  }
  return true;
}
