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
