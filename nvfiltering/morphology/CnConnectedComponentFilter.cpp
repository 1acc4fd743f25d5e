#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace com {
namespace norvane {
namespace filtering {

namespace {

// Component size and final number, the element of the ranking.
struct SizeLabel {
    std::uint32_t size;
    std::int32_t label;
};

// Sorts the pairs by size, larger sizes first, keeping pairs of equal size in
// their given order: a least-significant-digit radix sort on 11-bit digits,
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

// Fills out[begin, end) with value. With room set, the fill goes on in whole
// blocks of kSpill elements, so up to kSpill - 1 elements after end are written
// as well, and the caller must leave room for them.
constexpr std::size_t kSpill = 16;
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

// Writes one output row of n elements from its runs: run t covers
// [edge[2 t], edge[2 t + 1]) and gets value[t]; the gaps get 0. The spans are
// written from left to right, so the elements spilt past a span are written
// again by the next one; with room set, kSpill elements past the row's end
// may be written too, and the next row must be written after this one.
NVF_MULTIVERSION void writeRow(std::uint32_t* out, std::size_t n, const std::uint32_t* edge, const std::uint32_t* value,
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

// Labels are 32-bit and label 0 is the background, so at most 2^32 - 2
// foreground voxels can be numbered with one to spare.
constexpr std::size_t kMaxForeground = std::numeric_limits<std::uint32_t>::max() - 1u;

}  // namespace

template <class T>
CnConnectedComponentFilter<T>::CnConnectedComponentFilter()
    : m_minimumComponentSize(0),
      m_classNumber(static_cast<T>(1)),
      m_numberOfComponents(0),
      m_componentNumber(0),
      m_eightPointConnectivity(false) {}

template <class T>
CnConnectedComponentFilter<T>::~CnConnectedComponentFilter() = default;

template <class T>
void CnConnectedComponentFilter<T>::SetMinimumComponentSize(std::uint32_t size) {
    m_minimumComponentSize = size;
}

template <class T>
void CnConnectedComponentFilter<T>::SetClassNumber(T value) {
    m_classNumber = value;
}

template <class T>
std::int32_t CnConnectedComponentFilter<T>::GetNumberOfComponents() {
    return m_numberOfComponents;
}

template <class T>
void CnConnectedComponentFilter<T>::SetComponentNumber(std::uint32_t k) {
    m_componentNumber = k;
}

template <class T>
void CnConnectedComponentFilter<T>::Set8PointConnectivity() {
    m_eightPointConnectivity = true;
}

template <class T>
std::int32_t CnConnectedComponentFilter<T>::FirstInChain(std::uint32_t* chain, std::uint32_t label,
                                                         std::int32_t* maxDepth) {
    std::uint32_t r = chain[label];
    std::int32_t depth = 1;
    while (chain[r] != r) {
        r = chain[r];
        ++depth;
    }
    if (depth > *maxDepth) {
        *maxDepth = depth;
    }
    return static_cast<std::int32_t>(r);
}

template <class T>
void CnConnectedComponentFilter<T>::v_execute() {
    run(false);
}

template <class T>
void CnConnectedComponentFilter<T>::executeStraightforward(const imaging::Image<T>& input,
                                                           imaging::Image<std::uint32_t>& output) {
    this->setInputImage(&input);
    this->setOutputImage(&output);
    run(true);
}

template <class T>
void CnConnectedComponentFilter<T>::run(bool straightforward) {
    const imaging::Image<T>& input = *this->m_input;
    imaging::Image<std::uint32_t>& output = *this->m_output;
    if (m_eightPointConnectivity && input.getSizeZ() != 1) {
        throw EightPointConnectivityIn3DException(messages::kEightPointIn3D, messages::kEightPointClassPath);
    }
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kConnectedComponentOutputSize);
    }
    if (!straightforward) {
        // Reads the whole input before it writes the output, so the output may
        // be the input itself.
        labelFast(input, output);
    } else if (static_cast<const void*>(&input) == static_cast<const void*>(&output)) {
        // Only possible for 32-bit inputs: the passes clear the output and keep
        // the provisional labels in it, so they read the input from a copy.
        const imaging::Image<T> copy(input);
        labelStraightforward(copy, output);
    } else {
        labelStraightforward(input, output);
    }
}

template <class T>
void CnConnectedComponentFilter<T>::rankComponents(const std::vector<std::uint32_t>& sizes,
                                                   std::vector<std::uint32_t>& labelToRank, std::int32_t& kept) {
    const std::size_t n = sizes.size() - 1;
    std::vector<SizeLabel> pairs;
    pairs.reserve(n);
    for (std::size_t j = 1; j <= n; ++j) {
        pairs.push_back(SizeLabel{sizes[j], static_cast<std::int32_t>(j)});
    }
    // Equal sizes keep the order of their labels, that is the raster order of
    // the components' first voxels.
    std::vector<SizeLabel> scratch(n);
    sortBySizeDescending(pairs, scratch);
    std::vector<std::uint32_t> rankToLabel(n + 1, 0);
    for (std::size_t r = 1; r <= n; ++r) {
        rankToLabel[r] = static_cast<std::uint32_t>(pairs[r - 1].label);
    }

    // The component number is read as signed: 0 and values of 2^31 or more
    // select nothing. A selection becomes the minimum size and stays in force.
    const std::int32_t k = static_cast<std::int32_t>(m_componentNumber);
    if (k > 0) {
        if (static_cast<std::size_t>(k) > n) {
            throwThrowable(messages::kComponentDoesNotExist);
        }
        m_minimumComponentSize = pairs[static_cast<std::size_t>(k) - 1].size;
    }

    labelToRank.assign(n + 1, 0);
    kept = 0;
    for (std::size_t r = 1; r <= n; ++r) {
        if (pairs[r - 1].size < m_minimumComponentSize) {
            continue;
        }
        labelToRank[rankToLabel[r]] = static_cast<std::uint32_t>(r);
        ++kept;
    }
}

// The defining sequence of sweeps. Every voxel is reached through the images'
// linear-index access; the output holds the provisional labels meanwhile.
template <class T>
void CnConnectedComponentFilter<T>::labelStraightforward(const imaging::Image<T>& input,
                                                         imaging::Image<std::uint32_t>& output) {
    const unsigned int X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    const std::size_t N = input.getNumberOfVoxels();
    const std::size_t XY = static_cast<std::size_t>(X) * Y;
    const auto index = [X, XY](unsigned int x, unsigned int y, unsigned int z) {
        return XY * z + static_cast<std::size_t>(X) * y + x;
    };

    for (std::size_t v = 0; v < N; ++v) {
        output[v] = 0;
    }
    std::size_t count = 0;
    for (std::size_t v = 0; v < N; ++v) {
        if (input[v] == m_classNumber) {
            ++count;
        }
    }
    if (count == 0) {
        m_numberOfComponents = 0;
        return;
    }
    if (count > kMaxForeground) {
        throwThrowable(messages::kConnectedComponentTooManyVoxels);
    }
    std::vector<std::uint32_t> chain(count + 1, 0);
    std::int32_t maxDepth = 0;
    const auto find = [&](std::uint32_t label) {
        return static_cast<std::uint32_t>(FirstInChain(chain.data(), label, &maxDepth));
    };

    // Row pass: one provisional label per run along X, in raster order.
    std::uint32_t last = 0;
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int y = 0; y < Y; ++y) {
            bool previous = false;
            for (unsigned int x = 0; x < X; ++x) {
                const std::size_t i = index(x, y, z);
                if (input[i] == m_classNumber) {
                    if (!previous) {
                        ++last;
                        chain[last] = last;
                    }
                    output[i] = last;
                    previous = true;
                } else {
                    previous = false;
                }
            }
        }
    }
    const std::size_t P = last;

    // Y pass: walk every column with a running root.
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int x = 0; x < X; ++x) {
            bool previous = false;
            std::uint32_t root = 0;
            for (unsigned int y = 0; y < Y; ++y) {
                const std::uint32_t L = output[index(x, y, z)];
                if (L == 0) {
                    previous = false;
                    continue;
                }
                if (!previous) {
                    root = find(L);
                } else if (chain[L] == L) {
                    chain[L] = root;
                } else {
                    const std::uint32_t r = find(L);
                    if (root < r) {
                        chain[r] = root;
                    } else {
                        chain[root] = r;
                        root = r;
                    }
                }
                previous = true;
            }
        }
    }

    // Diagonal pass (8-point, single slice): join each voxel of the upper row
    // with the labelled diagonal neighbours of the lower row.
    if (m_eightPointConnectivity) {
        for (unsigned int y = 1; y < Y; ++y) {
            for (unsigned int x = 0; x < X; ++x) {
                const std::uint32_t p = output[index(x, y - 1, 0)];
                if (p == 0) {
                    continue;
                }
                std::uint32_t root = find(p);
                const auto merge = [&](std::uint32_t q) {
                    const std::uint32_t r = find(q);
                    if (r != root) {
                        if (r > root) {
                            chain[r] = root;
                        } else {
                            chain[root] = r;
                            root = r;
                        }
                    }
                };
                if (x > 0 && output[index(x - 1, y, 0)] != 0) {
                    merge(output[index(x - 1, y, 0)]);
                }
                if (x + 1 < X && output[index(x + 1, y, 0)] != 0) {
                    merge(output[index(x + 1, y, 0)]);
                }
            }
        }
    }

    // Z pass: walk every column along Z; the first label of a stretch has its
    // parent pointed straight at the root.
    for (unsigned int x = 0; x < X; ++x) {
        for (unsigned int y = 0; y < Y; ++y) {
            bool previous = false;
            std::uint32_t root = 0;
            for (unsigned int z = 0; z < Z; ++z) {
                const std::uint32_t L = output[index(x, y, z)];
                if (L == 0) {
                    previous = false;
                    continue;
                }
                if (!previous) {
                    root = chain[L];
                    if (chain[L] != L) {
                        const std::uint32_t r = find(L);
                        chain[root] = r;
                        root = r;
                    }
                } else if (chain[L] == L) {
                    chain[L] = root;
                } else {
                    const std::uint32_t r = find(L);
                    if (root < r) {
                        chain[r] = root;
                    } else {
                        chain[root] = r;
                        root = r;
                    }
                }
                previous = true;
            }
        }
    }

    // Chain resolution by pointer jumping: at least maxDepth + 2 rounds, and on
    // until a round changes nothing (every entry then designates its root).
    std::vector<std::uint32_t> second(count + 1, 0);
    std::vector<std::uint32_t>* current = &chain;
    std::vector<std::uint32_t>* next = &second;
    const long long minimumRounds = static_cast<long long>(maxDepth) + 2;
    long long rounds = 0;
    bool changed = true;
    while (rounds < minimumRounds || changed) {
        changed = false;
        const std::vector<std::uint32_t>& cur = *current;
        std::vector<std::uint32_t>& nxt = *next;
        for (std::size_t i = 0; i <= P; ++i) {
            nxt[i] = cur[cur[i]];
            changed = changed || nxt[i] != cur[i];
        }
        std::swap(current, next);
        ++rounds;
    }
    const std::vector<std::uint32_t>& resolved = *current;

    // Numbering in the order of each component's smallest provisional label.
    std::vector<std::uint32_t> numbering(P + 1, 0);
    std::uint32_t counter = 0;
    for (std::size_t i = 0; i <= P; ++i) {
        if (numbering[resolved[i]] == 0) {
            numbering[resolved[i]] = counter;
            ++counter;
        }
    }
    const std::size_t n = counter - 1u;
    std::vector<std::uint32_t> finalLabel(P + 1, 0);
    for (std::size_t i = 0; i <= P; ++i) {
        finalLabel[i] = numbering[resolved[i]];
    }
    for (std::size_t v = 0; v < N; ++v) {
        output[v] = finalLabel[output[v]];
    }

    std::vector<std::uint32_t> sizes(n + 1, 0);
    for (std::size_t v = 0; v < N; ++v) {
        ++sizes[output[v]];
    }
    std::vector<std::uint32_t> labelToRank;
    std::int32_t kept = 0;
    rankComponents(sizes, labelToRank, kept);
    for (std::size_t v = 0; v < N; ++v) {
        output[v] = labelToRank[output[v]];
    }
    m_numberOfComponents = kept;
}

