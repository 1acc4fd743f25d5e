// The argument checks every FFT filter makes before it touches an array, in one
// function, and the factorisation of a length into 2^p 3^q 5^r they rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace com::norvane::filtering::detail {

// Counts of the factors 2, 3 and 5 of n (n >= 1); `rest` is what remains.
struct FftFactors {
    std::int32_t p = 0;
    std::int32_t q = 0;
    std::int32_t r = 0;
    std::int32_t rest = 1;
};

FftFactors factoriseFftLength(std::int32_t n);

// A transform length: at least 1 (else Throwable with `belowOne`) and of the form
// 2^p 3^q 5^r (else FftDimensionNotImplementedException).
void checkFftLength(std::int32_t n, const char* belowOne);

// What one FFT call is given. `sizes` are the transform lengths (every one is
// checked to be at least 1 before any is checked for its factors), `count` the
// number of vectors of a batch (1 for the 2-D and 3-D transforms).
struct FftCall {
    std::initializer_list<std::int32_t> sizes;
    const char* sizeBelowOne;
    std::int32_t count;
    std::int32_t direction;
    std::initializer_list<const void*> arrays;
    const char* nullArray;
    std::size_t elementSize;
};

// Checks, in this order: every size >= 1, every size a legal length, count >= 0,
// direction +1 or -1, the element count (product of the sizes and the count) and
// its byte size fit the address space, and no array is null when there is data.
// Returns the element count. Throws before anything else happens.
std::size_t checkFftCall(const FftCall& call);

}  // namespace com::norvane::filtering::detail
