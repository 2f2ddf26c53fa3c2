#include "component/fake_serial.h"

#include "platform/serial.h"

FakeSerialPorts FakeSerial;

void ResetFakeSerial() { FakeSerial = FakeSerialPorts(); }

static std::string OpenName(HANDLE port) {
  return *reinterpret_cast<const std::string*>(port);
}

bool SerialPortExists(const char* name) {
  FakeSerial.Probed.push_back(name);
  return FakeSerial.Existing.count(name) != 0;
}

HANDLE OpenSerialPortExclusive(const char* name) {
  if (!FakeSerial.Existing.count(name) || FakeSerial.Busy.count(name)) return INVALID_HANDLE_VALUE;
  // The handle is the set's own copy of the name, stable while the set lives.
  return (HANDLE)&*FakeSerial.Existing.find(name);
}

void PurgeAndCloseSerialPort(HANDLE port) { FakeSerial.PurgedAndClosed.push_back(OpenName(port)); }
