// The separable filter on 16-bit and real voxels: 16-bit levels are the exact
// weighted sums (double intermediates) rounded half up and clamped once at the
// end, against a straightforward reference on random full-range inputs of odd
// sizes; float and double images equal their line-by-line runs bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>

#include "ConvolutionTestSupport.h"

namespace {

using namespace convtest;
using Factory = nvf::CnKernelFactory<float>;
template <class T>
using Separable = nvf::CnSeparableFilter<T, T, float, float, std::multiplies<float>, std::plus<float>>;

// One axis of the reference: n samples (stride s) into m outputs (m <= n, a
// whole down-sampling factor or none), the line mirrored without repeating its
// end samples, tap K / 2 on the output sample; products and sums in double in
// kernel order.
void referenceLine(const double* in, std::size_t s, std::size_t n, double* out, std::size_t os, std::size_t m,
                   const std::vector<float>& taps) {
    const std::size_t down = m == n ? 1 : static_cast<std::size_t>(std::floor(double(n) / double(m) + 0.5));
    const long h = static_cast<long>(taps.size() / 2);
    for (std::size_t j = 0; j < m; ++j) {
        double sum = 0.0;
        for (std::size_t t = 0; t < taps.size(); ++t) {
            long i = static_cast<long>(j * down + t) - h;
            if (i < 0) {
                i = -i;
            }
            if (i > static_cast<long>(n) - 1) {
                i = 2 * (static_cast<long>(n) - 1) - i;
            }
            sum += static_cast<double>(taps[t]) * in[static_cast<std::size_t>(i) * s];
        }
        out[j * os] = sum;
    }
}

// What an intermediate of T keeps of a sum: float rounds after every pass,
// double and the 16-bit types (double intermediates) keep it.
template <class T>
void keep(std::vector<double>& v) {
    if (std::is_same_v<T, float>) {
        for (double& x : v) {
            x = static_cast<double>(static_cast<float>(x));
        }
    }
}

// The whole filter in double, each pass kept as T's intermediates keep it;
// integers rounded half up and clamped to T at the end.
template <class T>
Image<T> reference(const Image<T>& src, unsigned int oX, unsigned int oY, unsigned int oZ,
                   const std::vector<float>& tx, const std::vector<float>& ty, const std::vector<float>& tz) {
    const std::size_t iX = src.getSizeX(), iY = src.getSizeY(), iZ = src.getSizeZ();
    std::vector<double> a(src.getNumberOfVoxels());
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<double>(src[i]);
    }
    std::vector<double> b(oX * iY * iZ), c(oX * oY * iZ), d(std::size_t{oX} * oY * oZ);
    for (std::size_t r = 0; r < iY * iZ; ++r) {
        referenceLine(&a[r * iX], 1, iX, &b[r * oX], 1, oX, tx);
    }
    keep<T>(b);
    for (std::size_t z = 0; z < iZ; ++z) {
        for (std::size_t x = 0; x < oX; ++x) {
            referenceLine(&b[z * oX * iY + x], oX, iY, &c[z * oX * oY + x], oX, oY, ty);
        }
    }
    keep<T>(c);
    if (iZ == 1) {
        d = c;
    } else {
        for (std::size_t l = 0; l < std::size_t{oX} * oY; ++l) {
            referenceLine(&c[l], std::size_t{oX} * oY, iZ, &d[l], std::size_t{oX} * oY, oZ, tz);
        }
    }
    keep<T>(d);
    Image<T> out(oX, oY, iZ == 1 ? 1 : oZ);
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        if constexpr (std::is_integral_v<T>) {
            const double lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
            const double r = std::floor(d[i] + 0.5);
            out[i] = static_cast<T>(r < lo ? lo : (r > hi ? hi : r));
        } else {
            out[i] = static_cast<T>(d[i]);
        }
    }
    return out;
}

struct TypesCase {
    Size3 in;
    Size3 out;
};

const std::vector<TypesCase> kShapes = {
    {{23, 1, 1}, {12, 1, 1}}, {{9, 14, 1}, {5, 7, 1}},  {{13, 11, 7}, {7, 6, 4}},
    {{7, 9, 11}, {7, 9, 11}}, {{5, 5, 5}, {3, 3, 3}},   {{64, 33, 9}, {32, 17, 5}},
};

