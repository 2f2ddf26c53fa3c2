// How the core tells a front end what went wrong, and asks what it needs
// answered. A report carries the facts (operation, port, serial, value, key,
// Win32 error) and the fixed text the windowed program shows for it, so the
// window can show its boxes as they are while a console words its own lines.
#pragma once

#include <windows.h>

enum ReportOperation {
  REPORT_LIST_DEVICES,           // the driver key, the D2XX library, memory, no device
  REPORT_READ_SETTING,           // a Device Parameters value that could not be read
  REPORT_WRITE_SETTINGS,         // a device's settings (Apply, OK)
  REPORT_WRITE_CONFIG_DATA,      // the Baud Rate Mapping dialog's write
  REPORT_WRITE_BUFFERED_WRITES,  // the Buffered Writes dialog's write
  REPORT_WRITE_PORT_NAME,        // a rename's PortName
  REPORT_WRITE_FRIENDLY_NAME,    // a rename's FriendlyName
  REPORT_READ_COMDB,
  REPORT_WRITE_COMDB,
  REPORT_SET_PRIVILEGE,
  REPORT_SET_PERMISSIONS,  // owners and access lists
  REPORT_CLOSE_PORT,
  REPORT_OPEN_FILE,
  REPORT_WRITE_FILE,
  REPORT_REPLACE_FILE,
  REPORT_READ_FILE,
  REPORT_SHORT_FILE,
  REPORT_WRITER_LOCK,  // another writer kept the lock: nothing written
  REPORT_JOURNAL,        // the change journal cannot be written: asks whether to write anyway
  REPORT_JOURNAL_FAILED  // the journal failed under the lock: nothing was written
};

struct Report {
  ReportOperation Operation;
  const char* Port;    // "COM5"; "" when none applies or is known
  const char* Serial;  // the device key's serial; ""
  const char* Value;   // registry value name; ""
  const char* Key;     // registry key path under HKLM, or a file path; ""
  DWORD Error;         // Win32 error; 0 when none is known
  // What the windowed program shows: its box's text, caption and style.
  const char* Text;
  const char* Caption;
  UINT Style;
};

// Receives a report; returns the answer to it (IDOK, IDCANCEL, ...).
typedef int (*ReportFunction)(void* context, const Report* report);

struct Reporter {
  ReportFunction Function;
  void* Context;
};

// A report with the window's text, caption and style, and no facts yet.
Report MakeReport(ReportOperation operation, const char* text, const char* caption, UINT style);
// Hands the report to the reporter; IDOK when there is none to ask.
int TellReporter(const Reporter* reporter, const Report& report);

// Reports kept to be told later. A front end's message box waits for the
// user, so no report is shown while the machine-wide writer lock is held:
// other writers would wait on a box nobody is looking at.
struct HeldReport;
struct ReportHolder {
  HeldReport* Reports;  // Count of them, in the order told
  int Count;
};
// A reporter that keeps each report (answering IDOK) in the holder.
Reporter HoldingReporter(ReportHolder* holder);
// Tells the kept reports to the reporter, in order, and empties the holder.
void TellHeldReports(ReportHolder* holder, const Reporter* reporter);
