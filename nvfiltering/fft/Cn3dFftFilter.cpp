// The three-dimensional FFT filter: every z-slice by the two-dimensional filter,
// then every z-line in bands of adjacent lines; one executor pass for each.
#include <nvfiltering/fft/Cn3dFftFilter.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/FftEngine.h>
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/fft/detail/GpfaDrivers.h>
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvmath/CnFft.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// From this many slices on, the slice pass gives every slice a task of its own;
// below it, the slices run one after another, each spreading its own passes.
constexpr int kSlicesPerTaskFrom = 4;

}  // namespace

template <class T>
Cn3dFftFilter<T>::Cn3dFftFilter() = default;

template <class T>
Cn3dFftFilter<T>::Cn3dFftFilter(const Cn3dFftFilter& other) = default;

template <class T>
Cn3dFftFilter<T>& Cn3dFftFilter<T>::operator=(const Cn3dFftFilter& other) = default;

template <class T>
Cn3dFftFilter<T>::~Cn3dFftFilter() = default;

template <class T>
void Cn3dFftFilter<T>::executeWith(const T* realIn, const T* imagIn, T* realOut, T* imagOut, int nx, int ny, int nz,
                                   int dir) {
    transformSlices(realIn, imagIn, realOut, imagOut, nx, ny, nz, dir);
    transformZLinesBatched(realOut, imagOut, nx, ny, nz, dir);
}

template <class T>
void Cn3dFftFilter<T>::transformSlices(const T* realIn, const T* imagIn, T* realOut, T* imagOut, int nx, int ny,
                                       int nz, int dir) {
    detail::checkFftCall({{nx, ny, nz},
                          messages::kFft3dSizeBelowOne,
                          1,
                          dir,
                          {realIn, imagIn, realOut, imagOut},
                          messages::kFft3dNullArray,
                          sizeof(T)});
    const std::size_t sliceSize = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    CnExecutor* const executor = this->getExecutor();
    if (executor != nullptr && nz >= kSlicesPerTaskFrom) {
        // One slice per task, each transformed in its task's thread.
        detail::parallelFor(executor, static_cast<std::size_t>(nz), [&](std::size_t z) {
            Cn2dFftFilter<T> plane;
            const std::size_t o = z * sliceSize;
            plane.executeWith(realIn + o, imagIn + o, realOut + o, imagOut + o, ny, nx, dir);
        });
        return;
    }
    // Few slices: one after another, each spreading its own passes.
    Cn2dFftFilter<T> plane;
    plane.setExecutor(executor);
    for (int z = 0; z < nz; ++z) {
        const std::size_t o = static_cast<std::size_t>(z) * sliceSize;
        plane.executeWith(realIn + o, imagIn + o, realOut + o, imagOut + o, ny, nx, dir);
    }
}

template <class T>
void Cn3dFftFilter<T>::transformZLinesOneByOne(T* realOut, T* imagOut, int nx, int ny, int nz, int dir) {
    const std::size_t X = static_cast<std::size_t>(nx);
    const std::size_t Y = static_cast<std::size_t>(ny);
    const std::size_t Z = static_cast<std::size_t>(nz);
    std::vector<T> realScratch(X * Y * Z);
    std::vector<T> imagScratch(X * Y * Z);
    for (std::size_t x = 0; x < X; ++x) {
        for (std::size_t y = 0; y < Y; ++y) {
            for (std::size_t z = 0; z < Z; ++z) {
                realScratch[(x * Y + y) * Z + z] = realOut[x + X * (y + Y * z)];
                imagScratch[(x * Y + y) * Z + z] = imagOut[x + X * (y + Y * z)];
            }
        }
    }
    Cn1dFftFilter<T> line;
    for (std::size_t k = 0; k < X * Y; ++k) {
        T* re = realScratch.data() + k * Z;
        T* im = imagScratch.data() + k * Z;
        line.executeWith(re, im, re, im, nz, 1, dir);
    }
    for (std::size_t x = 0; x < X; ++x) {
        for (std::size_t y = 0; y < Y; ++y) {
            for (std::size_t z = 0; z < Z; ++z) {
                realOut[x + X * (y + Y * z)] = realScratch[(x * Y + y) * Z + z];
                imagOut[x + X * (y + Y * z)] = imagScratch[(x * Y + y) * Z + z];
            }
        }
    }
}

template <class T>
void Cn3dFftFilter<T>::transformZLinesBatched(T* realOut, T* imagOut, int nx, int ny, int nz, int dir) {
    // Every z-line gets exactly the arithmetic of its one-dimensional transform
    // (same engine, table, butterflies, conjugations and scaling); only the order in
    // which the lines are visited differs: bands of adjacent lines are done
    // together, in place, without the transposed copy, and spread over the executor.
    if (nz == 1) {
        return;  // a transform of length 1 leaves every value as it is
    }
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(nx) * static_cast<std::ptrdiff_t>(ny);
    const std::size_t n = static_cast<std::size_t>(nz);
    if (detail::chooseFftEngine(nz, 1, false) == detail::FftEngine::PowerOfTwo) {
        const math::CnFft<T> fft;
        std::vector<T> table(3 * n);
        fft.Call1dMklFftRoutine(nullptr, nullptr, nz, 0, table.data());
        const bool inverse = dir < 0;
        const detail::Pow2Ends<T> ends{inverse, inverse, inverse ? T(1) / static_cast<T>(nz) : T(1)};
        detail::pow2Interleaved(realOut, imagOut, nz, plane, plane, table.data(), ends, this->getExecutor());
        return;
    }
    std::vector<T> table(2 * n);
    detail::gpfaTable(table.data(), nz);
    detail::gpfaColumns(realOut, imagOut, table.data(), nz, plane, plane, dir, this->getExecutor());
}

template class Cn3dFftFilter<float>;
template class Cn3dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
