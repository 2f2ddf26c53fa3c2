// Reading and writing the system's ComDB value (COM Name Arbiter). The value
// is kept whole as read, so that writing it back changes only the bits a
// rename touched, whatever its length.
#pragma once

#include <stddef.h>

#include "platform/report.h"

// The whole value as the last successful read found it (or as the last
// write left it). Bytes is null when none was read: a value we never saw is
// never written over, or every reservation of the machine would be lost.
struct ComDbValue {
  unsigned char* Bytes;
  size_t Length;
};

// Reads ComDB whole into *value and its first 32 bytes into field
// (COMDB_SIZE bytes). False after a report, and then *value is empty, so
// that WriteComDb refuses until a read succeeds.
bool ReadComDb(ComDbValue* value, unsigned char* field, const Reporter* reporter);

// Writes *value back at its length, with field over its first bytes, and
// keeps what was written. False after a report.
bool WriteComDb(ComDbValue* value, const unsigned char* field, const Reporter* reporter);

void FreeComDbValue(ComDbValue* value);
