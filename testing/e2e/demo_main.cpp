// scripts/demo's helper: starts PortmeldConfigurator.exe beside it, waits
// for the Main window, saves a picture of it and closes the program again
// (or, with --keep, waits until the user closes it).
//
//   portmeld_demo.exe <picture.bmp> <program-output.txt> [--keep]
//
// The D2XX stand-in's variables come from the environment, as scripts/demo
// sets them.
#include <stdio.h>
#include <string.h>

#include "e2e/driver.h"
#include "e2e/steps.h"
#include "main_window_ids.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: portmeld_demo <picture.bmp> <program-output.txt> [--keep]\n");
    return 2;
  }
  bool keep = argc > 3 && strcmp(argv[3], "--keep") == 0;
  AppSession app;
  InitSession(&app, "demo");
  app.OutputPath = argv[2];
  // The Main window opens at the pointer; put it where the whole window
  // fits on the 1024 x 768 desktop.
  if (!RunSteps(&app, {{Do::Pointer, "160,150"},
                       {Do::Launch},
                       {Do::Window, MAIN_WINDOW_TITLE},
                       {Do::NoMessage}})) {
    fprintf(stderr, "demo: %s\n", app.Error.c_str());
    EndProgram(&app);
    return 1;
  }
  // Show the first port's settings, as a user would after start.
  int rows = 0;
  if (ReadListCount(&app, IDL_DEVICES, &rows) && rows > 0 &&
      !RunSteps(&app, {{Do::SelectRow, IDL_DEVICES, "0"}, {Do::NoMessage}}))
    fprintf(stderr, "demo: selecting the first port: %s\n", app.Error.c_str());
  RepaintProgram(&app);
  RECT rect;
  GetWindowRect(CurrentDialog(&app), &rect);
  int saved = SaveScreenshot(argv[1], &rect);
  if (!saved) fprintf(stderr, "demo: could not save %s\n", argv[1]);
  if (keep) {
    printf("demo: the program runs until you close it\n");
    fflush(stdout);
    WaitForSingleObject(app.Process.hProcess, INFINITE);
  } else if (!RunSteps(&app, {{Do::Click, IDB_CANCEL},
                              {Do::Message, IDOK, "Abort Configuration?\nUnsaved Data will be lost",
                               "Warning"},
                              {Do::ExpectExit, "0"}})) {
    fprintf(stderr, "demo: closing the program: %s\n", app.Error.c_str());
  }
  EndProgram(&app);
  return saved ? 0 : 1;
}
