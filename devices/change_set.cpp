#include "devices/change_set.h"

#include <string.h>

#include <algorithm>
#include <set>


bool SameImage(const ValueImage& a, const ValueImage& b) {
  if (a.Present != b.Present) return false;
  return !a.Present || (a.Type == b.Type && a.Data == b.Data);
}

ValueImage BinaryImage(const void* data, size_t size) {
  ValueImage image;
  image.Present = true;
  image.Type = REG_BINARY;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  image.Data.assign(bytes, bytes + size);
  return image;
}

ValueImage DwordImage(uint32_t number) {
  unsigned char bytes[4] = {(unsigned char)number, (unsigned char)(number >> 8),
                            (unsigned char)(number >> 16), (unsigned char)(number >> 24)};
  ValueImage image = BinaryImage(bytes, sizeof bytes);
  image.Type = REG_DWORD;
  return image;
}

ValueImage StringImage(const char* text) {
  ValueImage image = BinaryImage(text, strlen(text) + 1);
  image.Type = REG_SZ;
  return image;
}

LONG ReadValueImage(const char* keyPath, const char* valueName, ValueImage* image) {
  *image = ValueImage();
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // no key, no value
  if (rc != ERROR_SUCCESS) return rc;
  rc = ReadValueImageFromKey(key, valueName, image);
  RegCloseKey(key);
  return rc;
}

LONG ReadValueImageFromKey(HKEY key, const char* valueName, ValueImage* image) {
  *image = ValueImage();
  // Asks for the size first and again when the value grew in between.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = REG_NONE, size = 0;
    LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    image->Data.resize(size ? size : 1);
    rc = RegQueryValueExA(key, valueName, nullptr, &type, image->Data.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc == ERROR_FILE_NOT_FOUND) {
      image->Data.clear();
      return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
      image->Data.clear();
      return rc;
    }
    image->Data.resize(size);
    image->Present = true;
    image->Type = type;
    return ERROR_SUCCESS;
  }
  image->Data.clear();
  return ERROR_MORE_DATA;
}

bool AnyWritten(const ChangeSet& set) {
  for (const ValueChange& change : set.Changes)
    if (change.Written) return true;
  return false;
}
