// Holds the writer lock of the Portmeld programs, as another writer would:
//   portmeld_hold_lock MS [abandon]
// prints "held" once it owns the lock, keeps it MS milliseconds, then
// releases it, or with "abandon" ends without releasing it (the holder died).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  // The name both programs use; written out so that another name in the product shows.
  static const char Name[] = "Global\\Orvane.Portmeld.Writer";
  if (argc < 2) {
    fprintf(stderr, "usage: portmeld_hold_lock MS [abandon]\n");
    return 3;
  }
  DWORD holdMs = strtoul(argv[1], nullptr, 10);
  bool abandon = argc > 2 && strcmp(argv[2], "abandon") == 0;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, Name);
  // Made first by a program whose access list lets us wait on it only.
  if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
    mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, Name);
  if (!mutex) {
    printf("cannot open the lock: error %lu\n", GetLastError());
    return 2;
  }
  DWORD waited = WaitForSingleObject(mutex, 30000);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    printf("the lock stayed taken: %lu\n", waited);
    return 2;
  }
  printf("held\n");
  fflush(stdout);
  Sleep(holdMs);
  if (abandon) ExitProcess(0);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}