const std::vector<std::vector<float>> kKernels = {
    {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f},  // the pyramid: every sum exact in double
    {0.3183099f, -0.4142136f, 1.0958904f},     // negative taps: results beyond the range clamp
    {1.0f},
};

// The taps of an axis of n samples: `taps` if the axis is long enough, else
// the identity.
std::vector<float> tapsFor(const std::vector<float>& taps, unsigned int n) {
    return n >= taps.size() ? taps : std::vector<float>{1.0f};
}

// The filter of T with those taps on every axis (the identity on short axes).
template <class T>
Image<T> filtered(const Image<T>& src, const Size3& out, const std::vector<float>& taps) {
    Separable<T> f;
    setKernels(f, nvf::CnKernel<float>(tapsFor(taps, src.getSizeX())),
               nvf::CnKernel<float>(tapsFor(taps, src.getSizeY())), nvf::CnKernel<float>(tapsFor(taps, src.getSizeZ())));
    Image<T> got(out.x, out.y, out.z);
    f.execute(src, got);
    return got;
}

template <class T>
Image<T> referenceOf(const Image<T>& src, const Size3& out, const std::vector<float>& taps) {
    return reference(src, out.x, out.y, out.z, tapsFor(taps, src.getSizeX()), tapsFor(taps, src.getSizeY()),
                     tapsFor(taps, src.getSizeZ()));
}

template <class T>
void expectExact16() {
    std::mt19937 rng(161);
    for (const TypesCase& c : kShapes) {
        for (const std::vector<float>& taps : kKernels) {
            Image<T> src = randomImage<T>(c.in, rng);
            // The extremes, where a float intermediate would lose bits.
            for (std::size_t i = 0; i < src.getNumberOfVoxels(); i += 5) {
                src[i] = std::numeric_limits<T>::max();
            }
            for (std::size_t i = 1; i < src.getNumberOfVoxels(); i += 7) {
                src[i] = std::numeric_limits<T>::min();
            }
            EXPECT_TRUE(sameBits(filtered(src, c.out, taps), referenceOf(src, c.out, taps)))
                << describe(c.in) << " taps " << taps.size();
        }
    }
}

TEST(CnSeparableFilterTypes, SixteenBitLevelsAreExactSumsRoundedOnce) {
    expectExact16<unsigned short>();
    expectExact16<short>();
}

template <class T>
void expectRealPasses() {
    std::mt19937 rng(171);
    for (const TypesCase& c : kShapes) {
        for (const std::vector<float>& taps : kKernels) {
            const Image<T> src = randomImage<T>(c.in, rng);
            EXPECT_TRUE(sameBits(filtered(src, c.out, taps), referenceOf(src, c.out, taps)))
                << describe(c.in) << " taps " << taps.size();
        }
    }
    // float: the line filter of the library gives the same bits.
    if constexpr (std::is_same_v<T, float>) {
        const Image<float> src = randomImage<float>({13, 11, 7}, rng);
        Separable<float> f;
        const nvf::CnKernel<float> k = Factory::smooth(0.4f);
        setKernels(f, k, k, k);
        Image<float> got(7, 6, 4), expected(7, 6, 4);
        f.execute(src, got);
        separableByLines<float, float, float>(src, expected, k, k, k);
        EXPECT_TRUE(sameBits(got, expected));
    }
}

TEST(CnSeparableFilterTypes, RealImagesRoundAfterEveryPass) {
    expectRealPasses<float>();
    expectRealPasses<double>();
}

TEST(CnSeparableFilterTypes, NotANumberKernelGivesZeroInSixteenBits) {
    // A tap that is not a number makes every sum not a number: 16-bit results
    // are then 0 (defined), never an undefined conversion.
    Image<unsigned short> src(6, 5, 1);
    src.fill(1000);
    Separable<unsigned short> f;
    const nvf::CnKernel<float> k(std::vector<float>{std::numeric_limits<float>::quiet_NaN()});
    setKernels(f, k, k, k);
    Image<unsigned short> out(6, 5, 1);
    out.fill(7);
    f.execute(src, out);
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        EXPECT_EQ(out[i], 0u);
    }
}

}  // namespace
