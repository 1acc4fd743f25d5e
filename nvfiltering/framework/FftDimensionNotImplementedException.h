// Thrown by the prime factor FFT for a length with a prime factor other than 2, 3 and 5.
// Not exported: catch it as com::norvane::Exception (or Throwable) and read its
// class path, "com/norvane/filtering/FftDimensionNotImplementedException".
#pragma once

#include <string>
#include <utility>

#include <nvcore/Exception.h>

namespace com {
namespace norvane {
namespace filtering {

class FftDimensionNotImplementedException : public Exception {
public:
    FftDimensionNotImplementedException(std::string message, const char* classPath)
        : Exception(std::move(message), classPath) {}
    FftDimensionNotImplementedException(const FftDimensionNotImplementedException& other) = default;
    ~FftDimensionNotImplementedException() override = default;
};

}  // namespace filtering
}  // namespace norvane
}  // namespace com
