// The blocked passes of the recursive filters as the volume filter and the
// gradient call them (private to the library): the kernel versions by
// instruction set, chosen per run and never by process-wide state.
//
// Every pass filters many lines at once with the block kernels of
// RecursiveBlock.h and gives, line for line, the result of the line filter bit
// for bit. The kernels exist for the base instruction set and, on x86, for
// AVX2 and AVX-512; all give the same bits. A run asks for one version
// (Automatic: the widest this processor runs); tests ask for each in turn.
#pragma once

#include <cstddef>
#include <type_traits>
#include <vector>

#include <nvfiltering/recursive/detail/RecursiveLine.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

enum class RecursiveKernel : int { Automatic = 0, Plain = 1, Avx2 = 2, Avx512 = 3 };

// The widest version this processor runs (never Automatic).
RecursiveKernel widestRecursiveKernel();

// Whether this processor runs `kernel` (Automatic: always).
bool recursiveKernelSupported(RecursiveKernel kernel);

struct PassCoefficients {
    unsigned int order;  // 0 smoothing, 1 first, 2 second derivative
    RecursiveCoefficients c;
};

// Work buffers of one task's passes, kept from one block to the next (a few
// hundred kilobytes at most, never a volume).
struct LaneScratch {
    std::vector<double> w;
    std::vector<double> fb;
    std::vector<float> floats;
    std::vector<double> doubles;
    std::vector<float> gradient;
};

// Lines along X: `lines` lines of n samples each. Line i starts at scalar
// (i / comps) * n * comps + i % comps of in and out and its samples are comps
// apart (comps 3: the components of vector voxels). n must be at least 3 (4
// for the first derivative). in and out may be the same memory when SIn is SOut.
template <class SIn, class SOut>
using RowsEntry = void (*)(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                           const RecursiveCoefficients& c, LaneScratch& scratch);

// Lines whose lanes neighbour in memory (the Y and Z passes): `groups` groups of
// `width` lines, group g starting at g * groupStride, sample k of a line
// k * sampleStride further on; read from in, written to out (the same layout;
// they may be the same memory). n as for rows. Every lane is filtered on its
// own, so any split of groups or widths gives the same bits.
template <class S>
using ColumnsEntry = void (*)(const S* in, S* out, std::size_t groups, std::size_t groupStride, std::size_t width,
                              std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& c,
                              LaneScratch& scratch);

// The Z pass of the gradient, in place on its packed output (three floats per
// voxel): `rows` rows of `width` voxels, row r at dst + r * rowStride, sample k
// of a line k * sampleStride floats further on. The x and y components are
// smoothed, the z component differentiated; each result is multiplied by its
// float factor in scale. n at least 4.
using GradientZEntry = void (*)(float* dst, std::size_t width, std::size_t rows, std::size_t rowStride,
                                std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& smooth,
                                const RecursiveCoefficients& derivative, const float* scale,
                                LaneScratch& scratch);

// The entry points of one kernel version, by derivative order.
struct KernelTable {
    RowsEntry<unsigned char, float> rowsU8[3];
    RowsEntry<unsigned short, float> rowsU16[3];
    RowsEntry<short, float> rowsI16[3];
    RowsEntry<float, float> rowsF[3];
    RowsEntry<double, double> rowsD[3];
    ColumnsEntry<float> columnsF[3];
    ColumnsEntry<double> columnsD[3];
    GradientZEntry gradientZ;

    template <class SIn, class SOut>
    RowsEntry<SIn, SOut> rows(unsigned int order) const {
        if constexpr (std::is_same_v<SIn, unsigned char>) {
            return rowsU8[order];
        } else if constexpr (std::is_same_v<SIn, unsigned short>) {
            return rowsU16[order];
        } else if constexpr (std::is_same_v<SIn, short>) {
            return rowsI16[order];
        } else if constexpr (std::is_same_v<SIn, float>) {
            return rowsF[order];
        } else {
            return rowsD[order];
        }
    }
    template <class S>
    ColumnsEntry<S> columns(unsigned int order) const {
        if constexpr (std::is_same_v<S, float>) {
            return columnsF[order];
        } else {
            return columnsD[order];
        }
    }
};

// The table of a version this processor runs (Automatic: the widest); an
// unsupported version falls back to the widest supported one.
const KernelTable& kernelTable(RecursiveKernel kernel);

// One table per instruction set, each in its own translation unit.
const KernelTable& plainKernelTable();
#if defined(__GNUC__) && defined(__x86_64__)
const KernelTable& avx2KernelTable();
const KernelTable& avx512KernelTable();
#endif

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
