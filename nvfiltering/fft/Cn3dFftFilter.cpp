// The three-dimensional FFT filter: every z-slice as a plane, then every z-line in
// bands of adjacent lines, with the tables the filter keeps; one executor pass each.
#include <nvfiltering/fft/Cn3dFftFilter.h>

#include <cstddef>
#include <cstdint>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/FftEngine.h>
#include <nvfiltering/fft/detail/FftPasses.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>

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
    detail::checkFftCall({{nx, ny, nz},
                          messages::kFft3dSizeBelowOne,
                          1,
                          dir,
                          {realIn, imagIn, realOut, imagOut},
                          messages::kFft3dNullArray,
                          sizeof(T)});
    // Every slice is ny rows of nx values, as a default two-dimensional filter
    // would take it; the tables of the three lengths come from those kept.
    detail::FftTables<T>& kept = this->planeTables();
    const detail::PlaneTables<T> plane = detail::planeTables(kept, ny, nx, 1, false);
    const T* const zTable = kept.get(detail::chooseFftEngine(nz, 1, false), nz);

    const std::size_t sliceSize = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    CnExecutor* const executor = this->getExecutor();
    if (executor != nullptr && nz >= kSlicesPerTaskFrom) {
        // One slice per task, each transformed in its task's thread.
        detail::parallelFor(executor, static_cast<std::size_t>(nz), [&](std::size_t z) {
            const std::size_t o = z * sliceSize;
            detail::transformPlane(realIn + o, imagIn + o, realOut + o, imagOut + o, ny, nx, 1, dir, plane, nullptr);
        });
    } else {
        // Few slices: one after another, each spreading its own passes.
        for (int z = 0; z < nz; ++z) {
            const std::size_t o = static_cast<std::size_t>(z) * sliceSize;
            detail::transformPlane(realIn + o, imagIn + o, realOut + o, imagOut + o, ny, nx, 1, dir, plane, executor);
        }
    }
    detail::transformZLines(realOut, imagOut, nx, ny, nz, dir, zTable, executor);
}

template class Cn3dFftFilter<float>;
template class Cn3dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
