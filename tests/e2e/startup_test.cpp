// Start-up of the real program under Wine: the Main window and its controls,
// the message when no device is attached, message boxes at the pointer, the
// device list with attached devices; and the two builds' executables.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "main_window_ids.h"
#include "stories.h"

namespace {

const char NoDevices[] = "No active FTDI devices found";

std::string Padded(const char* caption, size_t blanks) {
  return std::string(caption) + std::string(blanks, ' ');
}

struct ControlCase {
  int Id;
  std::string Text;
  bool Enabled;
};

// Every control of dialog 100 with an id, its text and its state at start.
// The trailing blanks of five check boxes line their boxes up on the right.
std::vector<ControlCase> StartupControls() {
  return {
      {IDB_OK, "OK", true},
      {IDB_CANCEL, "Cancel", true},
      {IDB_REFRESH, "Refresh", true},
      {IDB_APPLY, "Apply", true},
      {IDE_MIN_READ_TIMEOUT, "", false},
      {IDE_MIN_WRITE_TIMEOUT, "", false},
      {IDE_POLLING_PERIOD, "", false},
      {IDE_LATENCY_TIMER, "", false},
      {IDX_SERIAL_PRINTER, Padded("Serial Printer", 25), false},
      {IDX_CANCEL_IF_POWER_OFF, Padded("Cancel If Power Off", 13), false},
      {IDX_EVENT_ON_SURPRISE_REMOVAL, "Event On Surprise Removal", false},
      {IDX_SET_RTS_ON_CLOSE, Padded("Set RTS On Close", 15), false},
      {IDX_DISABLE_MODEM_CTRL, Padded("Disable Modem Ctrl At Startup", 14), false},
      {IDX_IGNORE_SERIAL, "Ignore Hardware Serial Number", true},
      {IDX_SERIAL_ENUMERATOR, Padded("Serial Enumerator", 22), false},
      {IDB_BAUD_RATE_MAPPINGS, "Baud Rate Mappings", true},
      {IDB_OPTIMIZE_PORTMELD, "Optimize for Portmeld", true},
      {IDB_BUFFERED_WRITES, "Buffered Writes", true},
      {IDB_RENAME_COM_PORT, "Rename COM Port", true},
      {IDB_RELOAD_DRIVER, "Reload Driver", true},
      {IDB_OPTIMIZE_TARNLINK, "Optimize for Tarnlink", true},
      {IDB_DEFAULT_SETTINGS, "Default Settings", true},
      {IDX_SHOW_DISCONNECTED, "Show disconnected devices", true},
      {IDB_CLOSE_ALL_PORTS, "Close All Ports", true},
      {IDL_DEVICES, "", true},
  };
}

const int DeviceControls[] = {IDE_MIN_READ_TIMEOUT, IDE_MIN_WRITE_TIMEOUT, IDE_POLLING_PERIOD,
                              IDE_LATENCY_TIMER,    IDX_SERIAL_PRINTER,    IDX_CANCEL_IF_POWER_OFF,
                              IDX_EVENT_ON_SURPRISE_REMOVAL, IDX_SET_RTS_ON_CLOSE,
                              IDX_DISABLE_MODEM_CTRL, IDX_SERIAL_ENUMERATOR, IDE_STATUS};

std::vector<Step> DeviceControlsDisabled() {
  std::vector<Step> steps;
  for (int id : DeviceControls) steps.push_back({Do::ExpectDisabled, id});
  return steps;
}

}  // namespace

TEST_F(E2eScenario, MainWindowShowsItsControls) {
  AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");
  WriteStandinDevices("device 0 5 04036001 1011 FT12AB34 Portmeld USB UART\n");

  std::vector<Step> steps = {{Do::Launch}, {Do::Window, MainTitle}, {Do::NoMessage}};
  for (const ControlCase& c : StartupControls()) {
    if (c.Id != IDL_DEVICES) steps.push_back({Do::ExpectText, c.Id, c.Text});
    steps.push_back({c.Enabled ? Do::ExpectEnabled : Do::ExpectDisabled, c.Id});
  }
  steps.push_back({Do::ExpectDisabled, IDE_STATUS});
  steps.push_back({Do::ExpectUnchecked, IDX_SHOW_DISCONNECTED});
  steps.push_back({Do::ExpectUnchecked, IDX_IGNORE_SERIAL});
  steps.push_back({Do::ExpectRows, IDL_DEVICES, "1"});
  steps.push_back({Do::ExpectSelectedRow, IDL_DEVICES, "-1"});
  steps.push_back({Do::ExpectText, IDE_STATUS, "Open COM Ports: 0"});
  Run(Then(steps, CancelAndExit));
}

