// The ComDB bitmap of reserved COM numbers: COM n is bit (n - 1) mod 8 of
// byte (n - 1) div 8, a set bit meaning taken. The DeviceRecord's ComDB
// field holds the first 32 bytes (COM1 to COM256). Pure.
#pragma once

#include <stddef.h>

#include "devices/device_record.h"

enum { COMDB_MAX_NUMBER = COMDB_SIZE * 8 };  // 256

// Writes every free number of the field, ascending, into numbers (room for
// COMDB_MAX_NUMBER) and returns how many there are.
int FreeComNumbers(const unsigned char* comDb, int* numbers);

// Whether ComDB as stored (any length) has n taken; numbers beyond the
// value's end are free.
bool ComNumberTaken(const unsigned char* value, size_t valueLength, int n);

// Mark n (1 to 256) taken or free; any other n changes nothing.
void ReserveComNumber(unsigned char* comDb, int n);
void ReleaseComNumber(unsigned char* comDb, int n);

// Fills the 32-byte field from the registry value as read (any length);
// bytes the value does not reach are zero (free).
void ComDbFieldFromValue(const unsigned char* value, size_t valueLength, unsigned char* comDb);

// Size of the value to write back for a value read with valueLength bytes:
// the same length, but never less than the 32 bytes of the field.
size_t ComDbWriteBackSize(size_t valueLength);

// Builds the value to write back: the field over the first bytes, every
// byte beyond the field (COM257 and above) as it was read. out must hold
// ComDbWriteBackSize(valueLength) bytes. Returns the number of bytes, or 0
// when outSize is too small.
size_t BuildComDbValue(const unsigned char* value, size_t valueLength, const unsigned char* comDb,
                       unsigned char* out, size_t outSize);
