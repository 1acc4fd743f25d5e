// Products that size the separable filter's temporaries, checked before any
// allocation: a count or byte size that std::size_t cannot hold throws instead
// of wrapping around. Internal to the library.
#pragma once

#include <cstddef>
#include <limits>

#include <nvfiltering/framework/CnMessages.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// a * b, or throws com::norvane::Throwable with `message` when it does not fit.
inline std::size_t checkedProduct(std::size_t a, std::size_t b, const char* message) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
        throwThrowable(message);
    }
    return a * b;
}

// The element count of an x by y by z volume of elements of `bytes` bytes,
// checked so that its byte size fits std::size_t too.
inline std::size_t checkedVolume(std::size_t x, std::size_t y, std::size_t z, std::size_t bytes,
                                 const char* message) {
    const std::size_t count = checkedProduct(checkedProduct(x, y, message), z, message);
    checkedProduct(count, bytes, message);
    return count;
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
