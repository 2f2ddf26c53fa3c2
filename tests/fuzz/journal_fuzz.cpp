// Feeds one buffer of any bytes to the journal reader as a journal file,
// then says every set it read in words, as history and the window do, and
// checks what must hold for every input.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "history/history_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  JournalContents contents;
  ReadJournalText(text, "changes.jsonl", &contents);
  LinkUndoneSets(&contents);
  for (const JournalSet& set : contents.Sets) {
    if (SetHeadline(set).empty()) abort();
    const nlohmann::ordered_json& changes = set.Begun["changes"];
    size_t decodable = 0;
    for (size_t i = 0; i < changes.size(); ++i) {
      nlohmann::ordered_json settings = ChangeSettings(set, i);
      if (!settings.is_array()) abort();
      // What is said in JSON is valid JSON text.
      settings.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
      decodable += changes[i].is_object();
    }
    // Each change is said in one line at least, unless a rename says it.
    std::vector<std::string> lines = SetChangeLines(set);
    if (decodable && lines.empty()) abort();
    for (const std::string& line : lines)
      if (line.compare(0, 2, "  ") != 0) abort();
  }
  HistoryRows(contents);
  return 0;
}
