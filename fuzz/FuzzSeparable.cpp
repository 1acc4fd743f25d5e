// The separable filter and the pyramid: any kernels per axis (the pyramid
// kernel among them), output sizes equal, halved, doubled or arbitrary, thin and
// empty images. An accepted run of 8-bit or vector voxels must equal the line
// filter run pass after pass (X, then Y, then Z with float intermediates) bit
// for bit; one of 16-bit, float or double voxels the sums in double pass after
// pass, kept as the voxel type keeps them (16-bit: rounded half up and clamped
// once at the end); a rejected run must be one of the documented cases and
// leave the output as it was.
#include <FuzzSupport.h>

#include <functional>
#include <limits>
#include <type_traits>

#include <nvfiltering/convolution/detail/ConvolutionLine.h>

using namespace nvf_fuzz;
using flt::CnCoord;
using flt::CnKernel;
using flt::CnKernelFactory;
using flt::ImageConstIt;
using flt::ImageIt;

namespace {

template <class In, class Out, class = void>
struct Types;
template <>
struct Types<unsigned char, unsigned char> {
    using Mid = float;
    using Filter = flt::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>,
                                          std::plus<float>>;
    template <class A, class B>
    using Line = flt::Cn1dSpatialFilter<A, B, float, float, std::multiplies<float>, std::plus<float>,
                                        ImageConstIt<A>, ImageIt<B>>;
};
template <>
struct Types<Vec3f, Vec3f> {
    using Mid = Vec3f;
    using Filter = flt::CnSeparableFilter<Vec3f, Vec3f, float, Vec3f, std::multiplies<float>, std::plus<float>>;
    template <class A, class B>
    using Line = flt::Cn1dSpatialFilter<A, B, float, Vec3f, std::multiplies<float>, std::plus<float>,
                                        ImageConstIt<A>, ImageIt<B>>;
};

// Filters every line of `src` along `axis` (0, 1, 2) into `dst`, whose
// dimension along that axis may differ.
template <class LineFilter, class A, class B>
void pass(const CnKernel<float>& kernel, int axis, const img::Image<A>& src, img::Image<B>& dst) {
    LineFilter line;
    line.setKernel(kernel);
    const std::size_t sx = src.getSizeX(), sy = src.getSizeY();
    const std::size_t dx = dst.getSizeX(), dy = dst.getSizeY();
    const unsigned int n = axis == 0 ? src.getSizeX() : axis == 1 ? src.getSizeY() : src.getSizeZ();
    const unsigned int m = axis == 0 ? dst.getSizeX() : axis == 1 ? dst.getSizeY() : dst.getSizeZ();
    const unsigned int inStride = static_cast<unsigned int>(axis == 0 ? 1 : axis == 1 ? sx : sx * sy);
    const unsigned int outStride = static_cast<unsigned int>(axis == 0 ? 1 : axis == 1 ? dx : dx * dy);
    for (std::size_t z = 0; z < (axis == 2 ? 1 : dst.getSizeZ()); ++z) {
        for (std::size_t y = 0; y < (axis == 1 ? 1 : dst.getSizeY()); ++y) {
            for (std::size_t x = 0; x < (axis == 0 ? 1 : dst.getSizeX()); ++x) {
                line.setInputData(ImageConstIt<A>(&src, x + sx * (y + sy * z)), n, inStride);
                line.setOutputData(ImageIt<B>(&dst, x + dx * (y + dy * z)), m, outStride);
                line.execute();
            }
        }
    }
}

CnKernel<float> makeKernel(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 4)) {
        case 0: return CnKernelFactory<float>::smooth(0.375f);
        case 1: return CnKernelFactory<float>::smooth(in.ConsumeIntegral<std::uint8_t>() / 128.0f);
        case 2: return CnKernelFactory<float>::id();
        default: {
            const unsigned int taps = in.ConsumeIntegralInRange<unsigned int>(0, 9);
            const Encoding enc = encoding(in);
            const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(4 * taps);
            std::vector<float> values(taps);
            fill(values.data(), taps, bytes, enc, false);
            return CnKernel<float>(values);
        }
    }
}

unsigned int outputSize(FuzzedDataProvider& in, unsigned int n) {
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 4)) {
        case 0: return n;
        case 1: return n / 2;
        case 2: return (n + 1) / 2;
        case 3: return 2 * n;
        default: return dimension(in);
    }
}

