// The recursive volume filter, all six instantiations (8- and 16-bit, float,
// double, vectors): a sigma per axis (tiny, huge, not a number, infinite,
// negative), every derivative and invalid ones, every border mode and unknown
// ones, thin, single-slice and one-voxel volumes, mismatched outputs, in
// place. With the default border the result, and what is written before a
// pass fails, must equal the line filter run along every X, Y and Z line bit
// for bit; with another mode, on small finite volumes and sigmas, the line
// filter run along every line explicitly continued by the mode, to within
// rounding. Sigmas past the convergence limit must be rejected; mismatches,
// invalid derivatives and unknown modes write nothing.
#include <FuzzSupport.h>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

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

// The scalars of an image, one or three per voxel, as doubles.
template <class T>
std::vector<double> flatten(const img::Image<T>& image) {
    std::vector<double> out;
    for (std::size_t i = 0; i < image.getNumberOfVoxels(); ++i) {
        if constexpr (std::is_same_v<T, Vec3f>) {
            out.insert(out.end(), {image.data()[i].x, image.data()[i].y, image.data()[i].z});
        } else {
            out.push_back(static_cast<double>(image.data()[i]));
        }
    }
    return out;
}

// Sample k (any integer) of a line continued as the border mode says.
double continued(const std::vector<double>& x, long k, int mode, double value) {
    const long n = static_cast<long>(x.size());
    while (k < 0 || k >= n) {
        if (mode == 0) {
            return value;
        } else if (mode == 1 || n == 1) {
            return k < 0 ? x.front() : x.back();
        } else if (mode == 2) {
            k = k < 0 ? -k - 1 : 2 * n - 1 - k;
        } else if (mode == 3) {
            k = k < 0 ? -k : 2 * n - 2 - k;
        } else {
            k = ((k % n) + n) % n;
        }
    }
    return x[static_cast<std::size_t>(k)];
}

// The volume filter with a border mode by its definition: along X, Y, then Z
// (single slices not along Z), every line continued far enough for the far
// zeros of the line filter not to matter, stored in the output's scalar type
// after each pass. The constant continues the input, so after a derivative
// pass the lines are continued by 0. Returns the largest magnitude written.
template <class Out>
double modeReference(std::vector<double>& data, const unsigned int sizes[3], std::size_t comps,
                     const double sigmas[3], const unsigned int orders[3], int mode, double value) {
    using Line = flt::Cn1dRecursiveFilter<double, double, double*, double*>;
    using Scalar = std::conditional_t<std::is_same_v<Out, Vec3f>, float, Out>;
    const std::size_t strides[3] = {1, sizes[0], std::size_t(sizes[0]) * sizes[1]};
    const std::size_t voxels = strides[2] * sizes[2];
    double largest = std::abs(value);
    for (int axis = 0; axis < (sizes[2] > 1 ? 3 : 2); ++axis) {
        Line line;
        CnMatrix<double> M(0, 0);
        double B = 0, a1 = 0, a2 = 0, a3 = 0;
        line.computeFilterParameters(sigmas[axis], B, a1, a2, a3, M, orders[axis]);
        line.setParameters(B, a1, a2, a3, &M);
        line.setType(static_cast<Line::EnRecursiveFilterType>(orders[axis] + 1));
        const long n = sizes[axis];
        const long pad = static_cast<long>(std::ceil(30.0 * sigmas[axis])) + 30;
        std::vector<double> x(static_cast<std::size_t>(n)), ext(static_cast<std::size_t>(n + 2 * pad)), y(ext.size());
        for (std::size_t v = 0; v < voxels; ++v) {
            if ((v / strides[axis]) % sizes[axis] != 0) {
                continue;
            }
            for (std::size_t c = 0; c < comps; ++c) {
                for (long k = 0; k < n; ++k) {
                    x[k] = data[(v + k * strides[axis]) * comps + c];
                }
                for (long k = 0; k < n + 2 * pad; ++k) {
                    ext[k] = continued(x, k - pad, mode, value);
                }
                line.setInputData(ext.data(), static_cast<unsigned int>(ext.size()), 1);
                line.setOutputData(y.data(), static_cast<unsigned int>(y.size()), 1);
                line.execute();
                for (double w : y) {
                    largest = std::max(largest, std::abs(w));
                }
                for (long k = 0; k < n; ++k) {
                    data[(v + k * strides[axis]) * comps + c] = static_cast<Scalar>(y[k + pad]);
                }
            }
        }
        value = orders[axis] == 0 ? value : 0.0;
    }
    return largest;
}

