// The one write transaction. Every write of either program runs through
// RunWrite: the window's OK and Apply and its dialogs, the start-up access
// step, every writing command of portmeld, and undo. In this order:
//
//  1. before any lock, the journal is checked; when it cannot be written
//     the front end is asked whether to write without a record (the window
//     asks the user; the console says no unless --no-journal);
//  2. the writer lock is taken, once, and let go on every path;
//  3. the plan reads each value's before-image under the lock: a value
//     that exists but cannot be read stops its device's changes;
//  4. the set's first line is recorded, the changes written, the driver
//     reloaded when asked, and the end line recorded, all under the lock;
//  5. the lock is let go, and only then is anything reported: no box is
//     ever shown while another writer may be waiting.
//
// The front end then adopts what was written and renders the outcome.
#pragma once

#include <cstddef>

#include "devices/change_set.h"
#include "platform/report.h"

enum ReloadRequest {
  RELOAD_NONE,
  RELOAD_WHEN_WRITTEN,  // once, when anything was written
  RELOAD_ALWAYS         // also when nothing was: the window's Apply and OK, portmeld reload
};

// Plans the set's changes under the writer lock, reading each before-image
// then. Its reports are held until the lock is let go. False when nothing
// may be written (already reported).
typedef bool (*PlanFunction)(void* context, ChangeSet* set, const Reporter* reporter);

// Restarts the devices the set wrote to, under the lock after the writes,
// filling set->Restarts for the set's end line: the alternative to a reload.
typedef void (*RestartFunction)(void* context, ChangeSet* set);

struct WriteRequest {
  const char* Command;
  PlanFunction Plan;
  void* Context;
  ReloadRequest Reload;
  RestartFunction Restart = nullptr;  // when anything was written
  void* RestartContext = nullptr;
};

enum WriteOutcome {
  WRITE_DONE,
  WRITE_FAILED,   // something was refused (in set->Failed); the rest is written
  WRITE_WITHHELD  // nothing written: the lock, the journal, or the plan said no (reported)
};

WriteOutcome RunWrite(const WriteRequest& request, ChangeSet* set, const Reporter* reporter);

// The same with a plan given as a function object: plan(set, reporter);
// nullptr for a set that only reloads the driver.
inline WriteOutcome RunWrite(const char* command, ReloadRequest reload, ChangeSet* set,
                             const Reporter* reporter, std::nullptr_t) {
  WriteRequest request = {command, nullptr, nullptr, reload};
  return RunWrite(request, set, reporter);
}
template <typename Plan>
WriteOutcome RunWrite(const char* command, ReloadRequest reload, ChangeSet* set,
                      const Reporter* reporter, Plan plan, RestartFunction restart = nullptr,
                      void* restartContext = nullptr) {
  WriteRequest request = {
      command,
      [](void* context, ChangeSet* planned, const Reporter* held) {
        return (*static_cast<Plan*>(context))(planned, held);
      },
      &plan, reload, restart, restartContext};
  return RunWrite(request, set, reporter);
}

// How long a write waits for another writer to let go of the lock: the
// window's 10 s unless the program says otherwise (portmeld --wait).
void SetWriteWait(unsigned long milliseconds);

// The text both programs give when the journal failed under the lock.
extern const char JournalFailedText[];
