#include "platform/file_io.h"

UINT FileIoGetTempFileName(const char* folder, const char* prefix, UINT unique, char* name) {
  return GetTempFileNameA(folder, prefix, unique, name);
}

HANDLE FileIoCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                        DWORD attributes) {
  return CreateFileA(path, access, share, nullptr, disposition, attributes, nullptr);
}

BOOL FileIoWriteFile(HANDLE file, const void* data, DWORD size, DWORD* written) {
  return WriteFile(file, data, size, written, nullptr);
}

BOOL FileIoFlushFileBuffers(HANDLE file) { return FlushFileBuffers(file); }

BOOL FileIoCloseHandle(HANDLE file) { return CloseHandle(file); }

BOOL FileIoMoveFileEx(const char* from, const char* to, DWORD flags) {
  return MoveFileExA(from, to, flags);
}

BOOL FileIoDeleteFile(const char* path) { return DeleteFileA(path); }
