#include "cli/agent.h"

#include <windows.h>

#include <string>

#include "cli/device_restarts.h"
#include "cli/profile.h"
#include "cli/profile_access.h"
#include "cli/watch.h"
#include "platform/agent_service.h"
#include "platform/device_restart.h"

namespace {

const char RunMarker[] = " agent run \"";

std::string ThisProgram() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n && n < sizeof path ? std::string(path, n) : std::string();
}

// The profile of the service's command line: "<program>" agent run "<profile>".
std::string ProfileOf(const std::string& commandLine) {
  size_t at = commandLine.find(RunMarker);
  if (at == std::string::npos) return "";
  at += sizeof RunMarker - 1;
  size_t end = commandLine.find('"', at);
  return commandLine.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

Json StateObject(const AgentServiceState& state) {
  return {{"installed", state.Installed},
          {"running", state.Running},
          {"profile", state.Installed ? Json(Utf8(ProfileOf(state.CommandLine))) : Json(nullptr)}};
}

int Install(const CommandLine& line, Outcome* outcome) {
  if (line.Arguments.size() != 1)
    return Refuse(outcome, EXIT_BAD_INPUT, "agent install needs the profile: agent install PROFILE");
  if (RunsUnderWow64()) return Refuse(outcome, EXIT_FAILED, RestartNeedsX64Text);
  // LocalSystem sees neither this prompt's folder nor its mapped drives.
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(line.Arguments[0].c_str(), sizeof full, full, nullptr);
  if (line.Arguments[0] == "-" || length == 0 || length >= sizeof full)
    return Refuse(outcome, EXIT_BAD_INPUT, line.Arguments[0] + ": not a profile file's path");
  std::string profilePath = full;
  if (profilePath.size() > 2 && profilePath[1] == ':') {
    std::string root = profilePath.substr(0, 2) + "\\";
    if (GetDriveTypeA(root.c_str()) == DRIVE_REMOTE)
      return Refuse(outcome, EXIT_BAD_INPUT,
                    profilePath + ": " + root +
                        " is a mapped drive, which the service (LocalSystem) does not see: give "
                        "the profile's UNC path (\\\\server\\share\\...) or a local one");
  }
  std::string text;
  {
    HANDLE file = CreateFileA(profilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return Refuse(outcome, EXIT_BAD_INPUT, profilePath + ": cannot be read");
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got && text.size() < (64u << 20))
      text.append(buffer, got);
    CloseHandle(file);
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  Profile profile;
  std::string reason;
  if (!ReadProfile(text, PROFILE_FILE, &profile, &reason))
    return Refuse(outcome, EXIT_BAD_INPUT, profilePath + ": " + reason);
  if (int code = CheckProfileAccess(line, profilePath, true, outcome)) return code;

  std::string program = ThisProgram();
  // Both paths quoted: a space in either must not start another program as SYSTEM.
  std::string commandLine = "\"" + program + "\"" + RunMarker + profilePath + "\"";
  DWORD rc = RegisterAgentEventSource(program);
  if (rc != ERROR_SUCCESS) {
    AddError(outcome, "cannot register the event source \"Portmeld Agent\"", "", "", "", "", rc);
    return Finish(outcome);
  }
  rc = InstallAgentService(commandLine);
  if (rc != ERROR_SUCCESS) {
    AddError(outcome, std::string("cannot install or start the service ") + AgentServiceName, "",
             "", "", "", rc);
    return Finish(outcome);
  }
  AgentServiceState state;
  QueryAgentService(&state);
  outcome->Changed = true;
  outcome->Document["agent"] = StateObject(state);
  outcome->Lines.push_back(std::string(AgentServiceName) + " installed and started: watches " +
                           profilePath);
  return Finish(outcome);
}

int Remove(Outcome* outcome) {
  AgentServiceState before;
  QueryAgentService(&before);
  DWORD rc = RemoveAgentService();
  if (rc != ERROR_SUCCESS)
    AddError(outcome, std::string("cannot remove the service ") + AgentServiceName, "", "", "",
             "", rc);
  DWORD source = RemoveAgentEventSource();
  if (source != ERROR_SUCCESS)
    AddError(outcome, "cannot remove the event source \"Portmeld Agent\"", "", "", "", "", source);
  AgentServiceState after;
  QueryAgentService(&after);
  outcome->Changed = before.Installed && !after.Installed;
  outcome->Document["agent"] = StateObject(after);
  outcome->Lines.push_back(before.Installed ? std::string(AgentServiceName) + " removed"
                                            : std::string(AgentServiceName) + " is not installed");
  return Finish(outcome);
}

int Status(Outcome* outcome) {
  AgentServiceState state;
  DWORD rc = QueryAgentService(&state);
  if (rc != ERROR_SUCCESS) {
    AddError(outcome, "cannot ask the service control manager", "", "", "", "", rc);
    return Finish(outcome);
  }
  outcome->Document["agent"] = StateObject(state);
  std::string profile = ProfileOf(state.CommandLine);
  outcome->Lines.push_back(!state.Installed ? std::string(AgentServiceName) + " is not installed"
                           : state.Running  ? std::string(AgentServiceName) + " runs: watches " + profile
                                            : std::string(AgentServiceName) +
                                                 " is installed but not running: watches " + profile);
  int code = Finish(outcome);
  if (code != EXIT_DONE) return code;
  return !state.Installed ? EXIT_NO_PORT : state.Running ? EXIT_DONE : EXIT_WOULD_CHANGE;
}

struct ServiceRun {
  const CommandLine* Line;
};

DWORD WatchAsService(HANDLE stopEvent, void* context) {
  const CommandLine* line = static_cast<ServiceRun*>(context)->Line;
  CommandLine watch = *line;
  watch.Command = "watch";
  watch.Port = line->Arguments.empty() ? "" : line->Arguments[0];
  watch.Json = false;
  Outcome outcome;
  int code = WatchProfile(watch, &outcome, stopEvent, true);
  if (code != EXIT_DONE) {
    std::string why = "portmeld watch " + watch.Port + " could not start (exit " +
                      std::to_string(code) + ")";
    for (const Json& error : outcome.Document["errors"])
      why += ": " + error["message"].get<std::string>();
    ReportAgentEvent(EVENTLOG_ERROR_TYPE, why);
  }
  return (DWORD)code;
}

int Run(const CommandLine& line, Outcome* outcome) {
  if (line.Arguments.size() != 1)
    return Refuse(outcome, EXIT_BAD_INPUT,
                  "agent run is started by Windows as the service PortmeldAgent; at a prompt, use "
                  "portmeld watch PROFILE");
  ServiceRun run = {&line};
  DWORD error = ERROR_SUCCESS;
  if (RunAsAgentService(WatchAsService, &run, &error)) return EXIT_DONE;
  if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
    return Refuse(outcome, EXIT_BAD_INPUT,
                  "agent run is started by Windows as the service PortmeldAgent (portmeld agent "
                  "install PROFILE installs it); at a prompt, use portmeld watch PROFILE");
  return Refuse(outcome, EXIT_FAILED,
                "cannot run as a service (Win32 error " + std::to_string(error) + ")");
}

}  // namespace

int RunAgent(const CommandLine& line, Outcome* outcome) {
  if (line.Port == "install") return Install(line, outcome);
  if (line.Port == "remove") return Remove(outcome);
  if (line.Port == "status") return Status(outcome);
  if (line.Port == "run") return Run(line, outcome);
  return Refuse(outcome, EXIT_BAD_INPUT, "agent takes install PROFILE, remove, status or run");
}