// A run with a border mode: sigmas past the convergence limit rejected, vector
// derivatives rejected; on small volumes of finite values with ordinary sigmas,
// the definition to within rounding (float: 1e-4, double: 1e-9 of the largest
// value written), not-a-numbers where the definition has them.
template <class In, class Out>
void checkMode(const img::Image<In>& input, const img::Image<Out>& output, bool threw, const double sigmas[3],
               const unsigned int order[3], int mode, double value) {
    const unsigned int sizes[3] = {input.getSizeX(), input.getSizeY(), input.getSizeZ()};
    const bool zSkipped = sizes[2] == 1;
    bool convergent = true, ordinary = true;
    for (int a = 0; a < (zSkipped ? 2 : 3); ++a) {
        convergent = convergent && !(sigmas[a] > 110.0);
        ordinary = ordinary && sigmas[a] >= 0.0 && sigmas[a] <= 8.0;
    }
    if (output.getNumberOfVoxels() == 0 || (zSkipped && order[2] != 0)) {
        NVF_FUZZ_CHECK_MSG(!threw, "an empty volume or a Z derivative of a slice is not an error");
        return;
    }
    if (std::is_same_v<In, Vec3f> && (order[0] | order[1] | order[2]) != 0) {
        NVF_FUZZ_CHECK_MSG(threw, "a derivative of vectors is rejected");
        return;
    }
    if (!threw) {
        NVF_FUZZ_CHECK_MSG(convergent || kRelaxKnownFaults, "a sigma past the convergence limit (about 107) is rejected");
    }
    std::vector<double> expected = flatten(input);
    bool finite = true;
    for (double v : expected) {
        finite = finite && std::isfinite(v);
    }
    if (threw || !ordinary || !finite || input.getNumberOfVoxels() > 2048) {
        return;
    }
    const std::size_t comps = std::is_same_v<In, Vec3f> ? 3 : 1;
    const double largest = modeReference<Out>(expected, sizes, comps, sigmas, order, mode, value);
    const double tolerance = (std::is_same_v<Out, double> ? 1e-9 : 1e-4) * largest;
    const std::vector<double> got = flatten(output);
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(expected[i])) {
            NVF_FUZZ_CHECK_MSG(std::isnan(got[i]), "not a number where the definition has one");
        } else {
            // Equal infinities (float output past its range in both) match;
            // their difference is not a number.
            NVF_FUZZ_CHECK_MSG(got[i] == expected[i] || std::abs(got[i] - expected[i]) <= tolerance,
                               "differs from the line filter along every line continued by the mode");
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
    // Border: mostly the default, each mode, now and then any number.
    const int modeSelector = in.ConsumeIntegralInRange<int>(0, 8);
    const std::int32_t mode = modeSelector <= 4 ? modeSelector : modeSelector == 5 ? in.ConsumeIntegral<std::int32_t>() : 0;
    const double borderValue = mode == 0 && modeSelector == 0 ? in.ConsumeIntegralInRange<int>(-600, 600) / 4.0 : 0.0;
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
    filter.setBorderMode(static_cast<typename Filter::EnBorderMode>(mode), borderValue);
    bool threw = false;
    try {
        filter.execute(input, output);
    } catch (const com::norvane::Throwable&) {
        threw = true;
    }
    if (!inPlace) {
        NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
    }
    const bool invalid = derivative < 0 || derivative > 6 || mismatch || mode < 0 || mode > 4;
    if (invalid) {
        NVF_FUZZ_CHECK_MSG(threw, "an invalid derivative, an unknown border mode or a mismatched output is rejected");
        NVF_FUZZ_CHECK_MSG(sameImage(output, outputBefore), "a rejected call changed its output");
        return;
    }

    // The reference, from the state before the call.
    static const unsigned int orders[7][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                              {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    const unsigned int* order = orders[derivative];
    if (mode != 0 || borderValue != 0.0) {
        checkMode<In, Out>(inputBefore, output, threw, sigmas, order, mode, borderValue);
        return;
    }
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
