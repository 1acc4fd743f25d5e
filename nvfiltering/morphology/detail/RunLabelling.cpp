// The parts of run-based labelling that are not inline: the ranking sort and
// the writing of output rows.
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/morphology/detail/RunLabelling.h>

#include <algorithm>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

// Fills out[begin, end) with value. With room set, the fill goes on in whole
// blocks of kSpill elements, so up to kSpill - 1 elements after end are written
// as well, and the caller must leave room for them.
inline void fillSpan(std::uint32_t* out, std::size_t begin, std::size_t end, std::uint32_t value, bool room) {
    if (!room) {
        std::fill(out + begin, out + end, value);
        return;
    }
    std::size_t x = begin;
    do {
        for (std::size_t k = 0; k < kSpill; ++k) {
            out[x + k] = value;
        }
        x += kSpill;
    } while (x < end);
}

}  // namespace

// A least-significant-digit radix sort on 11-bit digits,
// with only as many passes as the largest size has digits. scratch must hold as
// many pairs as pairs.
void sortBySizeDescending(std::vector<SizeLabel>& pairs, std::vector<SizeLabel>& scratch) {
    constexpr unsigned kBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kBits;
    std::uint32_t largest = 0;
    for (const SizeLabel& p : pairs) {
        largest = p.size > largest ? p.size : largest;
    }
    std::vector<std::size_t> start(kBuckets);
    for (unsigned shift = 0; shift < 32 && (largest >> shift) != 0; shift += kBits) {
        std::fill(start.begin(), start.end(), std::size_t{0});
        for (const SizeLabel& p : pairs) {
            ++start[(p.size >> shift) & (kBuckets - 1)];
        }
        // Larger digits first.
        std::size_t offset = 0;
        for (std::size_t d = kBuckets; d-- > 0;) {
            const std::size_t c = start[d];
            start[d] = offset;
            offset += c;
        }
        for (const SizeLabel& p : pairs) {
            scratch[start[(p.size >> shift) & (kBuckets - 1)]++] = p;
        }
        pairs.swap(scratch);
    }
}

// Writes one output row of n elements from its runs: run t covers
// [edge[2 t], edge[2 t + 1]) and gets value[t]; the gaps get 0. The spans are
// written from left to right, so the elements spilt past a span are written
// again by the next one; with room set, kSpill elements past the row's end
// may be written too, and the next row must be written after this one.
NVF_ISA_BODY void writeRowBody(std::uint32_t* out, std::size_t n, const std::uint32_t* edge, const std::uint32_t* value,
                               std::size_t runs, bool room) {
    std::size_t x = 0;
    for (std::size_t t = 0; t < runs; ++t) {
        const std::size_t begin = edge[2 * t], end = edge[2 * t + 1];
        fillSpan(out, x, begin, 0u, room);
        fillSpan(out, begin, end, value[t], room);
        x = end;
    }
    fillSpan(out, x, n, 0u, room);
}

void writeRow(std::uint32_t* out, std::size_t n, const std::uint32_t* edge, const std::uint32_t* value,
              std::size_t runs, bool room) {
    runWidest([&] { writeRowBody(out, n, edge, value, runs, room); });
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
