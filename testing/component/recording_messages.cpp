#include "component/recording_messages.h"

#include <deque>

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

static std::string Text(const char* text) { return text ? text : ""; }

static int Record(void* owner, const Report* report) {
  RecordedMessages.push_back({static_cast<HWND>(owner), Text(report->Text), Text(report->Caption),
                              report->Style, report->Operation, Text(report->Port),
                              Text(report->Serial), Text(report->Value), Text(report->Key),
                              report->Error});
  if (answers.empty()) return IDOK;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

const Reporter Recorder = {Record, nullptr};

Reporter RecorderFor(HWND owner) { return {Record, owner}; }
