// Reading and writing ComDB against Wine's registry: the value is kept whole,
// only the bits of the numbers in question change, and a value that could
// not be read is never written.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "comdb/comdb_bits.h"
#include "comdb/comdb_registry.h"
#include "settings_test_support.h"

namespace {

// Stands for the dialog that owns the messages; the recording sink only
// records it.
HWND const Owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5108));

// Byte 0 is 0x1F (COM1 to COM5 taken); the other bytes differ from each
// other so that a shifted or dropped byte shows.
std::vector<unsigned char> ComDbValue(size_t size) {
  std::vector<unsigned char> value(size);
  for (size_t i = 0; i < size; ++i) value[i] = static_cast<unsigned char>(0x1F + 37 * i);
  return value;
}

std::vector<unsigned char> StoredComDb(DWORD* type = nullptr) {
  std::vector<unsigned char> data;
  EXPECT_TRUE(ReadValue(ComNameArbiterKeyPath, "ComDB", &data, type));
  return data;
}

class ComDbRegistryTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    SelectSecondRecord();
  }
  void TearDown() override {
    SelectedIndex = -1;
    RegistryTest::TearDown();
  }
  // For tables of cases: each case starts as a test does.
  void Begin() {
    StartOver();
    SelectSecondRecord();
  }

  void SelectSecondRecord() {
    // The second record is selected; the first shows any stray write.
    UseInventory({MakeRecord(FtdiDeviceId, "FT12AB34A", "COM3"),
                  MakeRecord(FtdiDeviceId, "FT55AA55A", "COM5")});
    for (DeviceRecord& r : records) memset(r.ComDB, Marker, COMDB_SIZE);
    SelectedIndex = 1;
  }

  void ExpectMessages(const std::vector<std::string>& texts) {
    EXPECT_EQ(texts, RecordedTexts());
    for (const RecordedMessage& m : RecordedMessages) {
      EXPECT_EQ(Owner, m.Owner);
      EXPECT_EQ("ERROR", m.Caption);
      EXPECT_EQ(UINT(MB_ICONERROR | MB_OK), m.Style);
    }
  }
};

// COM5 renamed to COM7: mask 0x10 of byte 0 cleared, 0x40 set. Whatever the
// value's length, the rest comes back as it was; a short value grows to the
// field's 32 bytes.
TEST_F(ComDbRegistryTest, RenameChangesOnlyItsTwoBitsAtAnyLength) {
  for (size_t length : {8u, 32u, 64u, 300u}) {
    SCOPED_TRACE(length);
    Begin();
    std::vector<unsigned char> value = ComDbValue(length);
    SetBinary(ComNameArbiterKeyPath, "ComDB", value);

    ASSERT_EQ(1, ReadComDb(Owner));
    std::vector<unsigned char> field = value;
    field.resize(COMDB_SIZE, 0);
    EXPECT_EQ(field, Bytes(records[1].ComDB, COMDB_SIZE));
    EXPECT_EQ(std::vector<unsigned char>(COMDB_SIZE, Marker), Bytes(records[0].ComDB, COMDB_SIZE));

    ASSERT_EQ(1, ChangeComDb(Owner, 7, 5));

    std::vector<unsigned char> expected = value;
    expected.resize(length < 32 ? 32 : length, 0);
    expected[0] = 0x4F;
    DWORD type = 0;
    EXPECT_EQ(expected, StoredComDb(&type));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    ExpectMessages({});
  }
}

// Neither read leaves anything to write: the field keeps its bytes and the
// registry stays as it was.
TEST_F(ComDbRegistryTest, UnreadableComDbIsReportedAndNeverWritten) {
  struct Case {
    const char* Name;
    bool MakeKey;
    const char* Message;  // of the dialog's read and of the change's
  } cases[] = {
      {"key missing", false, "Can't open Key: COM Name Arbiter"},
      {"value missing", true, "Can't open COMDB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Begin();
    if (c.MakeKey) SetDword(ComNameArbiterKeyPath, "Other", 1);

    EXPECT_EQ(0, ReadComDb(Owner));
    EXPECT_EQ(std::vector<unsigned char>(COMDB_SIZE, Marker), Bytes(records[1].ComDB, COMDB_SIZE));
    EXPECT_EQ(0, ChangeComDb(Owner, 7, 0));

    ExpectMessages({c.Message, c.Message});
    EXPECT_EQ(c.MakeKey, KeyExists(ComNameArbiterKeyPath));
    EXPECT_FALSE(ValueExists(ComNameArbiterKeyPath, "ComDB"));
  }
}

// A value read earlier is never written back: a change starts from what
// ComDB holds when it is made, whatever the dialog read before.
TEST_F(ComDbRegistryTest, AChangeStartsFromTheValueOfItsOwnTime) {
  SetBinary(ComNameArbiterKeyPath, "ComDB", ComDbValue(64));
  ASSERT_EQ(1, ReadComDb(Owner));
  DeleteKeyTree(ComNameArbiterKeyPath);
  EXPECT_EQ(0, ReadComDb(Owner));
  std::vector<unsigned char> theirs(32, 0xA5);
  SetBinary(ComNameArbiterKeyPath, "ComDB", theirs);

  EXPECT_EQ(1, ChangeComDb(Owner, 7, 0));

  theirs[0] |= 0x40;
  EXPECT_EQ(theirs, StoredComDb());
  ExpectMessages({"Can't open Key: COM Name Arbiter"});
}

// ComDB is read again just before the write: what others reserved or freed
// while the dialog was open stays so, and only the rename's own two bits
// change.
TEST_F(ComDbRegistryTest, ChangesMadeMeanwhileByOthersAreKept) {
  struct Case {
    const char* Name;
    size_t Byte;
    unsigned char Mask;
    bool Set;  // reserved meanwhile, or freed meanwhile
  } cases[] = {
      {"COM32 reserved meanwhile", 3, 0x80, true},
      {"COM3 freed meanwhile", 0, 0x04, false},
      {"COM300 reserved meanwhile", 37, 0x08, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Begin();
    std::vector<unsigned char> value = ComDbValue(64);
    SetBinary(ComNameArbiterKeyPath, "ComDB", value);
    ASSERT_EQ(1, ReadComDb(Owner));

    std::vector<unsigned char> meanwhile = value;
    if (c.Set)
      meanwhile[c.Byte] |= c.Mask;
    else
      meanwhile[c.Byte] &= (unsigned char)~c.Mask;
    SetBinary(ComNameArbiterKeyPath, "ComDB", meanwhile);
    ASSERT_EQ(1, ChangeComDb(Owner, 7, 5));

    std::vector<unsigned char> expected = meanwhile;
    expected[0] = (unsigned char)((expected[0] | 0x40) & ~0x10);
    EXPECT_EQ(expected, StoredComDb());
    ExpectMessages({});
  }
}

TEST_F(ComDbRegistryTest, RefusedWriteIsReportedAndLeavesTheValue) {
  std::vector<unsigned char> value = ComDbValue(64);
  SetBinary(ComNameArbiterKeyPath, "ComDB", value);
  ASSERT_EQ(1, ReadComDb(Owner));
  DenyWrites(ComNameArbiterKeyPath);

  EXPECT_EQ(0, ChangeComDb(Owner, 7, 0));

  ExpectMessages({"Can't open Key: COM Name Arbiter"});
  EXPECT_EQ(value, StoredComDb());
}

}  // namespace
