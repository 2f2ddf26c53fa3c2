// Thin wrapper over the file calls of the configuration-file save, so that
// tests can put a substitute in its place at link time and make any one of
// them fail. Each passes its arguments to the Win32 call of the same name.
#pragma once

#include <windows.h>

// GetTempFileNameA: creates the (empty) file and writes its name.
UINT FileIoGetTempFileName(const char* folder, const char* prefix, UINT unique, char* name);
// CreateFileA without security attributes or template.
HANDLE FileIoCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                        DWORD attributes);
// WriteFile, synchronous.
BOOL FileIoWriteFile(HANDLE file, const void* data, DWORD size, DWORD* written);
BOOL FileIoFlushFileBuffers(HANDLE file);
BOOL FileIoCloseHandle(HANDLE file);
BOOL FileIoMoveFileEx(const char* from, const char* to, DWORD flags);
BOOL FileIoDeleteFile(const char* path);
