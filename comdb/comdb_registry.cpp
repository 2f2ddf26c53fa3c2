#include "comdb/comdb_registry.h"

#include <stdlib.h>

#include "comdb/comdb_bits.h"
#include "devices/registry_paths.h"

static const char ComDbValueName[] = "ComDB";

static void KeepValue(ComDbValue* kept, unsigned char* bytes, size_t length) {
  free(kept->Bytes);
  kept->Bytes = bytes;
  kept->Length = length;
}

void FreeComDbValue(ComDbValue* value) { KeepValue(value, nullptr, 0); }

static void ShowComDbError(const Reporter* reporter, ReportOperation operation, const char* text,
                           LONG error) {
  Report report = MakeReport(operation, text, "ERROR", MB_ICONERROR | MB_OK);
  report.Value = ComDbValueName;
  report.Key = ComNameArbiterKeyPath;
  report.Error = (DWORD)error;
  TellReporter(reporter, report);
}

// Asks for the size first, so a value of any length is read whole; asks
// again when the value grew between the two calls.
static LONG QueryWholeValue(HKEY key, unsigned char** value, DWORD* length) {
  LONG rc = ERROR_MORE_DATA;
  for (int attempt = 0; attempt < 4 && rc == ERROR_MORE_DATA; ++attempt) {
    DWORD size = 0;
    rc = RegQueryValueExA(key, ComDbValueName, nullptr, nullptr, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    unsigned char* data = (unsigned char*)malloc(size ? size : 1);
    if (!data) return ERROR_NOT_ENOUGH_MEMORY;
    rc = RegQueryValueExA(key, ComDbValueName, nullptr, nullptr, data, &size);
    if (rc == ERROR_SUCCESS) {
      *value = data;
      *length = size;
      return rc;
    }
    free(data);
  }
  return rc;
}

bool ReadComDb(ComDbValue* kept, unsigned char* field, const Reporter* reporter) {
  KeepValue(kept, nullptr, 0);
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    ShowComDbError(reporter, REPORT_READ_COMDB, "Can't open Key: COM Name Arbiter", rc);
    return false;
  }
  unsigned char* value = nullptr;
  DWORD length = 0;
  rc = QueryWholeValue(key, &value, &length);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    ShowComDbError(reporter, REPORT_READ_COMDB, "Can't open COMDB", rc);
    return false;
  }
  ComDbFieldFromValue(value, length, field);
  KeepValue(kept, value, length);
  return true;
}

bool WriteComDb(ComDbValue* kept, unsigned char* field, const Reporter* reporter) {
  if (!kept->Bytes) {
    ShowComDbError(reporter, REPORT_WRITE_COMDB, "Can't open COMDB", ERROR_INVALID_DATA);
    return false;
  }
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) {
    ShowComDbError(reporter, REPORT_WRITE_COMDB, "Can't open Key: COM Name Arbiter", rc);
    return false;
  }
  // The value as it is now: another device may have taken a number since
  // it was read.
  unsigned char* current = nullptr;
  DWORD currentLength = 0;
  rc = QueryWholeValue(key, &current, &currentLength);
  if (rc != ERROR_SUCCESS) {
    RegCloseKey(key);
    ShowComDbError(reporter, REPORT_WRITE_COMDB, "Can't open COMDB", rc);
    return false;
  }
  unsigned char before[COMDB_SIZE], merged[COMDB_SIZE];
  ComDbFieldFromValue(kept->Bytes, kept->Length, before);
  ComDbFieldFromValue(current, currentLength, merged);
  MergeComDbChange(before, field, merged);

  size_t size = ComDbWriteBackSize(currentLength);
  unsigned char* value = (unsigned char*)malloc(size);
  if (!value) {
    free(current);
    RegCloseKey(key);
    ShowComDbError(reporter, REPORT_WRITE_COMDB, "Can't open COMDB", ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  BuildComDbValue(current, currentLength, merged, value, size);
  free(current);
  rc = RegSetValueExA(key, ComDbValueName, 0, REG_BINARY, value, (DWORD)size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    free(value);
    ShowComDbError(reporter, REPORT_WRITE_COMDB, "Can't open COMDB", rc);
    return false;
  }
  // The registry holds this value now; a later write builds on it.
  memcpy(field, merged, COMDB_SIZE);
  KeepValue(kept, value, size);
  return true;
}

bool ChangeComDb(const int* take, int takeCount, const int* release, int releaseCount,
                 const Reporter* reporter) {
  ComDbValue value = {nullptr, 0};
  unsigned char field[COMDB_SIZE];
  bool done = ReadComDb(&value, field, reporter);
  if (done) {
    for (int i = 0; i < releaseCount; ++i) ReleaseComNumber(field, release[i]);
    for (int i = 0; i < takeCount; ++i) ReserveComNumber(field, take[i]);
    done = WriteComDb(&value, field, reporter);
  }
  FreeComDbValue(&value);
  return done;
}