bool tooLong(unsigned int n, unsigned int m) {
    const double r = static_cast<double>(m) / static_cast<double>(n);
    std::uint64_t up = 1, down = 1;
    if (r > 1.0) up = static_cast<std::uint64_t>(std::floor(r + 0.5));
    if (r < 1.0) down = static_cast<std::uint64_t>(std::floor(1.0 / r + 0.5));
    return (std::uint64_t(m) - 1) * down > std::uint64_t(n) * up;
}

// One axis of the double reference: every line of `src` along `axis` into
// `dst`, out[j] = up * (0 + sum over taps of tap * padded[j * down + k]) with
// the padded line of the line filter (mirrored ends, zeros inserted; -0 and +0
// are told apart, so the terms added are exactly the filter's).
void referencePass(const CnKernel<float>& kernel, int axis, const std::vector<double>& src, const unsigned int (&sn)[3],
                   std::vector<double>& dst, const unsigned int (&dn)[3]) {
    const unsigned int n = sn[axis], m = dn[axis];
    const flt::detail::LineGeometry g = flt::detail::lineGeometry(n, m, kernel.size());
    const std::vector<std::int64_t> map = flt::detail::paddedSourceMap(g);
    const std::size_t sStride = axis == 0 ? 1 : axis == 1 ? sn[0] : std::size_t{sn[0]} * sn[1];
    const std::size_t dStride = axis == 0 ? 1 : axis == 1 ? dn[0] : std::size_t{dn[0]} * dn[1];
    for (std::size_t z = 0; z < (axis == 2 ? 1 : dn[2]); ++z) {
        for (std::size_t y = 0; y < (axis == 1 ? 1 : dn[1]); ++y) {
            for (std::size_t x = 0; x < (axis == 0 ? 1 : dn[0]); ++x) {
                const std::size_t s0 = x + sn[0] * (y + std::size_t{sn[1]} * z);
                const std::size_t d0 = x + dn[0] * (y + std::size_t{dn[1]} * z);
                for (std::size_t j = 0; j < m; ++j) {
                    double sum = 0.0;
                    for (std::size_t k = 0; k < kernel.size(); ++k) {
                        const std::int64_t at = map[j * g.down + k];
                        const double tap = static_cast<double>(kernel.begin()[k]);
                        if (at < 0 && axis > 0 && std::isfinite(tap)) {
                            continue;  // the Y and Z passes leave out a finite tap times an inserted zero
                        }
                        const double v = at >= 0 ? src[s0 + static_cast<std::size_t>(at) * sStride] : 0.0;
                        sum += tap * v;
                    }
                    dst[d0 + j * dStride] = sum * static_cast<double>(g.up);
                }
            }
        }
    }
}

template <class T>
void keepAsIntermediate(std::vector<double>& v) {
    if (std::is_same_v<T, float>) {
        for (double& x : v) {
            x = static_cast<double>(static_cast<float>(x));
        }
    }
}

template <class T>
T finalValue(double v) {
    if constexpr (std::is_integral_v<T>) {
        if (v != v) {
            return T(0);
        }
        const double r = std::floor(v + 0.5);
        const double lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
        return static_cast<T>(r < lo ? lo : (r > hi ? hi : r));
    } else {
        return static_cast<T>(v);
    }
}

template <class T>
constexpr bool kDoublePasses = std::is_same_v<T, unsigned short> || std::is_same_v<T, short> ||
                               std::is_same_v<T, float> || std::is_same_v<T, double>;
template <class T>
struct Types<T, T, std::enable_if_t<kDoublePasses<T>>> {
    using Mid = double;
    using Filter = flt::CnSeparableFilter<T, T, float, float, std::multiplies<float>, std::plus<float>>;
};

