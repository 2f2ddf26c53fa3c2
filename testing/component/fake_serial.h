// Component tests link this in place of the serial wrapper: Wine neither
// enforces exclusive opens nor tells missing ports below COM10 apart.
#pragma once

#include <set>
#include <string>
#include <vector>

struct FakeSerialPorts {
  std::set<std::string> Existing;  // names that answer the existence probe
  std::set<std::string> Busy;      // existing but held open elsewhere
  std::vector<std::string> Probed;
  std::vector<std::string> PurgedAndClosed;
};
extern FakeSerialPorts FakeSerial;
void ResetFakeSerial();
