#include "platform/agent_service.h"

#include <string.h>

const char AgentServiceName[] = "PortmeldAgent";
const char AgentDisplayName[] = "Portmeld Agent";
const char AgentEventSource[] = "Portmeld Agent";

namespace {

const char EventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Portmeld Agent";
const DWORD StopWaitMs = 30000;

const char Description[] =
    "Applies a Portmeld profile to each FTDI USB-serial adapter as it arrives (portmeld watch).";

// Waits until the service has stopped, asking it once.
DWORD StopService(SC_HANDLE service) {
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return GetLastError();
  if (status.dwCurrentState == SERVICE_STOPPED) return ERROR_SUCCESS;
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_NOT_ACTIVE && error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
      return error;
  }
  for (DWORD waited = 0; waited < StopWaitMs; waited += 200) {
    if (!QueryServiceStatus(service, &status)) return GetLastError();
    if (status.dwCurrentState == SERVICE_STOPPED) return ERROR_SUCCESS;
    Sleep(200);
  }
  return ERROR_SERVICE_REQUEST_TIMEOUT;
}

// Restarted after 5 s, twice; the count starts again after a day.
DWORD SetRecovery(SC_HANDLE service) {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000},
                         {SC_ACTION_RESTART, 60000}};
  SERVICE_FAILURE_ACTIONSA failure = {};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  SERVICE_DESCRIPTIONA description = {const_cast<char*>(Description)};
  ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
    return GetLastError();
  // A watch that stops with an error (a profile gone bad) is restarted too.
  SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
  ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  return ERROR_SUCCESS;
}

SERVICE_STATUS_HANDLE StatusHandle;
SERVICE_STATUS Status;
HANDLE StopEvent;
AgentWork Work;
void* WorkContext;

void Report(DWORD state, DWORD exitCode) {
  Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  Status.dwCurrentState = state;
  Status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  Status.dwWin32ExitCode = exitCode ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  Status.dwServiceSpecificExitCode = exitCode;
  Status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
  SetServiceStatus(StatusHandle, &Status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    Report(SERVICE_STOP_PENDING, 0);
    SetEvent(StopEvent);
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, char**) {
  StatusHandle = RegisterServiceCtrlHandlerExA(AgentServiceName, OnControl, nullptr);
  if (!StatusHandle) return;
  Report(SERVICE_RUNNING, 0);
  DWORD code = Work(StopEvent, WorkContext);
  Report(SERVICE_STOPPED, code);
}

}  // namespace

DWORD InstallAgentService(const std::string& commandLine) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  SC_HANDLE service = OpenServiceA(manager, AgentServiceName, SERVICE_ALL_ACCESS);
  if (service) {
    error = StopService(service);
    if (error == ERROR_SUCCESS &&
        !ChangeServiceConfigA(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                              SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                              nullptr, "LocalSystem", "", AgentDisplayName))
      error = GetLastError();
  } else {
    error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      service = CreateServiceA(manager, AgentServiceName, AgentDisplayName, SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                               SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                               nullptr, nullptr, nullptr);  // no account: LocalSystem
      error = service ? ERROR_SUCCESS : GetLastError();
    }
  }
  if (error == ERROR_SUCCESS) error = SetRecovery(service);
  if (error == ERROR_SUCCESS && !StartServiceA(service, 0, nullptr)) error = GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return error;
}

DWORD RemoveAgentService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  SC_HANDLE service =
      OpenServiceA(manager, AgentServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (!service) {
    error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) error = ERROR_SUCCESS;
  } else {
    error = StopService(service);
    if (!DeleteService(service)) {
      DWORD deleted = GetLastError();
      if (deleted != ERROR_SERVICE_MARKED_FOR_DELETE && error == ERROR_SUCCESS) error = deleted;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return error;
}

DWORD QueryAgentService(AgentServiceState* state) {
  state->Installed = state->Running = false;
  state->CommandLine.clear();
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  SC_HANDLE service =
      OpenServiceA(manager, AgentServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
  DWORD error = ERROR_SUCCESS;
  if (!service) {
    error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) error = ERROR_SUCCESS;
  } else {
    state->Installed = true;
    SERVICE_STATUS status;
    if (QueryServiceStatus(service, &status))
      state->Running = status.dwCurrentState == SERVICE_RUNNING;
    DWORD size = 0;
    QueryServiceConfigA(service, nullptr, 0, &size);
    char* buffer = static_cast<char*>(LocalAlloc(LPTR, size ? size : 1));
    QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    if (buffer && QueryServiceConfigA(service, config, size, &size) && config->lpBinaryPathName)
      state->CommandLine = config->lpBinaryPathName;
    LocalFree(buffer);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return error;
}

DWORD RegisterAgentEventSource(const std::string& exePath) {
  HKEY key;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, EventSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return (DWORD)rc;
  DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  rc = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                      reinterpret_cast<const BYTE*>(exePath.c_str()), (DWORD)exePath.size() + 1);
  if (rc == ERROR_SUCCESS)
    rc = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                        sizeof types);
  RegCloseKey(key);
  return (DWORD)rc;
}

DWORD RemoveAgentEventSource() {
  LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKey);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : (DWORD)rc;
}

bool AgentEventSourceRegistered() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EventSourceKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void ReportAgentEvent(WORD type, const std::string& text) {
  HANDLE source = RegisterEventSourceA(nullptr, AgentEventSource);
  if (!source) return;
  const char* strings[] = {text.c_str()};
  // Event 1: the program has no message table, so the text is the event.
  ReportEventA(source, type, 0, 1, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

bool RunAsAgentService(AgentWork work, void* context, DWORD* error) {
  Work = work;
  WorkContext = context;
  StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(AgentServiceName), ServiceMain},
                                  {nullptr, nullptr}};
  bool ran = StartServiceCtrlDispatcherA(table) != FALSE;
  *error = ran ? ERROR_SUCCESS : GetLastError();
  CloseHandle(StopEvent);
  return ran;
}
