// GoogleTest fixture for end-to-end scenarios. Each test starts from a clean
// FTDI part of the registry (no FTDIBUS key, a UsbFlags key without the
// ignore-serial values, a COM name database with COM1 taken) and an empty
// D2XX device list, seeds what its story needs (registry_fixture.h), then
// runs its step tables:
//
//   TEST_F(E2eScenario, NoDeviceAttached) {
//     AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");
//     Run({{Do::Launch},
//          {Do::Message, IDOK, "No active FTDI devices found", "ERROR"},
//          {Do::Window, MAIN_WINDOW_TITLE},
//          {Do::ExpectRows, IDL_DEVICES, "0"}});
//     EXPECT_EQ(16u, ReadDword(DeviceKey(0x04036001, "FT12AB34A", true), "LatencyTimer"));
//   }
//
// On failure the screen is saved as results/screenshots/<test>.bmp and the
// program's output is printed; the program is killed if it still runs.
#pragma once

#include <gtest/gtest.h>

#include "component/registry_fixture.h"
#include "e2e/driver.h"
#include "e2e/steps.h"

class E2eScenario : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs one table of steps; a failed step is a fatal failure of the test,
  // and every later Run of the same test does nothing.
  void Run(const std::vector<Step>& steps);

  AppSession App;
};

// "Suite.Test" of the running test, made safe for a file name.
std::string CurrentTestName();
// Saves the whole screen under results/screenshots/<name>.bmp; returns the path or "".
std::string SaveFailureScreenshot(const std::string& name);
