#include "devices/inventory.h"

#include <stdlib.h>
#include <string.h>

#include "devices/device_names.h"
#include "devices/registry_paths.h"
#include "platform/d2xx.h"
#include "platform/ui.h"

DeviceInventory Inventory;
int SelectedIndex = -1;

static void ShowInventoryError(const char* text) {
  MessageBoxAtCursor(MainWindow, text, "ERROR", MB_OK);
}

void FreeInventory() {
  free(Inventory.Records);
  Inventory.Records = nullptr;
  Inventory.count = 0;
}

// Replaces the records with a zero-filled block of `count`; 0 when memory
// ran out, leaving the inventory empty.
static int AllocateRecords(uint32_t count) {
  FreeInventory();
  if (count == 0) return 1;
  Inventory.Records = static_cast<DeviceRecord*>(calloc(count, sizeof(DeviceRecord)));
  if (!Inventory.Records) return 0;
  Inventory.count = count;
  return 1;
}

// Copies text a library delivered into a fixed field; the field always ends
// with a NUL, whatever the source held.
static void CopyText(char* field, size_t fieldSize, const char* source, size_t sourceSize) {
  size_t length = strnlen(source, sourceSize);
  if (length >= fieldSize) length = fieldSize - 1;
  memcpy(field, source, length);
  field[length] = '\0';
}

static void ReadDeviceDetail(const D2xxLibrary* library, DWORD index, DeviceRecord* record) {
  DWORD flags = 0, type = 0, id = 0, location = 0;
  // Larger than the vendor's 16 and 64 bytes, so a library that writes a
  // little more than it should cannot run past our buffers.
  char serial[256] = {0};
  char description[256] = {0};
  void* handle = nullptr;
  FT_STATUS status = library->FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location,
                                                     serial, description, &handle);
  record->Flags = flags;
  record->DeviceType = type;
  record->DeviceId = id;
  record->LocationId = location;
  CopyText(record->SerialNumber, sizeof record->SerialNumber, serial, sizeof serial);
  CopyText(record->Description, sizeof record->Description, description, sizeof description);

  if (status != FT_OK || (flags & 1)) {
    Inventory.OpenPortCount++;  // open in another program, or no details to be had
    return;
  }
  ApplyRegistrySerialRule(record);
}

int ListConnectedDevices() {
  Inventory.OpenPortCount = 0;

  // The key only proves that the driver is installed.
  HKEY ftdibus;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus) != ERROR_SUCCESS) {
    ShowInventoryError("Device or FTDI driver is not installed");
    return 0;
  }

  D2xxLibrary library;
  if (!LoadD2xx(&library)) {
    FreeInventory();
    ShowInventoryError(
        "The FTDI D2XX library FTD2XX.dll could not be loaded, or it lacks "
        "FT_CreateDeviceInfoList, FT_GetDeviceInfoDetail or FT_Reload.\n"
        "Attached devices cannot be listed.");
    RegCloseKey(ftdibus);
    return 1;
  }

  DWORD n = 0;
  FT_STATUS status = library.FT_CreateDeviceInfoList(&n);
  // A failed call says nothing about the count: list nothing.
  if (status != FT_OK) n = 0;
  if (!AllocateRecords(n)) {
    ShowInventoryError(" Memory allocation not possible");
    UnloadD2xx(&library);
    RegCloseKey(ftdibus);
    return 0;
  }
  for (DWORD i = 0; i < n; i++) ReadDeviceDetail(&library, i, &Inventory.Records[i]);

  if (Inventory.count == 0 && !Inventory.ShowDisconnected)
    ShowInventoryError("No active FTDI devices found");
  UnloadD2xx(&library);
  RegCloseKey(ftdibus);
  return 1;
}

enum { SAVED_SERIAL_SIZE = 32 };

int ListRegisteredDevices(HKEY ftdibus) {
  // The serial numbers of the records just listed mark the attached devices.
  uint32_t savedCount = Inventory.count;
  char(*saved)[SAVED_SERIAL_SIZE + 1] = nullptr;
  if (savedCount) {
    saved = static_cast<char(*)[SAVED_SERIAL_SIZE + 1]>(calloc(savedCount, sizeof *saved));
    if (!saved) savedCount = 0;
    for (uint32_t i = 0; i < savedCount; i++)
      memcpy(saved[i], Inventory.Records[i].SerialNumber, SAVED_SERIAL_SIZE);
  }

  DWORD subkeys = 0;
  if (RegQueryInfoKeyA(ftdibus, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    subkeys = 0;

  int result = 0;
  if (!AllocateRecords(subkeys)) {
    ShowInventoryError(" Memory allocation not possible");
  } else if (subkeys > 0) {
    for (DWORD i = 0; i < subkeys; i++) {
      char name[256];
      DWORD length = 255;
      if (RegEnumKeyExA(ftdibus, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        continue;  // the record stays zero-filled
      name[length < 255 ? length : 255] = '\0';
      DeviceRecord* record = &Inventory.Records[i];
      ParseDeviceKeyName(name, record);
      for (uint32_t s = 0; s < savedCount; s++)
        if (record->DeviceId != 0 && strcmp(record->SerialNumber, saved[s]) == 0) {
          record->Flags = 1;
          break;
        }
    }
    result = 1;
  }
  free(saved);
  return result;
}
