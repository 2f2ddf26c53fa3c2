#include "comdb/comdb_bits.h"

#include <string.h>

static const size_t FieldSize = COMDB_SIZE;

int FreeComNumbers(const unsigned char* comDb, int* numbers) {
  int count = 0;
  for (int n = 1; n <= COMDB_MAX_NUMBER; ++n)
    if ((comDb[(n - 1) / 8] & (1 << ((n - 1) % 8))) == 0) numbers[count++] = n;
  return count;
}

bool ComNumberTaken(const unsigned char* value, size_t valueLength, int n) {
  if (n < 1 || (size_t)(n - 1) / 8 >= valueLength) return false;
  return (value[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

void ReserveComNumber(unsigned char* comDb, int n) {
  if (n < 1 || n > COMDB_MAX_NUMBER) return;
  comDb[(n - 1) / 8] = (unsigned char)(comDb[(n - 1) / 8] | 1 << ((n - 1) % 8));
}

void ReleaseComNumber(unsigned char* comDb, int n) {
  if (n < 1 || n > COMDB_MAX_NUMBER) return;
  comDb[(n - 1) / 8] = (unsigned char)(comDb[(n - 1) / 8] & ~(1 << ((n - 1) % 8)));
}

void ComDbFieldFromValue(const unsigned char* value, size_t valueLength, unsigned char* comDb) {
  size_t used = valueLength < FieldSize ? valueLength : FieldSize;
  if (used > 0) memcpy(comDb, value, used);
  memset(comDb + used, 0, FieldSize - used);
}

size_t ComDbWriteBackSize(size_t valueLength) {
  // A short value grows to the field's size, so that a number reserved
  // beyond its end is recorded rather than lost.
  return valueLength < FieldSize ? FieldSize : valueLength;
}

size_t BuildComDbValue(const unsigned char* value, size_t valueLength, const unsigned char* comDb,
                       unsigned char* out, size_t outSize) {
  size_t size = ComDbWriteBackSize(valueLength);
  if (outSize < size) return 0;
  memcpy(out, comDb, FieldSize);
  if (valueLength > FieldSize) memcpy(out + FieldSize, value + FieldSize, valueLength - FieldSize);
  return size;
}
