// The line convolution, all five instantiations: lengths (0 and 1 included),
// strides, both resampling directions and any kernel. Accepted lines must equal
// the documented formula bit for bit and leave every sample off the output line
// alone; rejected ones must be exactly the documented cases and write nothing.
#include <FuzzSupport.h>

#include <cmath>
#include <functional>

using namespace nvf_fuzz;
using flt::CnKernel;
using flt::ImageConstIt;
using flt::ImageIt;

namespace {

template <class In, class Out>
using Scalar = flt::Cn1dSpatialFilter<In, Out, float, float, std::multiplies<float>, std::plus<float>,
                                      ImageConstIt<In>, ImageIt<Out>>;
using Vector = flt::Cn1dSpatialFilter<Vec3f, Vec3f, float, Vec3f, std::multiplies<float>, std::plus<float>,
                                      ImageConstIt<Vec3f>, ImageIt<Vec3f>>;

template <class In, class Out>
struct FilterOf {
    using type = Scalar<In, Out>;
};
template <>
struct FilterOf<Vec3f, Vec3f> {
    using type = Vector;
};

struct Geometry {
    std::uint64_t up = 1;
    std::uint64_t down = 1;
};

// Resampling factors from r = M / N in double, as documented.
Geometry geometry(unsigned int n, unsigned int m) {
    Geometry g;
    const double r = static_cast<double>(m) / static_cast<double>(n);
    if (r > 1.0) {
        g.up = static_cast<std::uint64_t>(std::floor(r + 0.5));
    } else if (r < 1.0) {
        g.down = static_cast<std::uint64_t>(std::floor(1.0 / r + 0.5));
    }
    return g;
}

// Sample p (p >= -h) of the up-sampled line of u = n * up samples mirrored
// about its first and its last sample without repeating them; -1 for a zero.
long long source(long long p, long long u, long long up) {
    if (p < 0) {
        p = -p;
    }
    if (p > u - 1) {
        p = 2 * (u - 1) - p;
        if (p < 0) {
            if (-p >= u) {
                return -1;
            }
            p = -p;
        }
    }
    return p % up == 0 ? p / up : -1;
}

// 8-bit results: clamped, rounded half up, not-a-number giving 0.
unsigned char toByte(double v) {
    if (v != v) return 0;
    if (v > 255.0) return 255;
    if (v < 0.0) return 0;
    return static_cast<unsigned char>(std::floor(v + 0.5));
}

template <class In, class Out>
void reference(const std::vector<In>& line, const std::vector<float>& taps, Geometry g, unsigned int m,
               std::vector<Out>& out) {
    const long long u = static_cast<long long>(line.size() * g.up);
    const long long h = static_cast<long long>(taps.size() / 2);
    out.resize(m);
    for (unsigned int j = 0; j < m; ++j) {
        if constexpr (std::is_same_v<In, Vec3f>) {
            Vec3f sum(0.0f, 0.0f, 0.0f);
            for (std::size_t k = 0; k < taps.size(); ++k) {
                const long long s = source(static_cast<long long>(j * g.down + k) - h, u, static_cast<long long>(g.up));
                const Vec3f v = s < 0 ? Vec3f() : line[static_cast<std::size_t>(s)];
                sum.x = sum.x + taps[k] * v.x;
                sum.y = sum.y + taps[k] * v.y;
                sum.z = sum.z + taps[k] * v.z;
            }
            const float gain = static_cast<float>(g.up);
            out[j] = Vec3f(sum.x * gain, sum.y * gain, sum.z * gain);
        } else {
            double sum = 0.0;
            for (std::size_t k = 0; k < taps.size(); ++k) {
                const long long s = source(static_cast<long long>(j * g.down + k) - h, u, static_cast<long long>(g.up));
                const double v = s < 0 ? 0.0 : static_cast<double>(line[static_cast<std::size_t>(s)]);
                sum += static_cast<double>(taps[k]) * v;
            }
            sum *= static_cast<double>(g.up);
            if constexpr (std::is_same_v<Out, unsigned char>) {
                out[j] = toByte(sum);
            } else {
                out[j] = static_cast<float>(sum);
            }
        }
    }
}

template <class In, class Out>
void run(FuzzedDataProvider& in) {
    const unsigned int n = dimension(in);
    const unsigned int m = dimension(in);
    const unsigned int inStride = in.ConsumeIntegralInRange<unsigned int>(0, 4);
    const unsigned int outStride = in.ConsumeIntegralInRange<unsigned int>(0, 4);
    const unsigned int inOffset = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    const unsigned int outOffset = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    const unsigned int taps = in.ConsumeIntegralInRange<unsigned int>(0, 12);
    const unsigned int center = in.ConsumeIntegralInRange<unsigned int>(0, 12);
    const bool nullInput = in.ConsumeIntegralInRange<unsigned int>(0, 15) == 15;
    const bool nullOutput = in.ConsumeIntegralInRange<unsigned int>(0, 15) == 15;
    const Encoding kernelEncoding = encoding(in);
    const Encoding voxelEncoding = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> kernelPool = in.ConsumeBytes<std::uint8_t>(taps * 4);
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();

    std::vector<float> values(taps);
    fill(values.data(), taps, kernelPool, kernelEncoding, false);
    CnKernel<float> kernel(values);
    kernel.setCenter(center);

    const std::size_t inSize = inOffset + (n == 0 ? 0 : std::size_t(n - 1) * std::max(inStride, 1u) + 1);
    const std::size_t outSize = outOffset + (m == 0 ? 0 : std::size_t(m - 1) * std::max(outStride, 1u) + 1);
    img::Image<In> input(static_cast<unsigned int>(inSize), 1, 1);
    img::Image<Out> output(static_cast<unsigned int>(outSize), 1, 1);
    fill(input, pool, voxelEncoding, constant);
    fill(output, pool, Encoding::Raw, false);  // whatever was there before
    const img::Image<In> inputBefore(input);

    typename FilterOf<In, Out>::type filter;
    filter.setKernel(kernel);
    filter.setInputData(nullInput ? ImageConstIt<In>() : ImageConstIt<In>(&input, inOffset), n, inStride);
    filter.setOutputData(nullOutput ? ImageIt<Out>() : ImageIt<Out>(&output, outOffset), m, outStride);

    const bool notInitialised = nullInput || nullOutput || n == 0 || m == 0 || inStride == 0 || outStride == 0;
    const Geometry g = notInitialised ? Geometry() : geometry(n, m);
    const bool shouldThrow = notInitialised || n < taps || (std::uint64_t(m) - 1) * g.down > std::uint64_t(n) * g.up;

    const img::Image<Out> outputBefore(output);
    const bool threw = throwsLeavingUntouched([&] { filter.execute(); }, output);
    NVF_FUZZ_CHECK_MSG(threw == shouldThrow, "rejected exactly the documented cases");
    NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is never written");
    if (threw) {
        return;
    }

    std::vector<In> line(n);
    for (unsigned int k = 0; k < n; ++k) {
        line[k] = input[inOffset + std::size_t(k) * inStride];
    }
    std::vector<Out> expected;
    reference(line, values, g, m, expected);
    for (std::size_t i = 0; i < outSize; ++i) {
        const bool onLine = i >= outOffset && (i - outOffset) % outStride == 0;
        if (!onLine) {
            NVF_FUZZ_CHECK_MSG(sameBytes(&output[i], &outputBefore[i], 1), "a sample off the output line changed");
        } else {
            NVF_FUZZ_CHECK_MSG(sameValue(output[i], expected[(i - outOffset) / outStride]),
                               "result differs from the documented formula");
        }
    }

    // A constant line filtered without up-sampling stays constant (times the
    // kernel's sum), up to the ends.
    if (constant && g.up == 1 && n > 0) {
        double kernelSum = 0.0;
        bool finite = true;
        for (float v : values) {
            kernelSum += v;
            finite = finite && std::isfinite(v);
        }
        if constexpr (std::is_same_v<Out, float>) {
            const double c = static_cast<double>(line[0]);
            const double want = c * kernelSum;
            if (finite && std::isfinite(want) && std::fabs(want) < 1e30) {
                double bound = 0.0;
                for (float v : values) {
                    bound += std::fabs(static_cast<double>(v) * c);
                }
                for (unsigned int j = 0; j < m; ++j) {
                    const double got = output[outOffset + std::size_t(j) * outStride];
                    NVF_FUZZ_CHECK_MSG(std::fabs(got - want) <= 1e-6 * bound + 1e-30, "constant line not constant");
                }
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 4)) {
        case 0: run<unsigned char, unsigned char>(in); break;
        case 1: run<unsigned char, float>(in); break;
        case 2: run<float, unsigned char>(in); break;
        case 3: run<float, float>(in); break;
        default: run<Vec3f, Vec3f>(in); break;
    }
    return 0;
}
