#include "comdb/comdb_registry.h"

#include <stdlib.h>

#include "comdb/comdb_bits.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"

static const char ComDbValueName[] = "ComDB";

// The whole value as the last successful ReadComDb found it (or as the last
// WriteComDb left it). Null after a failed read: a value we never saw is
// never written over, or every reservation of the machine would be lost.
static unsigned char* KeptValue;
static size_t KeptLength;

static void KeepValue(unsigned char* value, size_t length) {
  free(KeptValue);
  KeptValue = value;
  KeptLength = length;
}

static DeviceRecord* SelectedComDbRecord() {
  if (SelectedIndex < 0 || (uint32_t)SelectedIndex >= Inventory.count) return nullptr;
  return &Inventory.Records[SelectedIndex];
}

static void ShowComDbError(HWND owner, const char* text) {
  ComPortMessageBox(owner, text, "ERROR", MB_ICONERROR | MB_OK);
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

int ReadComDb(HWND owner) {
  KeepValue(nullptr, 0);
  DeviceRecord* record = SelectedComDbRecord();
  if (!record) return 0;  // the dialog opens only for a selected port

  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    ShowComDbError(owner, "Can't open Key: COM Name Arbiter");
    return 0;
  }
  unsigned char* value = nullptr;
  DWORD length = 0;
  LONG rc = QueryWholeValue(key, &value, &length);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    ShowComDbError(owner, "Can't open COMDB");
    return 0;
  }
  ComDbFieldFromValue(value, length, record->ComDB);
  KeepValue(value, length);
  return 1;
}

int WriteComDb(HWND owner) {
  DeviceRecord* record = SelectedComDbRecord();
  size_t size = ComDbWriteBackSize(KeptLength);
  unsigned char* value = KeptValue && record ? (unsigned char*)malloc(size) : nullptr;
  if (!value) {
    ShowComDbError(owner, "Can't open COMDB");
    return 0;
  }
  BuildComDbValue(KeptValue, KeptLength, record->ComDB, value, size);

  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ComNameArbiterKeyPath, 0, KEY_ALL_ACCESS, &key) !=
      ERROR_SUCCESS) {
    free(value);
    ShowComDbError(owner, "Can't open Key: COM Name Arbiter");
    return 0;
  }
  LONG rc = RegSetValueExA(key, ComDbValueName, 0, REG_BINARY, value, (DWORD)size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    free(value);
    ShowComDbError(owner, "Can't open COMDB");
    return 0;
  }
  // The registry holds this value now; a later write builds on it.
  KeepValue(value, size);
  return 1;
}
