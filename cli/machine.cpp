#include "cli/machine.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "cli/profile.h"
#include "history/port_settings.h"
#include "devices/device_names.h"
#include "devices/inventory.h"
#include "devices/registry_paths.h"
#include "devices/settings_store.h"
#include "platform/d2xx.h"

Machine::~Machine() {
  FreeInventory(&Registered);
  FreeInventory(&Attached);
}

namespace {

// The listings' and reads' reports: a missing library means attachment is
// unknown; a value that cannot be read shows as missing. Neither is an
// error of the command.
struct ListingReports {
  bool LibraryMissing;
};

int NoteListingReport(void* context, const Report* report) {
  if (report->Operation == REPORT_LIST_DEVICES && strcmp(report->Key, D2xxLibraryName) == 0)
    static_cast<ListingReports*>(context)->LibraryMissing = true;
  return IDOK;
}

}  // namespace

bool LoadMachine(Machine* machine, ReadDepth depth, Outcome* outcome) {
  ListingReports notes = {false};
  Reporter listing = {NoteListingReport, &notes};

  // The attached devices first: no message for an empty list.
  machine->Attached.ShowDisconnected = true;
  ListConnectedDevices(&machine->Attached, &listing);
  machine->AttachedKnown = !notes.LibraryMissing;
  SortRecordsBySerial(&machine->Attached);

  HKEY ftdibus = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, FtdibusKeyPath, 0, KEY_READ, &ftdibus);
  if (rc == ERROR_FILE_NOT_FOUND) return true;  // no driver installed: no registered device
  DWORD subkeys = 0;
  if (rc == ERROR_SUCCESS)
    rc = RegQueryInfoKeyA(ftdibus, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr);
  // A tree we cannot read is no empty machine: an engine would take it
  // for compliant and never remediate.
  if (rc != ERROR_SUCCESS) {
    if (ftdibus) RegCloseKey(ftdibus);
    AddError(outcome, "cannot read the driver's device list", "", "", "", FtdibusKeyPath,
             (unsigned long)rc);
    return false;
  }
  machine->Registered.ShowDisconnected = true;
  ListRegisteredDevices(&machine->Registered, ftdibus, &listing);
  RegCloseKey(ftdibus);

  for (uint32_t i = 0; i < machine->Registered.count; ++i) {
    DeviceRecord* record = &machine->Registered.Records[i];
    if (record->DeviceId == 0) continue;
    if (depth == READ_PORT_NAMES) {
      ReadDevicePortName(record);
    } else {
      // One opening of Device Parameters for all of its values.
      ReadDeviceRecordSettings(record, &listing, nullptr, true);
    }
  }
  return true;
}

const DeviceRecord* AttachedRecord(const Machine& machine, const DeviceRecord& record) {
  if (!machine.AttachedKnown || record.DeviceId == 0) return nullptr;
  return FindRecordBySerial(&machine.Attached, record.SerialNumber);
}

int AttachedState(const Machine& machine, const DeviceRecord& record) {
  if (!machine.AttachedKnown) return -1;
  return AttachedRecord(machine, record) ? 1 : 0;
}

int SelectPorts(const Machine& machine, const std::string& port, const std::string& vidpid,
                std::vector<uint32_t>* indexes, std::string* reason) {
  uint32_t deviceId = 0;
  if (!vidpid.empty() && !ParseVidPidText(vidpid, &deviceId)) {
    *reason = "--vidpid takes VVVV:PPPP in hexadecimal, e.g. 0403:6001, not '" + vidpid + "'";
    return EXIT_BAD_INPUT;
  }
  bool all = EqualsIgnoringCase(port, "all");
  bool byNumber = ComNumberOf(port) > 0;
  for (uint32_t i = 0; i < machine.Registered.count; ++i) {
    const DeviceRecord& record = machine.Registered.Records[i];
    if (record.DeviceId == 0) continue;
    if (!vidpid.empty() && record.DeviceId != deviceId) continue;
    bool match = all || (byNumber ? EqualsIgnoringCase(port, PortNameOf(record).c_str())
                                  : EqualsIgnoringCase(port, SerialOf(record).c_str()));
    if (match) indexes->push_back(i);
  }
  if (indexes->empty()) {
    *reason = "no FTDI port matches '" + port + "'" + (vidpid.empty() ? "" : " with " + vidpid);
    return EXIT_NO_PORT;
  }
  if (!all && indexes->size() > 1) {
    std::string serials;
    for (uint32_t i : *indexes)
      serials += (serials.empty() ? "" : ", ") + SerialOf(machine.Registered.Records[i]);
    *reason = "'" + port + "' names several devices (serials " + serials +
              "): name one by its serial number";
    indexes->clear();
    return EXIT_BAD_INPUT;
  }
  return EXIT_DONE;
}

void SortForListing(const Machine& machine, std::vector<uint32_t>* indexes) {
  const DeviceRecord* records = machine.Registered.Records;
  std::stable_sort(indexes->begin(), indexes->end(), [records](uint32_t a, uint32_t b) {
    return ListedBefore(PortNameOf(records[a]), SerialOf(records[a]), PortNameOf(records[b]),
                        SerialOf(records[b]));
  });
}
