// Writing a record's ConfigData to its Device Parameters key.
#pragma once

#include "devices/device_record.h"
#include "platform/report.h"

// Writes the option bits and alias entries in which the record's ConfigData
// differs from asRead (the record as read from the registry), merged onto
// the ConfigData the registry holds now, under the writer lock. Both
// records take the value written. True when written (or nothing differed);
// false after one report naming the port and serial.
bool WriteConfigData(DeviceRecord* record, DeviceRecord* asRead, const Reporter* reporter);
