// Apply writes what the user changed, onto what the registry holds when it
// writes: a change another program made after the window read the
// settings survives, unless the user changed the same setting.
#include <functional>

#include "comdb/rename.h"
#include "devices/config_data.h"
#include "devices/settings_rules.h"
#include "access/access.h"
#include "baud/alias_registry.h"
#include "bufwrite/buffered_writes.h"
#include "devices/journal.h"
#include "devices/write_transaction.h"
#include "platform/writer_lock.h"
#include "settings_test_support.h"

namespace {

const char SerialA[] = "FTMERGE1A";
const char SerialB[] = "FTMERGE2B";

uint32_t StoredEntry(const std::string& params, int entry) {
  std::vector<unsigned char> config;
  if (!ReadValue(params, "ConfigData", &config) || config.size() < CONFIG_DATA_SIZE) return 0;
  return GetConfigEntry(config.data(), entry);
}

void SetStoredEntry(const std::string& params, int entry, uint32_t value) {
  std::vector<unsigned char> config;
  ASSERT_TRUE(ReadValue(params, "ConfigData", &config));
  SetConfigEntry(config.data(), entry, value);
  SetBinary(params, "ConfigData", config);
}

struct MergeCase {
  const char* Name;
  std::function<void(DeviceRecord*)> User;        // the edit in the window, on device A
  std::function<void(const std::string&)> Other;  // another writer, on A's Device Parameters
  std::function<void(const std::string&)> Check;  // A's Device Parameters afterwards
};

const MergeCase MergeCases[] = {
    {"a number the user changed beside one changed outside",
     [](DeviceRecord* r) { r->LatencyTimer = 2; },
     [](const std::string& p) { SetDword(p, "MinReadTimeout", 50); },
     [](const std::string& p) {
       EXPECT_EQ(2u, ReadDword(p, "LatencyTimer"));
       EXPECT_EQ(50u, ReadDword(p, "MinReadTimeout"));
     }},
    {"the same number changed by both: the user's wins",
     [](DeviceRecord* r) { r->LatencyTimer = 2; },
     [](const std::string& p) { SetDword(p, "LatencyTimer", 9); },
     [](const std::string& p) { EXPECT_EQ(2u, ReadDword(p, "LatencyTimer")); }},
    {"an option bit beside an alias entry changed outside",
     [](DeviceRecord* r) { SetOptionBit(r->ConfigData, SerialPrinter, true); },
     [](const std::string& p) { SetStoredEntry(p, 6, 0x4137); },
     [](const std::string& p) {
       EXPECT_EQ(0x80u, StoredEntry(p, OPTIONS_ENTRY) & 0xFF);
       EXPECT_EQ(0x4137u, StoredEntry(p, 6));
     }},
    {"an alias entry beside an option bit and an unnamed bit set outside",
     [](DeviceRecord* r) { SetConfigEntry(r->ConfigData, 10, 0x1B); },
     [](const std::string& p) { SetStoredEntry(p, OPTIONS_ENTRY, 0x00010020); },
     [](const std::string& p) {
       EXPECT_EQ(0x1Bu, StoredEntry(p, 10));
       EXPECT_EQ(0x00010020u, StoredEntry(p, OPTIONS_ENTRY));
     }},
    {"the same option bit changed both ways: the user's wins",
     [](DeviceRecord* r) { SetOptionBit(r->ConfigData, SetRtsOnClose, true); },
     [](const std::string& p) { SetStoredEntry(p, OPTIONS_ENTRY, 0x20); },
     [](const std::string& p) { EXPECT_EQ(0x28u, StoredEntry(p, OPTIONS_ENTRY)); }},
    {"nothing changed by the user: nothing written over the other's change",
     [](DeviceRecord*) {},
     [](const std::string& p) {
       SetDword(p, "LatencyTimer", 7);
       SetStoredEntry(p, 3, 0x99);
     },
     [](const std::string& p) {
       EXPECT_EQ(7u, ReadDword(p, "LatencyTimer"));
       EXPECT_EQ(0x99u, StoredEntry(p, 3));
     }},
    {"the serial enumerator beside a number changed outside",
     [](DeviceRecord* r) { SetSerialEnumerator(r, true); },
     [](const std::string& p) { SetDword(p, "PollingPeriod", 40); },
     [](const std::string& p) {
       EXPECT_EQ(40u, ReadDword(p, "PollingPeriod"));
       std::vector<unsigned char> filters;
       EXPECT_TRUE(ReadValue(DeviceKey(FtdiDeviceId, SerialA), "UpperFilters", &filters));
       EXPECT_EQ(Bytes(SerenumUpperFilters, UPPER_FILTERS_SIZE), filters);
     }},
    {"transfer sizes, suspend and its idle time set outside beside an option bit",
     [](DeviceRecord* r) { SetOptionBit(r->ConfigData, SetRtsOnClose, true); },
     [](const std::string& p) {
       SetStoredEntry(p, OPTIONS_ENTRY, 0x0F071000);  // sizes 512 and 1024, suspend on
       SetDword(p, "SSIdleTimeout", 5000);
     },
     [](const std::string& p) {
       EXPECT_EQ(0x0F071008u, StoredEntry(p, OPTIONS_ENTRY));
       EXPECT_EQ(5000u, ReadDword(p, "SSIdleTimeout"));
     }},
    {"a value deleted outside that the user did not change stays deleted",
     [](DeviceRecord* r) { r->LatencyTimer = 3; },
     [](const std::string& p) { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, p.c_str(), "MinWriteTimeout"); },
     [](const std::string& p) {
       EXPECT_EQ(3u, ReadDword(p, "LatencyTimer"));
       EXPECT_FALSE(ValueExists(p, "MinWriteTimeout"));
     }},
};

