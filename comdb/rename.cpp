#include "comdb/rename.h"

#include <stdio.h>
#include <string.h>

#include "comdb/comdb_bits.h"
#include "devices/device_changes.h"
#include "devices/device_keys.h"
#include "devices/device_names.h"
#include "devices/inventory.h"
#include "devices/write_transaction.h"

static const char ComDbValueName[] = "ComDB";

static void ReportComDb(const Reporter* reporter, ReportOperation operation, bool keyNotOpened,
                        DWORD error) {
  Report report =
      MakeReport(operation, keyNotOpened ? "Can't open Key: COM Name Arbiter" : "Can't open COMDB",
                 "ERROR", MB_ICONERROR | MB_OK);
  report.Value = ComDbValueName;
  report.Key = ComNameArbiterKeyPath;
  report.Error = error;
  TellReporter(reporter, report);
}

bool PlanComDbChange(ChangeSet* set, int take, int release, int group, const Reporter* reporter) {
  ValueChange change;
  change.Key = ComNameArbiterKeyPath;
  change.Value = ComDbValueName;
  change.Group = group;
  change.Bitwise = true;
  const ValueChange* earlier = nullptr;
  for (const ValueChange& planned : set->Changes)
    if (planned.Value == ComDbValueName && planned.Key == change.Key) earlier = &planned;
  if (earlier) {
    change.Before = earlier->After;
  } else {
    HKEY key;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) {
      ReportComDb(reporter, REPORT_READ_COMDB, true, (DWORD)rc);
      return false;
    }
    rc = ReadValueImageFromKey(key, ComDbValueName, &change.Before);
    RegCloseKey(key);
    // A ComDB we cannot read is never written over: every reservation of
    // the machine would be lost.
    if (rc == ERROR_SUCCESS && !change.Before.Present) rc = ERROR_FILE_NOT_FOUND;
    if (rc != ERROR_SUCCESS) {
      ReportComDb(reporter, REPORT_READ_COMDB, false, (DWORD)rc);
      return false;
    }
  }
  const std::vector<unsigned char>& now = change.Before.Data;
  unsigned char field[COMDB_SIZE];
  ComDbFieldFromValue(now.data(), now.size(), field);
  if (release) ReleaseComNumber(field, release);
  if (take) ReserveComNumber(field, take);
  std::vector<unsigned char> value(ComDbWriteBackSize(now.size()));
  BuildComDbValue(now.data(), now.size(), field, value.data(), value.size());
  change.After = change.Before;
  change.After.Data = value;
  set->Changes.push_back(change);
  return true;
}

bool ChangeComDb(const int* take, int takeCount, const int* release, int releaseCount,
                 const char* command, const Reporter* reporter) {
  ChangeSet set;
  WriteOutcome outcome =
      RunWrite(command, RELOAD_NONE, &set, reporter, [&](ChangeSet* planned, const Reporter* held) {
        for (int i = 0; i < releaseCount; ++i)
          if (!PlanComDbChange(planned, 0, release[i], 0, held)) return false;
        for (int i = 0; i < takeCount; ++i)
          if (!PlanComDbChange(planned, take[i], 0, 0, held)) return false;
        return true;
      });
  if (!set.Failed.empty())
    ReportComDb(reporter, REPORT_WRITE_COMDB, set.Failed[0].KeyNotOpened, set.Failed[0].Error);
  return outcome == WRITE_DONE;
}

// Calls found(record, port) for every registered device but the record's,
// with the PortName its Device Parameters hold; stops when it returns true.
template <typename Found>
static bool AnyOtherPortName(const DeviceRecord* record, Found found) {
  char own[DEVICE_KEY_PATH_SIZE];
  if (!FormatDeviceKeyPath(own, sizeof own, record, DEVICE_PARAMETERS_KEY)) own[0] = '\0';
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS)
    return false;
  bool stopped = false;
  char name[256];
  for (DWORD i = 0; !stopped; ++i) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(ftdibus, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    char path[DEVICE_KEY_PATH_SIZE + 64];
    snprintf(path, sizeof path, "%s\\%s\\0000\\Device Parameters", FtdibusKeyPath, name);
    if (_stricmp(path, own) == 0) continue;
    HKEY parameters;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &parameters) != ERROR_SUCCESS)
      continue;
    char port[PORT_NAME_SIZE + 1] = "";
    DWORD size = PORT_NAME_SIZE;
    if (QueryDeviceValue(parameters, "PortName", REG_SZ, port, PORT_NAME_SIZE, &size) ==
        ERROR_SUCCESS) {
      DeviceRecord other = {};
      ParseDeviceKeyName(name, &other);
      stopped = found(other, port);
    }
    RegCloseKey(parameters);
  }
  RegCloseKey(ftdibus);
  return stopped;
}

