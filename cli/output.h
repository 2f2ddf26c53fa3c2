// What one run of the console program has to say: the JSON document of
// --json, the lines of the text output, the errors, and the exit code that
// follows from them.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devices/device_record.h"
#include "platform/report.h"

typedef nlohmann::ordered_json Json;

enum ExitCode {
  EXIT_DONE = 0,
  EXIT_WOULD_CHANGE = 1,
  EXIT_FAILED = 2,
  EXIT_BAD_INPUT = 3,
  EXIT_NO_PORT = 4,
  EXIT_NOT_ALLOWED = 5
};

struct Outcome {
  bool JsonOutput = false;
  bool CheckOnly = false;          // --check: say what would change, write nothing
  bool Changed = false;            // written, or with --check would be
  bool Failed = false;             // an operation failed
  bool Denied = false;             // every failure so far was a refused access
  Json Document;                   // {"schema", "changed", "ports", "errors"}
  std::vector<std::string> Lines;  // the text output
  uint64_t JournalId = 0;          // the change set of the ports' values, once written
  Outcome();
};

// A port as every command shows it: port, serial, vidpid, attached.
Json PortObject(const DeviceRecord& record, int attached /* -1 unknown, 0, 1 */);

// An error with its facts; Win32 error 5 (access denied) counts as refused.
void AddError(Outcome* outcome, const std::string& message, const std::string& port,
              const std::string& serial, const std::string& value, const std::string& key,
              unsigned long error);
// The same for a record: its port and serial.
void AddDeviceError(Outcome* outcome, const DeviceRecord& record, const std::string& message,
                    const std::string& value, const std::string& key, unsigned long error);

// Bad input or no port: one line on standard error (or the JSON document
// with the error) and the exit code, nothing written.
int Refuse(Outcome* outcome, int exitCode, const std::string& message);

// Prints the document or the lines (errors to standard error) and returns
// the exit code the outcome comes to.
int Finish(Outcome* outcome);

// The program's texts are in the ANSI code page, as the registry's "A"
// calls give them; JSON is UTF-8. A name with an accented letter must come
// out as the same letter, not break the document.
std::string Utf8(const std::string& ansi);

// Writes the text and a line end to standard output.
void PrintLine(const std::string& text);

// The record's PortName and serial as text.
std::string PortNameOf(const DeviceRecord& record);
std::string SerialOf(const DeviceRecord& record);
std::string VidPidOf(const DeviceRecord& record);

// Records every report of the core as an error of the outcome; the
// listings' and reads' own reports are left to the caller's judgement.
Reporter OutcomeReporter(Outcome* outcome);
