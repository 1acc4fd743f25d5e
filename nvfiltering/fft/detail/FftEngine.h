// Which of the two FFT engines transforms vectors of a given length: the
// power-of-two engine or the generalised prime factor FFT. Every filter asks here.
#pragma once

#include <cstdint>

namespace com::norvane::filtering::detail {

enum class FftEngine { PowerOfTwo, Gpfa };

// The power-of-two engine takes power-of-two lengths whose elements are adjacent
// (dataJump 1) unless the GPFA is asked for; the GPFA takes everything else.
inline FftEngine chooseFftEngine(std::int32_t length, std::int32_t dataJump, bool gpfaOnly) {
    const bool powerOfTwo = length > 0 && (length & (length - 1)) == 0;
    return (dataJump == 1 && !gpfaOnly && powerOfTwo) ? FftEngine::PowerOfTwo : FftEngine::Gpfa;
}

}  // namespace com::norvane::filtering::detail