bool ComNumberHeldByOther(const DeviceRecord* record, int number) {
  return AnyOtherPortName(record, [&](const DeviceRecord&, const char* port) {
    return ComNumberOfName(port) == number;
  });
}

NumberHolder FindNumberHolder(const DeviceRecord* record, int number,
                              const DeviceInventory* attached, const unsigned char* comDb,
                              std::string* holder) {
  NumberHolder found = NUMBER_FREE;
  AnyOtherPortName(record, [&](const DeviceRecord& other, const char* port) {
    if (ComNumberOfName(port) != number) return false;
    bool live = !attached || FindRecordBySerial(attached, other.SerialNumber) != nullptr;
    char text[PORT_NAME_SIZE + SERIAL_NUMBER_SIZE + 32];
    snprintf(text, sizeof text, "%s (serial %.*s)", port, (int)SERIAL_NUMBER_SIZE,
             other.SerialNumber);
    if (found != NUMBER_HELD_ATTACHED) *holder = text;
    found = live ? NUMBER_HELD_ATTACHED : NUMBER_HELD_BY_GHOST;
    return live;  // an attached holder decides it
  });
  if (found == NUMBER_FREE && comDb && number >= 1 && number <= COMDB_MAX_NUMBER &&
      (comDb[(number - 1) / 8] & (1 << ((number - 1) % 8)))) {
    found = NUMBER_RESERVED;
    *holder = "ComDB";
  }
  return found;
}

bool MayTakeNumber(NumberHolder holder, bool force) {
  return holder == NUMBER_FREE || (force && holder != NUMBER_HELD_ATTACHED);
}

bool PlanRename(ChangeSet* set, const DeviceRecord* record, int number,
                ValueWriter instanceWriter, int group, const Reporter* reporter) {
  char name[PORT_NAME_SIZE];
  snprintf(name, sizeof name, "COM%d", number);
  char oldName[PORT_NAME_SIZE + 1];
  snprintf(oldName, sizeof oldName, "%.*s", (int)PORT_NAME_SIZE, record->PortName);
  int oldNumber = ComNumberOfName(oldName);
  set->UndoGroups.push_back(group);
  // The new number is reserved before any name points at it, and the old
  // one freed only after nothing does.
  if (!PlanComDbChange(set, number, 0, group, reporter)) return false;
  PlanDeviceValue(set, record, VALUE_PORT_NAME, StringImage(name), instanceWriter, group);
  PlanDeviceValue(set, record, VALUE_FRIENDLY_NAME, ValueImage(), instanceWriter, group);
  ValueChange& friendly = set->Changes.back();
  std::string current;
  if (friendly.Before.Present && friendly.Before.Type == REG_SZ)
    current.assign(friendly.Before.Data.begin(), friendly.Before.Data.end());
  friendly.After = StringImage(RenamedFriendlyName(current.c_str(), number).c_str());
  if (oldNumber && oldNumber != number && !ComNumberHeldByOther(record, oldNumber))
    return PlanComDbChange(set, 0, oldNumber, group, reporter);
  return true;
}

void ReportRenameFailure(const ChangeSet& set, const FailedChange& failed,
                         const Reporter* reporter) {
  const ValueChange& change = set.Changes[failed.Index];
  if (change.Value == ComDbValueName) {
    ReportComDb(reporter, REPORT_WRITE_COMDB, failed.KeyNotOpened, failed.Error);
    return;
  }
  bool portName = change.Value == "PortName";
  TellReporter(reporter, ChangeReport(portName ? REPORT_WRITE_PORT_NAME : REPORT_WRITE_FRIENDLY_NAME,
                                      portName ? "Can't write PortName" : "Can't write FriendlyName",
                                      MB_ICONERROR | MB_OK, change, failed.Error));
}

DWORD RenameDevice(DeviceRecord* record, int number, ValueWriter instanceWriter,
                   const char* command, const Reporter* reporter) {
  ChangeSet set;
  WriteOutcome outcome =
      RunWrite(command, RELOAD_NONE, &set, reporter, [&](ChangeSet* planned, const Reporter* held) {
        return PlanRename(planned, record, number, instanceWriter, 0, held);
      });
  if (set.Busy) return WAIT_TIMEOUT;
  if (!set.Failed.empty()) {
    ReportRenameFailure(set, set.Failed[0], reporter);
    return set.Failed[0].Error;
  }
  if (outcome == WRITE_WITHHELD)
    return set.JournalError && !set.Unrecorded ? ERROR_CANCELLED : ERROR_INVALID_DATA;
  snprintf(record->PortName, PORT_NAME_SIZE, "COM%d", number);
  return ERROR_SUCCESS;
}
