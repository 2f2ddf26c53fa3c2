// Test stand-in for the restart seam (platform/device_restart.h): the
// SetupAPI calls of a device restart, answering from a file instead of the
// system's device manager, since Wine restarts no device. It checks that
// the restart is asked for as the Device Manager asks it, and logs each
// restart to the D2XX stand-in's call log (PORTMELD_D2XX_LOG), so that a
// test reads one log of both stand-ins.
//
// PORTMELD_RESTART_ANSWERS names a file of lines "<serial> <answer>":
//   ok          restarted (also every device the file does not name)
//   replug      the installer sets DI_NEEDRESTART: a replug is needed
//   fail <n>    SetupDiCallClassInstaller fails with error n
//   absent      SetupDiOpenDeviceInfo fails with ERROR_NO_SUCH_DEVINST
// Log lines: "restart <instance id> -> restarted|replug|failed <n>|absent|bad-params".
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/device_restart.h"

namespace {

struct Opened {
  char Id[512];
  bool ParamsRight;  // SetClassInstallParams asked for DIF_PROPERTYCHANGE / DICS_PROPCHANGE
  bool Replug;
};

Opened Devices[64];
DWORD DeviceCount;
int SetToken;  // the one "device information set" handed out

void Env(const char* name, char* out, DWORD size) {
  DWORD n = GetEnvironmentVariableA(name, out, size);
  if (n == 0 || n >= size) out[0] = '\0';
}

void Log(const char* id, const char* what) {
  char path[MAX_PATH];
  Env("PORTMELD_D2XX_LOG", path, sizeof path);
  if (!path[0]) return;
  FILE* file = fopen(path, "ab");
  if (!file) return;
  fprintf(file, "restart %s -> %s\n", id, what);
  fclose(file);
}

// The answer the file gives for the instance: "ok" when it names none.
void AnswerFor(const char* id, char* answer, size_t size, DWORD* code) {
  snprintf(answer, size, "ok");
  *code = 0;
  char path[MAX_PATH];
  Env("PORTMELD_RESTART_ANSWERS", path, sizeof path);
  FILE* file = path[0] ? fopen(path, "rb") : nullptr;
  if (!file) return;
  char line[256];
  while (fgets(line, sizeof line, file)) {
    char serial[64], word[32];
    unsigned long n = 0;
    int got = sscanf(line, "%63s %31s %lu", serial, word, &n);
    if (got < 2) continue;
    char tail[80];
    snprintf(tail, sizeof tail, "+%s\\", serial);
    if (!strstr(id, tail)) continue;
    snprintf(answer, size, "%s", word);
    *code = (DWORD)n;
  }
  fclose(file);
}

HDEVINFO WINAPI CreateList(const GUID*, HWND) { return (HDEVINFO)&SetToken; }

BOOL WINAPI OpenInfo(HDEVINFO set, PCSTR id, HWND, DWORD, PSP_DEVINFO_DATA data) {
  char answer[32];
  DWORD code;
  AnswerFor(id, answer, sizeof answer, &code);
  if (set != (HDEVINFO)&SetToken || !data || data->cbSize != sizeof *data ||
      strcmp(answer, "absent") == 0 || DeviceCount >= 64) {
    Log(id, "absent");
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  Opened* device = &Devices[DeviceCount];
  snprintf(device->Id, sizeof device->Id, "%s", id);
  device->ParamsRight = false;
  device->Replug = false;
  data->DevInst = DeviceCount++;
  return TRUE;
}

Opened* Find(HDEVINFO set, PSP_DEVINFO_DATA data) {
  if (set != (HDEVINFO)&SetToken || !data || data->DevInst >= DeviceCount) return nullptr;
  return &Devices[data->DevInst];
}

BOOL WINAPI SetParams(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER header,
                      DWORD size) {
  Opened* device = Find(set, data);
  if (!device || !header || size != sizeof(SP_PROPCHANGE_PARAMS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SP_PROPCHANGE_PARAMS* change = reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(header);
  device->ParamsRight = header->cbSize == sizeof(SP_CLASSINSTALL_HEADER) &&
                        header->InstallFunction == DIF_PROPERTYCHANGE &&
                        change->StateChange == DICS_PROPCHANGE &&
                        change->Scope == DICS_FLAG_CONFIGSPECIFIC;
  return TRUE;
}

BOOL WINAPI CallInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
  Opened* device = Find(set, data);
  if (!device) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (function != DIF_PROPERTYCHANGE || !device->ParamsRight) {
    Log(device->Id, "bad-params");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char answer[32];
  DWORD code;
  AnswerFor(device->Id, answer, sizeof answer, &code);
  if (strcmp(answer, "fail") == 0) {
    char text[32];
    snprintf(text, sizeof text, "failed %lu", (unsigned long)code);
    Log(device->Id, text);
    SetLastError(code);
    return FALSE;
  }
  device->Replug = strcmp(answer, "replug") == 0;
  Log(device->Id, device->Replug ? "replug" : "restarted");
  return TRUE;
}

BOOL WINAPI GetParams(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_A params) {
  Opened* device = Find(set, data);
  if (!device || !params || params->cbSize != sizeof *params) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  params->Flags = device->Replug ? DI_NEEDRESTART : 0;
  return TRUE;
}

BOOL WINAPI DestroyList(HDEVINFO set) {
  if (set != (HDEVINFO)&SetToken) return FALSE;
  DeviceCount = 0;
  return TRUE;
}

}  // namespace

bool LoadDeviceRestartCalls(DeviceRestartCalls* calls) {
  calls->Module = nullptr;
  calls->CreateDeviceInfoList = CreateList;
  calls->OpenDeviceInfo = OpenInfo;
  calls->SetClassInstallParams = SetParams;
  calls->CallClassInstaller = CallInstaller;
  calls->GetDeviceInstallParams = GetParams;
  calls->DestroyDeviceInfoList = DestroyList;
  return true;
}

void UnloadDeviceRestartCalls(DeviceRestartCalls* calls) { ZeroMemory(calls, sizeof *calls); }
