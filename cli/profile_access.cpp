#include "cli/profile_access.h"

#include <windows.h>
#include <stdio.h>

#include "access/file_access.h"
#include "platform/administrator.h"

int CheckProfileAccess(const CommandLine& line, const std::string& path, bool writes,
                       Outcome* outcome) {
  if (path == "-" || path.empty()) return EXIT_DONE;
  // Only an administrator's write lets the profile's writer choose what
  // the machine gets; anyone else's run is refused its writes anyway.
  bool refuse = writes && !line.AllowWritableProfile && IsAdministrator();
  OtherAccess other;
  DWORD rc = FindFileWriter(path.c_str(), &other);
  std::string problem;
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return EXIT_DONE;  // read fails
  if (rc != ERROR_SUCCESS)
    problem = path + ": its access list cannot be read (Win32 error " + std::to_string(rc) +
              "), so who may change it is not known";
  else if (other.Found)
    problem = path + ": " + other.Account + " may change this profile (through " + other.Through +
              "), not only SYSTEM and Administrators";
  if (problem.empty()) return EXIT_DONE;
  if (refuse)
    return Refuse(outcome, EXIT_NOT_ALLOWED,
                  problem + ": not applied (--allow-writable-profile applies it anyway)");
  if (!outcome->Document.contains("warnings")) outcome->Document["warnings"] = Json::array();
  outcome->Document["warnings"].push_back(Utf8(problem));
  if (!outcome->JsonOutput) fprintf(stderr, "portmeld: warning: %s\n", problem.c_str());
  return EXIT_DONE;
}
