// Connected-component labelling: the reference passes and the run-based fast
// path, which labels slabs of rows in parallel, merges across slab faces, then
// numbers and ranks the components exactly as the reference does.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>
#include <nvfiltering/morphology/detail/RunLabelling.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

namespace com {
namespace norvane {
namespace filtering {

namespace {

using detail::kMaxForeground;
using detail::SizeLabel;

// Joins the tree with root r into the running root of a walk: the larger root
// is linked under the smaller, which becomes the running root.
inline void uniteWithRunning(std::uint32_t* chain, std::uint32_t& root, std::uint32_t r) {
    if (root < r) {
        chain[r] = root;
    } else {
        chain[root] = r;
        root = r;
    }
}

// Slabs of the parallel labelling: at most kMaxSlabs, since the faces between
// them are merged in one thread, and at least kMinSlabVoxels voxels each.
constexpr std::size_t kMaxSlabs = 16;
constexpr std::size_t kMinSlabVoxels = std::size_t{1} << 14;

}  // namespace

template <class T>
CnConnectedComponentFilter<T>::CnConnectedComponentFilter()
    : m_minimumComponentSize(0),
      m_classNumber(static_cast<T>(1)),
      m_numberOfComponents(0),
      m_componentNumber(0),
      m_connectivity(CnConnectivity::Six) {}

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
    m_connectivity = CnConnectivity::Eight;
}

template <class T>
void CnConnectedComponentFilter<T>::setConnectivity(CnConnectivity connectivity) {
    switch (connectivity) {
        case CnConnectivity::Four:
        case CnConnectivity::Six:
        case CnConnectivity::Eight:
        case CnConnectivity::Eighteen:
        case CnConnectivity::TwentySix:
            m_connectivity = connectivity;
            return;
    }
    throwThrowable(messages::kConnectivityUnknown);
}

template <class T>
CnConnectivity CnConnectedComponentFilter<T>::getConnectivity() const {
    return m_connectivity;
}

template <class T>
const std::vector<std::uint64_t>& CnConnectedComponentFilter<T>::getComponentSizes() const {
    return m_componentSizes;
}

template <class T>
const std::vector<std::uint64_t>& CnConnectedComponentFilter<T>::getFirstVoxels() const {
    return m_firstVoxels;
}

template <class T>
unsigned int CnConnectedComponentFilter<T>::neighbourAxes() const {
    switch (m_connectivity) {
        case CnConnectivity::Eight:
        case CnConnectivity::Eighteen:
            return 2;
        case CnConnectivity::TwentySix:
            return 3;
        case CnConnectivity::Four:
        case CnConnectivity::Six:
            break;
    }
    return 1;
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
    checkImages();
    // Reads the whole input before it writes the output, so the output may be
    // the input itself.
    labelFast(*this->m_input, *this->m_output);
}

template <class T>
void CnConnectedComponentFilter<T>::checkImages() const {
    const imaging::Image<T>& input = *this->m_input;
    if (m_connectivity == CnConnectivity::Eight && input.getSizeZ() != 1) {
        throw EightPointConnectivityIn3DException(messages::kEightPointIn3D, messages::kEightPointClassPath);
    }
    if (m_connectivity == CnConnectivity::Four && input.getSizeZ() != 1) {
        throwThrowable(messages::kFourPointIn3D);
    }
    if (!this->m_output->hasSameDimensions(input)) {
        throwThrowable(messages::kConnectedComponentOutputSize);
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

template <class T>
void CnConnectedComponentFilter<T>::recordComponents(const std::vector<std::uint32_t>& sizes,
                                                     const std::vector<std::uint64_t>& firstVoxels,
                                                     const std::vector<std::uint32_t>& labelToRank,
                                                     std::int32_t kept) {
    m_componentSizes.assign(static_cast<std::size_t>(kept), 0);
    m_firstVoxels.assign(static_cast<std::size_t>(kept), 0);
    for (std::size_t j = 1; j < labelToRank.size(); ++j) {
        const std::uint32_t rank = labelToRank[j];
        if (rank != 0) {
            m_componentSizes[rank - 1] = sizes[j];
            m_firstVoxels[rank - 1] = firstVoxels[j];
        }
    }
    m_numberOfComponents = kept;
}

// Run-based labelling on raw pointers. Every run of foreground voxels along X
// gets its provisional label in raster order (the same labels as the row pass
// above) and is united with the runs it touches in the rows before it that hold
// neighbours: the previous row and the same row of the previous slice, with
// edge neighbours also the rows on either side of that one; runs of these rows
// touch when they overlap along X, or meet at a corner (reach 1) when a step
// along X is one more axis the neighbours may differ along. A union
// always links the larger root under the smaller, so every root is the smallest
// label of its component whatever the order of the unions, and the components
// receive the same numbers as by the passes above: the ranking sees the same
// list. That is what lets the work run in slabs of rows (whole slices for a
// volume): the runs of every slab are found and united within the slab as
// separate tasks, the slab faces are merged in the caller's thread, then the
// components are numbered slab by slab. The output is written once, run by
// run, at the end; until then only the input is read.
template <class T>
void CnConnectedComponentFilter<T>::labelFast(const imaging::Image<T>& input, imaging::Image<std::uint32_t>& output) {
    CnExecutor* const executor = this->getExecutor();
    const std::size_t X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    const std::size_t N = input.getNumberOfVoxels();
    const std::size_t rows = Y * Z;
    const T cls = m_classNumber;
    const T* src = input.data();
    std::uint32_t* dst = output.data();

    // Slabs of `unit` rows at a time (a slice of a volume, a row of an image).
    const std::size_t unit = Z > 1 ? Y : 1;
    const std::size_t units = Z > 1 ? Z : Y;
    const std::size_t unitVoxels = std::max<std::size_t>(1, unit * X);
    const std::size_t unitsPerSlab =
        std::max({std::size_t{1}, (units + kMaxSlabs - 1) / kMaxSlabs, (kMinSlabVoxels + unitVoxels - 1) / unitVoxels});
    const std::size_t slabRows = unitsPerSlab * unit;
    const std::size_t slabCount = slabRows == 0 ? 0 : (rows + slabRows - 1) / slabRows;
    const auto slabBegin = [&](std::size_t s) { return s * slabRows; };
    const auto slabEnd = [&](std::size_t s) { return std::min(rows, (s + 1) * slabRows); };

    // Runs of every slab, then their labels: the runs of row r are the labels
    // rowFirst[r] .. rowFirst[r + 1] - 1, in raster order over all slabs.
    std::vector<detail::SlabRuns> slabs(slabCount);
    detail::parallelFor(executor, slabCount,
                        [&](std::size_t s) { slabs[s] = detail::extractRuns(src, X, slabBegin(s), slabEnd(s), cls); });
    std::size_t count = 0;
    for (const detail::SlabRuns& slab : slabs) {
        count += slab.voxels;
    }
    if (count == 0) {
        std::fill(dst, dst + N, 0u);
        m_numberOfComponents = 0;
        m_componentSizes.clear();
        m_firstVoxels.clear();
        return;
    }
    if (count > kMaxForeground) {
        throwThrowable(messages::kConnectedComponentTooManyVoxels);
    }
    // Every label is at most the number of foreground voxels, so it fits 32 bits.
    std::vector<std::size_t> rowFirst(rows + 1, 0);
    std::vector<std::size_t> slabFirst(slabCount + 1, 1);
    std::size_t next = 1;  // label 0 has no run
    for (std::size_t s = 0; s < slabCount; ++s) {
        slabFirst[s] = next;
        for (std::size_t r = slabBegin(s); r < slabEnd(s); ++r) {
            rowFirst[r] = next;
            next += slabs[s].rowRuns[r - slabBegin(s)];
        }
    }
    rowFirst[rows] = next;
    slabFirst[slabCount] = next;
    const std::size_t P = next - 1;
    const auto runsOf = [&](std::size_t s, std::size_t r) {
        return detail::RowRuns{slabs[s].edge.get() + 2 * (rowFirst[r] - slabFirst[s]),
                               static_cast<std::uint32_t>(rowFirst[r]),
                               static_cast<std::uint32_t>(rowFirst[r + 1] - rowFirst[r])};
    };

    // Unions within every slab: a slab's trees hold only its own labels, so the
    // slabs touch disjoint parts of parent. Each slab counts its roots.
    // Uninitialised: every slab sets its own labels.
    const std::unique_ptr<std::uint32_t[]> chain(new std::uint32_t[P + 1]);
    std::uint32_t* parent = chain.get();
    parent[0] = 0;
    // Rows that differ from a row along `axes` of Y and Z hold neighbours of
    // its runs if axes <= span; their runs touch with reach 1 if a step along
    // X is allowed as well.
    const unsigned int span = neighbourAxes();
    const auto reachAcross = [span](unsigned int axes) { return axes < span ? 1u : 0u; };
    const std::uint32_t reach = reachAcross(1);
    const std::uint32_t diagonalReach = reachAcross(2);
    const bool diagonalRows = span >= 2 && Z > 1;
    std::vector<std::size_t> rootsBefore(slabCount + 1, 0);
    detail::parallelFor(executor, slabCount, [&](std::size_t s) {
        for (std::size_t i = slabFirst[s]; i < slabFirst[s + 1]; ++i) {
            parent[i] = static_cast<std::uint32_t>(i);
        }
        std::size_t links = 0;
        const auto countLink = [&links](std::uint32_t) { ++links; };
        const std::size_t first = slabBegin(s);
        for (std::size_t r = first; r < slabEnd(s); ++r) {
            if (r % Y != 0 && r - 1 >= first) {
                detail::mergeRows<true>(runsOf(s, r), runsOf(s, r - 1), reach, parent, countLink);
            }
            if (r >= first + Y && Z > 1) {
                detail::mergeRows<true>(runsOf(s, r), runsOf(s, r - Y), reach, parent, countLink);
                if (diagonalRows && r % Y != 0) {
                    detail::mergeRows<true>(runsOf(s, r), runsOf(s, r - Y - 1), diagonalReach, parent, countLink);
                }
                if (diagonalRows && r % Y + 1 < Y) {
                    detail::mergeRows<true>(runsOf(s, r), runsOf(s, r - Y + 1), diagonalReach, parent, countLink);
                }
            }
        }
        rootsBefore[s + 1] = slabFirst[s + 1] - slabFirst[s] - links;
    });
    // The faces between slabs: the first slice (or row) of a slab with the last
    // of the slab before. These finds do not halve paths, so only the roots
    // they link change parent: the boundaries, labels whose parent may now lie
    // in an earlier slab, are among them.
    const auto slabOf = [&](std::uint32_t label) {
        return static_cast<std::size_t>(std::upper_bound(slabFirst.begin(), slabFirst.end(), label) -
                                        slabFirst.begin()) -
               1;
    };
    std::vector<std::vector<std::uint32_t>> linkedRoots(slabCount);
    const auto faceLink = [&](std::uint32_t root) {
        const std::size_t s = slabOf(root);
        --rootsBefore[s + 1];
        linkedRoots[s].push_back(root);
    };
    for (std::size_t s = 1; s < slabCount; ++s) {
        const std::size_t first = slabBegin(s);
        if (Z > 1) {
            for (std::size_t r = first; r < first + Y; ++r) {
                detail::mergeRows<false>(runsOf(s, r), runsOf(s - 1, r - Y), reach, parent, faceLink);
                if (diagonalRows && r > first) {
                    detail::mergeRows<false>(runsOf(s, r), runsOf(s - 1, r - Y - 1), diagonalReach, parent, faceLink);
                }
                if (diagonalRows && r + 1 < first + Y) {
                    detail::mergeRows<false>(runsOf(s, r), runsOf(s - 1, r - Y + 1), diagonalReach, parent, faceLink);
                }
            }
        } else {
            detail::mergeRows<false>(runsOf(s, first), runsOf(s - 1, first - 1), reach, parent, faceLink);
        }
    }
    for (std::size_t s = 0; s < slabCount; ++s) {
        rootsBefore[s + 1] += rootsBefore[s];
    }
    const std::size_t n = rootsBefore[slabCount];

    // Numbering in the order of the roots, which are the smallest labels of
    // their components, in place in parent. Every boundary finds its root
    // first, while parent is intact. Then every slab numbers its roots from the
    // count of roots before it, gives a label whose parent lies in the slab its
    // parent's number (smaller, so done already), and gives a boundary, and the
    // labels below it, the provisional number n + 1 + its index among all
    // boundaries, replaced once the roots are numbered. Each slab counts the
    // voxels of its roots' components and of its boundaries, which no other
    // slab touches; the boundaries' counts are then added atomically. The root
    // of component k is its first run in raster order: rootRun[k].
    std::vector<std::size_t> boundariesBefore(slabCount + 1, 0);
    std::vector<std::vector<std::uint32_t>> boundaryRoots(slabCount);
    for (std::size_t s = 0; s < slabCount; ++s) {
        std::vector<std::uint32_t>& linked = linkedRoots[s];
        std::sort(linked.begin(), linked.end());
        for (const std::uint32_t label : linked) {
            if (parent[label] < slabFirst[s]) {
                boundaryRoots[s].push_back(detail::findRoot<false>(parent, label));
            }
        }
        boundariesBefore[s + 1] = boundariesBefore[s] + boundaryRoots[s].size();
    }
    std::vector<std::uint32_t> sizes(n + 1, 0);
    std::vector<std::uint32_t> boundarySize(boundariesBefore[slabCount], 0);
    std::vector<std::uint32_t> rootRun(n + 1, 0);
    detail::parallelFor(executor, slabCount, [&](std::size_t s) {
        const std::uint32_t begin = static_cast<std::uint32_t>(slabFirst[s]);
        const std::uint32_t end = static_cast<std::uint32_t>(slabFirst[s + 1]);
        const std::uint32_t* e = slabs[s].edge.get();
        std::uint32_t* size = sizes.data();
        std::uint32_t counter = static_cast<std::uint32_t>(rootsBefore[s]);
        std::uint32_t boundary = static_cast<std::uint32_t>(n + 1 + boundariesBefore[s]);
        for (std::uint32_t i = begin; i < end; ++i) {
            const std::uint32_t p = parent[i];
            std::uint32_t k;
            if (p == i) {
                k = ++counter;
                rootRun[k] = i;
            } else {
                k = p >= begin ? parent[p] : boundary++;
            }
            parent[i] = k;
            const std::size_t t = 2 * static_cast<std::size_t>(i - begin);
            (k <= n ? size[k] : boundarySize[k - n - 1]) += e[t + 1] - e[t];
        }
    });
    std::vector<std::uint32_t> boundaryNumber(boundariesBefore[slabCount], 0);
    for (std::size_t s = 0; s < slabCount; ++s) {
        for (std::size_t b = 0; b < boundaryRoots[s].size(); ++b) {
            const std::size_t index = boundariesBefore[s] + b;
            boundaryNumber[index] = parent[boundaryRoots[s][b]];  // a root: numbered by now
            sizes[boundaryNumber[index]] += boundarySize[index];
        }
    }
    // The first voxel of every component: the start of its root run. The roots
    // rise with k, so one walk over the rows finds each root's row.
    std::vector<std::uint64_t> firstVoxels(n + 1, 0);
    for (std::size_t k = 1, r = 0; k <= n; ++k) {
        const std::uint32_t i = rootRun[k];
        while (rowFirst[r + 1] <= i) {
            ++r;
        }
        const std::size_t s = r / slabRows;
        const std::uint32_t start = slabs[s].edge[2 * (i - slabFirst[s])];
        firstVoxels[k] = static_cast<std::uint64_t>(r) * X + start;
    }
    // parent[i] becomes map[final number of label i] (map null: the final number).
    const auto finalNumbers = [&](const std::uint32_t* map) {
        detail::parallelFor(executor, slabCount, [&](std::size_t s) {
            for (std::size_t i = slabFirst[s]; i < slabFirst[s + 1]; ++i) {
                const std::uint32_t k = parent[i] <= n ? parent[i] : boundaryNumber[parent[i] - n - 1];
                parent[i] = map == nullptr ? k : map[k];
            }
        });
    };

    // Writes every row span by span: the gaps with 0, the runs with their
    // value, each span in whole blocks while the blocks stay inside the slab.
    const auto writeOutput = [&](const std::uint32_t* value) {
        detail::parallelFor(executor, slabCount, [&](std::size_t s) {
            const std::size_t end = slabEnd(s);
            for (std::size_t r = slabBegin(s); r < end; ++r) {
                const detail::RowRuns runs = runsOf(s, r);
                detail::writeRow(dst + r * X, X, runs.edge, value + runs.first, runs.count,
                                 (r + 1) * X + detail::kSpill <= end * X);
            }
        });
    };
    std::vector<std::uint32_t> labelToRank;
    std::int32_t kept = 0;
    try {
        rankComponents(sizes, labelToRank, kept);
    } catch (...) {
        // Leave the components numbered 1..n, as the passes above do.
        finalNumbers(nullptr);
        writeOutput(parent);
        throw;
    }
    finalNumbers(labelToRank.data());
    writeOutput(parent);
    recordComponents(sizes, firstVoxels, labelToRank, kept);
}

template class CnConnectedComponentFilter<unsigned char>;
template class CnConnectedComponentFilter<short>;
template class CnConnectedComponentFilter<unsigned short>;
template class CnConnectedComponentFilter<std::uint32_t>;

namespace detail {

struct LabellingReference {
    template <class T>
    static void run(CnConnectedComponentFilter<T>& filter, const imaging::Image<T>& input,
                    imaging::Image<std::uint32_t>& output) {
        filter.setInputImage(&input);
        filter.setOutputImage(&output);
        filter.checkImages();
        if (static_cast<const void*>(&input) == static_cast<const void*>(&output)) {
            // Only possible for 32-bit inputs: the sweeps clear the output and keep
            // the provisional labels in it, so they read the input from a copy.
            const imaging::Image<T> copy(input);
            label(filter, copy, output);
        } else {
            label(filter, input, output);
        }
    }

    // The defining sequence of sweeps. Every voxel is reached through the images'
    // linear-index access; the output holds the provisional labels meanwhile.
    template <class T>
    static void label(CnConnectedComponentFilter<T>& filter, const imaging::Image<T>& input,
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
            if (input[v] == filter.m_classNumber) {
                ++count;
            }
        }
        if (count == 0) {
            filter.m_numberOfComponents = 0;
            filter.m_componentSizes.clear();
            filter.m_firstVoxels.clear();
            return;
        }
        if (count > kMaxForeground) {
            throwThrowable(messages::kConnectedComponentTooManyVoxels);
        }
        std::vector<std::uint32_t> chain(count + 1, 0);
        std::int32_t maxDepth = 0;
        const auto find = [&](std::uint32_t label) {
            return static_cast<std::uint32_t>(filter.FirstInChain(chain.data(), label, &maxDepth));
        };

        // Row pass: one provisional label per run along X, in raster order.
        std::uint32_t last = 0;
        for (unsigned int z = 0; z < Z; ++z) {
            for (unsigned int y = 0; y < Y; ++y) {
                bool previous = false;
                for (unsigned int x = 0; x < X; ++x) {
                    const std::size_t i = index(x, y, z);
                    if (input[i] == filter.m_classNumber) {
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
                        uniteWithRunning(chain.data(), root, find(L));
                    }
                    previous = true;
                }
            }
        }

        // Diagonal pass (8-point, and edge neighbours in every slice): join each
        // voxel of the upper row with the labelled diagonal neighbours of the
        // lower row.
        const unsigned int span = filter.neighbourAxes();
        if (span >= 2) {
            for (unsigned int z = 0; z < Z; ++z) {
                for (unsigned int y = 1; y < Y; ++y) {
                    for (unsigned int x = 0; x < X; ++x) {
                        const std::uint32_t p = output[index(x, y - 1, z)];
                        if (p == 0) {
                            continue;
                        }
                        std::uint32_t root = find(p);
                        const auto merge = [&](std::uint32_t q) {
                            const std::uint32_t r = find(q);
                            if (r != root) {
                                uniteWithRunning(chain.data(), root, r);
                            }
                        };
                        if (x > 0 && output[index(x - 1, y, z)] != 0) {
                            merge(output[index(x - 1, y, z)]);
                        }
                        if (x + 1 < X && output[index(x + 1, y, z)] != 0) {
                            merge(output[index(x + 1, y, z)]);
                        }
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
                        uniteWithRunning(chain.data(), root, find(L));
                    }
                    previous = true;
                }
            }
        }

        // Slice pass (edge and corner neighbours of volumes): join each voxel of
        // the lower slice with the labelled voxels of the upper slice that
        // differ from it along one or more of X and Y as well, at most along
        // span - 1 of them (the one straight above is the Z pass's).
        if (span >= 2) {
            for (unsigned int z = 1; z < Z; ++z) {
                for (unsigned int y = 0; y < Y; ++y) {
                    for (unsigned int x = 0; x < X; ++x) {
                        const std::uint32_t p = output[index(x, y, z - 1)];
                        if (p == 0) {
                            continue;
                        }
                        std::uint32_t root = find(p);
                        for (int dy = -1; dy <= 1; ++dy) {
                            for (int dx = -1; dx <= 1; ++dx) {
                                const unsigned int axes = (dx != 0 ? 1u : 0u) + (dy != 0 ? 1u : 0u);
                                if (axes == 0 || axes + 1 > span || (dx < 0 && x == 0) || (dx > 0 && x + 1 >= X) ||
                                    (dy < 0 && y == 0) || (dy > 0 && y + 1 >= Y)) {
                                    continue;
                                }
                                const std::uint32_t q = output[index(static_cast<unsigned int>(static_cast<int>(x) + dx),
                                                                     static_cast<unsigned int>(static_cast<int>(y) + dy), z)];
                                if (q == 0) {
                                    continue;
                                }
                                const std::uint32_t r = find(q);
                                if (r != root) {
                                    uniteWithRunning(chain.data(), root, r);
                                }
                            }
                        }
                    }
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
        std::vector<std::uint64_t> firstVoxels(n + 1, 0);
        for (std::size_t v = 0; v < N; ++v) {
            if (output[v] != 0 && sizes[output[v]] == 0) {
                firstVoxels[output[v]] = v;
            }
            ++sizes[output[v]];
        }
        std::vector<std::uint32_t> labelToRank;
        std::int32_t kept = 0;
        filter.rankComponents(sizes, labelToRank, kept);
        for (std::size_t v = 0; v < N; ++v) {
            output[v] = labelToRank[output[v]];
        }
        filter.recordComponents(sizes, firstVoxels, labelToRank, kept);
    }
};

template <class T>
void executeStraightforward(CnConnectedComponentFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<std::uint32_t>& output) {
    LabellingReference::run(filter, input, output);
}

template void executeStraightforward<unsigned char>(CnConnectedComponentFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<std::uint32_t>&);
template void executeStraightforward<short>(CnConnectedComponentFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<std::uint32_t>&);
template void executeStraightforward<unsigned short>(CnConnectedComponentFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<std::uint32_t>&);
template void executeStraightforward<std::uint32_t>(CnConnectedComponentFilter<std::uint32_t>&,
                                                    const imaging::Image<std::uint32_t>&,
                                                    imaging::Image<std::uint32_t>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
