// A change set: every registry value one operation of either program is
// about to write, each with what the registry holds now and what it will
// hold. Both programs plan their writes as a change set and run it through
// the one write transaction (devices/write_transaction.h): under the writer
// lock, after the change journal has recorded it, so that every write can
// be told afterwards, and undone.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "devices/device_record.h"
#include "devices/journal_lines.h"
#include "devices/value_image.h"
#include "platform/report.h"


bool SameImage(const ValueImage& a, const ValueImage& b);
ValueImage DwordImage(uint32_t number);
ValueImage BinaryImage(const void* data, size_t size);
// A REG_SZ with its terminating zero.
ValueImage StringImage(const char* text);

enum ChangeKind {
  CHANGE_VALUE,          // a value written (After present) or deleted (After absent)
  CHANGE_REMOVE_DEVICE,  // a device instance removed through its class installer: no undo
  CHANGE_RELOAD_DRIVER,  // the driver asked to reload: no undo
  CHANGE_KEY_SECURITY    // a key's owner and access list: Before and After are SDDL text
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
  // The before-image could not be read (the Win32 error): nothing of the
  // device is written, and the value is never recorded as absent.
  LONG ReadError = ERROR_SUCCESS;
  // ComDB: only the bits in which Before and After differ are written,
  // onto the value as it is at the write.
  bool Bitwise = false;
  // A key's owner must be set as recorded (undo); else an owner that
  // cannot be changed leaves the access list to be written alone.
  bool OwnerRequired = false;
  bool Written = false;  // set by the commit; false again when put back
};

struct FailedChange {
  size_t Index;       // into Changes
  DWORD Error;        // Win32 error
  bool KeyNotOpened;  // the key would not open; else the value was refused
  bool Unread;        // a value of the device could not be read: nothing of it written
};

// How a reload of the driver that the set asked for went.
enum ReloadResult { RELOAD_NOT_ASKED, RELOAD_DONE, RELOAD_FAILED };

struct ChangeSet {
  std::string Command;  // "Apply", "Rename COM Port", "set COM5 latencyTimer=2"
  std::vector<ValueChange> Changes;
  std::vector<int> UndoGroups;       // groups put back whole when one change fails
  std::vector<FailedChange> Failed;  // filled by the commit
  uint64_t JournalId = 0;            // 0 when the set was not recorded
  // Nothing written: another writer kept the lock, the journal could not
  // record the set (JournalError) and the answer was no, or it failed
  // under the lock.
  bool Withheld = false;
  bool Busy = false;        // withheld because another writer kept the lock
  DWORD JournalError = 0;   // why the journal could not record the set
  bool Unrecorded = false;  // written without a record, as the user allowed
  ReloadResult Reload = RELOAD_NOT_ASKED;
  unsigned long ReloadStatus = 0;  // FT_STATUS of a failed reload
  std::string ReloadFailure;       // why it failed, as the journal and the console say it
  // The devices restarted after the writes, instead of a driver reload.
  std::vector<JournalRestartEntry> Restarts;
};

// The value as the registry holds it now. ERROR_SUCCESS also for an absent
// value or key (Present false); the error when it cannot be read.
LONG ReadValueImage(const char* keyPath, const char* valueName, ValueImage* image);
// The same from a key already open.
LONG ReadValueImageFromKey(HKEY key, const char* valueName, ValueImage* image);

// Whether anything of the set was written.
bool AnyWritten(const ChangeSet& set);
