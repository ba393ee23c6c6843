// The fixed part of the identifier table (152 entries), registered in one place.
#pragma once

#include "image/image.h"

namespace korvane {

// Clears the whole table and writes the fixed entries 0-151 (names, handlers, flags).
void FillFixedIdents(IdentEntry (&table)[kIdentCapacity]);

}  // namespace korvane
