// The effect's name and description, by index.
#pragma once

#include "src/host/host_api.h"

namespace tilvane {

enum StringIndex : A_long {
  STRING_NONE = 0,
  STRING_NAME = 1,
  STRING_DESCRIPTION = 2,
  STRING_COUNT = 3,
};

struct TableString {
  A_long index;
  A_char text[256];
};

extern const TableString StringTable[STRING_COUNT];

const A_char* LookupString(A_long index);

}  // namespace tilvane
