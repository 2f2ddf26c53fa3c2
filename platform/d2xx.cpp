#include "platform/d2xx.h"

#include <string.h>

const char D2xxLibraryName[] = "FTD2XX.dll";

bool LoadD2xx(D2xxLibrary* library) {
  ZeroMemory(library, sizeof *library);
  // Both programs run elevated, the agent as SYSTEM: the library is taken
  // only from the program's own folder and the system folder (where the
  // vendor's driver installs it), never from a folder on PATH that a user
  // may write.
  library->Module = LoadLibraryExA(D2xxLibraryName, nullptr,
                                   LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                       LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without the update that brought those flags: the same two
  // folders, by full path.
  if (!library->Module && GetLastError() == ERROR_INVALID_PARAMETER) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = n && n < sizeof path ? strrchr(path, '\\') : nullptr;
    if (slash && (size_t)(slash + 1 - path) + sizeof D2xxLibraryName <= sizeof path) {
      memcpy(slash + 1, D2xxLibraryName, sizeof D2xxLibraryName);
      library->Module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    UINT length = library->Module ? 0 : GetSystemDirectoryA(path, sizeof path);
    if (length && length + 1 + sizeof D2xxLibraryName <= sizeof path) {
      path[length] = '\\';
      memcpy(path + length + 1, D2xxLibraryName, sizeof D2xxLibraryName);
      library->Module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
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
