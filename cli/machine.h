// The machine as the console program sees it: every registered FTDI device
// with its settings, which of them are attached now, and the ports a
// command line names.
#pragma once

#include <string>
#include <vector>

#include "cli/output.h"
#include "devices/device_record.h"

enum ReadDepth {
  READ_PORT_NAMES,  // enough to list
  READ_SETTINGS     // every setting the console program names
};

struct Machine {
  DeviceInventory Registered = {};  // every FTDIBUS device instance
  DeviceInventory Attached = {};    // the D2XX listing, sorted by serial
  bool AttachedKnown = false;       // false without the D2XX library
  Machine() = default;
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
  ~Machine();
};

// Lists the registered devices, reads what depth asks for and asks the D2XX
// library which are attached. False (with the error in the outcome) when
// the driver's FTDIBUS key exists but cannot be read: no command may take
// that for a machine without ports.
bool LoadMachine(Machine* machine, ReadDepth depth, Outcome* outcome);

// 1 attached, 0 not, -1 unknown.
int AttachedState(const Machine& machine, const DeviceRecord& record);
// The D2XX listing's record of an attached device; nullptr when not attached.
const DeviceRecord* AttachedRecord(const Machine& machine, const DeviceRecord& record);

// The registered records that PORT names (COMn, a serial, or all), narrowed
// by --vidpid. EXIT_DONE and the indexes, or EXIT_BAD_INPUT (a malformed
// vidpid, a PORT that names several devices) or EXIT_NO_PORT with the
// reason.
int SelectPorts(const Machine& machine, const std::string& port, const std::string& vidpid,
                std::vector<uint32_t>* indexes, std::string* reason);

// Puts indexes of registered records in the order list, show and stale give
// ports (ListedBefore); records that tie keep the registry's order.
void SortForListing(const Machine& machine, std::vector<uint32_t>* indexes);
