// Run-based connected-component labelling for the labelling filter: the runs
// of foreground voxels along X, per slab of rows, and the union of the runs of
// two rows. Internal to the library; not part of its interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// Labels are 32-bit and label 0 is the background, so at most 2^32 - 2
// foreground voxels can be numbered with one to spare.
constexpr std::size_t kMaxForeground = std::numeric_limits<std::uint32_t>::max() - 1u;

// Foreground bits of count (at most 64) voxels from p: bit k is set when
// p[k] equals the class number; bits from count on are 0.
template <class T>
inline std::uint64_t foregroundBits(const T* p, std::size_t count, T cls) {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < count; ++k) {
        bits |= static_cast<std::uint64_t>(p[k] == cls ? 1u : 0u) << k;
    }
    return bits;
}

// The same for exactly 64 voxels, 16 at a time with the SSE2 comparisons of
// the x86-64 baseline where available.
template <class T>
inline std::uint64_t foregroundBits64(const T* p, T cls) {
    return foregroundBits(p, 64, cls);
}

#if defined(__SSE2__)
template <>
inline std::uint64_t foregroundBits64<unsigned char>(const unsigned char* p, unsigned char cls) {
    const __m128i c = _mm_set1_epi8(static_cast<char>(cls));
    std::uint64_t bits = 0;
    for (int q = 0; q < 4; ++q) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
        const auto m = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c)));
        bits |= static_cast<std::uint64_t>(m) << (16 * q);
    }
    return bits;
}

template <>
inline std::uint64_t foregroundBits64<short>(const short* p, short cls) {
    const __m128i c = _mm_set1_epi16(cls);
    std::uint64_t bits = 0;
    for (int q = 0; q < 4; ++q) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q + 8));
        const __m128i m = _mm_packs_epi16(_mm_cmpeq_epi16(a, c), _mm_cmpeq_epi16(b, c));
        bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(m))) << (16 * q);
    }
    return bits;
}

template <>
inline std::uint64_t foregroundBits64<std::uint32_t>(const std::uint32_t* p, std::uint32_t cls) {
    const __m128i c = _mm_set1_epi32(static_cast<int>(cls));
    std::uint64_t bits = 0;
    for (int q = 0; q < 4; ++q) {
        const std::uint32_t* s = p + 16 * q;
        const __m128i a = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), c);
        const __m128i b = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4)), c);
        const __m128i d = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8)), c);
        const __m128i e = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12)), c);
        const __m128i m = _mm_packs_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(d, e));
        bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(m))) << (16 * q);
    }
    return bits;
}
#endif

// The runs of a slab of consecutive rows: run t of the slab covers
// [edge[2 t], edge[2 t + 1]) of its row; rowRuns[k] is the number of runs of the
// slab's row k, and voxels the number of foreground voxels.
struct SlabRuns {
    std::unique_ptr<std::uint32_t[]> edge;
    std::vector<std::size_t> rowRuns;
    std::size_t runs = 0;
    std::size_t voxels = 0;
};

// Reads rows [first, last) of X voxels each from src (row r at src + r * X),
// 64 voxels at a time as a word of foreground bits; its changes between
// background and foreground are the run bounds, taken in order from the set
// bits of (bits ^ bits shifted by one). The edge table grows by doubling,
// uninitialised; it starts with room for one run per eight voxels (the room
// left below each word is 65 entries).
template <class T>
SlabRuns extractRuns(const T* src, std::size_t X, std::size_t first, std::size_t last, T cls) {
    SlabRuns slab;
    slab.rowRuns.assign(last - first, 0);
    std::size_t capacity = (last - first) * X / 4 + 2 * 65;
    slab.edge.reset(new std::uint32_t[capacity]);
    std::size_t used = 0;
    for (std::size_t r = first; r < last; ++r) {
        const std::size_t start = used;
        const T* row = src + r * X;
        std::uint64_t carry = 0;
        for (std::size_t x0 = 0; x0 < X; x0 += 64) {
            if (capacity - used < 65) {
                std::unique_ptr<std::uint32_t[]> larger(new std::uint32_t[2 * capacity]);
                std::copy(slab.edge.get(), slab.edge.get() + used, larger.get());
                slab.edge = std::move(larger);
                capacity *= 2;
            }
            std::uint32_t* e = slab.edge.get() + used;
            const std::size_t width = X - x0 < 64 ? X - x0 : 64;
            const std::uint64_t bits =
                width == 64 ? foregroundBits64(row + x0, cls) : foregroundBits(row + x0, width, cls);
            // A run reaching the end of a shorter last word ends at bit width, that is at X.
            std::uint64_t change = bits ^ ((bits << 1) | carry);
            carry = bits >> 63;
            std::size_t k = 0;
            while (change != 0) {
                e[k++] = static_cast<std::uint32_t>(x0 + static_cast<std::size_t>(__builtin_ctzll(change)));
                change &= change - 1;
            }
            used += k;
        }
        if (X % 64 == 0 && carry != 0) {
            slab.edge[used++] = static_cast<std::uint32_t>(X);  // room is left by the check before the word
        }
        slab.rowRuns[r - first] = (used - start) / 2;
    }
    slab.runs = used / 2;
    for (std::size_t t = 0; t < slab.runs; ++t) {
        slab.voxels += slab.edge[2 * t + 1] - slab.edge[2 * t];
    }
    return slab;
}