// Run-based labelling on raw pointers. Every run of foreground voxels along X
// gets its provisional label in raster order (the same labels as the row pass
// above) and is united with the runs it touches in the previous row (diagonals
// included for 8-point) and in the same row of the previous slice, by a merge of
// the two sorted run lists. A union always links the larger root under the
// smaller, so every root is the smallest label of its tree and the components
// receive the same numbers as by the passes above: the ranking sees the same
// list. The output is written once, run by run, at the end; until then only the
// input is read.
template <class T>
void CnConnectedComponentFilter<T>::labelFast(const imaging::Image<T>& input, imaging::Image<std::uint32_t>& output) {
    const std::size_t X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    const std::size_t N = input.getNumberOfVoxels();
    const std::size_t rows = Y * Z;
    const T cls = m_classNumber;
    const T* src = input.data();
    std::uint32_t* dst = output.data();

    // Run table: label l covers [edge[2 l], edge[2 l + 1]) of its row; the
    // runs of row r are the labels rowFirst[r] .. rowFirst[r + 1] - 1. Each row
    // is read once, 64 voxels at a time, as a word of foreground bits; its
    // changes between background and foreground are the run bounds, taken in
    // order from the set bits of (bits ^ bits shifted by one).
    // The table grows by doubling, uninitialised; it starts with room for one
    // run per eight voxels (the room left below each word is 65 entries).
    std::vector<std::uint32_t> rowFirst(rows + 1, 0);
    std::size_t capacity = 2 + N / 4 + 2 * 65;
    std::unique_ptr<std::uint32_t[]> bounds(new std::uint32_t[capacity]);
    bounds[0] = bounds[1] = 0;
    std::size_t used = 2;  // label 0 has no run
    for (std::size_t r = 0; r < rows; ++r) {
        rowFirst[r] = static_cast<std::uint32_t>(used / 2);
        const T* row = src + r * X;
        std::uint64_t carry = 0;
        for (std::size_t x0 = 0; x0 < X; x0 += 64) {
            if (capacity - used < 65) {
                std::unique_ptr<std::uint32_t[]> larger(new std::uint32_t[2 * capacity]);
                std::copy(bounds.get(), bounds.get() + used, larger.get());
                bounds = std::move(larger);
                capacity *= 2;
            }
            std::uint32_t* e = bounds.get() + used;
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
            bounds[used++] = static_cast<std::uint32_t>(X);  // room is left by the check before the word
        }
    }
    rowFirst[rows] = static_cast<std::uint32_t>(used / 2);
    const std::size_t P = used / 2 - 1;
    const std::uint32_t* edge = bounds.get();
    std::size_t count = 0;
    for (std::size_t i = 1; i <= P; ++i) {
        count += edge[2 * i + 1] - edge[2 * i];
    }
    if (count == 0) {
        std::fill(dst, dst + N, 0u);
        m_numberOfComponents = 0;
        return;
    }
    if (count > kMaxForeground) {
        throwThrowable(messages::kConnectedComponentTooManyVoxels);
    }
    std::vector<std::uint32_t> chain(P + 1, 0);
    std::uint32_t* parent = chain.data();
    for (std::size_t i = 0; i <= P; ++i) {
        parent[i] = static_cast<std::uint32_t>(i);
    }

    const auto find = [parent](std::uint32_t a) {
        while (parent[a] != a) {
            parent[a] = parent[parent[a]];  // path halving: parents stay smaller than their children
            a = parent[a];
        }
        return a;
    };
    // Unites the runs of row a with the touching runs of the earlier row b.
    // reach 1 lets runs touch at a corner. Every union here joins the trees of
    // the current i and j, so their roots, once found, stay known until i or j
    // moves on (0: not yet found).
    const auto mergeRows = [&](std::size_t a, std::size_t b, std::uint32_t reach) {
        std::uint32_t i = rowFirst[a], j = rowFirst[b];
        const std::uint32_t iEnd = rowFirst[a + 1], jEnd = rowFirst[b + 1];
        std::uint32_t rootI = 0, rootJ = 0;
        while (i < iEnd && j < jEnd) {
            const std::uint32_t si = edge[2 * static_cast<std::size_t>(i)];
            const std::uint32_t ei = edge[2 * static_cast<std::size_t>(i) + 1];
            const std::uint32_t sj = edge[2 * static_cast<std::size_t>(j)];
            const std::uint32_t ej = edge[2 * static_cast<std::size_t>(j) + 1];
            if (si < std::uint64_t{ej} + reach && sj < std::uint64_t{ei} + reach) {
                if (rootI == 0) {
                    rootI = find(i);
                }
                if (rootJ == 0) {
                    rootJ = find(j);
                }
                if (rootI < rootJ) {
                    parent[rootJ] = rootI;
                    rootJ = rootI;
                } else if (rootJ < rootI) {
                    parent[rootI] = rootJ;
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
    };
    const std::uint32_t reach = m_eightPointConnectivity ? 1u : 0u;
    for (std::size_t z = 0; z < Z; ++z) {
        for (std::size_t y = 0; y < Y; ++y) {
            const std::size_t r = z * Y + y;
            if (y > 0) {
                mergeRows(r, r - 1, reach);
            }
            if (z > 0) {
                mergeRows(r, r - Y, 0);
            }
        }
    }

    // Resolution and numbering in one increasing sweep: a parent is always
    // smaller than its child, so it already holds its component's number.
    std::uint32_t n = 0;
    parent[0] = 0;
    for (std::size_t i = 1; i <= P; ++i) {
        parent[i] = parent[i] == i ? ++n : parent[parent[i]];
    }
    std::vector<std::uint32_t> sizes(static_cast<std::size_t>(n) + 1, 0);
    for (std::size_t i = 1; i <= P; ++i) {
        sizes[parent[i]] += edge[2 * i + 1] - edge[2 * i];
    }

    // Writes every row span by span: the gaps with 0, the runs with their
    // value, each span in whole blocks while the blocks stay inside the output.
    const auto writeOutput = [&](const std::uint32_t* value) {
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t first = rowFirst[r];
            writeRow(dst + r * X, X, edge + 2 * first, value + first, rowFirst[r + 1] - first,
                     (r + 1) * X + kSpill <= N);
        }
    };
    std::vector<std::uint32_t> labelToRank;
    std::int32_t kept = 0;
    try {
        rankComponents(sizes, labelToRank, kept);
    } catch (...) {
        // Leave the components numbered 1..n, as the passes above do.
        writeOutput(parent);
        throw;
    }
    for (std::size_t i = 1; i <= P; ++i) {
        parent[i] = labelToRank[parent[i]];
    }
    writeOutput(parent);
    m_numberOfComponents = kept;
}

template class CnConnectedComponentFilter<unsigned char>;
template class CnConnectedComponentFilter<short>;
template class CnConnectedComponentFilter<std::uint32_t>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
