#include "component/recording_messages.h"

#include <deque>

#include "platform/ui.h"

std::vector<RecordedMessage> RecordedMessages;
static std::deque<int> answers;

void ClearRecordedMessages() {
  RecordedMessages.clear();
  answers.clear();
}

void QueueMessageAnswer(int answer) { answers.push_back(answer); }

std::vector<std::string> RecordedTexts() {
  std::vector<std::string> texts;
  for (const RecordedMessage& m : RecordedMessages) texts.push_back(m.Text);
  return texts;
}

int MessageBoxAtCursor(HWND owner, const char* text, const char* caption, UINT style) {
  RecordedMessages.push_back({owner, text ? text : "", caption ? caption : "", style});
  if (answers.empty()) return IDOK;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}
