#include "platform/report.h"

#include <string>
#include <vector>

Report MakeReport(ReportOperation operation, const char* text, const char* caption, UINT style) {
  Report report = {};
  report.Operation = operation;
  report.Port = "";
  report.Serial = "";
  report.Value = "";
  report.Key = "";
  report.Text = text;
  report.Caption = caption;
  report.Style = style;
  return report;
}

int TellReporter(const Reporter* reporter, const Report& report) {
  if (!reporter || !reporter->Function) return IDOK;
  return reporter->Function(reporter->Context, &report);
}

struct HeldReport {
  Report Facts;
  std::string Port, Serial, Value, Key, Text, Caption;
};

static int HoldReport(void* context, const Report* report) {
  ReportHolder* holder = static_cast<ReportHolder*>(context);
  HeldReport* grown = new HeldReport[holder->Count + 1];
  for (int i = 0; i < holder->Count; ++i) grown[i] = holder->Reports[i];
  delete[] holder->Reports;
  holder->Reports = grown;
  HeldReport& held = holder->Reports[holder->Count++];
  held.Facts = *report;
  held.Port = report->Port ? report->Port : "";
  held.Serial = report->Serial ? report->Serial : "";
  held.Value = report->Value ? report->Value : "";
  held.Key = report->Key ? report->Key : "";
  held.Text = report->Text ? report->Text : "";
  held.Caption = report->Caption ? report->Caption : "";
  return IDOK;
}

Reporter HoldingReporter(ReportHolder* holder) {
  holder->Reports = nullptr;
  holder->Count = 0;
  return {HoldReport, holder};
}

void TellHeldReports(ReportHolder* holder, const Reporter* reporter) {
  for (int i = 0; i < holder->Count; ++i) {
    HeldReport& held = holder->Reports[i];
    Report report = held.Facts;
    report.Port = held.Port.c_str();
    report.Serial = held.Serial.c_str();
    report.Value = held.Value.c_str();
    report.Key = held.Key.c_str();
    report.Text = held.Text.c_str();
    report.Caption = held.Caption.c_str();
    TellReporter(reporter, report);
  }
  delete[] holder->Reports;
  holder->Reports = nullptr;
  holder->Count = 0;
}
