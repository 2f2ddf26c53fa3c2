#include "cli/output.h"

#include <stdio.h>
#include <string.h>

#include <windows.h>

Outcome::Outcome() {
  Document = Json::object();
  Document["schema"] = "portmeld/1";
  Document["changed"] = false;
  Document["ports"] = Json::array();
  Document["errors"] = Json::array();
}

std::string PortNameOf(const DeviceRecord& record) {
  return std::string(record.PortName, strnlen(record.PortName, PORT_NAME_SIZE));
}

std::string SerialOf(const DeviceRecord& record) {
  return std::string(record.SerialNumber, strnlen(record.SerialNumber, SERIAL_NUMBER_SIZE));
}

std::string VidPidOf(const DeviceRecord& record) {
  char text[16];
  snprintf(text, sizeof text, "%04x:%04x", (unsigned)(record.DeviceId >> 16),
           (unsigned)(record.DeviceId & 0xFFFF));
  return text;
}

std::string Utf8(const std::string& ansi) {
  bool plain = true;
  for (char c : ansi) plain = plain && (unsigned char)c < 0x80;
  if (plain || ansi.size() > 1 << 20) return ansi;
  int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), nullptr, 0);
  std::wstring text(wide > 0 ? wide : 0, L'\0');
  if (wide > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), &text[0], wide);
  int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &utf8[0], size, nullptr,
                        nullptr);
  return utf8;
}

Json PortObject(const DeviceRecord& record, int attached) {
  Json port = Json::object();
  port["port"] = Utf8(PortNameOf(record));
  port["serial"] = Utf8(SerialOf(record));
  port["vidpid"] = VidPidOf(record);
  port["attached"] = attached < 0 ? Json(nullptr) : Json(attached == 1);
  return port;
}

void AddError(Outcome* outcome, const std::string& message, const std::string& port,
              const std::string& serial, const std::string& value, const std::string& key,
              unsigned long error) {
  if (!outcome->Failed) outcome->Denied = true;
  outcome->Failed = true;
  if (error != ERROR_ACCESS_DENIED) outcome->Denied = false;
  Json entry = Json::object();
  entry["port"] = Utf8(port);
  entry["serial"] = Utf8(serial);
  entry["value"] = Utf8(value);
  entry["key"] = Utf8(key);
  entry["error"] = error;
  entry["message"] = Utf8(message);
  outcome->Document["errors"].push_back(entry);
}

void AddDeviceError(Outcome* outcome, const DeviceRecord& record, const std::string& message,
                    const std::string& value, const std::string& key, unsigned long error) {
  AddError(outcome, message, PortNameOf(record), SerialOf(record), value, key, error);
}

// fwrite, not printf: the runtime's printf takes a long string a character
// at a time, seconds for the megabyte a thousand ports give.
void PrintLine(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fputc('\n', stdout);
}

int Refuse(Outcome* outcome, int exitCode, const std::string& message) {
  if (outcome->JsonOutput) {
    Json entry = Json::object();
    entry["port"] = "";
    entry["serial"] = "";
    entry["value"] = "";
    entry["key"] = "";
    entry["error"] = 0;
    entry["message"] = Utf8(message);
    outcome->Document["errors"].push_back(entry);
    outcome->Document["changed"] = false;
    PrintLine(outcome->Document.dump(2, ' ', false, Json::error_handler_t::replace));
  } else {
    fprintf(stderr, "portmeld: %s\n", message.c_str());
  }
  return exitCode;
}

static std::string ErrorLine(const Json& error) {
  std::string line = "portmeld: ";
  std::string port = error["port"], serial = error["serial"];
  if (!port.empty() || !serial.empty())
    line += (port.empty() ? "" : port + " ") + (serial.empty() ? "" : "(" + serial + ") ");
  line += error["message"].get<std::string>();
  unsigned long code = error["error"];
  if (code) line += " (Win32 error " + std::to_string(code) + ")";
  return line;
}

int Finish(Outcome* outcome) {
  outcome->Document["changed"] = outcome->Changed;
  if (outcome->JsonOutput) {
    PrintLine(outcome->Document.dump(2, ' ', false, Json::error_handler_t::replace));
  } else {
    for (const std::string& line : outcome->Lines) PrintLine(line);
    for (const Json& error : outcome->Document["errors"])
      fprintf(stderr, "%s\n", ErrorLine(error).c_str());
  }
  fflush(stdout);
  if (outcome->Failed) return outcome->Denied ? EXIT_NOT_ALLOWED : EXIT_FAILED;
  if (outcome->CheckOnly && outcome->Changed) return EXIT_WOULD_CHANGE;
  return EXIT_DONE;
}

// Called from the core, which is built without exceptions: nothing may
// leave this function as one.
static int RecordReport(void* context, const Report* report) {
  // A change the journal cannot record is not written: the console has no
  // one to ask (--no-journal writes without).
  bool journal = report->Operation == REPORT_JOURNAL;
  try {
    AddError(static_cast<Outcome*>(context),
             journal ? std::string("the change journal cannot be written, so nothing was "
                                   "(--no-journal writes without it)")
                     : std::string(report->Text),
             report->Port, report->Serial, report->Value, report->Key, report->Error);
    // Not "not allowed": the journal is ours, not a key that refused.
    if (journal) static_cast<Outcome*>(context)->Denied = false;
  } catch (...) {
  }
  return journal ? IDCANCEL : IDOK;
}

Reporter OutcomeReporter(Outcome* outcome) { return {RecordReport, outcome}; }