class WriteMergeTest : public RegistryTest {};

TEST_F(WriteMergeTest, ApplyKeepsWhatOthersWroteMeanwhile) {
  const std::string paramsA = DeviceKey(FtdiDeviceId, SerialA, true);
  const std::string paramsB = DeviceKey(FtdiDeviceId, SerialB, true);
  for (const MergeCase& c : MergeCases) {
    SCOPED_TRACE(c.Name);
    StartOver();
    AddRegisteredDevice(FtdiDeviceId, SerialA, "COM5");
    AddRegisteredDevice(FtdiDeviceId, SerialB, "COM6");
    UseInventory({MakeRecord(FtdiDeviceId, SerialA), MakeRecord(FtdiDeviceId, SerialB)});
    ASSERT_EQ(1, ReadDeviceSettings());
    std::vector<unsigned char> configB;
    ASSERT_TRUE(ReadValue(paramsB, "ConfigData", &configB));

    c.User(&Inventory.Records[0]);
    c.Other(paramsA);
    SetDword(paramsB, "LatencyTimer", 5);  // the other port, changed outside too

    EXPECT_EQ(1, WriteDeviceSettings());
    EXPECT_TRUE(RecordedMessages.empty());
    c.Check(paramsA);
    EXPECT_EQ(5u, ReadDword(paramsB, "LatencyTimer"));
    std::vector<unsigned char> configAfter;
    EXPECT_TRUE(ReadValue(paramsB, "ConfigData", &configAfter));
    EXPECT_EQ(configB, configAfter);
  }
}

}  // namespace

namespace {

// Whether another thread could take the writer lock while a report was
// being told: a box shown under the lock would keep every other writer
// waiting on the user.
struct LockProbe {
  int Told = 0;
  int ToldUnderLock = 0;
};

DWORD WINAPI TryWriterLock(LPVOID) {
  WriterLock lock;
  DWORD rc = AcquireWriterLock(0, &lock);
  ReleaseWriterLock(&lock);
  return rc;
}

int ProbeWriterLock(void* context, const Report*) {
  LockProbe* probe = static_cast<LockProbe*>(context);
  ++probe->Told;
  HANDLE thread = CreateThread(nullptr, 0, TryWriterLock, nullptr, 0, nullptr);
  DWORD code = WAIT_TIMEOUT;
  if (thread && WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0) GetExitCodeThread(thread, &code);
  if (thread) CloseHandle(thread);
  if (code != ERROR_SUCCESS) ++probe->ToldUnderLock;
  return IDOK;
}

class ReportsAfterTheLockTest : public RegistryTest {};

TEST_F(ReportsAfterTheLockTest, ARefusedRenameIsToldOnceTheLockIsLetGo) {
  AddRegisteredDevice(FtdiDeviceId, SerialA, "COM5");
  SetBinary(ComNameArbiterKeyPath, "ComDB", std::vector<unsigned char>(32, 0));
  DenyWrites(ComNameArbiterKeyPath);
  DeviceRecord record = MakeRecord(FtdiDeviceId, SerialA, "COM5");
  LockProbe probe;
  Reporter reporter = {ProbeWriterLock, &probe};

  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED),
            RenameDevice(&record, 9, THROUGH_REGISTRY, "Rename COM Port", &reporter));
  EXPECT_EQ(1, probe.Told);
  EXPECT_EQ(0, probe.ToldUnderLock);
  EXPECT_STREQ("COM5", record.PortName);
}

