// Rounding helper of the core library.
#pragma once

#include <nvcore/nvcore_export.h>

namespace com {
namespace norvane {

// The greatest integer not above x, as int. Values outside the range of int
// saturate at INT_MIN / INT_MAX; not-a-number gives 0.
NVCORE_EXPORT int floor(double x);

}  // namespace norvane
}  // namespace com
