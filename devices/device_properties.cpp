#include "devices/device_properties.h"

#include <setupapi.h>
#include <stdio.h>
#include <string.h>

#include "devices/device_keys.h"
#include "devices/registry_paths.h"

bool OpenDeviceSet(DeviceSet* set, DWORD* error) {
  HDEVINFO handle = SetupDiGetClassDevsA(nullptr, "FTDIBUS", nullptr, DIGCF_ALLCLASSES);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    set->Handle = nullptr;
    return false;
  }
  set->Handle = handle;
  set->Count = 0;
  return true;
}

void CloseDeviceSet(DeviceSet* set) {
  if (set->Handle) SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set->Handle));
  set->Handle = nullptr;
}

// "FTDIBUS\VID_0403+PID_6001+FT12AB34A\0000": the record's instance id.
static bool InstanceIdOf(const DeviceRecord* record, char* id, size_t size) {
  char path[512];
  if (!FormatDeviceKeyPath(path, sizeof path, record, DEVICE_INSTANCE_KEY)) return false;
  const char* bus = strstr(path, "FTDIBUS\\");
  if (!bus) return false;
  int n = snprintf(id, size, "%s", bus);
  return n > 0 && (size_t)n < size;
}

// The set's entry for the record's instance.
static LONG FindDevice(DeviceSet* set, const DeviceRecord* record, SP_DEVINFO_DATA* data) {
  char wanted[512];
  if (!set->Handle || !InstanceIdOf(record, wanted, sizeof wanted)) return ERROR_NOT_FOUND;
  HDEVINFO handle = static_cast<HDEVINFO>(set->Handle);
  for (DWORD i = 0;; ++i) {
    data->cbSize = sizeof *data;
    if (!SetupDiEnumDeviceInfo(handle, i, data)) return ERROR_NOT_FOUND;
    char id[512];
    if (SetupDiGetDeviceInstanceIdA(handle, data, id, sizeof id, nullptr) &&
        _stricmp(id, wanted) == 0)
      return ERROR_SUCCESS;
  }
}

static LONG SetProperty(DeviceSet* set, const DeviceRecord* record, DWORD property,
                        const void* data, DWORD size) {
  SP_DEVINFO_DATA device;
  LONG rc = FindDevice(set, record, &device);
  if (rc != ERROR_SUCCESS) return rc;
  if (SetupDiSetDeviceRegistryPropertyA(static_cast<HDEVINFO>(set->Handle), &device, property,
                                        size ? static_cast<const BYTE*>(data) : nullptr, size))
    return ERROR_SUCCESS;
  rc = (LONG)GetLastError();
  // SetupAPI can lose the cause of a key that refused the write (Wine
  // says "invalid handle"): the key's own answer tells it.
  if (rc == ERROR_INVALID_HANDLE) {
    HKEY key;
    LONG opened = OpenDeviceKey(record, DEVICE_INSTANCE_KEY, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) return opened;
    RegCloseKey(key);
  }
  return rc;
}

LONG SetDeviceUpperFilters(DeviceSet* set, const DeviceRecord* record, const void* data,
                           DWORD size) {
  LONG rc = SetProperty(set, record, SPDRP_UPPERFILTERS, data, size);
  if (rc != ERROR_SUCCESS || size != 0) return rc;
  // No data deletes the property on Windows; Wine stores an empty list
  // instead. An empty value left behind is deleted here, as the windowed
  // program deletes it.
  HKEY key;
  if (OpenDeviceKey(record, DEVICE_INSTANCE_KEY, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS)
    return ERROR_SUCCESS;
  DWORD stored = 0;
  if (RegQueryValueExA(key, "UpperFilters", nullptr, nullptr, nullptr, &stored) == ERROR_SUCCESS &&
      stored == 0)
    rc = RegDeleteValueA(key, "UpperFilters");
  RegCloseKey(key);
  return rc;
}

LONG SetDeviceFriendlyName(DeviceSet* set, const DeviceRecord* record, const char* name) {
  // No name removes the property.
  return SetProperty(set, record, SPDRP_FRIENDLYNAME, name, name ? (DWORD)strlen(name) + 1 : 0);
}

LONG RemoveDeviceInstance(DeviceSet* set, const DeviceRecord* record) {
  SP_DEVINFO_DATA device;
  LONG rc = FindDevice(set, record, &device);
  if (rc != ERROR_SUCCESS) return rc;
  HDEVINFO handle = static_cast<HDEVINFO>(set->Handle);
  // The scope is the whole machine, which is also the default: where the
  // parameters cannot be set (Wine), the installer still removes globally.
  SP_REMOVEDEVICE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  SetupDiSetClassInstallParamsA(handle, &device, &params.ClassInstallHeader, sizeof params);
  if (SetupDiCallClassInstaller(DIF_REMOVE, handle, &device)) return ERROR_SUCCESS;
  // A class installer that leaves the removal to the default handler.
  if (GetLastError() == ERROR_DI_DO_DEFAULT && SetupDiRemoveDevice(handle, &device))
    return ERROR_SUCCESS;
  return (LONG)GetLastError();
}
