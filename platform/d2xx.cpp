#include "platform/d2xx.h"

const char D2xxLibraryName[] = "FTD2XX.dll";

bool LoadD2xx(D2xxLibrary* library) {
  ZeroMemory(library, sizeof *library);
  library->Module = LoadLibraryA(D2xxLibraryName);
  if (!library->Module) return false;
  // The vendor exports the stdcall functions undecorated.
  library->FT_CreateDeviceInfoList = reinterpret_cast<FT_CreateDeviceInfoListProc>(
      reinterpret_cast<void*>(GetProcAddress(library->Module, "FT_CreateDeviceInfoList")));
  library->FT_GetDeviceInfoDetail = reinterpret_cast<FT_GetDeviceInfoDetailProc>(
      reinterpret_cast<void*>(GetProcAddress(library->Module, "FT_GetDeviceInfoDetail")));
  library->FT_Reload = reinterpret_cast<FT_ReloadProc>(
      reinterpret_cast<void*>(GetProcAddress(library->Module, "FT_Reload")));
  if (library->FT_CreateDeviceInfoList && library->FT_GetDeviceInfoDetail && library->FT_Reload)
    return true;
  UnloadD2xx(library);
  return false;
}

void UnloadD2xx(D2xxLibrary* library) {
  if (library->Module) FreeLibrary(library->Module);
  ZeroMemory(library, sizeof *library);
}
