// Component tests link this in place of the file wrapper (platform/file_io.h).
// Every call goes through to the real Win32 call unless the test armed one
// operation to fail; then that operation fails as a full disk or a refused
// access would, and the rest still go through.
#pragma once

#include <windows.h>

enum class FileFault {
  None,
  TempName,  // FileIoGetTempFileName: no name, no file
  Create,    // FileIoCreateFile: access denied
  Write,     // FileIoWriteFile: the disk fills at byte WriteFailsAt of the file
  Flush,     // FileIoFlushFileBuffers
  Close,     // FileIoCloseHandle: the handle is closed, but the call reports a failure
  Move,      // FileIoMoveFileEx: access denied, nothing moved
};

struct FakeFileIoState {
  FileFault Fault;
  // For Write: the bytes before this offset are written (a call that would
  // cross it writes only up to it and succeeds); the next call fails.
  DWORD WriteFailsAt;
  bool FaultHit;  // the armed operation was called and failed
};
extern FakeFileIoState FakeFileIo;

// Everything goes through again.
void ResetFakeFileIo();
void ArmFileFault(FileFault fault, DWORD writeFailsAt = 0);