// Root of label a; with kHalve the path is halved on the way. Either way
// every parent stays smaller than its child.
template <bool kHalve>
inline std::uint32_t findRoot(std::uint32_t* parent, std::uint32_t a) {
    while (parent[a] != a) {
        if (kHalve) {
            parent[a] = parent[parent[a]];
        }
        a = parent[a];
    }
    return a;
}


// The runs of one row: labels first .. first + count - 1, run t at
// [edge[2 t], edge[2 t + 1]).
struct RowRuns {
    const std::uint32_t* edge;
    std::uint32_t first;
    std::uint32_t count;
};

// Unites the runs of row a with the touching runs of row b; reach 1 lets runs
// touch at a corner. A union links the larger root under the smaller, so every
// root is the smallest label of its tree, whatever the order of the unions;
// linked(root) is called with every root that gets a parent. With kHalve the
// finds halve their paths, which changes the parents of labels that are not
// roots; without, only linked roots change. Every union here joins the trees
// of the current i and j, so their roots, once found, stay known until i or j
// moves on (0: not yet found).
template <bool kHalve, class Linked>
inline void mergeRows(const RowRuns& a, const RowRuns& b, std::uint32_t reach, std::uint32_t* parent,
                      Linked&& linked) {
    // Copies, since the stores to parent could otherwise alias the fields.
    const std::uint32_t* const edgeA = a.edge;
    const std::uint32_t* const edgeB = b.edge;
    const std::uint32_t firstA = a.first, firstB = b.first, countA = a.count, countB = b.count;
    std::uint32_t i = 0, j = 0;
    std::uint32_t rootI = 0, rootJ = 0;
    while (i < countA && j < countB) {
        const std::uint32_t si = edgeA[2 * static_cast<std::size_t>(i)];
        const std::uint32_t ei = edgeA[2 * static_cast<std::size_t>(i) + 1];
        const std::uint32_t sj = edgeB[2 * static_cast<std::size_t>(j)];
        const std::uint32_t ej = edgeB[2 * static_cast<std::size_t>(j) + 1];
        if (si < std::uint64_t{ej} + reach && sj < std::uint64_t{ei} + reach) {
            if (rootI == 0) {
                rootI = findRoot<kHalve>(parent, firstA + i);
            }
            if (rootJ == 0) {
                rootJ = findRoot<kHalve>(parent, firstB + j);
            }
            if (rootI < rootJ) {
                parent[rootJ] = rootI;
                linked(rootJ);
                rootJ = rootI;
            } else if (rootJ < rootI) {
                parent[rootI] = rootJ;
                linked(rootI);
                rootI = rootJ;
            }
        }
        // Move on past the run that ends first (written without a branch,
        // since which one that is follows no pattern).
        const bool advanceI = ei < ej;
        i += advanceI ? 1u : 0u;
        j += advanceI ? 0u : 1u;
        rootI = advanceI ? 0u : rootI;
        rootJ = advanceI ? rootJ : 0u;
    }
}

// Component size and final number, the element of the ranking.
struct SizeLabel {
    std::uint32_t size;
    std::int32_t label;
};

// Sorts the pairs by size, larger sizes first, keeping pairs of equal size in
// their given order. scratch must hold as many pairs as pairs.
void sortBySizeDescending(std::vector<SizeLabel>& pairs, std::vector<SizeLabel>& scratch);

// How many elements past a row's end writeRow may write when it has room.
constexpr std::size_t kSpill = 16;

// Writes one output row of n elements from its runs: run t covers
// [edge[2 t], edge[2 t + 1]) and gets value[t]; the gaps get 0. With room set,
// up to kSpill elements past the row's end may be written too, and the next row
// must be written after this one, by the same thread.
void writeRow(std::uint32_t* out, std::size_t n, const std::uint32_t* edge, const std::uint32_t* value,
              std::size_t runs, bool room);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
