// Regional maxima of the first slice, or of the whole volume: the defining
// pixel-by-pixel order as the reference, and branch-free row tests in bands of
// rows as the fast path.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// Branch-free test of the pixels begin .. end-1 of one row (1 <= begin and
// end <= n-1, so that x - 1 and x + 1 lie in the row). A row outside the image
// is passed as the centre row itself: a positive value is never smaller than
// itself, and a value that is not positive fails anyway, so the mask is the one
// over the neighbours that exist. Every comparison with not-a-number is false,
// so a not-a-number pixel or neighbour clears the mask as in the definition.
template <class T>
NVF_ISA_BODY void maximaOfRowBody(const T* __restrict above, const T* __restrict row, const T* __restrict below,
                                  unsigned char* __restrict out, std::size_t begin, std::size_t end) {
    for (std::size_t x = begin; x < end; ++x) {
        const T v = row[x];
        const bool m = (v > T(0)) & (v >= above[x - 1]) & (v >= above[x]) & (v >= above[x + 1]) & (v >= row[x - 1]) &
                       (v >= row[x + 1]) & (v >= below[x - 1]) & (v >= below[x]) & (v >= below[x + 1]);
        out[x] = static_cast<unsigned char>(m);
    }
}

template <class T>
void maximaOfRow(const T* __restrict above, const T* __restrict row, const T* __restrict below,
                 unsigned char* __restrict out, std::size_t begin, std::size_t end) {
    detail::runWidest([&] { maximaOfRowBody<T>(above, row, below, out, begin, end); });
}

// The test of pixel x of a row with its neighbours that exist in x - 1 .. x + 1.
template <class T>
unsigned char maximumAt(const T* above, const T* row, const T* below, std::size_t x, std::size_t n) {
    const T v = row[x];
    if (!(v > T(0))) {
        return 0;
    }
    const std::size_t lo = x > 0 ? x - 1 : x;
    const std::size_t hi = x + 1 < n ? x + 1 : x;
    for (std::size_t t = lo; t <= hi; ++t) {
        if (!(v >= above[t]) || !(v >= row[t]) || !(v >= below[t])) {
            return 0;
        }
    }
    return 1;
}

// The volume test of the voxels begin .. end-1 of one row (1 <= begin and
// end <= n-1) against the nine rows around it: r4 is the row itself, the others
// the rows one step away along Y, Z or both. A row outside the volume is passed
// as the row itself, as in maximaOfRow. Inlined into the variant of each
// instruction set (runWidest).
template <class T>
NVF_ISA_BODY void maximaOfVolumeRow(const T* __restrict r0, const T* __restrict r1, const T* __restrict r2,
                                    const T* __restrict r3, const T* __restrict r4, const T* __restrict r5,
                                    const T* __restrict r6, const T* __restrict r7, const T* __restrict r8,
                                    unsigned char* __restrict out, std::size_t begin, std::size_t end) {
    for (std::size_t x = begin; x < end; ++x) {
        const T v = r4[x];
        const bool m = (v > T(0)) & (v >= r0[x - 1]) & (v >= r0[x]) & (v >= r0[x + 1]) & (v >= r1[x - 1]) &
                       (v >= r1[x]) & (v >= r1[x + 1]) & (v >= r2[x - 1]) & (v >= r2[x]) & (v >= r2[x + 1]) &
                       (v >= r3[x - 1]) & (v >= r3[x]) & (v >= r3[x + 1]) & (v >= r4[x - 1]) & (v >= r4[x + 1]) &
                       (v >= r5[x - 1]) & (v >= r5[x]) & (v >= r5[x + 1]) & (v >= r6[x - 1]) & (v >= r6[x]) &
                       (v >= r6[x + 1]) & (v >= r7[x - 1]) & (v >= r7[x]) & (v >= r7[x + 1]) & (v >= r8[x - 1]) &
                       (v >= r8[x]) & (v >= r8[x + 1]);
        out[x] = static_cast<unsigned char>(m);
    }
}

