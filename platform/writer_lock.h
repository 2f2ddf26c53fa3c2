// One writer at a time, machine-wide: every operation of either program
// that writes the driver's settings holds this lock from the read-again to
// the last write, so that two writers never merge against each other's
// half-written state.
#pragma once

#include <windows.h>

#include "platform/report.h"

// The windowed program waits this long, as the console program does by
// default (--wait).
enum { WRITER_LOCK_WAIT_MS = 10000 };

// The text both programs give when the wait runs out.
extern const char WriterLockBusyText[];

struct WriterLock {
  HANDLE Mutex;
};

// Waits up to timeoutMs for the lock. ERROR_SUCCESS when held (also when
// its last holder died holding it), WAIT_TIMEOUT when another writer kept
// it, or the Win32 error of creating it.
DWORD AcquireWriterLock(DWORD timeoutMs, WriterLock* lock);
void ReleaseWriterLock(WriterLock* lock);

// How long TakeWriterLock waits: WRITER_LOCK_WAIT_MS unless the program
// says otherwise (the console program's --wait).
void SetWriterLockWait(DWORD milliseconds);
// AcquireWriterLock with that wait; false after reporting why
// (REPORT_WRITER_LOCK: WriterLockBusyText, caption "ERROR").
bool TakeWriterLock(const Reporter* reporter, WriterLock* lock);
