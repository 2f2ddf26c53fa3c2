#include "e2e/steps.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "component/registry_fixture.h"

namespace {

const char* ActionName(Do action) {
  switch (action) {
    case Do::Launch: return "Launch";
    case Do::Window: return "Window";
    case Do::Message: return "Message";
    case Do::Answer: return "Answer";
    case Do::NoMessage: return "NoMessage";
    case Do::Pointer: return "Pointer";
    case Do::BoxAtPointer: return "BoxAtPointer";
    case Do::Type: return "Type";
    case Do::Click: return "Click";
    case Do::Command: return "Command";
    case Do::SelectRow: return "SelectRow";
    case Do::Key: return "Key";
    case Do::CloseBox: return "CloseBox";
    case Do::ExpectText: return "ExpectText";
    case Do::ExpectChecked: return "ExpectChecked";
    case Do::ExpectUnchecked: return "ExpectUnchecked";
    case Do::ExpectEnabled: return "ExpectEnabled";
    case Do::ExpectDisabled: return "ExpectDisabled";
    case Do::ExpectRows: return "ExpectRows";
    case Do::ExpectSelectedRow: return "ExpectSelectedRow";
    case Do::ExpectRowText: return "ExpectRowText";
    case Do::ExpectLog: return "ExpectLog";
    case Do::ExpectNoLog: return "ExpectNoLog";
    case Do::ExpectExit: return "ExpectExit";
    case Do::Screenshot: return "Screenshot";
  }
  return "?";
}

// Shows line feeds and blanks at the ends, which matter in these texts.
std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out + "\"";
}

int Fail(AppSession* app, const std::string& reason) {
  app->Error = reason;
  return 0;
}

// A whole decimal number, or 0 with the reason in Error.
int ParseInt(AppSession* app, const std::string& text, int* value) {
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end) return Fail(app, "not a number: " + Quote(text));
  *value = static_cast<int>(v);
  return 1;
}

int ExpectEqual(AppSession* app, const std::string& what, const std::string& expected,
                const std::string& actual) {
  if (expected == actual) return 1;
  return Fail(app, what + " is " + Quote(actual) + ", expected " + Quote(expected));
}

bool LogHasLineStarting(const std::string& log, const std::string& prefix) {
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    if (log.compare(start, prefix.size(), prefix) == 0 && end - start >= prefix.size())
      return true;
    start = end + 1;
  }
  return false;
}

int BoxAtPointer(AppSession* app) {
  if (!app->Box || !IsWindow(app->Box))
    return Fail(app, "no message box is open (leave it open with id 0 in its Message step)");
  RECT rect;
  POINT pointer;
  if (!GetWindowRect(app->Box, &rect) || !GetCursorPos(&pointer))
    return Fail(app, "cannot read the box's rectangle or the pointer");
  // The centre as the program computes it: left + width / 2.
  long centreX = rect.left + (rect.right - rect.left) / 2;
  long centreY = rect.top + (rect.bottom - rect.top) / 2;
  if (labs(centreX - pointer.x) <= 1 && labs(centreY - pointer.y) <= 1) return 1;
  char text[200];
  snprintf(text, sizeof text, "box (%ld,%ld)-(%ld,%ld) has its centre at (%ld,%ld), pointer at (%ld,%ld)",
           static_cast<long>(rect.left), static_cast<long>(rect.top),
           static_cast<long>(rect.right), static_cast<long>(rect.bottom), centreX, centreY,
           static_cast<long>(pointer.x), static_cast<long>(pointer.y));
  return Fail(app, text);
}

