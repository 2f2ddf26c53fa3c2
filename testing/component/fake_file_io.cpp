#include "component/fake_file_io.h"

#include "platform/file_io.h"

FakeFileIoState FakeFileIo = {FileFault::None, 0, false};

// The file the last FileIoCreateFile opened and how far it has been
// written, for a write fault at an offset.
static HANDLE writtenFile = INVALID_HANDLE_VALUE;
static DWORD writtenBytes = 0;

void ResetFakeFileIo() { FakeFileIo = {FileFault::None, 0, false}; }

void ArmFileFault(FileFault fault, DWORD writeFailsAt) {
  FakeFileIo = {fault, writeFailsAt, false};
}

// True when the armed fault is this one; records that it struck.
static bool Strikes(FileFault fault, DWORD error) {
  if (FakeFileIo.Fault != fault) return false;
  FakeFileIo.FaultHit = true;
  SetLastError(error);
  return true;
}

UINT FileIoGetTempFileName(const char* folder, const char* prefix, UINT unique, char* name) {
  if (Strikes(FileFault::TempName, ERROR_ACCESS_DENIED)) return 0;
  return GetTempFileNameA(folder, prefix, unique, name);
}

HANDLE FileIoCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                        DWORD attributes) {
  if (Strikes(FileFault::Create, ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileA(path, access, share, nullptr, disposition, attributes, nullptr);
  writtenFile = file;
  writtenBytes = 0;
  return file;
}

BOOL FileIoWriteFile(HANDLE file, const void* data, DWORD size, DWORD* written) {
  if (FakeFileIo.Fault == FileFault::Write && file == writtenFile) {
    DWORD room =
        FakeFileIo.WriteFailsAt > writtenBytes ? FakeFileIo.WriteFailsAt - writtenBytes : 0;
    if (room == 0) {
      *written = 0;
      Strikes(FileFault::Write, ERROR_DISK_FULL);
      return FALSE;
    }
    if (size > room) size = room;
  }
  BOOL ok = WriteFile(file, data, size, written, nullptr);
  if (ok && file == writtenFile) writtenBytes += *written;
  return ok;
}

BOOL FileIoFlushFileBuffers(HANDLE file) {
  if (Strikes(FileFault::Flush, ERROR_DISK_FULL)) return FALSE;
  return FlushFileBuffers(file);
}

BOOL FileIoCloseHandle(HANDLE file) {
  if (file == writtenFile) writtenFile = INVALID_HANDLE_VALUE;
  if (FakeFileIo.Fault == FileFault::Close) {
    // As a delayed write that fails at the close: the handle is gone all the same.
    CloseHandle(file);
    Strikes(FileFault::Close, ERROR_DISK_FULL);
    return FALSE;
  }
  return CloseHandle(file);
}

BOOL FileIoMoveFileEx(const char* from, const char* to, DWORD flags) {
  if (Strikes(FileFault::Move, ERROR_ACCESS_DENIED)) return FALSE;
  return MoveFileExA(from, to, flags);
}

BOOL FileIoDeleteFile(const char* path) { return DeleteFileA(path); }
