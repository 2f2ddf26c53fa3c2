// The vendor's D2XX library, loaded at run time by name so that the program
// starts without it and any DLL with the same exports can stand in.
#pragma once

#include <windows.h>

typedef ULONG FT_STATUS;
enum { FT_OK = 0 };
// Returned when the library or one of its functions is missing.
enum { FT_LIBRARY_MISSING = 0xFFFF };

typedef FT_STATUS(WINAPI* FT_CreateDeviceInfoListProc)(DWORD* numDevs);
typedef FT_STATUS(WINAPI* FT_GetDeviceInfoDetailProc)(DWORD index, DWORD* flags, DWORD* type,
                                                       DWORD* id, DWORD* locId, void* serialNumber,
                                                       void* description, void** handle);
typedef FT_STATUS(WINAPI* FT_ReloadProc)(WORD vid, WORD pid);

struct D2xxLibrary {
  HMODULE Module;
  FT_CreateDeviceInfoListProc FT_CreateDeviceInfoList;
  FT_GetDeviceInfoDetailProc FT_GetDeviceInfoDetail;
  FT_ReloadProc FT_Reload;
};

extern const char D2xxLibraryName[];  // "FTD2XX.dll"

// True when FTD2XX.dll and all three functions were found; false otherwise, with
// nothing left loaded. Release with UnloadD2xx.
bool LoadD2xx(D2xxLibrary* library);
void UnloadD2xx(D2xxLibrary* library);
