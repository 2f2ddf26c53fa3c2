#include "platform/report.h"

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