// The volume test of voxel x of a row (rows[4]) with its neighbours that exist
// in x - 1 .. x + 1 of the nine rows around it.
template <class T>
unsigned char volumeMaximumAt(const T* const* rows, std::size_t x, std::size_t n) {
    const T v = rows[4][x];
    if (!(v > T(0))) {
        return 0;
    }
    const std::size_t lo = x > 0 ? x - 1 : x;
    const std::size_t hi = x + 1 < n ? x + 1 : x;
    for (int k = 0; k < 9; ++k) {
        for (std::size_t t = lo; t <= hi; ++t) {
            if (!(v >= rows[k][t])) {
                return 0;
            }
        }
    }
    return 1;
}

// Runs compute(input), or compute(copy of the input) when the output is the
// input image itself (which unsigned char allows): the tests read neighbours
// that would already be overwritten.
template <class T, class Compute>
void withDistinctInput(const imaging::Image<T>& input, const imaging::Image<unsigned char>& output, Compute compute) {
    if (static_cast<const void*>(&input) == static_cast<const void*>(&output)) {
        const imaging::Image<T> copy(input);
        compute(copy);
    } else {
        compute(input);
    }
}

}  // namespace

template <class T>
CnRegionalMaximumFilter<T>::CnRegionalMaximumFilter() : m_volume(false) {}

template <class T>
CnRegionalMaximumFilter<T>::~CnRegionalMaximumFilter() = default;

namespace {

// The output a run may write: the input's dimensions in volume mode, otherwise
// rows of the input's length and number (both images are addressed by the same
// linear index).
template <class T>
void checkOutput(const imaging::Image<T>& input, const imaging::Image<unsigned char>& output, bool volume) {
    if (volume) {
        if (!output.hasSameDimensions(input)) {
            throwThrowable(messages::kRegionalMaximumVolumeOutputSize);
        }
        return;
    }
    // Both images are addressed by the same linear index, so the rows must have
    // the same length and the same number.
    if (output.getSizeX() != input.getSizeX() || output.getSizeY() != input.getSizeY() ||
        (input.getNumberOfVoxels() != 0 && output.getSizeZ() == 0)) {
        throwThrowable(messages::kRegionalMaximumOutputSize);
    }
}

}  // namespace

template <class T>
void CnRegionalMaximumFilter<T>::checkDimensions(const imaging::Image<T>& input,
                                                 const imaging::Image<unsigned char>& output) const {
    checkOutput(input, output, m_volume);
}

template <class T>
void CnRegionalMaximumFilter<T>::setVolume(bool volume) {
    m_volume = volume;
}

template <class T>
bool CnRegionalMaximumFilter<T>::getVolume() const {
    return m_volume;
}

template <class T>
void CnRegionalMaximumFilter<T>::v_execute() {
    checkDimensions(*this->m_input, *this->m_output);
    withDistinctInput(*this->m_input, *this->m_output, [this](const imaging::Image<T>& input) {
        if (m_volume) {
            computeVolumeFast(input, *this->m_output);
        } else {
            computeFast(input, *this->m_output);
        }
    });
}

namespace detail {

template <class T>
void computeVolumeStraightforward(const imaging::Image<T>& input, imaging::Image<unsigned char>& output) {
    const long long X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    for (long long z = 0; z < Z; ++z) {
        for (long long y = 0; y < Y; ++y) {
            for (long long x = 0; x < X; ++x) {
                const auto at = [](long long u) { return static_cast<unsigned int>(u); };
                const T v = input(at(x), at(y), at(z));
                bool maximum = v > T(0);
                for (long long dz = -1; dz <= 1 && maximum; ++dz) {
                    for (long long dy = -1; dy <= 1 && maximum; ++dy) {
                        for (long long dx = -1; dx <= 1 && maximum; ++dx) {
                            const long long nx = x + dx, ny = y + dy, nz = z + dz;
                            if (nx < 0 || ny < 0 || nz < 0 || nx >= X || ny >= Y || nz >= Z) {
                                continue;
                            }
                            maximum = v >= input(at(nx), at(ny), at(nz));
                        }
                    }
                }
                output(at(x), at(y), at(z)) = maximum ? 1 : 0;
            }
        }
    }
}

}  // namespace detail

