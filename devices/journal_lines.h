// The change journal's lines as text: one JSON object a line, written by
// hand because the core has no JSON library, and the few facts the writer
// needs from the lines already there. Pure: no <windows.h>.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// A value as the journal shows it: absent (null), or its type and bytes.
struct JournalImage {
  bool Present;
  uint32_t Type;  // REG_* number
  const unsigned char* Data;
  size_t Size;
};

enum JournalAction {
  JOURNAL_VALUE,
  JOURNAL_REMOVE_DEVICE,
  JOURNAL_RELOAD_DRIVER,
  JOURNAL_KEY_SECURITY  // "value": null, before and after as SDDL
};

// The type of a key's owner and access list, recorded as SDDL text
// ({"type": "SDDL", "data": "O:BAD:..."}) rather than hex bytes: no
// registry value type has this number.
enum : uint32_t { JOURNAL_SDDL_TYPE = 0x5344444C };

// One entry of a begun line's "changes". Texts are UTF-8; Key is the full
// path with its "HKLM\" root.
struct JournalEntry {
  JournalAction Action;
  std::string Port, Serial, Key, Value;
  JournalImage Before, After;
};

// One entry as the begun line holds it: {"port": ..., "before": ..., "after": ...}.
std::string FormatJournalEntry(const JournalEntry& entry);

// The command of the window's start-up access set: undone only by its id.
constexpr const char StartUpAccessCommand[] = "Start-up access";

struct JournalFailure {
  std::string Key, Value;  // UTF-8, Key with its root
  uint32_t Error;
};

// "REG_DWORD" for the types the registry names; any other type as its
// number in decimal text, so that a reader can still write it back.
std::string RegistryTypeName(uint32_t type);
// The type a name of RegistryTypeName stands for; false for none.
bool RegistryTypeOfName(const std::string& name, uint32_t* type);
// Two lower-case hex digits a byte.
std::string HexOfBytes(const unsigned char* data, size_t size);
// The text as a JSON string, quotes included; bytes from 0x80 on are kept
// as they are (the caller gives UTF-8).
std::string JsonString(const std::string& text);
// "2026-12-08T13:07:32Z".
std::string JournalTime(int year, int month, int day, int hour, int minute, int second);

// The line (with its line end) that records a change set before its first
// write, and the one that says how it ended.
std::string FormatBegunLine(uint64_t id, const std::string& time, const std::string& user,
                            const std::string& program, const std::string& command,
                            const std::vector<JournalEntry>& entries);
// A device the set's values were written to, restarted afterwards; Result
// is "restarted", "restart-pending" or "failed". Texts are UTF-8.
struct JournalRestartEntry {
  std::string Port, Serial, Result;
};

// reload: "" when no reload was asked, else "done" or the reason it failed,
// written as "reload": "done" or "reload": {"failed": reason}; the devices
// restarted after the writes as "restart": [...].
std::string FormatEndLine(uint64_t id, const std::vector<JournalFailure>& failed,
                          bool reloadAsked = false, const std::string& reloadFailure = "",
                          const std::vector<JournalRestartEntry>& restarts = {});

// The line that adds the restarts to set id: {"id": N, "restart": [...]}.
std::string FormatRestartLine(uint64_t id, const std::vector<JournalRestartEntry>& restarts);

// The id of a line this writer wrote ({"id": N, ...}), or 0 when the line
// does not start that way (a line cut short by a power cut).
uint64_t LineId(const char* line, size_t size);
// The largest id among the lines of the text; 0 when there is none. Only
// whole lines count but the first, which may be the tail of a longer one.
uint64_t LastJournalId(const char* text, size_t size, bool startsAtLineStart);
