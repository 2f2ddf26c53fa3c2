// Test stand-in for the vendor's FTD2XX.dll: the three calls the program
// resolves by name, with the vendor's stdcall signatures, answering from a
// device-list file instead of the USB bus. Format: README.md beside this file.
//
// The list is read afresh at every call, and the environment through
// GetEnvironmentVariableA, because a test may change both between two calls
// inside one process.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum {
  FT_OK = 0,
  FT_DEVICE_NOT_FOUND = 2,
  FT_IO_ERROR = 4,
  FT_INVALID_PARAMETER = 6,
  MAX_DEVICES = 16384,  // room for the start-up measurement with 10,000 adapters
  FIRST_CAPACITY = 64,
  MAX_FAILURES = 64,
  SERIAL_SIZE = 16,       // the vendor's serial-number buffer, NUL included
  DESCRIPTION_SIZE = 64,  // the vendor's description buffer, NUL included
};

struct StandinDevice {
  DWORD Flags;
  DWORD Type;
  DWORD Id;
  DWORD LocId;
  char Serial[SERIAL_SIZE];
  char Description[DESCRIPTION_SIZE];
};

// Devices live on the heap and the block grows with the list: a full list
// is 1.5 MB, too much to keep around for the usual handful of devices.
struct StandinList {
  DWORD Count;
  DWORD Capacity;
  StandinDevice* Devices;
  DWORD FailCount;
  DWORD FailIndexes[MAX_FAILURES];
  ULONG ListStatus;
  ULONG ReloadStatus;
  int BadLines;
};

// The value of an environment variable, or an empty string.
void ReadEnv(const char* name, char* out, DWORD size) {
  DWORD n = GetEnvironmentVariableA(name, out, size);
  if (n == 0 || n >= size) out[0] = '\0';
}

void AppendLog(const char* line) {
  char path[MAX_PATH];
  ReadEnv("PORTMELD_D2XX_LOG", path, sizeof path);
  if (!path[0]) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
  CloseHandle(file);
}

// Copies at most size - 1 bytes and always terminates, as the vendor's
// fixed buffers do.
void CopyField(char* out, size_t size, const char* text, size_t length) {
  if (length > size - 1) length = size - 1;
  memcpy(out, text, length);
  out[length] = '\0';
}

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Reads one whitespace-delimited number; 0 when none is there.
int ReadNumber(const char** p, int base, DWORD* value) {
  const char* start = SkipBlanks(*p);
  char* end = nullptr;
  unsigned long v = strtoul(start, &end, base);
  if (end == start || (*end != '\0' && *end != ' ' && *end != '\t')) return 0;
  *value = static_cast<DWORD>(v);
  *p = end;
  return 1;
}

// Reads one whitespace-delimited word into out (cut to size - 1).
int ReadWord(const char** p, char* out, size_t size) {
  const char* start = SkipBlanks(*p);
  const char* end = start;
  while (*end && *end != ' ' && *end != '\t') ++end;
  if (end == start) return 0;
  CopyField(out, size, start, static_cast<size_t>(end - start));
  *p = end;
  return 1;
}

int ParseDevice(const char* p, StandinDevice* device) {
  char serial[256];
  if (!ReadNumber(&p, 10, &device->Flags) || !ReadNumber(&p, 10, &device->Type) ||
      !ReadNumber(&p, 16, &device->Id) || !ReadNumber(&p, 16, &device->LocId) ||
      !ReadWord(&p, serial, sizeof serial))
    return 0;
  if (strcmp(serial, "-") == 0) serial[0] = '\0';
  CopyField(device->Serial, sizeof device->Serial, serial, strlen(serial));
  const char* description = SkipBlanks(p);
  CopyField(device->Description, sizeof device->Description, description, strlen(description));
  return 1;
}

// Room for one more device; 0 when memory ran out (the line counts as bad).
int GrowDevices(StandinList* list) {
  if (list->Count < list->Capacity) return 1;
  DWORD capacity = list->Capacity ? list->Capacity * 2 : DWORD(FIRST_CAPACITY);
  if (capacity > MAX_DEVICES) capacity = MAX_DEVICES;
  void* grown = realloc(list->Devices, capacity * sizeof(StandinDevice));
  if (!grown) return 0;
  list->Devices = static_cast<StandinDevice*>(grown);
  list->Capacity = capacity;
  return 1;
}