namespace detail {

template <class T>
void computeStraightforward(const imaging::Image<T>& input, imaging::Image<unsigned char>& output) {
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t X = input.getSizeX(), Y = input.getSizeY();
    const auto test = [&](std::size_t i, std::initializer_list<std::size_t> neighbours) {
        const T v = input[i];
        bool maximum = v > T(0);
        for (const std::size_t j : neighbours) {
            if (!maximum) {
                break;
            }
            maximum = v >= input[j];
        }
        output[i] = maximum ? 1 : 0;
    };

    if (X < 2 || Y < 2) {
        // A single row or column: the two neighbours along it, where they exist.
        const std::size_t n = X * Y;
        for (std::size_t i = 0; i < n; ++i) {
            if (n == 1) {
                test(i, {});
            } else if (i == 0) {
                test(i, {1});
            } else if (i + 1 == n) {
                test(i, {i - 1});
            } else {
                test(i, {i - 1, i + 1});
            }
        }
        return;
    }

    // Interior: eight neighbours.
    for (std::size_t y = 1; y + 1 < Y; ++y) {
        for (std::size_t x = 1; x + 1 < X; ++x) {
            const std::size_t i = x + X * y;
            test(i, {i - X - 1, i - X, i - X + 1, i - 1, i + 1, i + X - 1, i + X, i + X + 1});
        }
    }
    // Corners: three neighbours.
    const std::size_t last = X * (Y - 1);
    test(0, {1, X, X + 1});
    test(X - 1, {X - 2, 2 * X - 2, 2 * X - 1});
    test(last, {last - X, last - X + 1, last + 1});
    test(last + X - 1, {last - 2, last - 1, last + X - 2});
    // First and last rows: five neighbours.
    for (std::size_t x = 1; x + 1 < X; ++x) {
        test(x, {x - 1, x + 1, X + x - 1, X + x, X + x + 1});
        const std::size_t i = last + x;
        test(i, {i - X - 1, i - X, i - X + 1, i - 1, i + 1});
    }
    // First and last columns: five neighbours.
    for (std::size_t y = 1; y + 1 < Y; ++y) {
        const std::size_t i = X * y;
        test(i, {i - X, i - X + 1, i + 1, i + X, i + X + 1});
        const std::size_t j = i + X - 1;
        test(j, {j - X - 1, j - X, j - 1, j + X - 1, j + X});
    }
}

}  // namespace detail

template <class T>
void CnRegionalMaximumFilter<T>::computeFast(const imaging::Image<T>& input, imaging::Image<unsigned char>& output) {
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t X = input.getSizeX(), Y = input.getSizeY();
    const T* src = input.data();
    unsigned char* dst = output.data();
    // Rows are tested in blocks of kBlock pixels; before each block the matching
    // part of the row kAhead rows further down is requested from memory, so
    // that it arrives while this block is computed.
    constexpr std::size_t kBlock = 256;
    constexpr std::size_t kAhead = 3;
    constexpr std::size_t kLine = 64 / sizeof(T);
    // Rows are independent: bands of rows run as separate tasks.
    const auto rows = [&](std::size_t first, std::size_t last) {
        for (std::size_t y = first; y < last; ++y) {
            const T* row = src + X * y;
            const T* above = y > 0 ? row - X : row;
            const T* below = y + 1 < Y ? row + X : row;
            const T* ahead = y + kAhead < last ? row + X * kAhead : nullptr;
            unsigned char* out = dst + X * y;
            for (std::size_t begin = 1; begin + 1 < X; begin += kBlock) {
                const std::size_t end = begin + kBlock < X - 1 ? begin + kBlock : X - 1;
                if (ahead != nullptr) {
                    for (std::size_t x = begin; x < end; x += kLine) {
                        __builtin_prefetch(ahead + x);
                    }
                }
                maximaOfRow(above, row, below, out, begin, end);
            }
            out[0] = maximumAt(above, row, below, 0, X);
            if (X > 1) {
                out[X - 1] = maximumAt(above, row, below, X - 1, X);
            }
        }
    };
    constexpr std::size_t kBandPixels = std::size_t{1} << 16;
    detail::parallelRanges(this->getExecutor(), Y, std::max<std::size_t>(1, kBandPixels / X), rows);
}

