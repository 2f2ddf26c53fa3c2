// Writing a record's ConfigData to its Device Parameters key.
#pragma once

#include "devices/device_record.h"
#include "platform/report.h"

// True when written; false after one report naming the port and serial.
bool WriteConfigData(const DeviceRecord* record, const Reporter* reporter);