template <class T>
void run(FuzzedDataProvider& in) {
    using Mid = typename Types<T, T>::Mid;
    const unsigned int x = dimension(in), y = dimension(in), z = in.ConsumeIntegralInRange<unsigned int>(0, 40);
    const unsigned int ox = outputSize(in, x), oy = outputSize(in, y), oz = outputSize(in, z);
    if (!fits(x, y, z, 8 * sizeof(Mid)) || !fits(ox, oy, oz, 2 * sizeof(T)) || !fits(ox, y, z, 4 * sizeof(Mid)) ||
        !fits(ox, oy, z, 4 * sizeof(Mid)) || x * std::size_t(y) * z > (1u << 20) ||
        ox * std::size_t(oy) * oz > (1u << 20)) {
        return;
    }
    typename Types<T, T>::Filter filter;
    CnKernel<float> kernels[3] = {CnKernelFactory<float>::id(), CnKernelFactory<float>::id(),
                                  CnKernelFactory<float>::id()};
    const unsigned int settings = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    for (unsigned int s = 0; s < settings; ++s) {
        const CnKernel<float> k = makeKernel(in);
        const std::int32_t axis = in.ConsumeIntegral<std::int32_t>();
        filter.setKernel(k, static_cast<CnCoord::Axis>(axis));
        for (int a = 0; a < 3; ++a) {
            if (axis & (1 << a)) {
                kernels[a] = k;
            }
        }
    }
    const std::int32_t asked = in.ConsumeIntegral<std::int32_t>();
    const int first = (asked & 1) ? 0 : (asked & 2) ? 1 : (asked & 4) ? 2 : -1;
    const CnKernel<float>* got = nullptr;
    const bool unknownAxis = throws([&] { got = &filter.getKernel(static_cast<CnCoord::Axis>(asked)); });
    NVF_FUZZ_CHECK(unknownAxis == (first < 0));
    if (got) {
        NVF_FUZZ_CHECK(got->size() == kernels[first].size() && got->getCenter() == kernels[first].getCenter() &&
                       sameBytes(got->begin(), kernels[first].begin(), got->size()));
    }

    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    img::Image<T> input(x, y, z), output(ox, oy, oz);
    fill(input, pool, enc, constant);
    fill(output, pool, Encoding::Raw, false);
    const img::Image<T> inputBefore(input), outputBefore(output);

    const bool volume = z > 1;
    const bool shouldThrow = x == 0 || y == 0 || z == 0 || ox == 0 || oy == 0 || oz == 0 || x < kernels[0].size() ||
                             y < kernels[1].size() || (volume && z < kernels[2].size()) || tooLong(x, ox) ||
                             tooLong(y, oy) || (volume && tooLong(z, oz));
    const bool threw = throwsLeavingUntouched([&] { filter.execute(input, output); }, output);
    NVF_FUZZ_CHECK_MSG(threw == shouldThrow, "rejected exactly the documented cases");
    NVF_FUZZ_CHECK(sameImage(input, inputBefore));
    if (threw) {
        return;
    }

    if constexpr (kDoublePasses<T>) {
        // The reference: the sums in double, pass after pass.
        const unsigned int dims[3] = {x, y, z}, afterXDims[3] = {ox, y, z}, afterYDims[3] = {ox, oy, z};
        const unsigned int outDims[3] = {ox, oy, volume ? oz : 1u};
        std::vector<double> a(input.getNumberOfVoxels()), b(std::size_t{ox} * y * z), c(std::size_t{ox} * oy * z);
        for (std::size_t i = 0; i < a.size(); ++i) {
            a[i] = static_cast<double>(input[i]);
        }
        referencePass(kernels[0], 0, a, dims, b, afterXDims);
        keepAsIntermediate<T>(b);
        referencePass(kernels[1], 1, b, afterXDims, c, afterYDims);
        keepAsIntermediate<T>(c);
        std::vector<double> d = c;
        if (volume) {
            d.assign(std::size_t{ox} * oy * oz, 0.0);
            referencePass(kernels[2], 2, c, afterYDims, d, outDims);
        }
        img::Image<T> expected(outputBefore);
        for (std::size_t i = 0; i < d.size(); ++i) {
            expected[i] = finalValue<T>(d[i]);
        }
        NVF_FUZZ_CHECK_MSG(sameResult(output, expected), "differs from the double sums pass after pass");
        return;
    } else {
    // The reference: the line filter along every line, pass after pass.
    using Types2 = Types<T, T>;
    img::Image<Mid> afterX(ox, y, z), afterY(ox, oy, z);
    img::Image<T> expected(outputBefore);
    pass<typename Types2::template Line<T, Mid>>(kernels[0], 0, input, afterX);
    if (volume) {
        img::Image<T> result(ox, oy, oz);
        pass<typename Types2::template Line<Mid, Mid>>(kernels[1], 1, afterX, afterY);
        pass<typename Types2::template Line<Mid, T>>(kernels[2], 2, afterY, result);
        expected = result;
    } else {
        img::Image<T> slice(ox, oy, 1);
        pass<typename Types2::template Line<Mid, T>>(kernels[1], 1, afterX, slice);
        std::memcpy(expected.data(), slice.data(), slice.getNumberOfVoxels() * sizeof(T));
    }
    NVF_FUZZ_CHECK_MSG(sameResult(output, expected), "differs from the line filter run pass after pass");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 7)) {
        case 0: run<Vec3f>(in); break;
        case 1: run<unsigned short>(in); break;
        case 2: run<short>(in); break;
        case 3: run<float>(in); break;
        case 4: run<double>(in); break;
        default: run<unsigned char>(in); break;
    }
    return 0;
}
