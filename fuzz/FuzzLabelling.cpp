// Connected components for 8-, 16- and 32-bit voxels: class numbers, minimum
// sizes, component numbers (0, in range, too large, 2^31 and above), every
// connectivity (4, 6, 8, 18 and 26 neighbours, the 8-point call, 4 and 8 on
// volumes too, values that are not connectivities), thin and empty images, in
// place, mismatched outputs, and settings carried over to a second run. Checks:
// the one-sweep path equals the multi-pass reference bit for bit (labels, count,
// sizes, first voxels and failures); labels are 0 or 1..count, numbered by
// non-increasing size, and match the components an independent flood fill
// finds; the reported sizes and first voxels are the labels' own; the
// documented rejections write nothing.
#include <FuzzSupport.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <algorithm>
#include <deque>

using namespace nvf_fuzz;

namespace {

// Components of the voxels equal to cls: per voxel the component index (or -1)
// and per component its size, in raster order of first voxels.
template <class T>
void floodFill(const img::Image<T>& in, T cls, int axes, std::vector<long long>& comp,
               std::vector<std::uint64_t>& sizes) {
    const long long sx = in.getSizeX(), sy = in.getSizeY(), sz = in.getSizeZ();
    comp.assign(in.getNumberOfVoxels(), -1);
    sizes.clear();
    std::deque<long long> queue;
    for (std::size_t start = 0; start < comp.size(); ++start) {
        if (!(in[start] == cls) || comp[start] >= 0) {
            continue;
        }
        const long long id = static_cast<long long>(sizes.size());
        sizes.push_back(0);
        comp[start] = id;
        queue.push_back(static_cast<long long>(start));
        while (!queue.empty()) {
            const long long i = queue.front();
            queue.pop_front();
            ++sizes.back();
            const long long x = i % sx, y = (i / sx) % sy, z = i / (sx * sy);
            for (long long dz = -1; dz <= 1; ++dz) {
                for (long long dy = -1; dy <= 1; ++dy) {
                    for (long long dx = -1; dx <= 1; ++dx) {
                        const int steps = (dx != 0) + (dy != 0) + (dz != 0);
                        const bool neighbour = steps >= 1 && steps <= axes;
                        const long long nx = x + dx, ny = y + dy, nz = z + dz;
                        if (!neighbour || nx < 0 || ny < 0 || nz < 0 || nx >= sx || ny >= sy || nz >= sz) {
                            continue;
                        }
                        const long long j = nx + sx * (ny + sy * nz);
                        if (in[static_cast<std::size_t>(j)] == cls && comp[static_cast<std::size_t>(j)] < 0) {
                            comp[static_cast<std::size_t>(j)] = id;
                            queue.push_back(j);
                        }
                    }
                }
            }
        }
    }
}

template <class T>
struct Settings {
    bool setClass = false;
    T cls{};
    bool setMinimum = false;
    std::uint32_t minimum = 0;
    bool setComponent = false;
    std::uint32_t component = 0;
    // 0: unchanged; 1: Set8PointConnectivity(); 2: setConnectivity(connectivity),
    // which may be a value that is not a connectivity.
    int connectivityCall = 0;
    int connectivity = 6;

    void apply(flt::CnConnectedComponentFilter<T>& f) const {
        if (setClass) f.SetClassNumber(cls);
        if (setMinimum) f.SetMinimumComponentSize(minimum);
        if (setComponent) f.SetComponentNumber(component);
        if (connectivityCall == 1) f.Set8PointConnectivity();
        if (connectivityCall == 2) {
            const flt::CnConnectivity before = f.getConnectivity();
            bool threw = false;
            try {
                f.setConnectivity(static_cast<flt::CnConnectivity>(connectivity));
            } catch (const com::norvane::Throwable& e) {
                threw = true;
                NVF_FUZZ_CHECK(e.getMessage() == flt::messages::kConnectivityUnknown);
            }
            NVF_FUZZ_CHECK_MSG(threw == !known(connectivity), "refuses exactly the values that are not connectivities");
            NVF_FUZZ_CHECK_MSG(f.getConnectivity() == (threw ? before : static_cast<flt::CnConnectivity>(connectivity)),
                               "the connectivity in force");
        }
    }

