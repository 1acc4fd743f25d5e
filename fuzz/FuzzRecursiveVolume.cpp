// The recursive volume filter, all six instantiations (8- and 16-bit, float,
// double, vectors): a sigma per axis (tiny, huge, not a number, infinite,
// negative), every derivative and invalid ones,
// thin, single-slice and one-voxel volumes, mismatched outputs, in place. The
// result, and what is written before a pass fails, must equal the line filter
// run along every X, Y and Z line bit for bit; sigmas past the convergence
// limit must be rejected; mismatches and invalid derivatives write nothing.
#include <FuzzSupport.h>

#include <cmath>

using namespace nvf_fuzz;
using com::norvane::math::CnMatrix;
using flt::ImageConstIt;
using flt::ImageIt;

namespace {

// Runs the line filter along every line of `axis` from src into dst (which may
// be the same image); computes the coefficients first, as the volume filter does.
template <class In, class Out>
void linePass(const img::Image<In>& src, img::Image<Out>& dst, int axis, double sigma, unsigned int order) {
    using Line = flt::Cn1dRecursiveFilter<In, Out, ImageConstIt<In>, ImageIt<Out>>;
    Line line;
    CnMatrix<double> M(0, 0);
    double B = 0, a1 = 0, a2 = 0, a3 = 0;
    line.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    line.setParameters(B, a1, a2, a3, &M);
    line.setType(static_cast<typename Line::EnRecursiveFilterType>(order + 1));
    const std::size_t sx = src.getSizeX(), sy = src.getSizeY(), sz = src.getSizeZ();
    const unsigned int n = static_cast<unsigned int>(axis == 0 ? sx : axis == 1 ? sy : sz);
    const unsigned int stride = static_cast<unsigned int>(axis == 0 ? 1 : axis == 1 ? sx : sx * sy);
    for (std::size_t z = 0; z < (axis == 2 ? 1 : sz); ++z) {
        for (std::size_t y = 0; y < (axis == 1 ? 1 : sy); ++y) {
            for (std::size_t x = 0; x < (axis == 0 ? 1 : sx); ++x) {
                const std::size_t s = x + sx * (y + sy * z);
                line.setInputData(ImageConstIt<In>(&src, s), n, stride);
                line.setOutputData(ImageIt<Out>(&dst, s), n, stride);
                line.execute();
            }
        }
    }
}

template <class In, class Out>
void run(FuzzedDataProvider& in) {
    using Filter = flt::CnRecursiveFilter<In, Out>;
    const unsigned int x = dimension(in), y = dimension(in), z = dimension(in);
    const double sigmas[3] = {sigma(in), sigma(in), sigma(in)};
    const std::int32_t derivative =
        in.ConsumeIntegralInRange<int>(0, 9) == 9 ? in.ConsumeIntegral<std::int32_t>() : in.ConsumeIntegralInRange(0, 6);
    const bool inPlace = std::is_same_v<In, Out> && in.ConsumeBool();
    const bool mismatch = !inPlace && in.ConsumeIntegralInRange<int>(0, 9) == 9;
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 4 * sizeof(Out)) || std::size_t(x) * y * z > (1u << 18)) {
        return;
    }

    img::Image<In> input(x, y, z);
    fill(input, pool, enc, constant);
    const img::Image<In> inputBefore(input);
    img::Image<Out> separate(x + (mismatch ? 1 : 0), y, z);
    fill(separate, pool, Encoding::Raw, false);
    img::Image<Out>* outputPointer = &separate;
    if constexpr (std::is_same_v<In, Out>) {
        if (inPlace) {
            outputPointer = &input;
        }
    }
    img::Image<Out>& output = *outputPointer;
    const img::Image<Out> outputBefore(output);

    Filter filter;
    filter.setSigma(sigmas[0], sigmas[1], sigmas[2]);
    filter.setDerivative(static_cast<typename Filter::EnDerivativeType>(derivative));
    bool threw = false;
    try {
        filter.execute(input, output);
    } catch (const com::norvane::Throwable&) {
        threw = true;
    }
    if (!inPlace) {
        NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
    }
    const bool invalid = derivative < 0 || derivative > 6 || mismatch;
    if (invalid) {
        NVF_FUZZ_CHECK_MSG(threw, "an invalid derivative or a mismatched output is rejected");
        NVF_FUZZ_CHECK_MSG(sameImage(output, outputBefore), "a rejected call changed its output");
        return;
    }

    // The reference, from the state before the call.
    static const unsigned int orders[7][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                              {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    const unsigned int* order = orders[derivative];
    img::Image<Out> expected(outputBefore);
    bool referenceThrew = false;
    if (expected.getNumberOfVoxels() != 0) {
        if (z == 1 && order[2] != 0) {
            expected.fill(Out());
        } else {
            try {
                linePass<In, Out>(inputBefore, expected, 0, sigmas[0], order[0]);
                linePass<Out, Out>(expected, expected, 1, sigmas[1], order[1]);
                if (z > 1) {
                    linePass<Out, Out>(expected, expected, 2, sigmas[2], order[2]);
                }
            } catch (const com::norvane::Throwable&) {
                referenceThrew = true;
            }
            if (!threw) {
                const bool huge = sigmas[0] > 110.0 || sigmas[1] > 110.0 || (z > 1 && sigmas[2] > 110.0);
                NVF_FUZZ_CHECK_MSG(!huge || kRelaxKnownFaults, "a sigma past the convergence limit (about 107) is rejected");
            }
        }
    }
    NVF_FUZZ_CHECK_MSG(threw == referenceThrew, "fails where the line filter fails");
    NVF_FUZZ_CHECK_MSG(sameResult(output, expected), "differs from the line filter run along every line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 5)) {
        case 0: run<unsigned char, float>(in); break;
        case 1: run<float, float>(in); break;
        case 2: run<double, double>(in); break;
        case 3: run<unsigned short, float>(in); break;
        case 4: run<short, float>(in); break;
        default: run<Vec3f, Vec3f>(in); break;
    }
    return 0;
}
