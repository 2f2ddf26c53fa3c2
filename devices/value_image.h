// A registry value as stored: absent, or its type and bytes. The one image
// of a value that the write path plans with and the journal records and
// reads back. Pure.
#pragma once

#include <stdint.h>

#include <vector>

struct ValueImage {
  bool Present = false;
  uint32_t Type = 0;  // REG_NONE
  std::vector<unsigned char> Data;
  bool operator==(const ValueImage& o) const {
    return Present == o.Present && (!Present || (Type == o.Type && Data == o.Data));
  }
};

// The number a REG_DWORD image holds; false for an image that is absent or
// no four-byte REG_DWORD.
inline bool DwordOfImage(const ValueImage& image, uint32_t* number) {
  if (!image.Present || image.Type != 4 /* REG_DWORD */ || image.Data.size() != 4) return false;
  const std::vector<unsigned char>& d = image.Data;
  *number = (uint32_t)d[0] | (uint32_t)d[1] << 8 | (uint32_t)d[2] << 16 | (uint32_t)d[3] << 24;
  return true;
}
