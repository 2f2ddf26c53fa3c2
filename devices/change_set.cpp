#include "devices/change_set.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "devices/device_properties.h"
#include "devices/journal.h"

static const char JournalQuestion[] = "The change cannot be recorded for undo. Write it anyway?";

bool SameImage(const ValueImage& a, const ValueImage& b) {
  if (a.Present != b.Present) return false;
  return !a.Present || (a.Type == b.Type && a.Data == b.Data);
}

ValueImage BinaryImage(const void* data, size_t size) {
  ValueImage image;
  image.Present = true;
  image.Type = REG_BINARY;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  image.Data.assign(bytes, bytes + size);
  return image;
}

ValueImage DwordImage(uint32_t number) {
  unsigned char bytes[4] = {(unsigned char)number, (unsigned char)(number >> 8),
                            (unsigned char)(number >> 16), (unsigned char)(number >> 24)};
  ValueImage image = BinaryImage(bytes, sizeof bytes);
  image.Type = REG_DWORD;
  return image;
}

ValueImage StringImage(const char* text) {
  ValueImage image = BinaryImage(text, strlen(text) + 1);
  image.Type = REG_SZ;
  return image;
}

LONG ReadValueImage(const char* keyPath, const char* valueName, ValueImage* image) {
  *image = ValueImage();
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // no key, no value
  if (rc != ERROR_SUCCESS) return rc;
  rc = ReadValueImageFromKey(key, valueName, image);
  RegCloseKey(key);
  return rc;
}

LONG ReadValueImageFromKey(HKEY key, const char* valueName, ValueImage* image) {
  *image = ValueImage();
  // Asks for the size first and again when the value grew in between.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = REG_NONE, size = 0;
    LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    image->Data.resize(size ? size : 1);
    rc = RegQueryValueExA(key, valueName, nullptr, &type, image->Data.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc == ERROR_FILE_NOT_FOUND) {
      image->Data.clear();
      return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
      image->Data.clear();
      return rc;
    }
    image->Data.resize(size);
    image->Present = true;
    image->Type = type;
    return ERROR_SUCCESS;
  }
  image->Data.clear();
  return ERROR_MORE_DATA;
}

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
LONG OpenChangeKey(CommitState* state, const std::string& path) {
  if (state->Key && state->KeyPath == path) return ERROR_SUCCESS;
  if (!state->Key && state->KeyPath == path && state->KeyError != ERROR_SUCCESS)
    return state->KeyError;
  if (state->Key) RegCloseKey(state->Key);
  state->Key = nullptr;
  state->KeyPath = path;
  state->KeyError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &state->Key);
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

// Writes one image of a change: its After, or its Before when putting back.
LONG WriteImage(CommitState* state, const ValueChange& change, const ValueImage& image,
                bool* keyNotOpened) {
  *keyNotOpened = false;
  if (change.Kind == CHANGE_REMOVE_DEVICE) {
    DeviceSet* set = Devices(state);
    return set ? RemoveDeviceInstance(set, &change.Device) : (LONG)state->DevicesError;
  }
  if (change.Kind != CHANGE_VALUE) return ERROR_SUCCESS;
  if (change.Writer == THROUGH_SETUPAPI) {
    DeviceSet* set = Devices(state);
    if (!set) return (LONG)state->DevicesError;
    if (change.Value == "FriendlyName")
      return image.Present ? SetDeviceFriendlyName(
                                 set, &change.Device,
                                 std::string(image.Data.begin(), image.Data.end()).c_str())
                           : SetDeviceFriendlyName(set, &change.Device, nullptr);
    return SetDeviceUpperFilters(set, &change.Device, image.Present ? image.Data.data() : nullptr,
                                 image.Present ? (DWORD)image.Data.size() : 0);
  }
  LONG rc = OpenChangeKey(state, change.Key);
  if (rc != ERROR_SUCCESS) {
    *keyNotOpened = true;
    return rc;
  }
  if (!image.Present) {
    rc = RegDeleteValueA(state->Key, change.Value.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  return RegSetValueExA(state->Key, change.Value.c_str(), 0, image.Type, image.Data.data(),
                        (DWORD)image.Data.size());
}

bool IsUndoGroup(const ChangeSet& set, int group) {
  for (int undo : set.UndoGroups)
    if (undo == group) return true;
  return false;
}

// A failed change of an all-or-nothing group: what it wrote goes back, the
// last written first.
void PutBackGroup(CommitState* state, ChangeSet* set, size_t failed) {
  int group = set->Changes[failed].Group;
  for (size_t i = failed; i-- > 0;) {
    ValueChange& change = set->Changes[i];
    if (change.Group != group || !change.Written) continue;
    bool keyNotOpened;
    if (WriteImage(state, change, change.Before, &keyNotOpened) == ERROR_SUCCESS)
      change.Written = false;
  }
}

}  // namespace

bool CommitChangeSet(ChangeSet* set, const Reporter* reporter) {
  set->Failed.clear();
  // A value that already holds what is wanted is not written, nor recorded.
  set->Changes.erase(std::remove_if(set->Changes.begin(), set->Changes.end(),
                                    [](const ValueChange& change) {
                                      return change.Kind == CHANGE_VALUE &&
                                             SameImage(change.Before, change.After);
                                    }),
                     set->Changes.end());
  if (set->Changes.empty()) return true;

  if (JournalEnabled()) {
    DWORD rc = JournalBegin(set);
    if (rc != ERROR_SUCCESS) {
      Report report =
          MakeReport(REPORT_JOURNAL, JournalQuestion, "Warning", MB_OKCANCEL | MB_ICONWARNING);
      report.Error = rc;
      if (TellReporter(reporter, report) != IDOK) {
        set->Withheld = true;
        return false;
      }
      set->JournalId = 0;
    }
  }

  CommitState state;
  std::set<int> endedGroups;
  for (size_t i = 0; i < set->Changes.size(); ++i) {
    ValueChange& change = set->Changes[i];
    if (endedGroups.count(change.Group)) continue;
    bool keyNotOpened;
    LONG rc = WriteImage(&state, change, change.After, &keyNotOpened);
    if (rc == ERROR_SUCCESS) {
      change.Written = true;
      continue;
    }
    set->Failed.push_back({i, (DWORD)rc, keyNotOpened});
    endedGroups.insert(change.Group);
    if (IsUndoGroup(*set, change.Group)) PutBackGroup(&state, set, i);
  }
  if (state.Key) RegCloseKey(state.Key);
  CloseDeviceSet(&state.Devices);
  if (set->JournalId) JournalEnd(set);
  return set->Failed.empty();
}
