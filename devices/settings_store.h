// Reading and writing every device's driver settings, and the machine-wide
// option to ignore hardware serial numbers.
#pragma once

extern bool IgnoreSerialChecked;

int ReadDeviceSettings();
int WriteDeviceSettings();
bool ReadIgnoreSerialSetting();
int ApplyIgnoreSerialSetting(bool checked);
int SetIgnoreSerialValues();
int DeleteIgnoreSerialValues();
