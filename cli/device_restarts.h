// Restarting adapters: `portmeld restart`, and what a writing command does
// once its values are written (--restart device|driver|none).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/machine.h"
#include "devices/change_set.h"
#include "devices/journal_lines.h"

// The text Windows' answer "needs a replug or a restart" is said with.
extern const char RestartPendingText[];
// The refusal of a 32-bit program on 64-bit Windows.
extern const char RestartNeedsX64Text[];

// The FTDIBUS key name of a record ("VID_0403+PID_6001+FT12AB34A"); "" when
// the record has no key.
std::string DeviceKeyName(const DeviceRecord& record);

// Restarts the registered devices at the indexes, one at a time, without
// the writer lock; a port open in another program only with force. Each
// result goes to the outcome (a line, the document's "restart" list; a
// pending or failed restart is an error of the command) and to the list
// returned, as the journal records it.
std::vector<JournalRestartEntry> RestartPorts(const Machine& machine,
                                              const std::vector<uint32_t>& indexes, bool force,
                                              Outcome* outcome);

// What --restart (default driver; --no-reload is none) asks for.
enum RestartMode { RESTART_DRIVER, RESTART_DEVICE, RESTART_NONE };
RestartMode RestartModeOf(const CommandLine& line);

// What a writing command's --restart device does inside its write, after
// the values are written and before the set's end line: each attached
// device the set wrote to restarted, the results in set->Restarts (for the
// end line) and in the outcome. The context is a RestartAfterWrite.
struct RestartAfterWrite {
  const CommandLine* Line;
  Outcome* Result;
};
void RestartWrittenDevices(void* context, ChangeSet* set);

// After watch wrote the devices named by their FTDIBUS key names as change
// set journalId, and let go of the lock: each of those devices that is
// attached restarted and the restarts added to the set by a line of their
// own, when the command line asks for device restarts.
void AfterWrites(const CommandLine& line, const std::vector<std::string>& deviceKeys,
                 uint64_t journalId, Outcome* outcome);
// The FTDIBUS key names of the ports in the document that have changes.
std::vector<std::string> ChangedDeviceKeys(const Machine& machine, const Json& ports);

int RunRestart(const CommandLine& line, Outcome* outcome);
