#include "comdb/rename.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "comdb/comdb_bits.h"
#include "devices/device_changes.h"
#include "devices/device_keys.h"
#include "platform/writer_lock.h"

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
  WriterLock lock;
  if (!TakeWriterLock(reporter, &lock)) return false;
  ReportHolder holder;
  Reporter later = HoldingReporter(&holder);  // told once the lock is let go
  ChangeSet set;
  set.Command = command;
  bool done = true;
  for (int i = 0; done && i < releaseCount; ++i)
    done = PlanComDbChange(&set, 0, release[i], 0, &later);
  for (int i = 0; done && i < takeCount; ++i) done = PlanComDbChange(&set, take[i], 0, 0, &later);
  if (done) {
    done = CommitChangeSet(&set, reporter);
    if (!set.Failed.empty())
      ReportComDb(&later, REPORT_WRITE_COMDB, set.Failed[0].KeyNotOpened, set.Failed[0].Error);
  }
  ReleaseWriterLock(&lock);
  TellHeldReports(&holder, reporter);
  return done;
}

// "COM7" in any case: 7; 0 for anything else.
static int NumberOfPortName(const char* name) {
  if (_strnicmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') return 0;
  char* end;
  long n = strtol(name + 3, &end, 10);
  return *end == '\0' && n > 0 && n <= COMDB_MAX_NUMBER ? (int)n : 0;
}

bool ComNumberHeldByOther(const DeviceRecord* record, int number) {
  char own[DEVICE_KEY_PATH_SIZE];
  if (!FormatDeviceKeyPath(own, sizeof own, record, DEVICE_PARAMETERS_KEY)) own[0] = '\0';
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS)
    return false;
  bool held = false;
  char name[256];
  for (DWORD i = 0; !held; ++i) {
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
    DWORD length2 = PORT_NAME_SIZE;
    if (QueryDeviceValue(parameters, "PortName", REG_SZ, port, PORT_NAME_SIZE, &length2) ==
        ERROR_SUCCESS)
      held = NumberOfPortName(port) == number;
    RegCloseKey(parameters);
  }
  RegCloseKey(ftdibus);
  return held;
}

static void ReportStepFailure(const ChangeSet& set, const FailedChange& failed,
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
  char name[PORT_NAME_SIZE];
  snprintf(name, sizeof name, "COM%d", number);
  char friendly[64];
  snprintf(friendly, sizeof friendly, "USB Serial Port (%s)", name);
  char oldName[PORT_NAME_SIZE + 1];
  snprintf(oldName, sizeof oldName, "%.*s", (int)PORT_NAME_SIZE, record->PortName);
  int oldNumber = NumberOfPortName(oldName);

  WriterLock lock;
  if (!TakeWriterLock(reporter, &lock)) return WAIT_TIMEOUT;
  ReportHolder holder;
  Reporter later = HoldingReporter(&holder);  // told once the lock is let go
  ChangeSet set;
  set.Command = command;
  set.UndoGroups.push_back(0);
  // The new number is reserved before any name points at it, and the old
  // one freed only after nothing does.
  bool planned = PlanComDbChange(&set, number, 0, 0, &later);
  if (planned) {
    PlanDeviceValue(&set, record, VALUE_PORT_NAME, StringImage(name), instanceWriter, 0);
    PlanDeviceValue(&set, record, VALUE_FRIENDLY_NAME, StringImage(friendly), instanceWriter, 0);
    if (oldNumber && oldNumber != number && !ComNumberHeldByOther(record, oldNumber))
      planned = PlanComDbChange(&set, 0, oldNumber, 0, &later);
  }
  DWORD result = ERROR_INVALID_DATA;
  if (planned) {
    // The journal's question is asked at once: the write waits for it.
    CommitChangeSet(&set, reporter);
    result = set.Withheld          ? ERROR_CANCELLED
             : set.Failed.empty() ? ERROR_SUCCESS
                                  : set.Failed[0].Error;
    if (!set.Failed.empty()) ReportStepFailure(set, set.Failed[0], &later);
  }
  ReleaseWriterLock(&lock);
  TellHeldReports(&holder, reporter);
  if (result == ERROR_SUCCESS) snprintf(record->PortName, PORT_NAME_SIZE, "%s", name);
  return result;
}
