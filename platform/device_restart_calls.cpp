// The product's side of the restart seam: SetupAPI itself, resolved by name.
#include "platform/device_restart.h"

template <typename Proc>
static bool Resolve(HMODULE module, const char* name, Proc* proc) {
  *proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *proc != nullptr;
}

bool LoadDeviceRestartCalls(DeviceRestartCalls* calls) {
  ZeroMemory(calls, sizeof *calls);
  HMODULE module = LoadLibraryExA("setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) return false;
  if (!Resolve(module, "SetupDiCreateDeviceInfoList", &calls->CreateDeviceInfoList) ||
      !Resolve(module, "SetupDiOpenDeviceInfoA", &calls->OpenDeviceInfo) ||
      !Resolve(module, "SetupDiSetClassInstallParamsA", &calls->SetClassInstallParams) ||
      !Resolve(module, "SetupDiCallClassInstaller", &calls->CallClassInstaller) ||
      !Resolve(module, "SetupDiGetDeviceInstallParamsA", &calls->GetDeviceInstallParams) ||
      !Resolve(module, "SetupDiDestroyDeviceInfoList", &calls->DestroyDeviceInfoList)) {
    FreeLibrary(module);
    ZeroMemory(calls, sizeof *calls);
    return false;
  }
  calls->Module = module;
  return true;
}

void UnloadDeviceRestartCalls(DeviceRestartCalls* calls) {
  if (calls->Module) FreeLibrary(calls->Module);
  ZeroMemory(calls, sizeof *calls);
}
