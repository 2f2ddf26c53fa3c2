#include "devices/write_transaction.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "devices/device_properties.h"
#include "devices/journal.h"
#include "devices/ports.h"
#include "platform/key_security.h"
#include "platform/writer_lock.h"

const char JournalFailedText[] =
    "The change could not be recorded for undo, so nothing was written.";
static const char JournalQuestion[] = "The change cannot be recorded for undo. Write it anyway?";

namespace {

// What one commit keeps open between its changes.
struct CommitState {
  HKEY Key = nullptr;
  std::string KeyPath;
  LONG KeyError = ERROR_SUCCESS;
  DeviceSet Devices = {nullptr, 0};
  bool DevicesTried = false;
  DWORD DevicesError = 0;
};

// Keys are opened once for a run of changes to the same key.
LONG OpenChangeKey(CommitState* state, const std::string& path, REGSAM access) {
  if (state->Key && state->KeyPath == path) return ERROR_SUCCESS;
  if (!state->Key && state->KeyPath == path && state->KeyError != ERROR_SUCCESS)
    return state->KeyError;
  if (state->Key) RegCloseKey(state->Key);
  state->Key = nullptr;
  state->KeyPath = path;
  state->KeyError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &state->Key);
  if (state->KeyError != ERROR_SUCCESS) state->Key = nullptr;
  return state->KeyError;
}

DeviceSet* Devices(CommitState* state) {
  if (!state->DevicesTried) {
    state->DevicesTried = true;
    OpenDeviceSet(&state->Devices, &state->DevicesError);
  }
  return state->Devices.Handle ? &state->Devices : nullptr;
}

// A bit map's change as bits: the bits in which from and to differ take
// to's value, on the value as it is now; the rest stays as it is now.
ValueImage MergedBits(const ValueImage& now, const ValueImage& from, const ValueImage& to) {
  ValueImage merged = now.Present ? now : to;
  size_t size = std::max(merged.Data.size(), to.Data.size());
  merged.Data.resize(size, 0);
  for (size_t i = 0; i < size; ++i) {
    unsigned char a = i < from.Data.size() ? from.Data[i] : 0;
    unsigned char b = i < to.Data.size() ? to.Data[i] : 0;
    unsigned char mask = a ^ b;
    merged.Data[i] = (unsigned char)((merged.Data[i] & ~mask) | (b & mask));
  }
  return merged;
}

