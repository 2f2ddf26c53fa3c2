// The Main window's field and box tables, shared by the window and its
// commands: one place for which control edits which setting.
#pragma once

#include "devices/config_data.h"
#include "devices/device_record.h"
#include "devices/settings_rules.h"

struct NumberFieldControl {
  int Id;
  uint32_t DeviceRecord::*Field;
  NumberFieldRange Range;
  uint32_t KnownBit;
};
enum { NUMBER_FIELD_COUNT = 4, OPTION_BOX_COUNT = 5 };
// In commit order: 1004, 1005, 1007, 1001.
extern const NumberFieldControl NumberFields[NUMBER_FIELD_COUNT];

struct OptionBoxControl {
  int Id;
  OptionBit Bit;
};
// In commit order: 1008 to 1012.
extern const OptionBoxControl OptionBoxes[OPTION_BOX_COUNT];

#include <windows.h>

// A control of the Main window, and whether a box of it is checked.
HWND MainControl(int id);
bool IsMainBoxChecked(int id);
// Disables the fields, boxes and status line that show a selected port.
void DisableDeviceControls();

