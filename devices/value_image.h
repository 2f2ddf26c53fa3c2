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
