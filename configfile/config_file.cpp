#include "configfile/config_file.h"

#include <windows.h>

#include "configfile/config_codec.h"
#include "platform/file_io.h"

static const char CannotOpenText[] = "Cannot open file";
static const char CannotWriteText[] = "Cannot write file";
static const char CannotReplaceText[] = "Cannot replace file";
static const char CannotReadText[] = "Cannot read file";
static const char TooShortText[] = "Not a configuration file: it is shorter than 84 bytes";

static void ReportFileError(const Reporter* reporter, ReportOperation operation, const char* text,
                            const char* path, DWORD error) {
  Report report = MakeReport(operation, text, "ERROR", MB_ICONERROR | MB_OK);
  report.Key = path;
  report.Error = error;
  TellReporter(reporter, report);
}

// The folder of path, with its trailing separator ("C:\dir\"), for the
// temporary file. 0 when path names no file.
static bool FolderOf(const char* path, char* folder, DWORD size) {
  char* filePart = nullptr;
  DWORD length = GetFullPathNameA(path, size, folder, &filePart);
  if (length == 0 || length >= size || filePart == nullptr || *filePart == '\0') return false;
  *filePart = '\0';
  return true;
}

// Writes all bytes and makes sure they reached the disk before the file is
// moved over the old one; any short write, flush or close error fails.
static bool WriteWholeFile(HANDLE file, const unsigned char* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD written = 0;
    if (!FileIoWriteFile(file, data + done, size - done, &written)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
  }
  return FileIoFlushFileBuffers(file) != FALSE;
}

// Writing in place would fail on a read-only file or a folder, and so must
// the save: a move alone replaces a read-only file on some file systems.
static bool TargetWritable(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // a new file
  if (!(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) return true;
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

bool WriteConfigurationFile(const char* path, const DeviceRecord* record,
                            const Reporter* reporter) {
  unsigned char image[CONFIG_FILE_SIZE];
  EncodeConfigFile(record, image);

  char folder[MAX_PATH];
  char temporary[MAX_PATH];
  // GetTempFileNameA creates the file (empty) under a name nobody uses.
  if (!TargetWritable(path) || !FolderOf(path, folder, sizeof folder) ||
      !FileIoGetTempFileName(folder, "pmc", 0, temporary)) {
    ReportFileError(reporter, REPORT_OPEN_FILE, CannotOpenText, path, GetLastError());
    return false;
  }

  HANDLE file = FileIoCreateFile(temporary, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    FileIoDeleteFile(temporary);
    ReportFileError(reporter, REPORT_OPEN_FILE, CannotOpenText, path, error);
    return false;
  }
  bool written = WriteWholeFile(file, image, CONFIG_FILE_SIZE);
  DWORD error = written ? ERROR_SUCCESS : GetLastError();
  if (!FileIoCloseHandle(file) && written) {
    written = false;
    error = GetLastError();
  }
  if (!written) {
    FileIoDeleteFile(temporary);
    ReportFileError(reporter, REPORT_WRITE_FILE, CannotWriteText, path, error);
    return false;
  }

  if (!FileIoMoveFileEx(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    FileIoDeleteFile(temporary);
    ReportFileError(reporter, REPORT_REPLACE_FILE, CannotReplaceText, path, error);
    return false;
  }
  return true;
}

bool ReadConfigurationFile(const char* path, DeviceRecord* record, const Reporter* reporter) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ReportFileError(reporter, REPORT_OPEN_FILE, CannotOpenText, path, GetLastError());
    return false;
  }
  // The whole record is read before the record is touched; bytes after it
  // do not matter.
  unsigned char image[CONFIG_FILE_SIZE];
  const DWORD wanted = CONFIG_FILE_SIZE;
  DWORD size = 0;
  DWORD error = ERROR_SUCCESS;
  while (size < wanted) {
    DWORD got = 0;
    if (!ReadFile(file, image + size, wanted - size, &got, nullptr)) {
      error = GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_READ_FAULT;
      break;
    }
    if (got == 0) break;  // end of file
    size += got;
  }
  CloseHandle(file);

  if (error != ERROR_SUCCESS) {
    ReportFileError(reporter, REPORT_READ_FILE, CannotReadText, path, error);
    return false;
  }
  if (!DecodeConfigFile(image, size, record)) {
    ReportFileError(reporter, REPORT_SHORT_FILE, TooShortText, path, ERROR_SUCCESS);
    return false;
  }
  return true;
}
