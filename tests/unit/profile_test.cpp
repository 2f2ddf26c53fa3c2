// Reading profiles: what is taken, and what is refused with the rule and key
// named; globs of the serial match.
#include <gtest/gtest.h>

#include "cli/profile.h"

namespace {

TEST(Profile, AWholeProfileIsTakenApart) {
  const char text[] = R"({
    "schema": "portmeld-profile/1", "ignoreSerial": true,
    "ports": [
      {"match": {"vidpid": "0403:6001"}, "latencyTimer": 2, "serialEnumerator": false},
      {"match": {"serial": "FT12AB34*"}, "baudAlias.9600": 9700, "minReadTimeout": 50},
      {"match": {"serial": "FT99XY00A", "port": "com5"}, "port": "COM7"},
      {"match": {}, "baudAliases": "tarnlink"}]})";
  Profile profile;
  std::string reason;
  ASSERT_TRUE(ReadProfile(text, PROFILE_FILE, &profile, &reason)) << reason;
  EXPECT_TRUE(profile.HasIgnoreSerial && profile.IgnoreSerial);
  ASSERT_EQ(4u, profile.Rules.size());
  EXPECT_TRUE(profile.Rules[0].Match.HasVidPid);
  EXPECT_EQ(0x04036001u, profile.Rules[0].Match.DeviceId);
  ASSERT_EQ(2u, profile.Rules[0].Settings.size());
  EXPECT_STREQ("latencyTimer", profile.Rules[0].Settings[0].Definition->Name);
  EXPECT_EQ(2u, profile.Rules[0].Settings[0].Value.Number);
  EXPECT_EQ(0u, profile.Rules[0].Settings[1].Value.Number);
  EXPECT_EQ("FT12AB34*", profile.Rules[1].Match.Serial);
  EXPECT_EQ(7, profile.Rules[2].ComNumber);
  EXPECT_EQ("com5", profile.Rules[2].Match.Port);
  EXPECT_TRUE(profile.Rules[2].Settings.empty());
  EXPECT_EQ(uint32_t(ALIASES_TARNLINK), profile.Rules[3].Settings[0].Value.Number);
}

TEST(Profile, BadInputIsRefusedNamingRuleAndKey) {
  struct Case {
    const char* Text;
    ProfileSource Source;
    const char* Named;  // a part of the reason
  } cases[] = {
      {"not json", PROFILE_FILE, "not a JSON document"},
      {"[]", PROFILE_FILE, "JSON object"},
      {R"({"ports": []})", PROFILE_FILE, "schema"},
      {R"({"schema": "portmeld-profile/2", "ports": []})", PROFILE_FILE, "schema"},
      {R"({"schema": "portmeld-profile/1", "port": []})", PROFILE_FILE, "unknown key \"port\""},
      {R"({"schema": "portmeld-profile/1", "ignoreSerial": 1})", PROFILE_FILE, "ignoreSerial"},
      {R"({"schema": "portmeld-profile/1", "ports": {}})", PROFILE_FILE, "array"},
      {R"({"ports": [{"latencyTimr": 2}]})", PROFILE_DSC,
       "rule 1 (ports[0]): unknown key \"latencyTimr\""},
      {R"({"ports": [{}, {"latencyTimer": "2"}]})", PROFILE_DSC,
       "rule 2 (ports[1]): \"latencyTimer\" takes a whole number"},
      {R"({"ports": [{"latencyTimer": 256}]})", PROFILE_DSC,
       "\"latencyTimer\" takes a whole number from 1 to 255"},
      {R"({"ports": [{"latencyTimer": -1}]})", PROFILE_DSC, "latencyTimer"},
      {R"({"ports": [{"latencyTimer": 2.5}]})", PROFILE_DSC, "latencyTimer"},
      {R"({"ports": [{"serialPrinter": "on"}]})", PROFILE_DSC, "true or false"},
      {R"({"ports": [{"baudAliases": "custom"}]})", PROFILE_DSC, "baudAliases"},
      {R"({"ports": [{"baudAlias.9600": 100}]})", PROFILE_DSC, "baudAlias.9600"},
      {R"({"ports": [{"match": {"vidpid": "0403-6001"}}]})", PROFILE_DSC, "vidpid"},
      {R"({"ports": [{"match": {"name": "x"}}]})", PROFILE_DSC, "unknown match key \"name\""},
      {R"({"ports": [{"match": {"serial": 5}}]})", PROFILE_DSC, "must be a string"},
      {R"({"ports": [{"port": "COM0"}]})", PROFILE_DSC, "\"port\" takes"},
      {R"({"ports": [{"port": "COM257"}]})", PROFILE_DSC, "\"port\" takes"},
      {R"({"_secret": 1, "ports": []})", PROFILE_FILE, "unknown key \"_secret\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    Profile profile;
    std::string reason;
    EXPECT_FALSE(ReadProfile(c.Text, c.Source, &profile, &reason));
    EXPECT_NE(std::string::npos, reason.find(c.Named)) << reason;
  }
  // DSC's read-only properties are no error, and a desired state has no schema.
  Profile profile;
  std::string reason;
  EXPECT_TRUE(
      ReadProfile(R"({"_inDesiredState": null, "ports": []})", PROFILE_DSC, &profile, &reason))
      << reason;
}

TEST(Profile, SerialGlobs) {
  struct Case {
    const char* Pattern;
    const char* Text;
    bool Matches;
  } cases[] = {
      {"FT12AB34*", "FT12AB34A", true},
      {"FT12AB34*", "FT12AB34", true},
      {"FT12AB34*", "FT12AB3", false},
      {"ft?2ab34a", "FT12AB34A", true},
      {"*A", "FT12AB34A", true},
      {"*B", "FT12AB34A", false},
      {"*", "", true},
      {"?", "", false},
      {"F*3*A", "FT12AB34A", true},
      {"F*3*B", "FT12AB34A", false},
      {"**********b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.Matches, MatchesGlob(c.Pattern, c.Text)) << c.Pattern << " ~ " << c.Text;
}

}  // namespace
