// Passes shared by the dilation and erosion filters, which differ only in the
// operation (Op: bitwise OR or AND, grey maximum or minimum) and in their
// checking function for border voxels.
// Internal to the library; not part of its interface.
#pragma once

#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/morphology/detail/CrossRow.h>
#include <nvimage/Image.h>

#include <algorithm>
#include <cstddef>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// Op over the voxel at p and those of its six neighbours that exist; a missing
// neighbour is replaced by the centre value, which leaves OR and AND, and the
// grey maximum and minimum, unchanged.
template <class Op, class T>
T combineWithChecking(const T* p, unsigned int x, unsigned int y, unsigned int z, unsigned int sizeX,
                      unsigned int sizeY, unsigned int sizeZ, unsigned int strideY, std::size_t strideZ) {
    const T centre = *p;
    T v = centre;
    v = Op::apply(v, x != 0 ? p[-1] : centre);
    v = Op::apply(v, x != sizeX - 1 ? p[1] : centre);
    v = Op::apply(v, y != 0 ? *(p - strideY) : centre);
    v = Op::apply(v, y != sizeY - 1 ? p[strideY] : centre);
    v = Op::apply(v, z != 0 ? *(p - strideZ) : centre);
    v = Op::apply(v, z != sizeZ - 1 ? p[strideZ] : centre);
    return v;
}

// The defining passes, voxel by voxel through the image iterators: the interior
// without bound tests, then the X, Y and Z borders through check(it, x, y, z,
// X, Y, Z, strideY, strideZ).
template <class Op, class T, class Check>
void crossStraightforward(const imaging::Image<T>& input, imaging::Image<T>& output, Check check) {
    const unsigned int X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t XY = static_cast<std::size_t>(X) * Y;
    const typename imaging::Image<T>::const_iterator src = input.begin();
    const typename imaging::Image<T>::iterator dst = output.begin();

    // Interior: seven reads, no bound test.
    if (X > 2 && Y > 2 && Z > 2) {
        for (unsigned int z = 1; z + 1 < Z; ++z) {
            for (unsigned int y = 1; y + 1 < Y; ++y) {
                std::size_t i = XY * z + static_cast<std::size_t>(X) * y + 1;
                for (unsigned int x = 1; x + 1 < X; ++x, ++i) {
                    T v = Op::apply(src[i], src[i - 1]);
                    v = Op::apply(v, src[i + 1]);
                    v = Op::apply(v, src[i - X]);
                    v = Op::apply(v, src[i + X]);
                    v = Op::apply(v, src[i - XY]);
                    dst[i] = Op::apply(v, src[i + XY]);
                }
            }
        }
    }
    const auto border = [&](unsigned int x, unsigned int y, unsigned int z) {
        const std::size_t i = XY * z + static_cast<std::size_t>(X) * y + x;
        dst[i] = check(src + i, x, y, z, X, Y, Z, X, XY);
    };
    // X borders: first and last voxel of every row.
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int y = 0; y < Y; ++y) {
            border(0, y, z);
            if (X > 1) {
                border(X - 1, y, z);
            }
        }
    }
    // Y borders: first and last row of every slice.
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int x = 0; x < X; ++x) {
            border(x, 0, z);
        }
        if (Y > 1) {
            for (unsigned int x = 0; x < X; ++x) {
                border(x, Y - 1, z);
            }
        }
    }
    // Z borders: first and last slice.
    for (unsigned int y = 0; y < Y; ++y) {
        for (unsigned int x = 0; x < X; ++x) {
            border(x, y, 0);
        }
    }
    if (Z > 1) {
        for (unsigned int y = 0; y < Y; ++y) {
            for (unsigned int x = 0; x < X; ++x) {
                border(x, y, Z - 1);
            }
        }
    }
}

// The same result row by row: whole-row loops the compiler vectorises. Rows
// are independent, so bands of rows run as separate tasks on the executor.
template <class Op, class T, class Check>
void crossFast(const imaging::Image<T>& input, imaging::Image<T>& output, Check check, CnExecutor* executor) {
    const unsigned int X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t XY = static_cast<std::size_t>(X) * Y;
    const T* src = input.data();
    T* dst = output.data();
    // Row by row: a neighbour row outside the image is replaced by the row
    // itself, which leaves the result unchanged, so every row runs the same
    // branch-free loop; the two ends of the row go through the checking function.
    const auto rows = [&](std::size_t begin, std::size_t end) {
        for (std::size_t r = begin; r < end; ++r) {
            const unsigned int z = static_cast<unsigned int>(r / Y), y = static_cast<unsigned int>(r % Y);
            const std::size_t base = XY * z + static_cast<std::size_t>(X) * y;
            const T* c = src + base;
            const T* ym = y > 0 ? c - X : c;
            const T* yp = y + 1 < Y ? c + X : c;
            const T* zm = z > 0 ? c - XY : c;
            const T* zp = z + 1 < Z ? c + XY : c;
            if constexpr (UsesGreyRow<Op>::value) {
                greyCrossRow<Op>(c, ym, yp, zm, zp, dst + base, X);
            } else {
                combineCrossRow<Op>(c, ym, yp, zm, zp, dst + base, X);
            }
            dst[base] = check(input.begin() + base, 0, y, z, X, Y, Z, X, XY);
            if (X > 1) {
                dst[base + X - 1] = check(input.begin() + (base + X - 1), X - 1, y, z, X, Y, Z, X, XY);
            }
        }
    };
    // Bands of about 64 KiB of voxels: large beside the cost of a task, small
    // enough to balance many cores.
    constexpr std::size_t kBandVoxels = std::size_t{1} << 16;
    detail::parallelRanges(executor, static_cast<std::size_t>(Y) * Z, std::max<std::size_t>(1, kBandVoxels / X),
                           rows);
}

// Runs pass(input, output), through a copy of the input when output is the
// input image itself (the passes read neighbours that would already be overwritten).
template <class T, class Pass>
void runCrossPass(const imaging::Image<T>& input, imaging::Image<T>& output, Pass pass) {
    if (&input == &output) {
        const imaging::Image<T> copy(input);
        pass(copy, output);
    } else {
        pass(input, output);
    }
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
