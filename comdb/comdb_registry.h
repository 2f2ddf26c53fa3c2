// Reading the system's ComDB value (COM Name Arbiter), whole, whatever its
// length.
#pragma once

#include <stddef.h>

#include "platform/report.h"

// The whole value as the last successful read found it; Bytes is null when
// none was read.
struct ComDbValue {
  unsigned char* Bytes;
  size_t Length;
};

// Reads ComDB whole into *value and its first 32 bytes into field
// (COMDB_SIZE bytes). False after a report, and then *value is empty.
// Writes go through comdb/rename.h, which reads ComDB again first.
bool ReadComDb(ComDbValue* value, unsigned char* field, const Reporter* reporter);

void FreeComDbValue(ComDbValue* value);