    static bool known(int c) { return c == 4 || c == 6 || c == 8 || c == 18 || c == 26; }
};

template <class T>
Settings<T> settings(FuzzedDataProvider& in, const std::vector<std::uint8_t>& classPool) {
    Settings<T> s;
    s.setClass = in.ConsumeBool();
    s.cls = in.ConsumeBool() ? T(1) : ValueOf<T>::make(classPool, in.ConsumeIntegral<std::uint8_t>(), Encoding::Raw);
    s.setMinimum = in.ConsumeBool();
    s.minimum = in.ConsumeIntegralInRange<unsigned int>(0, 9) == 9 ? in.ConsumeIntegral<std::uint32_t>()
                                                                   : in.ConsumeIntegralInRange(0u, 8u);
    s.setComponent = in.ConsumeBool();
    s.component = in.ConsumeIntegralInRange<unsigned int>(0, 9) == 9 ? in.ConsumeIntegral<std::uint32_t>()
                                                                     : in.ConsumeIntegralInRange(0u, 6u);
    const unsigned int pick = in.ConsumeIntegralInRange<unsigned int>(0, 16);
    static constexpr int kCounts[] = {4, 6, 8, 18, 18, 26, 26};
    if (pick == 7) {
        s.connectivityCall = 1;
    } else if (pick >= 8 && pick < 15) {
        s.connectivityCall = 2;
        s.connectivity = kCounts[pick - 8];
    } else if (pick == 15) {
        s.connectivityCall = 2;
        s.connectivity = in.ConsumeIntegral<int>();
    }
    return s;
}

// Effective state of a filter as the documentation describes it.
struct State {
    std::uint64_t minimum = 0;
    std::int32_t components = 0;
    int connectivity = 6;
};

// Along how many axes neighbours may differ.
int axesOf(int connectivity) { return connectivity == 26 ? 3 : connectivity == 8 || connectivity == 18 ? 2 : 1; }

template <class T>
void run(FuzzedDataProvider& in) {
    const unsigned int x = dimension(in), y = dimension(in), z = in.ConsumeIntegralInRange<unsigned int>(0, 30);
    const bool inPlace = std::is_same_v<T, std::uint32_t> && in.ConsumeIntegralInRange<unsigned int>(0, 3) == 3;
    const bool mismatch = !inPlace && in.ConsumeIntegralInRange<unsigned int>(0, 11) == 11;
    const Encoding enc = encoding(in);
    const unsigned int modulus = in.ConsumeIntegralInRange<unsigned int>(0, 4);
    const unsigned int runs = in.ConsumeIntegralInRange<unsigned int>(1, 2);
    const std::vector<std::uint8_t> classPool = in.ConsumeBytes<std::uint8_t>(4);
    Settings<T> first = settings<T>(in, classPool), second = settings<T>(in, classPool);
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 16 + sizeof(T)) || std::size_t(x) * y * z > (1u << 18)) {
        return;
    }
    img::Image<T> input(x, y, z);
    fill(input, pool, enc, false);
    if (modulus > 0) {  // few distinct values, so that components are large
        for (std::size_t i = 0; i < input.getNumberOfVoxels(); ++i) {
            input[i] = static_cast<T>(static_cast<std::uint64_t>(static_cast<std::uint8_t>(input[i])) % (modulus + 1));
        }
    }

    flt::CnConnectedComponentFilter<T> fast, reference;
    State state;
    T cls = T(1);
    for (unsigned int r = 0; r < runs; ++r) {
        const Settings<T>& s = r == 0 ? first : second;
        s.apply(fast);
        s.apply(reference);
        if (s.setClass) cls = s.cls;
        if (s.setMinimum) state.minimum = s.minimum;
        if (s.connectivityCall == 1) {
            state.connectivity = 8;
        } else if (s.connectivityCall == 2 && Settings<T>::known(s.connectivity)) {
            state.connectivity = s.connectivity;
        }

        const img::Image<T> inputBefore(input);
        img::Image<std::uint32_t> separate(x, y + (mismatch ? 1 : 0), z);
        fill(separate, pool, Encoding::Raw, false);
        img::Image<std::uint32_t>* outputPointer = &separate;
        if constexpr (std::is_same_v<T, std::uint32_t>) {
            if (inPlace) {
                outputPointer = &input;
            }
        }
        img::Image<std::uint32_t>& output = *outputPointer;
        img::Image<std::uint32_t> referenceOutput(separate);
        const img::Image<std::uint32_t> outputBefore(output);

        bool fastThrew = false, eightPoint = false;
        try {
            fast.execute(input, output);
        } catch (const com::norvane::Exception& e) {
            fastThrew = true;
            eightPoint = e.getClassPath() == flt::messages::kEightPointClassPath;
        } catch (const com::norvane::Throwable&) {
            fastThrew = true;
        }
        const bool eight = state.connectivity == 8, four = state.connectivity == 4;
        const bool reject = mismatch || ((eight || four) && z != 1);
        if (reject) {
            NVF_FUZZ_CHECK_MSG(fastThrew, "a mismatched output or 4- or 8-point on a volume is rejected");
            NVF_FUZZ_CHECK_MSG(sameImage(output, outputBefore), "a rejected call changed its output");
            NVF_FUZZ_CHECK_MSG(eightPoint == (eight && z != 1), "8-point exception class");
            NVF_FUZZ_CHECK(fast.GetNumberOfComponents() == state.components);
            return;
        }
        if (!inPlace) {
            NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
        }
        bool referenceThrew = false;
        try {
            com::norvane::filtering::detail::executeStraightforward(reference, inputBefore, referenceOutput);
        } catch (const com::norvane::Throwable&) {
            referenceThrew = true;
        }
        NVF_FUZZ_CHECK_MSG(fastThrew == referenceThrew, "fast path and reference fail differently");
        NVF_FUZZ_CHECK_MSG(sameImage(output, referenceOutput), "fast path and reference label differently");
        NVF_FUZZ_CHECK(fast.GetNumberOfComponents() == reference.GetNumberOfComponents());

        // Against an independent flood fill.
        std::vector<long long> comp;
        std::vector<std::uint64_t> sizes;
        floodFill(inputBefore, cls, axesOf(state.connectivity), comp, sizes);
        std::vector<std::uint64_t> sorted(sizes);
        std::sort(sorted.rbegin(), sorted.rend());
        // The component number in force is the last one set.
        const std::uint32_t component =
            s.setComponent ? s.component : (r == 1 && first.setComponent ? first.component : 0u);
        const std::int32_t kSigned = static_cast<std::int32_t>(component);
        // Without any foreground voxel the result is empty whatever the number.
        const bool tooLarge = kSigned > 0 && static_cast<std::uint64_t>(kSigned) > sizes.size() && !sizes.empty();
        NVF_FUZZ_CHECK_MSG(fastThrew == tooLarge, "rejects exactly a component number above the count");
        if (fastThrew) {
            // All n components, numbered in raster order; count and minimum kept.
            for (std::size_t i = 0; i < comp.size(); ++i) {
                NVF_FUZZ_CHECK(output[i] == (comp[i] < 0 ? 0u : static_cast<std::uint32_t>(comp[i] + 1)));
            }
            NVF_FUZZ_CHECK(fast.GetNumberOfComponents() == state.components);
            continue;
        }
        if (kSigned > 0 && !sizes.empty()) {
            state.minimum = sorted[static_cast<std::size_t>(kSigned - 1)];
        }
        std::int32_t kept = 0;
        for (std::uint64_t size : sizes) {
            kept += size >= state.minimum ? 1 : 0;
        }
        NVF_FUZZ_CHECK_MSG(fast.GetNumberOfComponents() == kept, "number of components kept");
        state.components = kept;
        // Every component gets one label (0 if removed), distinct labels 1..kept,
        // numbered by non-increasing size.
        std::vector<std::int64_t> labelOf(sizes.size(), -1);
        std::vector<std::uint64_t> labelSize(static_cast<std::size_t>(kept) + 1, 0);
        for (std::size_t i = 0; i < comp.size(); ++i) {
            const std::uint32_t label = output[i];
            if (comp[i] < 0) {
                NVF_FUZZ_CHECK_MSG(label == 0, "background labelled");
                continue;
            }
            const std::size_t c = static_cast<std::size_t>(comp[i]);
            NVF_FUZZ_CHECK_MSG(label <= static_cast<std::uint32_t>(kept), "label above the count");
            if (labelOf[c] < 0) {
                labelOf[c] = label;
            }
            NVF_FUZZ_CHECK_MSG(labelOf[c] == label, "a component has two labels");
            NVF_FUZZ_CHECK_MSG((label == 0) == (sizes[c] < state.minimum), "kept exactly the large enough components");
            ++labelSize[label];
        }
        for (std::int32_t l = 1; l <= kept; ++l) {
            NVF_FUZZ_CHECK_MSG(labelSize[static_cast<std::size_t>(l)] > 0, "a label in 1..count is missing");
            if (l > 1) {
                NVF_FUZZ_CHECK_MSG(labelSize[static_cast<std::size_t>(l)] <= labelSize[static_cast<std::size_t>(l - 1)],
                                   "labels are not numbered by non-increasing size");
            }
        }
        // The sizes and first voxels the filter reports: those of its labels, and the reference's.
        const std::vector<std::uint64_t>& reportedSizes = fast.getComponentSizes();
        const std::vector<std::uint64_t>& reportedFirst = fast.getFirstVoxels();
        NVF_FUZZ_CHECK_MSG(reportedSizes.size() == static_cast<std::size_t>(kept) &&
                               reportedFirst.size() == reportedSizes.size(),
                           "one size and one first voxel per kept component");
        NVF_FUZZ_CHECK_MSG(reportedSizes == reference.getComponentSizes() &&
                               reportedFirst == reference.getFirstVoxels(),
                           "fast path and reference report different sizes or first voxels");
        std::vector<std::uint64_t> firstOf(static_cast<std::size_t>(kept) + 1, ~std::uint64_t(0));
        for (std::size_t i = 0; i < comp.size(); ++i) {
            const std::uint32_t label = output[i];
            if (label != 0 && label <= static_cast<std::uint32_t>(kept) && firstOf[label] == ~std::uint64_t(0)) {
                firstOf[label] = i;
            }
        }
        for (std::size_t l = 1; l <= reportedSizes.size() && l <= static_cast<std::size_t>(kept); ++l) {
            NVF_FUZZ_CHECK_MSG(reportedSizes[l - 1] == labelSize[l], "a reported size is not its label's");
            NVF_FUZZ_CHECK_MSG(reportedFirst[l - 1] == firstOf[l], "a reported first voxel is not its label's");
        }
        std::vector<std::int64_t> seen(static_cast<std::size_t>(kept) + 1, -1);
        for (std::size_t c = 0; c < sizes.size(); ++c) {
            if (labelOf[c] > 0) {
                NVF_FUZZ_CHECK_MSG(seen[static_cast<std::size_t>(labelOf[c])] < 0, "two components share a label");
                seen[static_cast<std::size_t>(labelOf[c])] = static_cast<std::int64_t>(c);
            }
        }
        if (inPlace) {
            input = inputBefore;  // the next run labels the same voxels
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 2)) {
        case 0: run<unsigned char>(in); break;
        case 1: run<short>(in); break;
        default: run<std::uint32_t>(in); break;
    }
    return 0;
}
