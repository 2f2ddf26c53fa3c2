// The one way the test programs start another program: the end-to-end
// driver starts the windowed program, the console tests portmeld.exe and the
// writer-lock holder, several at once where a test needs that.
#pragma once

#include <windows.h>

#include <string>

struct Launch {
  std::string Exe;        // full Windows path
  std::string Args;       // appended to the quoted path
  std::string Folder;     // working folder; the exe's own when empty
  std::string InputPath;  // file on standard input; none when empty
  std::string OutPath;    // standard output; standard error too when ErrPath is empty
  std::string ErrPath;
  bool Detached = false;  // no console of its own (console programs)
  // Whether a second start's note goes at the head of OutPath too (not
  // where the output is parsed, as a console program's JSON is).
  bool NoteInOutput = false;
  // Started with its first thread held until ResumeProcess: several such
  // processes let go in one moment run their start and work side by side.
  bool Suspended = false;
  // A process group of its own on this program's console, so that a test
  // can send it Ctrl+Break (GenerateConsoleCtrlEvent) as a user stops it.
  bool NewGroup = false;
};

struct RunningProcess {
  PROCESS_INFORMATION Info = {};
  bool Started = false;
  DWORD StartedAt = 0;  // GetTickCount at the start
};

// Starts the program. Wine now and then fails a start with 1359
// (ERROR_INTERNAL_ERROR) before any of the program ran: its loader's heap
// landed where Windows' shared user data must go, and the next start gets
// another layout. Such a start is made once more, and the output file
// begins with a line that says so. false with the reason in *error.
bool StartProcess(const Launch& launch, RunningProcess* process, std::string* error);
bool ProcessRunning(const RunningProcess& process);
void ResumeProcess(RunningProcess* process);
// Waits up to timeoutMs; false (and the process still running) when it did not end.
bool WaitProcess(RunningProcess* process, DWORD timeoutMs, DWORD* exitCode);
// Kills the process if it still runs and releases its handles.
void EndProcess(RunningProcess* process);

// What a run to its end left.
struct ProcessResult {
  bool Ended = false;  // false: not started, or killed after the timeout
  DWORD ExitCode = 0xDEADBEEF;
  DWORD ElapsedMs = 0;
  std::string Out, Err;
  std::string Error;  // why it did not start or end
};
// Starts, waits up to timeoutMs (kills it then), reads its output files.
ProcessResult RunProcess(const Launch& launch, DWORD timeoutMs);

// A whole file as text; "" when it cannot be read.
std::string ReadTextFile(const std::string& path);

// The folder of this test program, where the build puts the programs under test.
std::string ProgramFolder();
