// Another writer, for tests of the writer lock: portmeld_hold_lock.exe
// (beside the test program) started through the process runner.
#pragma once

#include <string>

#include "runner/process_runner.h"

// Starts the holder and waits until it owns the lock. It releases the lock
// after holdMs, or with abandon ends without releasing it. false with the
// reason in *error when it did not get the lock in time.
bool HoldWriterLock(unsigned long holdMs, bool abandon, RunningProcess* holder, std::string* error);