int RunStep(AppSession* app, const Step& step) {
  const std::string control = "control " + std::to_string(step.Id);
  int number = 0, state = 0;
  std::string text;
  switch (step.Action) {
    case Do::Launch:
      return LaunchProgram(app);
    case Do::Window:
      return WaitForDialog(app, step.Text.c_str(),
                           app->Dialogs.empty() ? FIRST_WINDOW_WAIT_MS : WINDOW_WAIT_MS) != nullptr;
    case Do::Message: {
      HWND box = WaitForMessageBox(app, step.Caption.c_str(),
                                   app->Dialogs.empty() ? FIRST_WINDOW_WAIT_MS : WINDOW_WAIT_MS);
      if (!box) return 0;
      if (!ExpectEqual(app, "the message", step.Text, MessageBoxText(box))) return 0;
      return step.Id == 0 ? 1 : AnswerMessageBox(app, step.Id);
    }
    case Do::Answer:
      return AnswerMessageBox(app, step.Id);
    case Do::NoMessage: {
      if (!Settle(app)) return 0;
      std::vector<HWND> extra = UnexpectedWindows(app);
      if (extra.empty()) return 1;
      return Fail(app, "unexpected window(s); the program shows:\n" + DescribeWindows(app));
    }
    case Do::Pointer: {
      int x = 0, y = 0;
      if (sscanf(step.Text.c_str(), "%d,%d", &x, &y) != 2)
        return Fail(app, "a pointer position is \"x,y\", not " + Quote(step.Text));
      return PlacePointer(x, y) ? 1 : Fail(app, "the pointer did not stay at " + step.Text);
    }
    case Do::BoxAtPointer:
      return BoxAtPointer(app);
    case Do::Type:
      return SetControlText(app, step.Id, step.Text.c_str());
    case Do::Click:
      return ClickControl(app, step.Id);
    case Do::Command:
      return PostCommand(app, step.Id);
    case Do::SelectRow:
      return ParseInt(app, step.Text, &number) && SelectListRow(app, step.Id, number);
    case Do::Key:
      return PressKey(app, step.Id);
    case Do::CloseBox:
      return PressCloseBox(app);
    case Do::ExpectText:
      return ReadControlText(app, step.Id, &text) &&
             ExpectEqual(app, "the text of " + control, step.Text, text);
    case Do::ExpectChecked:
    case Do::ExpectUnchecked: {
      if (!ReadCheck(app, step.Id, &state)) return 0;
      int wanted = step.Action == Do::ExpectChecked ? BST_CHECKED : BST_UNCHECKED;
      if (state == wanted) return 1;
      return Fail(app, control + (state == BST_CHECKED ? " is checked" : " is not checked"));
    }
    case Do::ExpectEnabled:
    case Do::ExpectDisabled: {
      if (!ReadEnabled(app, step.Id, &state)) return 0;
      if (state == (step.Action == Do::ExpectEnabled ? 1 : 0)) return 1;
      return Fail(app, control + (state ? " is enabled" : " is disabled"));
    }
    case Do::ExpectRows:
      return ParseInt(app, step.Text, &number) && ReadListCount(app, step.Id, &state) &&
             ExpectEqual(app, "the row count of " + control, step.Text, std::to_string(state));
    case Do::ExpectSelectedRow:
      return ParseInt(app, step.Text, &number) && ReadListSelection(app, step.Id, &state) &&
             ExpectEqual(app, "the selected row of " + control, step.Text, std::to_string(state));
    case Do::ExpectRowText: {
      size_t equals = step.Text.find('=');
      if (equals == std::string::npos)
        return Fail(app, "a row text is \"row=text\", not " + Quote(step.Text));
      return ParseInt(app, step.Text.substr(0, equals), &number) &&
             ReadListRowText(app, step.Id, number, &text) &&
             ExpectEqual(app, "row " + std::to_string(number) + " of " + control,
                         step.Text.substr(equals + 1), text);
    }
    case Do::ExpectLog:
    case Do::ExpectNoLog: {
      std::string log = ReadStandinLog();
      bool found = LogHasLineStarting(log, step.Text);
      if (found == (step.Action == Do::ExpectLog)) return 1;
      return Fail(app, std::string(found ? "the call log has " : "the call log lacks ") +
                           Quote(step.Text) + "; it reads:\n" + log);
    }
    case Do::ExpectExit: {
      DWORD code = 0;
      if (!ParseInt(app, step.Text, &number) || !WaitForExit(app, EXIT_WAIT_MS, &code)) return 0;
      return ExpectEqual(app, "the exit code", step.Text, std::to_string(static_cast<int>(code)));
    }
    case Do::Screenshot: {
      std::string dir = ResultsDirectory() + "\\screenshots";
      CreateDirectoryA(dir.c_str(), nullptr);
      std::string path = dir + "\\" + FileSafeName(step.Text) + ".bmp";
      if (app->Launched && !RepaintProgram(app)) return 0;
      return SaveScreenshot(path, nullptr) ? 1 : Fail(app, "cannot save " + path);
    }
  }
  return Fail(app, "unknown step");
}

}  // namespace

std::string DescribeStep(const Step& step) {
  std::string text = std::string("{") + ActionName(step.Action);
  if (step.Id) text += " " + std::to_string(step.Id);
  if (!step.Text.empty()) text += " " + Quote(step.Text);
  if (!step.Caption.empty()) text += " " + Quote(step.Caption);
  return text + "}";
}

int RunSteps(AppSession* app, const std::vector<Step>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    app->Error.clear();
    if (!RunStep(app, steps[i])) {
      app->Error = "step " + std::to_string(i + 1) + " " + DescribeStep(steps[i]) + ": " +
                   (app->Error.empty() ? "failed" : app->Error);
      return 0;
    }
  }
  return 1;
}

std::vector<Step> Then(std::vector<Step> first, const std::vector<Step>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}
