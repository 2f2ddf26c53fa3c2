#include "platform/device_restart.h"

DeviceRestartResult RestartDeviceInstance(const DeviceRestartCalls* calls, const char* instanceId,
                                          DWORD* error) {
  *error = ERROR_SUCCESS;
  HDEVINFO set = calls->CreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return DEVICE_RESTART_FAILED;
  }
  DeviceRestartResult result = DEVICE_RESTART_FAILED;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  // The change is this hardware profile's, as the Device Manager asks it.
  SP_PROPCHANGE_PARAMS change;
  ZeroMemory(&change, sizeof change);
  change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
  change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  change.StateChange = DICS_PROPCHANGE;
  change.Scope = DICS_FLAG_CONFIGSPECIFIC;
  change.HwProfile = 0;
  if (!calls->OpenDeviceInfo(set, instanceId, nullptr, 0, &device) ||
      !calls->SetClassInstallParams(set, &device, &change.ClassInstallHeader, sizeof change) ||
      !calls->CallClassInstaller(DIF_PROPERTYCHANGE, set, &device)) {
    *error = GetLastError();
    if (*error == ERROR_SUCCESS) *error = ERROR_GEN_FAILURE;  // a stub that says nothing
  } else {
    // Done, or done as far as it could be without a replug.
    SP_DEVINSTALL_PARAMS_A install;
    ZeroMemory(&install, sizeof install);
    install.cbSize = sizeof install;
    result = DEVICE_RESTARTED;
    if (calls->GetDeviceInstallParams(set, &device, &install) &&
        (install.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)))
      result = DEVICE_NEEDS_REPLUG;
  }
  calls->DestroyDeviceInfoList(set);
  return result;
}

bool RunsUnderWow64() {
  typedef BOOL(WINAPI * IsWow64ProcessProc)(HANDLE, PBOOL);
  FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
  if (!found) return false;  // a system older than 64-bit Windows
  BOOL wow64 = FALSE;
  IsWow64ProcessProc isWow64 = reinterpret_cast<IsWow64ProcessProc>(reinterpret_cast<void*>(found));
  return isWow64(GetCurrentProcess(), &wow64) && wow64;
}
