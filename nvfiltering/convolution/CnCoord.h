// Axis selector of the separable filter, used as bit flags.
#pragma once

#include <cstdint>

namespace com {
namespace norvane {
namespace filtering {

class CnCoord {
public:
    // Bits 1, 2 and 4 select the X, Y and Z axes; they may be combined
    // (static_cast<CnCoord::Axis>(3) is X and Y). The fixed underlying type
    // makes any 32-bit value a valid Axis, so unknown bits can be passed and
    // are ignored or rejected by the functions that take an Axis.
    enum Axis : std::int32_t { X = 1, Y = 2, Z = 4 };
};

}  // namespace filtering
}  // namespace norvane
}  // namespace com
