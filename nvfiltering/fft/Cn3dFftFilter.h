// Three-dimensional complex DFT of an nx x ny x nz array (x fastest: element
// (x, y, z) at x + nx (y + ny z)), split real / imaginary arrays, with the
// convention of Cn1dFftFilter along every axis (inverse scaled by 1/(nx ny nz)).
//
// executeWith(realIn, imagIn, realOut, imagOut, nx, ny, nz, direction) transforms
// every z-slice with a two-dimensional filter, then every z-line. The output may be
// the input (in place); separate arrays leave the input unchanged. nx, ny and nz are
// all checked before the first slice: a size below 1 or nx ny nz elements whose bytes
// do not fit the address space throw com::norvane::Throwable, a prime factor above 5
// FftDimensionNotImplementedException, and the arrays are then untouched. With an
// executor, the slices and then the bands of z-lines run as independent tasks, with
// results bit-identical to the run without one. The call uses only objects local to it and leaves the fields of
// this filter unchanged.
#pragma once

#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
class NVFILTERING_EXPORT Cn3dFftFilter : public Cn2dFftFilter<T> {
public:
    Cn3dFftFilter();
    Cn3dFftFilter(const Cn3dFftFilter& other);
    Cn3dFftFilter& operator=(const Cn3dFftFilter& other);
    ~Cn3dFftFilter() override;

    using Cn1dFftFilter<T>::executeWith;
    virtual void executeWith(const T* realIn, const T* imagIn, T* realOut, T* imagOut, int nx, int ny, int nz,
                             int dir);

};

extern template class Cn3dFftFilter<float>;
extern template class Cn3dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