int ParseLine(char* line, StandinList* list) {
  char* hash = strchr(line, '#');
  if (hash) *hash = '\0';
  size_t length = strlen(line);
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' ||
                        line[length - 1] == '\r' || line[length - 1] == '\n'))
    line[--length] = '\0';
  const char* p = SkipBlanks(line);
  if (!*p) return 1;
  char keyword[32];
  ReadWord(&p, keyword, sizeof keyword);
  DWORD value = 0;
  if (strcmp(keyword, "device") == 0) {
    if (list->Count >= MAX_DEVICES) return 0;
    StandinDevice device = {};
    if (!ParseDevice(p, &device)) return 0;
    if (!GrowDevices(list)) return 0;
    list->Devices[list->Count++] = device;
    return 1;
  }
  if (!ReadNumber(&p, 10, &value) || *SkipBlanks(p)) return 0;
  if (strcmp(keyword, "detail-fail") == 0) {
    if (list->FailCount >= MAX_FAILURES) return 0;
    list->FailIndexes[list->FailCount++] = value;
  } else if (strcmp(keyword, "list-status") == 0) {
    list->ListStatus = value;
  } else if (strcmp(keyword, "reload") == 0) {
    list->ReloadStatus = value;
  } else {
    return 0;
  }
  return 1;
}

// Missing variable or file: no devices, every status FT_OK. A line that does
// not parse is skipped and named in the log, so a test sees its own typo.
void LoadList(StandinList* list) {
  // Everything but the device block, which is kept for the next list.
  StandinDevice* devices = list->Devices;
  DWORD capacity = list->Capacity;
  memset(list, 0, sizeof *list);
  list->Devices = devices;
  list->Capacity = capacity;
  char path[MAX_PATH];
  ReadEnv("PORTMELD_D2XX_DEVICES", path, sizeof path);
  if (!path[0]) return;
  FILE* file = fopen(path, "rb");
  if (!file) return;
  char line[512];
  int number = 0;
  while (fgets(line, sizeof line, file)) {
    ++number;
    if (!ParseLine(line, list)) {
      char message[96];
      snprintf(message, sizeof message, "# bad line %d in the device list\n", number);
      AppendLog(message);
      ++list->BadLines;
    }
  }
  fclose(file);
}

int DetailFails(const StandinList* list, DWORD index) {
  for (DWORD i = 0; i < list->FailCount; ++i)
    if (list->FailIndexes[i] == index) return 1;
  return 0;
}

StandinList CurrentList;
bool ListTaken;

}  // namespace

extern "C" ULONG WINAPI FT_CreateDeviceInfoList(DWORD* numDevs) {
  LoadList(&CurrentList);
  ListTaken = true;
  ULONG status = CurrentList.ListStatus;
  if (!numDevs) {
    status = FT_INVALID_PARAMETER;
  } else {
    *numDevs = CurrentList.Count;
  }
  char line[96];
  snprintf(line, sizeof line, "FT_CreateDeviceInfoList %lu -> %lu\n",
           static_cast<unsigned long>(CurrentList.Count), static_cast<unsigned long>(status));
  AppendLog(line);
  return status;
}

extern "C" ULONG WINAPI FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                                DWORD* locId, void* serialNumber,
                                                void* description, void** handle) {
  // Details come from the list the last FT_CreateDeviceInfoList took, as
  // with the vendor's library.
  if (!ListTaken) LoadList(&CurrentList);
  ULONG status = FT_OK;
  if (!flags || !type || !id || !locId || !serialNumber || !description || !handle) {
    status = FT_INVALID_PARAMETER;
  } else if (index >= CurrentList.Count) {
    status = FT_DEVICE_NOT_FOUND;
  } else if (DetailFails(&CurrentList, index)) {
    status = FT_IO_ERROR;
  } else {
    const StandinDevice* device = &CurrentList.Devices[index];
    *flags = device->Flags;
    *type = device->Type;
    *id = device->Id;
    *locId = device->LocId;
    memcpy(serialNumber, device->Serial, strlen(device->Serial) + 1);
    memcpy(description, device->Description, strlen(device->Description) + 1);
    *handle = nullptr;  // no device is ever opened through the stand-in
  }
  char line[96];
  snprintf(line, sizeof line, "FT_GetDeviceInfoDetail %lu -> %lu\n",
           static_cast<unsigned long>(index), static_cast<unsigned long>(status));
  AppendLog(line);
  return status;
}

extern "C" ULONG WINAPI FT_Reload(WORD vid, WORD pid) {
  LoadList(&CurrentList);
  ULONG status = CurrentList.ReloadStatus;
  char line[96];
  snprintf(line, sizeof line, "FT_Reload %x %x -> %lu\n", static_cast<unsigned>(vid),
           static_cast<unsigned>(pid), static_cast<unsigned long>(status));
  AppendLog(line);
  return status;
}
