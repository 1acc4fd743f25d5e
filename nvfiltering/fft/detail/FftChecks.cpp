// The FFT filters' argument checks (see FftChecks.h).
#include <nvfiltering/fft/detail/FftChecks.h>

#include <cstdint>
#include <limits>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/FftDimensionNotImplementedException.h>

namespace com::norvane::filtering::detail {

FftFactors factoriseFftLength(std::int32_t n) {
    FftFactors f;
    std::int32_t nn = n;
    std::int32_t* counts[3] = {&f.p, &f.q, &f.r};
    const std::int32_t divisors[3] = {2, 3, 5};
    for (int i = 0; i < 3; ++i) {
        while (nn % divisors[i] == 0) {
            ++*counts[i];
            nn /= divisors[i];
        }
    }
    f.rest = nn;
    return f;
}

void checkFftLength(std::int32_t n, const char* belowOne) {
    if (n < 1) {
        throwThrowable(belowOne);
    }
    if (factoriseFftLength(n).rest != 1) {
        throw FftDimensionNotImplementedException(messages::kFftDimensionNotImplemented,
                                                  messages::kFftDimensionClassPath);
    }
}

std::size_t checkFftCall(const FftCall& call) {
    for (std::int32_t n : call.sizes) {
        if (n < 1) {
            throwThrowable(call.sizeBelowOne);
        }
    }
    for (std::int32_t n : call.sizes) {
        checkFftLength(n, call.sizeBelowOne);
    }
    if (call.count < 0) {
        throwThrowable(messages::kFftNegativeVectorCount);
    }
    if (call.direction != 1 && call.direction != -1) {
        throwThrowable(messages::kFftInvalidDirection);
    }
    // Every index the transforms form is a std::ptrdiff_t, every byte count a
    // std::size_t: the element count must fit both, times the element size.
    const std::size_t limit =
        static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / call.elementSize;
    std::size_t elements = static_cast<std::size_t>(call.count);
    for (std::int32_t n : call.sizes) {
        const std::size_t factor = static_cast<std::size_t>(n);
        if (elements != 0 && factor > limit / elements) {
            throwThrowable(messages::kFftSizeTooLarge);
        }
        elements *= factor;
    }
    if (elements > 0) {
        for (const void* array : call.arrays) {
            if (array == nullptr) {
                throwThrowable(call.nullArray);
            }
        }
    }
    return elements;
}

}  // namespace com::norvane::filtering::detail
