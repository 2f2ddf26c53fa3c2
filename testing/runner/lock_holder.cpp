#include "runner/lock_holder.h"

#include <windows.h>

namespace {
const DWORD ReadyWaitMs = 15000;
}

bool HoldWriterLock(unsigned long holdMs, bool abandon, RunningProcess* holder,
                    std::string* error) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  Launch launch;
  launch.Exe = ProgramFolder() + "\\portmeld_hold_lock.exe";
  launch.Args = std::to_string(holdMs) + (abandon ? " abandon" : "");
  launch.OutPath =
      std::string(temp) + "portmeld_hold_lock_" + std::to_string(GetCurrentProcessId()) + ".txt";
  launch.Detached = true;
  if (!StartProcess(launch, holder, error)) return false;
  for (DWORD start = GetTickCount(); GetTickCount() - start < ReadyWaitMs; Sleep(20)) {
    if (ReadTextFile(launch.OutPath).find("held") != std::string::npos) return true;
    if (!ProcessRunning(*holder)) break;
  }
  *error = "the lock holder did not report the lock held; it said: " + ReadTextFile(launch.OutPath);
  EndProcess(holder);
  return false;
}
