// Component tests link this in place of the real message box: every message
// is recorded, and answered from a queue (IDOK when the queue is empty).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RecordedMessage {
  HWND Owner;
  std::string Text;
  std::string Caption;
  UINT Style;
};

extern std::vector<RecordedMessage> RecordedMessages;

void ClearRecordedMessages();
void QueueMessageAnswer(int answer);
// The texts of the recorded messages, in order.
std::vector<std::string> RecordedTexts();
