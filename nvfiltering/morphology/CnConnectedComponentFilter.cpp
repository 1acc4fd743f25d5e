#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// Component size and final number, the element of the ranking.
struct SizeLabel {
    std::uint32_t size;
    std::int32_t label;
};

// Larger sizes first; equal sizes compare equal (their order is left to qsort).
int compareBySizeDescending(const void* a, const void* b) {
    const std::uint32_t sa = static_cast<const SizeLabel*>(a)->size;
    const std::uint32_t sb = static_cast<const SizeLabel*>(b)->size;
    if (sa > sb) {
        return -1;
    }
    return sa < sb ? 1 : 0;
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
    std::qsort(pairs.data(), n, sizeof(SizeLabel), compareBySizeDescending);
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

    // Foreground voxels and runs, counted row by row.
    std::size_t count = 0, runs = 0;
    for (std::size_t r = 0; r < rows && X > 0; ++r) {
        const T* row = src + r * X;
        std::uint32_t c = row[0] == cls ? 1u : 0u;
        std::uint32_t s = c;
        for (std::size_t x = 1; x < X; ++x) {
            const std::uint32_t f = row[x] == cls ? 1u : 0u;
            const std::uint32_t g = row[x - 1] != cls ? 1u : 0u;
            c += f;
            s += f & g;
        }
        count += c;
        runs += s;
    }
    if (count == 0) {
        std::fill(dst, dst + N, 0u);
        m_numberOfComponents = 0;
        return;
    }
    if (count > kMaxForeground) {
        throwThrowable(messages::kConnectedComponentTooManyVoxels);
    }

    // Run table: label l covers [bounds[2 l], bounds[2 l + 1]) of its row; the
    // runs of row r are the labels rowFirst[r] .. rowFirst[r + 1] - 1. The row
    // scan stores every voxel's position and advances only at a change between
    // background and foreground, so it has no data-dependent branch; the slot
    // after the last run takes the scan's final store.
    const std::size_t P = runs;
    std::vector<std::uint32_t> chain(P + 1, 0), bounds(2 * (P + 1) + 1, 0), rowFirst(rows + 1, 0);
    std::uint32_t* parent = chain.data();
    std::uint32_t* edge = bounds.data();
    std::uint32_t label = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        rowFirst[r] = label + 1;
        const T* row = src + r * X;
        std::uint32_t* e = edge + 2 * (static_cast<std::size_t>(label) + 1);
        std::size_t k = 0;
        bool previous = false;
        for (std::size_t x = 0; x < X; ++x) {
            const bool f = row[x] == cls;
            e[k] = static_cast<std::uint32_t>(x);
            k += f != previous ? 1 : 0;
            previous = f;
        }
        if (previous) {
            e[k++] = static_cast<std::uint32_t>(X);
        }
        for (std::size_t t = 0; t < k; t += 2) {
            ++label;
            parent[label] = label;
        }
    }
    rowFirst[rows] = label + 1;

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

    // Writes every row as the running sum of a difference row: +value[l] where
    // run l starts, -value[l] where it ends (modulo 2^32), so that the row is
    // written in one pass without a branch per run. The entries set for a row
    // are cleared again after it.
    std::vector<std::uint32_t> difference(X + 1, 0);
    std::uint32_t* d = difference.data();
    const auto writeOutput = [&](const std::uint32_t* value) {
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::uint32_t l = rowFirst[r]; l < rowFirst[r + 1]; ++l) {
                d[edge[2 * static_cast<std::size_t>(l)]] += value[l];
                d[edge[2 * static_cast<std::size_t>(l) + 1]] -= value[l];
            }
            std::uint32_t* out = dst + r * X;
            std::uint32_t running = 0;
            for (std::size_t x = 0; x < X; ++x) {
                running += d[x];
                out[x] = running;
            }
            for (std::uint32_t l = rowFirst[r]; l < rowFirst[r + 1]; ++l) {
                d[edge[2 * static_cast<std::size_t>(l)]] = 0;
                d[edge[2 * static_cast<std::size_t>(l) + 1]] = 0;
            }
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
