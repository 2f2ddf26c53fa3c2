#include "devices/inventory.h"

#include <stdlib.h>
#include <string.h>

#include "devices/device_names.h"
#include "devices/registry_paths.h"
#include "platform/d2xx.h"

static void ShowInventoryError(const Reporter* reporter, const char* text, const char* key) {
  Report report = MakeReport(REPORT_LIST_DEVICES, text, "ERROR", MB_OK);
  report.Key = key;
  TellReporter(reporter, report);
}

void FreeInventory(DeviceInventory* inventory) {
  free(inventory->Records);
  free(inventory->AsRead);
  inventory->Records = nullptr;
  inventory->AsRead = nullptr;
  inventory->count = 0;
}

// Replaces the records with a zero-filled block of `count`; 0 when memory
// ran out, leaving the inventory empty.
static bool AllocateRecords(DeviceInventory* inventory, uint32_t count) {
  FreeInventory(inventory);
  if (count == 0) return true;
  inventory->Records = static_cast<DeviceRecord*>(calloc(count, sizeof(DeviceRecord)));
  if (!inventory->Records) return false;
  inventory->count = count;
  return true;
}

// Copies text a library delivered into a fixed field; the field always ends
// with a NUL, whatever the source held.
static void CopyText(char* field, size_t fieldSize, const char* source, size_t sourceSize) {
  size_t length = strnlen(source, sourceSize);
  if (length >= fieldSize) length = fieldSize - 1;
  memcpy(field, source, length);
  field[length] = '\0';
}

static void ReadDeviceDetail(DeviceInventory* inventory, const D2xxLibrary* library, DWORD index,
                             DeviceRecord* record) {
  DWORD flags = 0, type = 0, id = 0, location = 0;
  // Larger than the vendor's 16 and 64 bytes, so a library that writes a
  // little more than it should cannot run past our buffers.
  char serial[256] = {0};
  char description[256] = {0};
  void* handle = nullptr;
  FT_STATUS status = library->FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial,
                                                     description, &handle);
  record->Flags = flags;
  record->DeviceType = type;
  record->DeviceId = id;
  record->LocationId = location;
  CopyText(record->SerialNumber, sizeof record->SerialNumber, serial, sizeof serial);
  CopyText(record->Description, sizeof record->Description, description, sizeof description);

  if (status != FT_OK || (flags & 1)) {
    inventory->OpenPortCount++;  // open in another program, or no details to be had
    return;
  }
  ApplyRegistrySerialRule(record);
}

bool ListConnectedDevices(DeviceInventory* inventory, const Reporter* reporter) {
  inventory->OpenPortCount = 0;

  // The key only proves that the driver is installed.
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS) {
    ShowInventoryError(reporter, "Device or FTDI driver is not installed", FtdibusKeyPath);
    return false;
  }

  D2xxLibrary library;
  if (!LoadD2xx(&library)) {
    FreeInventory(inventory);
    ShowInventoryError(reporter,
                       "The FTDI D2XX library FTD2XX.dll could not be loaded, or it lacks "
                       "FT_CreateDeviceInfoList, FT_GetDeviceInfoDetail or FT_Reload.\n"
                       "Attached devices cannot be listed.",
                       D2xxLibraryName);
    RegCloseKey(ftdibus);
    return true;
  }

  DWORD n = 0;
  FT_STATUS status = library.FT_CreateDeviceInfoList(&n);
  // A failed call says nothing about the count: list nothing.
  if (status != FT_OK) n = 0;
  if (!AllocateRecords(inventory, n)) {
    ShowInventoryError(reporter, " Memory allocation not possible", "");
    UnloadD2xx(&library);
    RegCloseKey(ftdibus);
    return false;
  }
  for (DWORD i = 0; i < n; i++) ReadDeviceDetail(inventory, &library, i, &inventory->Records[i]);

  if (inventory->count == 0 && !inventory->ShowDisconnected)
    ShowInventoryError(reporter, "No active FTDI devices found", "");
  UnloadD2xx(&library);
  RegCloseKey(ftdibus);
  return true;
}

enum { SAVED_SERIAL_SIZE = 32 };
typedef char SavedSerial[SAVED_SERIAL_SIZE + 1];

static int CompareSavedSerials(const void* a, const void* b) {
  return strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

static int CompareRecordSerials(const void* a, const void* b) {
  return strcmp(static_cast<const DeviceRecord*>(a)->SerialNumber,
                static_cast<const DeviceRecord*>(b)->SerialNumber);
}

void SortRecordsBySerial(DeviceInventory* inventory) {
  if (inventory->count > 1)
    qsort(inventory->Records, inventory->count, sizeof(DeviceRecord), CompareRecordSerials);
}

const DeviceRecord* FindRecordBySerial(const DeviceInventory* sorted, const char* serial) {
  if (sorted->count == 0) return nullptr;
  DeviceRecord key;
  memcpy(key.SerialNumber, serial, sizeof key.SerialNumber);
  key.SerialNumber[SERIAL_NUMBER_SIZE - 1] = '\0';
  return static_cast<const DeviceRecord*>(
      bsearch(&key, sorted->Records, sorted->count, sizeof(DeviceRecord), CompareRecordSerials));
}

bool ListRegisteredDevices(DeviceInventory* inventory, HKEY ftdibus, const Reporter* reporter) {
  // The serial numbers of the records just listed mark the attached devices.
  // Sorted, so that each registered device is looked up, not compared with
  // every attached one.
  uint32_t savedCount = inventory->count;
  SavedSerial* saved = nullptr;
  if (savedCount) {
    saved = static_cast<SavedSerial*>(calloc(savedCount, sizeof *saved));
    if (!saved) savedCount = 0;
    for (uint32_t i = 0; i < savedCount; i++)
      memcpy(saved[i], inventory->Records[i].SerialNumber, SAVED_SERIAL_SIZE);
    if (saved) qsort(saved, savedCount, sizeof *saved, CompareSavedSerials);
  }

  DWORD subkeys = 0;
  if (RegQueryInfoKeyA(ftdibus, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    subkeys = 0;

  bool result = false;
  if (!AllocateRecords(inventory, subkeys)) {
    ShowInventoryError(reporter, " Memory allocation not possible", "");
  } else if (subkeys > 0) {
    for (DWORD i = 0; i < subkeys; i++) {
      char name[256];
      DWORD length = 255;
      if (RegEnumKeyExA(ftdibus, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        continue;  // the record stays zero-filled
      name[length < 255 ? length : 255] = '\0';
      DeviceRecord* record = &inventory->Records[i];
      ParseDeviceKeyName(name, record);
      if (record->DeviceId != 0 && savedCount &&
          bsearch(record->SerialNumber, saved, savedCount, sizeof *saved, CompareSavedSerials))
        record->Flags = REGISTERED_FLAG_ATTACHED;
    }
    result = true;
  }
  free(saved);
  return result;
}
