// A change set: every registry value one operation of either program is
// about to write, each with what the registry holds now and what it will
// hold. Both programs plan their writes as a change set and commit it
// through CommitChangeSet, under the writer lock, after the change journal
// has recorded it: so every write can be told afterwards, and undone.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "devices/device_record.h"
#include "platform/report.h"

// A registry value as stored: absent, or its type and bytes.
struct ValueImage {
  bool Present = false;
  DWORD Type = REG_NONE;
  std::vector<unsigned char> Data;
};

bool SameImage(const ValueImage& a, const ValueImage& b);
ValueImage DwordImage(uint32_t number);
ValueImage BinaryImage(const void* data, size_t size);
// A REG_SZ with its terminating zero.
ValueImage StringImage(const char* text);

enum ChangeKind {
  CHANGE_VALUE,          // a value written (After present) or deleted (After absent)
  CHANGE_REMOVE_DEVICE,  // a device instance removed through its class installer: no undo
  CHANGE_RELOAD_DRIVER   // the driver asked to reload: no undo
};

// How a value is written. The windowed program owns the access lists of
// the device keys and writes them directly; the console program changes no
// access list and sets a device's own properties as the system's tools do.
enum ValueWriter {
  THROUGH_REGISTRY,  // RegSetValueExA / RegDeleteValueA on Key
  THROUGH_SETUPAPI   // UpperFilters or FriendlyName of Device, through SetupAPI
};

struct ValueChange {
  ChangeKind Kind = CHANGE_VALUE;
  std::string Port;    // "COM5"; "" for a machine-wide value
  std::string Serial;  // the device key's serial; ""
  std::string Key;     // path under HKEY_LOCAL_MACHINE
  std::string Value;   // value name; "" for a change that is no value
  ValueImage Before, After;
  ValueWriter Writer = THROUGH_REGISTRY;
  DeviceRecord Device = {};  // the device a THROUGH_SETUPAPI value belongs to
  // Changes of one group belong together (one device's settings, one
  // rename): the first that fails ends its group; a group marked Undo
  // also has its written changes put back.
  int Group = 0;
  bool Written = false;  // set by CommitChangeSet; false again when put back
};

struct FailedChange {
  size_t Index;       // into Changes
  DWORD Error;        // Win32 error
  bool KeyNotOpened;  // the key would not open; else the value was refused
};

struct ChangeSet {
  std::string Command;  // "Apply", "Rename COM Port", "set COM5 latencyTimer=2"
  std::vector<ValueChange> Changes;
  std::vector<int> UndoGroups;       // groups put back whole when one change fails
  std::vector<FailedChange> Failed;  // filled by CommitChangeSet
  uint64_t JournalId = 0;            // 0 when the set was not recorded
  bool Withheld = false;  // nothing written: the journal could not record it, and the answer was no
};

// The value as the registry holds it now. ERROR_SUCCESS also for an absent
// value or key (Present false); the error when it cannot be read.
LONG ReadValueImage(const char* keyPath, const char* valueName, ValueImage* image);
// The same from a key already open.
LONG ReadValueImageFromKey(HKEY key, const char* valueName, ValueImage* image);

// Writes the set's changes in order: records it in the change journal first
// (a journal that cannot be written asks the reporter, REPORT_JOURNAL; any
// answer but IDOK writes nothing), then each change, then the journal's end
// line. A change whose Before equals its After is not written. False when
// anything failed (each failure is in set->Failed; the caller reports) or
// nothing was written because the journal refused.
// The caller holds the writer lock (platform/writer_lock.h) from the read
// of the Before images to the end of the commit.
bool CommitChangeSet(ChangeSet* set, const Reporter* reporter);
