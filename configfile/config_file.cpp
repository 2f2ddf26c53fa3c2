#include "configfile/config_file.h"

#include <windows.h>

#include "configfile/config_codec.h"
#include "platform/file_io.h"
#include "platform/ui.h"

static const char CannotOpenText[] = "Cannot open file";
static const char CannotWriteText[] = "Cannot write file";
static const char CannotReplaceText[] = "Cannot replace file";
static const char CannotReadText[] = "Cannot read file";
static const char TooShortText[] = "Not a configuration file: it is shorter than 84 bytes";

static void ReportFileError(const char* text) {
  MessageBoxAtCursor(MainWindow, text, "ERROR", MB_ICONERROR | MB_OK);
}

// The folder of path, with its trailing separator ("C:\dir\"), for the
// temporary file. 0 when path names no file.
static int FolderOf(const char* path, char* folder, DWORD size) {
  char* filePart = nullptr;
  DWORD length = GetFullPathNameA(path, size, folder, &filePart);
  if (length == 0 || length >= size || filePart == nullptr || *filePart == '\0') return 0;
  *filePart = '\0';
  return 1;
}

// Writes all bytes and makes sure they reached the disk before the file is
// moved over the old one; any short write, flush or close error fails.
static int WriteWholeFile(HANDLE file, const unsigned char* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD written = 0;
    if (!FileIoWriteFile(file, data + done, size - done, &written) || written == 0) return 0;
    done += written;
  }
  return FileIoFlushFileBuffers(file) ? 1 : 0;
}

// Writing in place would fail on a read-only file or a folder, and so must
// the save: a move alone replaces a read-only file on some file systems.
static int TargetWritable(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 1;  // a new file
  return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ? 0 : 1;
}

int WriteConfigurationFile(const char* path, const DeviceRecord* record) {
  unsigned char image[CONFIG_FILE_SIZE];
  EncodeConfigFile(record, image);

  char folder[MAX_PATH];
  char temporary[MAX_PATH];
  // GetTempFileNameA creates the file (empty) under a name nobody uses.
  if (!TargetWritable(path) || !FolderOf(path, folder, sizeof folder) ||
      !FileIoGetTempFileName(folder, "pmc", 0, temporary)) {
    ReportFileError(CannotOpenText);
    return 0;
  }

  HANDLE file = FileIoCreateFile(temporary, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) {
    FileIoDeleteFile(temporary);
    ReportFileError(CannotOpenText);
    return 0;
  }
  int written = WriteWholeFile(file, image, CONFIG_FILE_SIZE);
  if (!FileIoCloseHandle(file)) written = 0;
  if (!written) {
    FileIoDeleteFile(temporary);
    ReportFileError(CannotWriteText);
    return 0;
  }

  if (!FileIoMoveFileEx(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    FileIoDeleteFile(temporary);
    ReportFileError(CannotReplaceText);
    return 0;
  }
  return 1;
}

int ReadConfigurationFile(const char* path, DeviceRecord* record) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ReportFileError(CannotOpenText);
    return 0;
  }
  // The whole record is read before the record is touched; bytes after it
  // do not matter.
  unsigned char image[CONFIG_FILE_SIZE];
  const DWORD wanted = CONFIG_FILE_SIZE;
  DWORD size = 0;
  int readable = 1;
  while (size < wanted) {
    DWORD got = 0;
    if (!ReadFile(file, image + size, wanted - size, &got, nullptr)) {
      readable = 0;
      break;
    }
    if (got == 0) break;  // end of file
    size += got;
  }
  CloseHandle(file);

  if (!readable) {
    ReportFileError(CannotReadText);
    return 0;
  }
  if (!DecodeConfigFile(image, size, record)) {
    ReportFileError(TooShortText);
    return 0;
  }
  return 1;
}
