// How the passes of the volume filter and the gradient are run (private to the
// library): whether a pass runs blocked or line by line, how it is cut into
// tasks for the caller's executor, and the size guard of every volume.
//
// Every lane (line) of a blocked pass is filtered on its own with the same
// arithmetic wherever its block lies, so any cut gives the same bits; the
// tasks of one pass are independent, and each task has its own scratch.
#pragma once

#include <algorithm>
#include <cstddef>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/framework/detail/ScratchShelf.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// The executor and the kernel version of one run.
struct RecursiveRun {
    CnExecutor* executor;
    const KernelTable& kernels;
};

// Shortest line the exact block kernels take.
inline unsigned int minimumBlockedLength(unsigned int order) { return order == 1 ? 4u : 3u; }

// A pass runs blocked when its lines are long enough for the exact kernels;
// otherwise (short lines, and derivatives of vector voxels, which throw at the
// first line) it runs line by line.
inline bool runsBlocked(unsigned int order, std::size_t length, bool vectorVoxels) {
    return length >= minimumBlockedLength(order) && !(vectorVoxels && order != 0);
}

// The X and Y passes of a slice run one after the other while the slice is in
// the cache, when there are enough slices to share among the threads;
// otherwise each pass is cut over the whole volume.
constexpr std::size_t kMinFusedSlices = 8;

// A task gets at least this many samples, so that handing it out costs little
// beside its work.
constexpr std::size_t kTaskSamples = std::size_t{1} << 15;

// Items per task when each item has `samples` samples.
inline std::size_t grainFor(std::size_t samples) { return std::max<std::size_t>(1, kTaskSamples / std::max<std::size_t>(samples, 1)); }

// Lines along X, rows of n * comps scalars (see RowsEntry); cut by rows.
template <class SIn, class SOut>
void passRows(const RecursiveRun& run, const SIn* in, SOut* out, std::size_t rows, std::size_t n, std::size_t comps,
              const PassCoefficients& pass) {
    const RowsEntry<SIn, SOut> entry = run.kernels.rows<SIn, SOut>(pass.order);
    const std::size_t rowScalars = n * comps;
    ScratchShelf<LaneScratch> shelf;
    parallelRanges(run.executor, rows, grainFor(rowScalars), [&](std::size_t begin, std::size_t end) {
        const auto scratch = shelf.borrow();
        entry(in + begin * rowScalars, out + begin * rowScalars, (end - begin) * comps, n, comps, pass.c, *scratch);
    });
}

// Lines with neighbouring lanes (see ColumnsEntry); cut by groups, and when
// there are few groups (thin volumes) also across each group's width, in
// pieces of whole blocks of the widest kernel.
template <class S>
void passColumns(const RecursiveRun& run, const S* in, S* out, std::size_t groups, std::size_t groupStride,
                 std::size_t width, std::size_t sampleStride, std::size_t n, const PassCoefficients& pass) {
    const ColumnsEntry<S> entry = run.kernels.columns<S>(pass.order);
    constexpr std::size_t kMinPieces = 16;
    constexpr std::size_t kBlock = 64;
    std::size_t chunk = width;
    if (run.executor != nullptr && groups < kMinPieces) {
        const std::size_t parts = (kMinPieces + groups - 1) / groups;
        chunk = std::max(kBlock, ((width + parts - 1) / parts + kBlock - 1) / kBlock * kBlock);
        chunk = std::min(chunk, width);
    }
    const std::size_t chunks = (width + chunk - 1) / chunk;
    ScratchShelf<LaneScratch> shelf;
    parallelRanges(run.executor, groups * chunks, grainFor(chunk * n), [&](std::size_t begin, std::size_t end) {
        const auto loan = shelf.borrow();
        LaneScratch& scratch = *loan;
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t g = i / chunks;
            const std::size_t x0 = (i % chunks) * chunk;
            const std::size_t start = g * groupStride + x0;
            entry(in + start, out + start, 1, 0, std::min(chunk, width - x0), sampleStride, n, pass.c, scratch);
        }
    });
}

// X * Y * Z voxels of `scalars` scalars of `bytes` bytes each: the number of
// voxels, after checking that neither it, nor the scalar count, nor the byte
// size wraps round std::size_t (throws the size message otherwise).
std::size_t checkedVoxelCount(std::size_t x, std::size_t y, std::size_t z, std::size_t scalars,
                                                 std::size_t bytes);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
