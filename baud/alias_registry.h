// Writing a record's ConfigData to its Device Parameters key.
#pragma once

#include "devices/device_record.h"

// 1 when written; 0 after one message naming the port and serial number.
int WriteConfigData(const DeviceRecord* record);
