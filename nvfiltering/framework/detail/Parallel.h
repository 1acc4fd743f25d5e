// How filters hand their independent pieces of work to the caller's executor:
// with none, every piece runs in the caller's thread, in order. The pieces a
// filter makes never depend on the executor or its thread count, so the
// results do not either.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>

#include <nvfiltering/framework/CnExecutor.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// Runs task(i) for every i in [0, count).
inline void parallelFor(CnExecutor* executor, std::size_t count, const std::function<void(std::size_t)>& task) {
    if (executor == nullptr || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) task(i);
        return;
    }
    executor->parallelFor(count, task);
}

// At most this many pieces per pass: enough to balance many cores, few enough
// that the cost of handing out a piece stays small beside its work.
constexpr std::size_t kMaxPieces = 256;

// Splits [0, total) into contiguous ranges of at least `grain` items (the last
// may be shorter) and calls body(begin, end) for each, on the executor.
template <class Body>
void parallelRanges(CnExecutor* executor, std::size_t total, std::size_t grain, Body&& body) {
    if (total == 0) return;
    grain = std::max<std::size_t>(grain, 1);
    if (executor == nullptr || total <= grain) {
        body(std::size_t{0}, total);
        return;
    }
    std::size_t pieces = std::min(kMaxPieces, (total + grain - 1) / grain);
    const std::size_t step = (total + pieces - 1) / pieces;
    pieces = (total + step - 1) / step;
    executor->parallelFor(pieces, [&](std::size_t p) {
        const std::size_t begin = p * step;
        body(begin, std::min(total, begin + step));
    });
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