// Every writer of the window goes through the one transaction: with a
// journal that cannot be written, its question is asked before the lock is
// taken, every report is told once the lock is let go, and the lock is free
// when the writer returns; with a journal, the set is recorded begun and
// ended.
struct WriterCase {
  const char* Name;
  std::function<void(const Reporter*)> Write;
};

std::string JournalText() {
  std::vector<unsigned char> text;
  HANDLE file = CreateFileA(JournalFilePath().c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  char buffer[4096];
  DWORD read = 0;
  std::string out;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) out.append(buffer, read);
  CloseHandle(file);
  return out;
}

class TransactionTest : public RegistryTest {};

TEST_F(TransactionTest, EveryWriterOfTheWindowRecordsAndLetsGoOfTheLock) {
  const WriterCase cases[] = {
      {"Apply", [](const Reporter* r) {
         Inventory.Records[0].LatencyTimer = 3;
         SettingsWrite write = {"Apply", THROUGH_REGISTRY, IGNORE_SERIAL_UNCHANGED, RELOAD_ALWAYS,
                                true};
         ChangeSet set;
         WriteChangedSettings(&Inventory, write, &set, r);
       }},
      {"Baud Rate Mapping", [](const Reporter* r) {
         SetConfigEntry(Inventory.Records[0].ConfigData, 6, 0x4137);
         WriteConfigData(&Inventory.Records[0], &Inventory.AsRead[0], r);
       }},
      {"Buffered Writes", [](const Reporter* r) {
         SetOptionBit(Inventory.Records[0].ConfigData, BufferedWritesEnabled, true);
         const char* typed[BUFFERED_WRITE_VALUE_COUNT] = {"2048", "10", "2"};
         bool rejected[BUFFERED_WRITE_VALUE_COUNT];
         SaveBufferedWrites(&Inventory.Records[0], &Inventory.AsRead[0], typed, rejected, r);
       }},
      {"Rename COM Port", [](const Reporter* r) {
         RenameDevice(&Inventory.Records[0], 9, THROUGH_REGISTRY, "Rename COM Port", r);
       }},
      {"Start-up access", [](const Reporter* r) { SetStartUpAccess(&Inventory, r); }},
      {"reload", [](const Reporter* r) {
         ChangeSet set;
         RunWrite("reload", RELOAD_ALWAYS, &set, r, nullptr);
       }},
  };
  for (const WriterCase& c : cases) {
    for (bool journal : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (journal ? ", recorded" : ", no journal"));
      StartOver();
      AddRegisteredDevice(FtdiDeviceId, SerialA, "COM5");
      SetBinary(ComNameArbiterKeyPath, "ComDB", std::vector<unsigned char>(32, 0));
      UseInventory({MakeRecord(FtdiDeviceId, SerialA, "COM5")});
      ReadDeviceSettings();
      char folder[MAX_PATH];
      GetTempPathA(sizeof folder, folder);
      // A file where the journal's folder should be: it cannot be written.
      std::string base = std::string(folder) + "portmeld_writers";
      std::string blocked = base + "_blocked";
      CloseHandle(CreateFileA(blocked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      SetJournalFolder(journal ? base.c_str() : (blocked + "\\journal").c_str());
      DeleteFileA(JournalFilePath().c_str());
      LockProbe probe;
      Reporter reporter = {ProbeWriterLock, &probe};

      c.Write(&reporter);

      EXPECT_EQ(0, probe.ToldUnderLock);
      EXPECT_EQ(DWORD(ERROR_SUCCESS), TryWriterLock(nullptr)) << "the lock is let go";
      if (journal) {
        std::string text = JournalText();
        size_t begun = text.find("\"state\": \"begun\"");
        size_t ended = text.find("\"state\": \"done\"");
        EXPECT_NE(std::string::npos, begun) << text;
        EXPECT_NE(std::string::npos, ended) << text;
        EXPECT_LT(begun, ended) << text;
        EXPECT_NE(std::string::npos, text.find(std::string("\"command\": \"") + c.Name)) << text;
        DeleteFileA(JournalFilePath().c_str());
        RemoveDirectoryA(base.c_str());
      } else {
        EXPECT_GE(probe.Told, 1) << "the question whether to write without a record";
      }
      DeleteFileA(blocked.c_str());
      SetJournalFolder(nullptr);
    }
  }
}

}  // namespace
