#include "platform/writer_lock.h"

#include <sddl.h>

const char WriterLockBusyText[] = "another Portmeld program is writing the driver settings";

static const char WriterLockName[] = "Global\\Orvane.Portmeld.Writer";
// SYSTEM and Administrators: the fleet engine's service account and the
// technician's elevated window both open it; nobody else can hold it.
static const char WriterLockAccess[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)";

static HANDLE OpenOrCreateMutex(DWORD* error) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(WriterLockAccess, SDDL_REVISION_1,
                                                           &descriptor, nullptr))
    attributes.lpSecurityDescriptor = descriptor;
  HANDLE mutex = CreateMutexA(&attributes, FALSE, WriterLockName);
  *error = mutex ? ERROR_SUCCESS : GetLastError();
  if (descriptor) LocalFree(descriptor);
  // Made by another account with an access list that lets us wait on it
  // but not create it again: open it for waiting.
  if (!mutex && *error == ERROR_ACCESS_DENIED) {
    mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, WriterLockName);
    *error = mutex ? ERROR_SUCCESS : GetLastError();
  }
  return mutex;
}

DWORD AcquireWriterLock(DWORD timeoutMs, WriterLock* lock) {
  lock->Mutex = nullptr;
  DWORD error;
  HANDLE mutex = OpenOrCreateMutex(&error);
  if (!mutex) return error;
  DWORD waited = WaitForSingleObject(mutex, timeoutMs);
  // WAIT_ABANDONED: the holder died; what it wrote is in the registry and
  // the journal says how far it got, so the lock is ours now.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    lock->Mutex = mutex;
    return ERROR_SUCCESS;
  }
  error = waited == WAIT_TIMEOUT ? (DWORD)WAIT_TIMEOUT : GetLastError();
  CloseHandle(mutex);
  return error;
}

void ReleaseWriterLock(WriterLock* lock) {
  if (!lock->Mutex) return;
  ReleaseMutex(lock->Mutex);
  CloseHandle(lock->Mutex);
  lock->Mutex = nullptr;
}

static DWORD WriterLockWait = WRITER_LOCK_WAIT_MS;

void SetWriterLockWait(DWORD milliseconds) { WriterLockWait = milliseconds; }

bool TakeWriterLock(const Reporter* reporter, WriterLock* lock) {
  DWORD rc = AcquireWriterLock(WriterLockWait, lock);
  if (rc == ERROR_SUCCESS) return true;
  Report report = MakeReport(REPORT_WRITER_LOCK, WriterLockBusyText, "ERROR", MB_OK | MB_ICONERROR);
  report.Error = rc;
  TellReporter(reporter, report);
  return false;
}
