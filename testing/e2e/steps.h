// The step language of end-to-end scenarios: a scenario is a table of
// steps that reads like the user's story, one action or expectation a row.
//
//   {Do::Launch},
//   {Do::Message, IDOK, "No active FTDI devices found", "ERROR"},
//   {Do::Window, MAIN_WINDOW_TITLE},
//   {Do::ExpectRows, IDL_DEVICES, "0"},
//   {Do::ExpectDisabled, IDE_LATENCY_TIMER},
//   {Do::Click, IDB_CANCEL},
//   {Do::Message, IDOK, "Abort Configuration?\nUnsaved Data will be lost", "Warning"},
//   {Do::ExpectExit, "0"},
//
// Fields: what to do; the control (or button, key, command) id; a text whose
// meaning the action gives below; and, for Message only, the caption. The id
// may be left out where an action takes none: {Do::Window, MAIN_WINDOW_TITLE}.
// Every input settles before the next step (driver.h, Settle), so no step
// ever sleeps. Controls are looked up in the current dialog: the one that
// the last Window step found, or the dialog beneath it once it has closed.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "e2e/driver.h"

enum class Do {
  // Program and windows
  Launch,      // start PortmeldConfigurator.exe
  Window,      // text: caption; wait for that dialog, it becomes current
  Message,     // text: the box's text; caption: its caption; id: button that
               // answers it (IDOK, IDCANCEL, ...), or 0 to leave it open
  Answer,      // id: button that answers the box left open
  NoMessage,   // no message box or other dialog has appeared
  Pointer,     // text: "x,y"; place the mouse pointer
  BoxAtPointer,  // the open box is centred on the pointer (within 1 pixel)
  // Input to the current dialog
  Type,       // id, text: WM_SETTEXT
  Click,      // id: a button, BM_CLICK posted
  Command,    // id: WM_COMMAND posted to the dialog (menu items)
  SelectRow,  // id: list box, text: row number; as a user's click selects it
  Key,        // id: virtual key (VK_ESCAPE, VK_RETURN) to the focused control
  CloseBox,   // the dialog's close box
  // Expectations on the current dialog
  ExpectText,       // id, text: the control's text, exactly
  ExpectChecked,    // id
  ExpectUnchecked,  // id
  ExpectEnabled,    // id
  ExpectDisabled,   // id
  ExpectRows,       // id: list box, text: row count
  ExpectSelectedRow,  // id: list box, text: selected row, "-1" for none
  ExpectRowText,    // id: list box with strings, text: "row=text"
  // Expectations on the outside world
  ExpectLog,    // text: a line of the D2XX stand-in's call log starts with it
  ExpectNoLog,  // text: no line of the call log starts with it
  ExpectExit,   // text: the program ends with this exit code
  Screenshot,   // text: file name under results/screenshots (.bmp added)
};

struct Step {
  // So that a row names only what it needs: {Do::Click, IDB_APPLY},
  // {Do::Window, MainTitle}, {Do::ExpectText, IDE_STATUS, "Open COM Ports: 1"}.
  Step(Do action, int id = 0, std::string text = "", std::string caption = "")
      : Action(action), Id(id), Text(std::move(text)), Caption(std::move(caption)) {}
  Step(Do action, const char* text) : Action(action), Id(0), Text(text) {}
  Do Action;
  int Id;
  std::string Text;
  std::string Caption;
};

// The steps of the first table followed by those of the second.
std::vector<Step> Then(std::vector<Step> first, const std::vector<Step>& second);

// How a step shows in a failure report: {Click 1003}.
std::string DescribeStep(const Step& step);

// Runs the steps in order and stops at the first that fails: returns 0 with
// "step N {…}: reason" in app->Error.
int RunSteps(AppSession* app, const std::vector<Step>& steps);
