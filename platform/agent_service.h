// The Windows service that keeps a profile applied (portmeld agent): its
// registration with the service control manager, its event source in the
// Application log, and running as a service when the manager starts it.
#pragma once

#include <windows.h>

#include <string>

extern const char AgentServiceName[];  // "PortmeldAgent"
extern const char AgentDisplayName[];  // "Portmeld Agent"
extern const char AgentEventSource[];  // "Portmeld Agent"

// Creates the service (automatic start, LocalSystem, restarted on failure)
// with this command line, or changes an installed one to it; then starts
// it, stopping it first when it runs. ERROR_SUCCESS or the Win32 error.
DWORD InstallAgentService(const std::string& commandLine);
// Stops and deletes the service; ERROR_SUCCESS also when none is installed.
DWORD RemoveAgentService();

struct AgentServiceState {
  bool Installed;
  bool Running;
  std::string CommandLine;
};
// ERROR_SUCCESS (Installed false when there is none) or the Win32 error.
DWORD QueryAgentService(AgentServiceState* state);

// The event source "Portmeld Agent" of the Application log, its messages
// taken from the program at exePath; removed again with the service.
DWORD RegisterAgentEventSource(const std::string& exePath);
DWORD RemoveAgentEventSource();
bool AgentEventSourceRegistered();
// One event in the Application log (EVENTLOG_ERROR_TYPE, _WARNING_TYPE,
// _INFORMATION_TYPE); nothing when the source cannot be opened.
void ReportAgentEvent(WORD type, const std::string& text);

// Runs work as the service's body when the service control manager started
// this process: work returns when stopEvent is set (stop or shut-down) and
// gives the service's exit code (0 for a clean stop). False, with
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, when no manager started it.
typedef DWORD (*AgentWork)(HANDLE stopEvent, void* context);
bool RunAsAgentService(AgentWork work, void* context, DWORD* error);