TEST_F(E2eScenario, NoAttachedDeviceIsReportedAndTheListStaysEmpty) {
  AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");

  Run(Then({{Do::Launch},
            {Do::Message, IDOK, NoDevices, "ERROR"},
            {Do::Window, MainTitle},
            {Do::NoMessage},
            {Do::ExpectRows, IDL_DEVICES, "0"},
            {Do::ExpectText, IDE_STATUS, "Open COM Ports: 0"},
            {Do::ExpectLog, "FT_CreateDeviceInfoList 0 -> 0"},
            {Do::ExpectNoLog, "FT_GetDeviceInfoDetail"}},
           Then(DeviceControlsDisabled(), CancelAndExit)));
  // Start-up reads and grants; it never writes a device's settings.
  EXPECT_EQ(16u, ReadDword(DeviceKey(0x04036001, "FT12AB34A", true), "LatencyTimer"));
}

TEST_F(E2eScenario, TwoAttachedDevicesOneOfThemOpen) {
  AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");
  AddRegisteredDevice(0x04036010, "FT9XK2L1A", "COM6");
  // The FT232 reports its serial number without the letter its key carries;
  // the dual-channel device reports it with its channel letter.
  WriteStandinDevices(
      "device 0 5 04036001 1011 FT12AB34 Portmeld USB UART\n"
      "device 1 6 04036010 1021 FT9XK2L1A Portmeld Dual RS232 A\n");

  Run({{Do::Launch},
       {Do::Window, MainTitle},
       {Do::NoMessage},
       {Do::ExpectRows, IDL_DEVICES, "2"},
       {Do::ExpectText, IDE_STATUS, "Open COM Ports: 1"},
       {Do::ExpectLog, "FT_CreateDeviceInfoList 2 -> 0"},
       {Do::ExpectLog, "FT_GetDeviceInfoDetail 0 -> 0"},
       {Do::ExpectLog, "FT_GetDeviceInfoDetail 1 -> 0"}});
}

// MessageBoxAtCursor puts the box's centre on the pointer, wherever it is,
// also where part of the box then lies off the 1024 x 768 desktop.
class MessageBoxAtPointer : public E2eScenario,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(MessageBoxAtPointer, TheBoxIsCentredOnThePointer) {
  AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");

  Run({{Do::Pointer, GetParam()},
       {Do::Launch},
       {Do::Message, 0, NoDevices, "ERROR"},
       {Do::BoxAtPointer},
       {Do::Answer, IDOK},
       {Do::Window, MainTitle}});
}

INSTANTIATE_TEST_SUITE_P(Positions, MessageBoxAtPointer,
                         ::testing::Values("512,384", "203,611", "1010,20"));

// The shipped executables, read as files: the x64 one beside this program,
// the x86 one from its own build directory.
namespace {

struct ExeCase {
  std::string Path;
  WORD Machine;
  const char* Architecture;  // processorArchitecture in the manifest
};

struct PeImage {
  std::vector<unsigned char> Bytes;
  const IMAGE_NT_HEADERS32* Headers32;  // the fields shared by both layouts
  const IMAGE_SECTION_HEADER* Sections;
  WORD SectionCount;
};

bool ReadFileBytes(const std::string& path, std::vector<unsigned char>* bytes) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  fclose(file);
  return true;
}

