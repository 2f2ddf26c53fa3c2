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

// Writes the change made to field since *value was read: ComDB is read
// again just before, whole, and only the bits in which field differs from
// the value read are changed, so that a number somebody else reserved in
// between stays reserved. Afterwards field and *value hold what was
// written. False after a report; nothing is written when no value was read
// before, or when it cannot be read again.
bool WriteComDb(ComDbValue* value, unsigned char* field, const Reporter* reporter);

// Reserves and frees COM numbers (1 to 256) in ComDB as one change, by the
// rule above. False after a report.
bool ChangeComDb(const int* take, int takeCount, const int* release, int releaseCount,
                 const Reporter* reporter);

void FreeComDbValue(ComDbValue* value);
