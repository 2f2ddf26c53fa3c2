#include "devices/journal_lines.h"

#include <stdlib.h>

#include <stdio.h>
#include <string.h>

static const char* const TypeNames[] = {"REG_NONE",
                                        "REG_SZ",
                                        "REG_EXPAND_SZ",
                                        "REG_BINARY",
                                        "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN",
                                        "REG_LINK",
                                        "REG_MULTI_SZ",
                                        "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR",
                                        "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};

std::string RegistryTypeName(uint32_t type) {
  if (type < sizeof TypeNames / sizeof TypeNames[0]) return TypeNames[type];
  return std::to_string(type);
}

bool RegistryTypeOfName(const std::string& name, uint32_t* type) {
  for (uint32_t i = 0; i < sizeof TypeNames / sizeof TypeNames[0]; ++i)
    if (name == TypeNames[i]) {
      *type = i;
      return true;
    }
  if (name.empty() || name.size() > 10 || name.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned long long number = strtoull(name.c_str(), nullptr, 10);
  if (number > 0xFFFFFFFFull) return false;
  *type = (uint32_t)number;
  return true;
}

std::string HexOfBytes(const unsigned char* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += (char)c;
        }
    }
  }
  return out + "\"";
}

std::string JournalTime(int year, int month, int day, int hour, int minute, int second) {
  char text[32];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute,
           second);
  return text;
}

static std::string ImageJson(const JournalImage& image) {
  if (!image.Present) return "null";
  if (image.Type == JOURNAL_SDDL_TYPE)
    return "{\"type\": \"SDDL\", \"data\": " +
           JsonString(std::string((const char*)image.Data, image.Size)) + "}";
  return "{\"type\": " + JsonString(RegistryTypeName(image.Type)) +
         ", \"data\": " + JsonString(HexOfBytes(image.Data, image.Size)) + "}";
}

std::string FormatJournalEntry(const JournalEntry& entry) {
  std::string text = "{\"port\": " + JsonString(entry.Port) +
                     ", \"serial\": " + JsonString(entry.Serial) +
                     ", \"key\": " + JsonString(entry.Key) + ", \"value\": ";
  if (entry.Action == JOURNAL_KEY_SECURITY)
    return text + "null, \"before\": " + ImageJson(entry.Before) +
           ", \"after\": " + ImageJson(entry.After) + "}";
  if (entry.Action != JOURNAL_VALUE)
    return text + "null, \"action\": " +
           (entry.Action == JOURNAL_REMOVE_DEVICE ? "\"remove-device\"" : "\"reload-driver\"") +
           "}";
  return text + JsonString(entry.Value) + ", \"before\": " + ImageJson(entry.Before) +
         ", \"after\": " + ImageJson(entry.After) + "}";
}

std::string FormatBegunLine(uint64_t id, const std::string& time, const std::string& user,
                            const std::string& program, const std::string& command,
                            const std::vector<JournalEntry>& entries) {
  std::string line = "{\"id\": " + std::to_string(id) + ", \"time\": " + JsonString(time) +
                     ", \"user\": " + JsonString(user) + ", \"program\": " + JsonString(program) +
                     ", \"command\": " + JsonString(command) +
                     ", \"state\": \"begun\", \"changes\": [";
  for (size_t i = 0; i < entries.size(); ++i) line += (i ? ", " : "") + FormatJournalEntry(entries[i]);
  return line + "]}\n";
}

static std::string RestartList(const std::vector<JournalRestartEntry>& restarts) {
  std::string list = "[";
  for (size_t i = 0; i < restarts.size(); ++i)
    list += std::string(i ? ", " : "") + "{\"port\": " + JsonString(restarts[i].Port) +
            ", \"serial\": " + JsonString(restarts[i].Serial) +
            ", \"result\": " + JsonString(restarts[i].Result) + "}";
  return list + "]";
}

std::string FormatEndLine(uint64_t id, const std::vector<JournalFailure>& failed,
                          bool reloadAsked, const std::string& reloadFailure,
                          const std::vector<JournalRestartEntry>& restarts) {
  std::string line = "{\"id\": " + std::to_string(id);
  if (failed.empty()) {
    line += ", \"state\": \"done\"";
  } else {
    line += ", \"state\": \"partial\", \"failed\": [";
    for (size_t i = 0; i < failed.size(); ++i)
      line += std::string(i ? ", " : "") + "{\"key\": " + JsonString(failed[i].Key) +
              ", \"value\": " + JsonString(failed[i].Value) +
              ", \"error\": " + std::to_string(failed[i].Error) + "}";
    line += "]";
  }
  if (reloadAsked)
    line += reloadFailure.empty()
                ? std::string(", \"reload\": \"done\"")
                : ", \"reload\": {\"failed\": " + JsonString(reloadFailure) + "}";
  if (!restarts.empty()) line += ", \"restart\": " + RestartList(restarts);
  return line + "}\n";
}

std::string FormatRestartLine(uint64_t id, const std::vector<JournalRestartEntry>& restarts) {
  return "{\"id\": " + std::to_string(id) + ", \"restart\": " + RestartList(restarts) + "}\n";
}

uint64_t LineId(const char* line, size_t size) {
  static const char prefix[] = "{\"id\": ";
  const size_t prefixSize = sizeof prefix - 1;
  if (size <= prefixSize || memcmp(line, prefix, prefixSize) != 0) return 0;
  uint64_t id = 0;
  size_t i = prefixSize, digits = 0;
  for (; i < size && line[i] >= '0' && line[i] <= '9' && digits < 19; ++i, ++digits)
    id = id * 10 + (uint64_t)(line[i] - '0');
  // Only a number that ended as we write it counts: a cut line's "12" may
  // have been "123".
  if (digits == 0 || i >= size || line[i] != ',') return 0;
  return id;
}

uint64_t LastJournalId(const char* text, size_t size, bool startsAtLineStart) {
  uint64_t last = 0;
  size_t start = 0;
  if (!startsAtLineStart) {
    const char* newline = (const char*)memchr(text, '\n', size);
    if (!newline) return 0;
    start = (size_t)(newline - text) + 1;
  }
  while (start < size) {
    const char* newline = (const char*)memchr(text + start, '\n', size - start);
    size_t end = newline ? (size_t)(newline - text) : size;
    uint64_t id = LineId(text + start, end - start);
    if (id > last) last = id;
    start = end + 1;
  }
  return last;
}
