// Two-dimensional complex DFT of an array of n1 rows of n2 adjacent elements,
// split real / imaginary arrays, with the convention of Cn1dFftFilter along both
// axes (inverse scaled by 1/(n1 n2)).
//
// Reached through the inherited executeWith(realIn, imagIn, realOut, imagOut,
// n1, n2, direction): n1 = number of rows, n2 = row length, so element (i1, i2) is
// at i1 * n2 + i2. Both sizes must be at least 1 and of the form 2^p 3^q 5^r;
// otherwise the run throws before any array is touched (a size below 1:
// com::norvane::Throwable; a prime factor above 5: FftDimensionNotImplementedException).
// Power-of-two sizes give the numbers of the math library's two-dimensional FFT;
// other sizes run a row pass and a column pass of the one-dimensional filter. A
// size product whose bytes do not fit the address space throws Throwable.
#pragma once

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
class NVFILTERING_EXPORT Cn2dFftFilter : public Cn1dFftFilter<T> {
public:
    Cn2dFftFilter();
    Cn2dFftFilter(const Cn2dFftFilter& other);
    Cn2dFftFilter& operator=(const Cn2dFftFilter& other);
    ~Cn2dFftFilter() override;

    // Transforms the length x vectorCount array described by the fields, which
    // the run leaves as they are. The tables of the row and column lengths are
    // kept, so a second run of the same shape builds none.
    void execute() override;

protected:
    // Checks both sizes and the array pointers; throws as documented above.
    void checkSizes() const;
};

extern template class Cn2dFftFilter<float>;
extern template class Cn2dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
