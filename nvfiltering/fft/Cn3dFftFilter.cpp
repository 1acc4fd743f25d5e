#include <nvfiltering/fft/Cn3dFftFilter.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>
#include <nvmath/CnFft.h>

namespace com {
namespace norvane {
namespace filtering {

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
    if (nx < 1 || ny < 1 || nz < 1) {
        throwThrowable(messages::kFft3dSizeBelowOne);
    }
    Cn1dFftFilter<T>::checkLength(nx);
    Cn1dFftFilter<T>::checkLength(ny);
    Cn1dFftFilter<T>::checkLength(nz);
    if (dir != 1 && dir != -1) {
        throwThrowable(messages::kFftInvalidDirection);
    }
    if (realIn == nullptr || imagIn == nullptr || realOut == nullptr || imagOut == nullptr) {
        throwThrowable(messages::kFft3dNullArray);
    }
    Cn2dFftFilter<T> plane;
    const std::size_t sliceSize = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
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
    // which the lines are visited differs: adjacent lines are done together, in
    // place, without the transposed copy.
    if (nz == 1) {
        return;  // a transform of length 1 leaves every value as it is
    }
    const std::size_t plane = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    if (this->IsPowerOf2(static_cast<unsigned int>(nz))) {
        const math::CnFft<T> fft;
        std::vector<T> table(3 * static_cast<std::size_t>(nz));
        fft.Call1dMklFftRoutine(realOut, imagOut, nz, 0, table.data());
        const std::size_t band = 64;
        for (std::size_t v = 0; v < plane; v += band) {
            const std::size_t w = plane - v < band ? plane - v : band;
            fft.CallBatchedFftRoutine(realOut + v, imagOut + v, nz, static_cast<std::ptrdiff_t>(plane),
                                      static_cast<int>(w), dir, table.data());
        }
        return;
    }
    std::vector<T> table(2 * static_cast<std::size_t>(nz));
    std::int32_t n = nz;
    this->setgpfa(table.data(), &n);
    const std::int32_t lines = static_cast<std::int32_t>(plane);
    this->runGpfaOnColumns(realOut, imagOut, table.data(), n, lines, lines, dir);
}

template class Cn3dFftFilter<float>;
template class Cn3dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