LONG WriteValue(CommitState* state, const ValueChange& change, const ValueImage& from,
                const ValueImage& to, bool* keyNotOpened) {
  LONG rc = OpenChangeKey(state, change.Key, KEY_SET_VALUE | (change.Bitwise ? KEY_QUERY_VALUE : 0));
  if (rc != ERROR_SUCCESS) {
    *keyNotOpened = true;
    return rc;
  }
  ValueImage image = to;
  if (change.Bitwise) {
    ValueImage now;
    rc = ReadValueImageFromKey(state->Key, change.Value.c_str(), &now);
    if (rc != ERROR_SUCCESS) return rc;
    image = MergedBits(now, from, to);
  }
  if (!image.Present) {
    rc = RegDeleteValueA(state->Key, change.Value.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  return RegSetValueExA(state->Key, change.Value.c_str(), 0, image.Type, image.Data.data(),
                        (DWORD)image.Data.size());
}

// Writes one image of a change: its After, or its Before when putting back.
LONG WriteImage(CommitState* state, const ValueChange& change, bool back, bool* keyNotOpened) {
  const ValueImage& from = back ? change.After : change.Before;
  const ValueImage& to = back ? change.Before : change.After;
  *keyNotOpened = false;
  switch (change.Kind) {
    case CHANGE_REMOVE_DEVICE: {
      DeviceSet* set = Devices(state);
      return set ? RemoveDeviceInstance(set, &change.Device) : (LONG)state->DevicesError;
    }
    case CHANGE_RELOAD_DRIVER:
      return ERROR_SUCCESS;
    case CHANGE_KEY_SECURITY: {
      std::string text(to.Data.begin(), to.Data.end());
      return WriteKeySecurityText(change.Key.c_str(), text.c_str(), change.OwnerRequired,
                                  keyNotOpened);
    }
    case CHANGE_VALUE:
      break;
  }
  if (change.Writer == THROUGH_SETUPAPI) {
    DeviceSet* set = Devices(state);
    if (!set) return (LONG)state->DevicesError;
    if (change.Value == "FriendlyName")
      return to.Present ? SetDeviceFriendlyName(set, &change.Device,
                                                std::string(to.Data.begin(), to.Data.end()).c_str())
                        : SetDeviceFriendlyName(set, &change.Device, nullptr);
    return SetDeviceUpperFilters(set, &change.Device, to.Present ? to.Data.data() : nullptr,
                                 to.Present ? (DWORD)to.Data.size() : 0);
  }
  return WriteValue(state, change, from, to, keyNotOpened);
}

bool IsUndoGroup(const ChangeSet& set, int group) {
  return std::find(set.UndoGroups.begin(), set.UndoGroups.end(), group) != set.UndoGroups.end();
}

// A failed change of an all-or-nothing group: what it wrote goes back, the
// last written first.
void PutBackGroup(CommitState* state, ChangeSet* set, size_t failed) {
  int group = set->Changes[failed].Group;
  for (size_t i = failed; i-- > 0;) {
    ValueChange& change = set->Changes[i];
    if (change.Group != group || !change.Written) continue;
    bool keyNotOpened;
    if (WriteImage(state, change, true, &keyNotOpened) == ERROR_SUCCESS) change.Written = false;
  }
}

// The device instance key a change belongs to ("...\FTDIBUS\<name>\0000");
// "" for a machine-wide value.
std::string DeviceOf(const ValueChange& change) {
  if (change.Serial.empty() && change.Port.empty()) return "";
  size_t end = change.Key.find("\\0000");
  return end == std::string::npos ? change.Key : change.Key.substr(0, end + 5);
}

// A value of a device that exists but could not be read stops every change
// of that device (and of its group) before anything is written.
void RefuseUnreadDevices(ChangeSet* set, std::set<int>* endedGroups) {
  std::set<std::string> devices;
  for (size_t i = 0; i < set->Changes.size(); ++i) {
    const ValueChange& change = set->Changes[i];
    if (change.ReadError == ERROR_SUCCESS) continue;
    set->Failed.push_back({i, (DWORD)change.ReadError, false, true});
    endedGroups->insert(change.Group);
    std::string device = DeviceOf(change);
    if (!device.empty()) devices.insert(device);
  }
  for (const ValueChange& change : set->Changes) {
    std::string device = DeviceOf(change);
    if (!device.empty() && devices.count(device)) endedGroups->insert(change.Group);
  }
}

void Reload(ChangeSet* set) {
  FT_STATUS status = ReloadDriver();
  if (status == FT_OK) {
    set->Reload = RELOAD_DONE;
    return;
  }
  set->Reload = RELOAD_FAILED;
  set->ReloadStatus = status;
  set->ReloadFailure = status == FT_LIBRARY_MISSING
                           ? std::string("FTD2XX.dll is missing")
                           : "FT_Reload status " + std::to_string((unsigned long)status);
}

// Records, writes, reloads and records the end; the caller holds the lock.
void Commit(ChangeSet* set, const WriteRequest& request, const Reporter* held) {
  ReloadRequest reload = request.Reload;
  set->Failed.clear();
  // A value that already holds what is wanted is neither written nor recorded.
  set->Changes.erase(std::remove_if(set->Changes.begin(), set->Changes.end(),
                                    [](const ValueChange& change) {
                                      return change.ReadError == ERROR_SUCCESS &&
                                             (change.Kind == CHANGE_VALUE ||
                                              change.Kind == CHANGE_KEY_SECURITY) &&
                                             SameImage(change.Before, change.After);
                                    }),
                     set->Changes.end());
  std::set<int> endedGroups;
  RefuseUnreadDevices(set, &endedGroups);
  bool anyToWrite = false;
  for (const ValueChange& change : set->Changes)
    anyToWrite = anyToWrite || !endedGroups.count(change.Group);
  bool reloadNow = reload == RELOAD_ALWAYS;
  if (!anyToWrite && !reloadNow && set->Failed.empty()) return;

  if (JournalEnabled() && !set->Unrecorded) {
    std::vector<bool> recorded(set->Changes.size());
    for (size_t i = 0; i < set->Changes.size(); ++i)
      recorded[i] = !endedGroups.count(set->Changes[i].Group);
    DWORD rc = JournalBegin(set, recorded, reloadNow);
    if (rc != ERROR_SUCCESS) {
      set->Withheld = true;
      set->JournalError = rc;
      set->Failed.clear();
      Report report = MakeReport(REPORT_JOURNAL_FAILED, JournalFailedText, "ERROR",
                                 MB_OK | MB_ICONERROR);
      report.Key = "";
      report.Error = rc;
      TellReporter(held, report);
      return;
    }
  }

  CommitState state;
  for (size_t i = 0; i < set->Changes.size(); ++i) {
    ValueChange& change = set->Changes[i];
    if (endedGroups.count(change.Group)) continue;
    bool keyNotOpened;
    LONG rc = WriteImage(&state, change, false, &keyNotOpened);
    if (rc == ERROR_SUCCESS) {
      change.Written = true;
      continue;
    }
    set->Failed.push_back({i, (DWORD)rc, keyNotOpened, false});
    endedGroups.insert(change.Group);
    if (IsUndoGroup(*set, change.Group)) PutBackGroup(&state, set, i);
  }
  if (state.Key) RegCloseKey(state.Key);
  CloseDeviceSet(&state.Devices);
  if (reloadNow || (reload == RELOAD_WHEN_WRITTEN && AnyWritten(*set))) Reload(set);
  if (request.Restart && AnyWritten(*set)) request.Restart(request.RestartContext, set);
  if (set->JournalId) JournalEnd(set);
}

}  // namespace

void SetWriteWait(unsigned long milliseconds) { SetWriterLockWait((DWORD)milliseconds); }

WriteOutcome RunWrite(const WriteRequest& request, ChangeSet* set, const Reporter* reporter) {
  set->Command = request.Command ? request.Command : "";
  // Whatever may need the user is settled before the lock.
  if (JournalEnabled() && !set->Unrecorded) {
    DWORD rc = JournalCheck();
    if (rc != ERROR_SUCCESS) {
      Report report =
          MakeReport(REPORT_JOURNAL, JournalQuestion, "Warning", MB_OKCANCEL | MB_ICONWARNING);
      report.Error = rc;
      set->JournalError = rc;
      if (TellReporter(reporter, report) != IDOK) {
        set->Withheld = true;
        return WRITE_WITHHELD;
      }
      set->Unrecorded = true;
    }
  }
  WriterLock lock;
  if (!TakeWriterLock(reporter, &lock)) {
    set->Withheld = set->Busy = true;
    return WRITE_WITHHELD;
  }
  ReportHolder holder = {nullptr, 0};
  Reporter held = HoldingReporter(&holder);
  bool planned = !request.Plan || request.Plan(request.Context, set, &held);
  if (planned) Commit(set, request, &held);
  ReleaseWriterLock(&lock);
  TellHeldReports(&holder, reporter);
  if (!planned || set->Withheld) {
    set->Withheld = true;
    return WRITE_WITHHELD;
  }
  return set->Failed.empty() ? WRITE_DONE : WRITE_FAILED;
}