template <class T>
void CnRegionalMaximumFilter<T>::computeVolumeFast(const imaging::Image<T>& input,
                                                   imaging::Image<unsigned char>& output) {
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    const std::size_t XY = X * Y;
    const T* src = input.data();
    unsigned char* dst = output.data();
    // Rows (index y + Y z) are independent: bands of rows run as separate tasks.
    const auto rows = [&](std::size_t first, std::size_t last) {
        for (std::size_t r = first; r < last; ++r) {
            const std::size_t y = r % Y, z = r / Y;
            const T* row = src + X * r;
            const T* around[9];
            for (int dz = -1; dz <= 1; ++dz) {
                for (int dy = -1; dy <= 1; ++dy) {
                    const bool inside =
                        (dz >= 0 || z > 0) && (dz <= 0 || z + 1 < Z) && (dy >= 0 || y > 0) && (dy <= 0 || y + 1 < Y);
                    const T* p = row;
                    if (inside) {
                        p = dz < 0 ? p - XY : dz > 0 ? p + XY : p;
                        p = dy < 0 ? p - X : dy > 0 ? p + X : p;
                    }
                    around[3 * (dz + 1) + (dy + 1)] = p;
                }
            }
            unsigned char* out = dst + X * r;
            if (X > 2) {
                detail::runWidest([&] {
                    maximaOfVolumeRow(around[0], around[1], around[2], around[3], around[4], around[5], around[6],
                                      around[7], around[8], out, 1, X - 1);
                });
            }
            out[0] = volumeMaximumAt(around, 0, X);
            if (X > 1) {
                out[X - 1] = volumeMaximumAt(around, X - 1, X);
            }
        }
    };
    constexpr std::size_t kBandVoxels = std::size_t{1} << 16;
    detail::parallelRanges(this->getExecutor(), Y * Z, std::max<std::size_t>(1, kBandVoxels / X), rows);
}

template class CnRegionalMaximumFilter<unsigned char>;
template class CnRegionalMaximumFilter<unsigned short>;
template class CnRegionalMaximumFilter<short>;
template class CnRegionalMaximumFilter<float>;
template class CnRegionalMaximumFilter<double>;

namespace detail {

template <class T>
void executeStraightforward(const CnRegionalMaximumFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<unsigned char>& output) {
    const bool volume = filter.getVolume();
    checkOutput(input, output, volume);
    withDistinctInput(input, output, [volume, &output](const imaging::Image<T>& distinct) {
        if (volume) {
            computeVolumeStraightforward(distinct, output);
        } else {
            computeStraightforward(distinct, output);
        }
    });
}

template void executeStraightforward<unsigned char>(const CnRegionalMaximumFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnRegionalMaximumFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned char>&);
template void executeStraightforward<short>(const CnRegionalMaximumFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<unsigned char>&);
template void executeStraightforward<float>(const CnRegionalMaximumFilter<float>&, const imaging::Image<float>&,
                                            imaging::Image<unsigned char>&);
template void executeStraightforward<double>(const CnRegionalMaximumFilter<double>&, const imaging::Image<double>&,
                                             imaging::Image<unsigned char>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
