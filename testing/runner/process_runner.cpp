#include "runner/process_runner.h"

#include <stdio.h>

namespace {

const DWORD RetryWaitMs = 500;  // before the one more start after Wine's error 1359

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseIfOpen(HANDLE handle) {
  if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

// One attempt; the output files start with note.
bool StartOnce(const Launch& launch, const std::string& note, RunningProcess* process,
               DWORD* startError) {
  HANDLE in = launch.InputPath.empty() ? nullptr
                                       : Inheritable(launch.InputPath, GENERIC_READ, OPEN_EXISTING);
  HANDLE out = Inheritable(launch.OutPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err =
      launch.ErrPath.empty() ? out : Inheritable(launch.ErrPath, GENERIC_WRITE, CREATE_ALWAYS);
  DWORD written = 0;
  if (!note.empty() && out != INVALID_HANDLE_VALUE)
    WriteFile(out, note.data(), static_cast<DWORD>(note.size()), &written, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in == INVALID_HANDLE_VALUE ? nullptr : in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::string commandLine =
      "\"" + launch.Exe + "\"" + (launch.Args.empty() ? "" : " " + launch.Args);
  std::string folder = launch.Folder;
  if (folder.empty()) folder = launch.Exe.substr(0, launch.Exe.find_last_of('\\'));
  BOOL started = CreateProcessA(
      launch.Exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
      (launch.Detached ? DETACHED_PROCESS : 0) | (launch.Suspended ? CREATE_SUSPENDED : 0) |
          (launch.NewGroup ? CREATE_NEW_PROCESS_GROUP : 0),
      nullptr,
      folder.c_str(), &startup, &process->Info);
  *startError = started ? ERROR_SUCCESS : GetLastError();
  CloseIfOpen(in);
  if (err != out) CloseIfOpen(err);
  CloseIfOpen(out);
  process->Started = started != FALSE;
  process->StartedAt = GetTickCount();
  return process->Started;
}

}  // namespace

bool StartProcess(const Launch& launch, RunningProcess* process, std::string* error) {
  *process = RunningProcess();
  if (GetFileAttributesA(launch.Exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *error = "program not found: " + launch.Exe;
    return false;
  }
  DWORD startError = 0;
  if (StartOnce(launch, "", process, &startError)) return true;
  if (startError == ERROR_INTERNAL_ERROR) {
    Sleep(RetryWaitMs);
    std::string note =
        "test runner: CreateProcessA failed with 1359 (ERROR_INTERNAL_ERROR): "
        "Wine's new process ended while it started; started again after " +
        std::to_string(RetryWaitMs) + " ms\n";
    printf("[ NOTE     ] %s", note.c_str());
    if (StartOnce(launch, launch.NoteInOutput ? note : "", process, &startError)) return true;
  }
  *error = "CreateProcessA failed with " + std::to_string(startError) + ": " + launch.Exe + " " +
           launch.Args;
  return false;
}

bool ProcessRunning(const RunningProcess& process) {
  return process.Started && WaitForSingleObject(process.Info.hProcess, 0) == WAIT_TIMEOUT;
}

void ResumeProcess(RunningProcess* process) {
  if (process->Started) ResumeThread(process->Info.hThread);
  process->StartedAt = GetTickCount();
}

bool WaitProcess(RunningProcess* process, DWORD timeoutMs, DWORD* exitCode) {
  if (!process->Started || WaitForSingleObject(process->Info.hProcess, timeoutMs) != WAIT_OBJECT_0)
    return false;
  GetExitCodeProcess(process->Info.hProcess, exitCode);
  return true;
}

void EndProcess(RunningProcess* process) {
  if (!process->Started) return;
  if (ProcessRunning(*process)) {
    TerminateProcess(process->Info.hProcess, 0xDEADBEEF);
    WaitForSingleObject(process->Info.hProcess, 10000);
  }
  CloseHandle(process->Info.hThread);
  CloseHandle(process->Info.hProcess);
  *process = RunningProcess();
}

ProcessResult RunProcess(const Launch& launch, DWORD timeoutMs) {
  ProcessResult result;
  RunningProcess process;
  if (!StartProcess(launch, &process, &result.Error)) return result;
  result.Ended = WaitProcess(&process, timeoutMs, &result.ExitCode);
  result.ElapsedMs = GetTickCount() - process.StartedAt;
  if (!result.Ended) result.Error = "still running after " + std::to_string(timeoutMs) + " ms";
  EndProcess(&process);
  result.Out = ReadTextFile(launch.OutPath);
  if (!launch.ErrPath.empty()) result.Err = ReadTextFile(launch.ErrPath);
  return result;
}

std::string ReadTextFile(const std::string& path) {
  std::string text;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  fclose(file);
  return text;
}

std::string ProgramFolder() {
  char path[MAX_PATH] = "";
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, n);
  return text.substr(0, text.find_last_of('\\'));
}
