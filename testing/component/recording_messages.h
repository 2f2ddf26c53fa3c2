// The component tests' front end: every report of the core is recorded as
// the message the windowed program would show, with the facts it carries,
// and answered from a queue (IDOK when the queue is empty).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/report.h"

struct RecordedMessage {
  HWND Owner;
  std::string Text;
  std::string Caption;
  UINT Style;
  ReportOperation Operation;
  std::string Port, Serial, Value, Key;
  DWORD Error;
};

extern std::vector<RecordedMessage> RecordedMessages;

void ClearRecordedMessages();
void QueueMessageAnswer(int answer);
// The texts of the recorded messages, in order.
std::vector<std::string> RecordedTexts();

// Records into RecordedMessages; Owner is the owner the reporter was made
// for (no window for Recorder).
extern const Reporter Recorder;
Reporter RecorderFor(HWND owner);
