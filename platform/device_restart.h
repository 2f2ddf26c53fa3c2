// Restarting one device as the Device Manager does when a device's settings
// change: SetupAPI's property-change request to the device's class
// installer. Unlike the D2XX library's reload, it leaves every other
// adapter, and the ports other programs hold open on them, alone.
#pragma once

#include <windows.h>
#include <setupapi.h>

// The SetupAPI functions a restart takes. They are resolved at run time:
// some systems (Wine) abort a program that calls a device function they
// lack, and a test program links a stand-in of LoadDeviceRestartCalls.
typedef HDEVINFO(WINAPI* CreateDeviceInfoListProc)(const GUID* classGuid, HWND parent);
typedef BOOL(WINAPI* OpenDeviceInfoProc)(HDEVINFO set, PCSTR instanceId, HWND parent, DWORD flags,
                                         PSP_DEVINFO_DATA data);
typedef BOOL(WINAPI* SetClassInstallParamsProc)(HDEVINFO set, PSP_DEVINFO_DATA data,
                                                PSP_CLASSINSTALL_HEADER params, DWORD size);
typedef BOOL(WINAPI* CallClassInstallerProc)(DI_FUNCTION function, HDEVINFO set,
                                             PSP_DEVINFO_DATA data);
typedef BOOL(WINAPI* GetDeviceInstallParamsProc)(HDEVINFO set, PSP_DEVINFO_DATA data,
                                                 PSP_DEVINSTALL_PARAMS_A params);
typedef BOOL(WINAPI* DestroyDeviceInfoListProc)(HDEVINFO set);

struct DeviceRestartCalls {
  HMODULE Module;
  CreateDeviceInfoListProc CreateDeviceInfoList;
  OpenDeviceInfoProc OpenDeviceInfo;
  SetClassInstallParamsProc SetClassInstallParams;
  CallClassInstallerProc CallClassInstaller;
  GetDeviceInstallParamsProc GetDeviceInstallParams;
  DestroyDeviceInfoListProc DestroyDeviceInfoList;
};

// The seam: true when every function was found (nothing left loaded
// otherwise). Release with UnloadDeviceRestartCalls.
bool LoadDeviceRestartCalls(DeviceRestartCalls* calls);
void UnloadDeviceRestartCalls(DeviceRestartCalls* calls);

enum DeviceRestartResult {
  DEVICE_RESTARTED,
  DEVICE_NEEDS_REPLUG,  // Windows took the change but wants a replug or a restart of Windows
  DEVICE_RESTART_FAILED
};

// Restarts the device instance ("FTDIBUS\VID_0403+PID_6001+FT12AB34A\0000").
// On failure *error holds the Win32 (or SetupAPI) error.
DeviceRestartResult RestartDeviceInstance(const DeviceRestartCalls* calls, const char* instanceId,
                                          DWORD* error);

// A 32-bit program on 64-bit Windows: its device installation calls fail
// there, so it must not try (the x64 program does it).
bool RunsUnderWow64();
