// Feeds one buffer of any bytes to the profile reader, as a file and as
// DSC's desired state, and checks what must hold for every input.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "cli/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (ProfileSource source : {PROFILE_FILE, PROFILE_DSC}) {
    Profile profile;
    std::string reason;
    bool read = ReadProfile(text, source, &profile, &reason);
    // A refusal always says why; a profile read holds only checked values.
    if (!read && reason.empty()) abort();
    if (!read) continue;
    for (const ProfileRule& rule : profile.Rules) {
      if (rule.ComNumber < 0 || rule.ComNumber > 256) abort();
      for (const ProfileSetting& setting : rule.Settings) {
        if (!setting.Definition || !setting.Value.Known) abort();
        if (setting.Definition->Kind == SETTING_NUMBER &&
            (setting.Value.Number < setting.Definition->Range.Min ||
             setting.Value.Number > setting.Definition->Range.Max))
          abort();
      }
      // Globs terminate on whatever the profile holds.
      MatchesGlob(rule.Match.Serial, "FT12AB34A");
    }
  }
  return 0;
}