bool ParsePe(PeImage* pe) {
  const std::vector<unsigned char>& b = pe->Bytes;
  if (b.size() < sizeof(IMAGE_DOS_HEADER)) return false;
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(b.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  size_t at = static_cast<size_t>(dos->e_lfanew);
  if (at + sizeof(IMAGE_NT_HEADERS64) > b.size()) return false;
  pe->Headers32 = reinterpret_cast<const IMAGE_NT_HEADERS32*>(b.data() + at);
  if (pe->Headers32->Signature != IMAGE_NT_SIGNATURE) return false;
  size_t sections = at + 4 + sizeof(IMAGE_FILE_HEADER) + pe->Headers32->FileHeader.SizeOfOptionalHeader;
  pe->SectionCount = pe->Headers32->FileHeader.NumberOfSections;
  if (sections + pe->SectionCount * sizeof(IMAGE_SECTION_HEADER) > b.size()) return false;
  pe->Sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(b.data() + sections);
  return true;
}

// File offset of a relative virtual address, or 0 when no section holds it.
size_t FileOffset(const PeImage& pe, DWORD rva) {
  for (WORD i = 0; i < pe.SectionCount; ++i) {
    const IMAGE_SECTION_HEADER& s = pe.Sections[i];
    DWORD size = s.Misc.VirtualSize ? s.Misc.VirtualSize : s.SizeOfRawData;
    if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
      return rva - s.VirtualAddress + s.PointerToRawData;
  }
  return 0;
}

// Names of the DLLs the executable imports, lower-case.
std::vector<std::string> ImportedDlls(const PeImage& pe) {
  const IMAGE_DATA_DIRECTORY* directory;
  if (pe.Headers32->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    directory = &reinterpret_cast<const IMAGE_NT_HEADERS64*>(pe.Headers32)
                     ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  else
    directory = &pe.Headers32->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> names;
  size_t at = FileOffset(pe, directory->VirtualAddress);
  while (at && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= pe.Bytes.size()) {
    const IMAGE_IMPORT_DESCRIPTOR* d =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.Bytes.data() + at);
    if (d->Name == 0) break;
    size_t name = FileOffset(pe, d->Name);
    if (!name) break;
    std::string dll;
    for (size_t i = name; i < pe.Bytes.size() && pe.Bytes[i]; ++i)
      dll += static_cast<char>(tolower(pe.Bytes[i]));
    names.push_back(dll);
    at += sizeof(IMAGE_IMPORT_DESCRIPTOR);
  }
  return names;
}

// The RT_MANIFEST resource 1, read through the loader as a data file.
std::string ManifestOf(const std::string& path) {
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "";
  std::string text;
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  if (resource) {
    HGLOBAL loaded = LoadResource(module, resource);
    const char* data = static_cast<const char*>(LockResource(loaded));
    if (data) text.assign(data, SizeofResource(module, resource));
  }
  FreeLibrary(module);
  return text;
}

class ShippedExecutable : public ::testing::TestWithParam<int> {};

ExeCase CaseFor(int which) {
  if (which == 0)
    return {ExeDirectory() + "\\PortmeldConfigurator.exe", IMAGE_FILE_MACHINE_AMD64, "amd64"};
  return {PORTMELD_X86_PROGRAM, IMAGE_FILE_MACHINE_I386, "X86"};
}

}  // namespace

TEST_P(ShippedExecutable, IsAStaticGuiProgramWithItsArchitecturesManifest) {
  ExeCase c = CaseFor(GetParam());
  PeImage pe = {};
  ASSERT_TRUE(ReadFileBytes(c.Path, &pe.Bytes)) << "missing: " << c.Path;
  ASSERT_TRUE(ParsePe(&pe)) << "not a PE file: " << c.Path;
  EXPECT_EQ(c.Machine, pe.Headers32->FileHeader.Machine) << c.Path;
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, pe.Headers32->OptionalHeader.Subsystem) << c.Path;
  // Statically linked: no MinGW runtime DLL has to travel with it, and the
  // vendor's library is loaded at run time, never imported.
  std::vector<std::string> dlls = ImportedDlls(pe);
  EXPECT_FALSE(dlls.empty()) << "no import table read from " << c.Path;
  for (const std::string& dll : dlls) {
    EXPECT_EQ(std::string::npos, dll.find("libstdc++")) << dll;
    EXPECT_EQ(std::string::npos, dll.find("libgcc")) << dll;
    EXPECT_EQ(std::string::npos, dll.find("libwinpthread")) << dll;
    EXPECT_NE("ftd2xx.dll", dll);
  }

  std::string manifest = ManifestOf(c.Path);
  ASSERT_FALSE(manifest.empty()) << "no manifest resource in " << c.Path;
  std::string arch = std::string("processorArchitecture=\"") + c.Architecture + "\"";
  EXPECT_NE(std::string::npos, manifest.find(arch)) << manifest;
  EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\"")) << manifest;
  EXPECT_NE(std::string::npos, manifest.find("version=\"1.0.0.0\"")) << manifest;
  EXPECT_NE(std::string::npos, manifest.find("<description>Portmeld Configurator</description>"))
      << manifest;
  // Themed controls, per-monitor DPI and the systems it was made for.
  for (const char* part : {"Microsoft.Windows.Common-Controls", "PerMonitorV2", "true/pm",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(std::string::npos, manifest.find(part)) << part << " in " << manifest;
}

INSTANTIATE_TEST_SUITE_P(Builds, ShippedExecutable, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 0 ? "x64" : "x86");
                         });
