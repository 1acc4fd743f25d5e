// Blocked passes of the recursive volume filter and the image gradient (private
// to the library, except the kernel selection used by the tests).
//
// Every pass filters many lines at once with the block kernels of
// RecursiveBlock.h and gives, line for line, the result of the line filter bit
// for bit. The kernels exist for the base instruction set and, on x86, for
// AVX2 and AVX-512; all give the same bits, and the widest the processor can
// run is chosen unless a test asks for another.
#pragma once

#include <cstddef>
#include <vector>

#include <nvfiltering/nvfiltering_export.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

enum class RecursiveKernel : int { Automatic = 0, Plain = 1, Avx2 = 2, Avx512 = 3 };

// Makes every later blocked pass (in any thread) use the given kernel version;
// Automatic restores the choice by processor. Returns false and changes nothing
// when this processor cannot run that version. Meant for tests comparing them.
NVFILTERING_EXPORT bool useRecursiveKernel(RecursiveKernel kernel);

// The version the next blocked pass will use (never Automatic).
NVFILTERING_EXPORT RecursiveKernel recursiveKernelInUse();

struct PassCoefficients {
    unsigned int order;  // 0 smoothing, 1 first, 2 second derivative
    RecursiveCoefficients c;
};

// Work buffers of the passes, kept from one pass to the next (a few hundred
// kilobytes at most, never a volume).
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
void filterRows(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                const PassCoefficients& pass, LaneScratch& scratch);

// Lines whose lanes neighbour in memory (the Y and Z passes): `groups` groups of
// `width` lines, group g starting at g * groupStride, sample k of a line
// k * sampleStride further on; read from in, written to out (the same layout;
// they may be the same memory). n as for filterRows.
template <class S>
void filterColumns(const S* in, S* out, std::size_t groups, std::size_t groupStride, std::size_t width,
                   std::size_t sampleStride, std::size_t n, const PassCoefficients& pass, LaneScratch& scratch);

// The Z pass of the gradient: the Z lines of gx and gy (smoothing) and gz (first
// derivative) of a sizeX x sizeY x sizeZ volume, each result multiplied by its
// float factor and written as the x, y, z components of dst (three floats per
// voxel). gx, gy, gz are only read. sizeZ at least 4.
void filterGradientZ(const float* gx, const float* gy, const float* gz, float* dst, std::size_t sizeX,
                     std::size_t sizeY, std::size_t sizeZ, const PassCoefficients& smooth,
                     const PassCoefficients& derivative, const float scale[3], LaneScratch& scratch);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
