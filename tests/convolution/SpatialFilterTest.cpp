// The line filter against a naive reference: mirroring, resampling both ways,
// strides, rounding to bytes and its refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <nvcore/Throwable.h>
#include <nvfiltering/convolution/Cn1dSpatialFilter.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/framework/CnMessages.h>

#include "convolution/ConvolutionTestSupport.h"

using namespace convtest;
using Factory = nvf::CnKernelFactory<float>;
namespace msg = nvf::messages;

namespace {

// Runs a filter on a line held in its own image; returns the output line.
template <class In, class Out, class Acc = float>
std::vector<Out> filterLine(const std::vector<In>& x, std::size_t m, const nvf::CnKernel<float>& k,
                            Out fill = Out()) {
    Image<In> in(static_cast<unsigned int>(x.size()), 1, 1);
    for (std::size_t i = 0; i < x.size(); ++i) {
        in[i] = x[i];
    }
    Image<Out> out(static_cast<unsigned int>(m), 1, 1);
    out.fill(fill);
    LineFilter<In, Out, Acc> f;
    f.setKernel(k);
    f.setInputData(in.begin(), static_cast<unsigned int>(x.size()), 1);
    f.setOutputData(out.begin(), static_cast<unsigned int>(m), 1);
    f.execute();
    return std::vector<Out>(out.data(), out.data() + m);
}

const nvf::CnKernel<float> k123(std::vector<float>{1, 2, 3});

// Expects f.execute() to throw a Throwable with `message` and the ordinary class path.
template <class F>
void expectThrows(F& f, const char* message) {
    try {
        f.execute();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const com::norvane::Throwable& e) {
        EXPECT_EQ(e.getMessage(), message);
        EXPECT_STREQ(e.what(), message);
        EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
    }
}

}  // namespace

TEST(Cn1dSpatialFilter, WorkedExampleMirrorsWithoutRepeatingTheEdge) {
    const std::vector<float> out = filterLine<float, float>({10, 20, 30, 40, 50}, 5, k123);
    EXPECT_EQ(out, (std::vector<float>{100, 140, 200, 260, 260}));
    // The kernel's own centre does not move the window: tap K / 2 meets the output sample.
    nvf::CnKernel<float> shifted = k123;
    shifted.setCenter(0);
    EXPECT_EQ((filterLine<float, float>({10, 20, 30, 40, 50}, 5, shifted)), out);
    shifted.setCenter(2);
    EXPECT_EQ((filterLine<float, float>({10, 20, 30, 40, 50}, 5, shifted)), out);
}

TEST(Cn1dSpatialFilter, EvenKernelMirrorsOneMoreSampleOnTheRight) {
    // K = 4, h = 2: padded line x2 x1 | x0 .. x4 | x3 x2 x1 (right end K - h = 2 used).
    const nvf::CnKernel<float> k(std::vector<float>{1, 10, 100, 1000});
    const std::vector<float> out = filterLine<float, float>({1, 2, 3, 4, 5}, 5, k);
    EXPECT_EQ(out[0], 3 + 10 * 2 + 100 * 1 + 1000 * 2);
    EXPECT_EQ(out[4], 3 + 10 * 4 + 100 * 5 + 1000 * 4);
}

TEST(Cn1dSpatialFilter, StridedLinesReadAndWriteOnlyTheirSamples) {
    Image<float> in(3, 5, 1), out(2, 5, 1);
    for (unsigned int y = 0; y < 5; ++y) {
        in(1, y, 0) = static_cast<float>(10 * (y + 1));
        in(0, y, 0) = in(2, y, 0) = -1000.0f;
    }
    out.fill(-7.0f);
    LineFilter<float, float> f;
    f.setKernel(k123);
    f.setInputData(in.begin() + 1, 5, 3);
    f.setOutputData(out.begin() + 1, 5, 2);
    f.execute();
    const float expected[5] = {100, 140, 200, 260, 260};
    for (unsigned int y = 0; y < 5; ++y) {
        EXPECT_EQ(out(1, y, 0), expected[y]);
        EXPECT_EQ(out(0, y, 0), -7.0f);
    }
}

TEST(Cn1dSpatialFilter, ConstantLineStaysConstantWhenSmoothedUpAndDown) {
    const std::vector<float> line(12, 8.0f);
    for (std::size_t m : {12u, 24u, 6u}) {
        const std::vector<float> out = filterLine<float, float>(line, m, Factory::smooth(0.375f));
        ASSERT_EQ(out.size(), m);
        for (float v : out) {
            EXPECT_EQ(v, 8.0f) << "M = " << m;
        }
    }
}

TEST(Cn1dSpatialFilter, UpsamplingInsertsZerosAndMultipliesByTheFactor) {
    // M = 2N: up-sampled line 1 0 2 0 3 0 4 0, mirrored; identity kernel picks s(j) * 2.
    EXPECT_EQ((filterLine<float, float>({1, 2, 3, 4}, 8, Factory::id())), (std::vector<float>{2, 0, 4, 0, 6, 0, 8, 0}));
    // With [1, 1, 1] each output sums its neighbourhood of the zero-stuffed line, doubled; the
    // right end mirrors about the last (inserted) zero, so the last output sees 4 twice.
    const std::vector<float> out = filterLine<float, float>({1, 2, 3, 4}, 8, nvf::CnKernel<float>({1, 1, 1}));
    EXPECT_EQ(out, (std::vector<float>{2, 6, 4, 10, 6, 14, 8, 16}));
    // M = 3N gives up = 3.
    const std::vector<float> up3 = filterLine<float, float>({5, 7}, 6, Factory::id());
    EXPECT_EQ(up3, (std::vector<float>{15, 0, 0, 21, 0, 0}));
}

TEST(Cn1dSpatialFilter, DownsamplingCentresTheKernelOnEveryDownthSample) {
    const std::vector<float> x{10, 20, 30, 40, 50, 60, 70, 80};
    const std::vector<float> out = filterLine<float, float>(x, 4, k123);
    // Output j is the kernel centred on input 2j.
    EXPECT_EQ(out, (std::vector<float>{1 * 20 + 2 * 10 + 3 * 20, 1 * 20 + 2 * 30 + 3 * 40, 1 * 40 + 2 * 50 + 3 * 60,
                                       1 * 60 + 2 * 70 + 3 * 80}));
    // N / M = 2.5 rounds to 3.
    EXPECT_EQ((filterLine<float, float>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 4, Factory::id())),
              (std::vector<float>{1, 4, 7, 10}));
}

TEST(Cn1dSpatialFilter, RatioIsTakenInDoublePrecision) {
    // 1 / (2 / 5) = 2.5 exactly in double: down = 3. (In float, 1 / 0.4f is just below 2.5.)
    EXPECT_EQ((filterLine<float, float>({1, 2, 3, 4, 5}, 2, Factory::id())), (std::vector<float>{1, 4}));
}

TEST(Cn1dSpatialFilter, EightBitOutputClampsAndRoundsHalvesUp) {
    const std::vector<unsigned char> out =
        filterLine<float, unsigned char>({254.5f, -0.2f, 300.0f, 0.49f, 127.5f}, 5, Factory::id());
    EXPECT_EQ(out, (std::vector<unsigned char>{255, 0, 255, 0, 128}));
    // 8-bit input to 8-bit output with a gain: 100 * 2.6 = 260 clamps; 100 * 1.225 = 122.5 rounds up.
    EXPECT_EQ((filterLine<unsigned char, unsigned char>({100, 100, 100}, 3, nvf::CnKernel<float>({2.6f}))),
              (std::vector<unsigned char>(3, 255)));
    EXPECT_EQ((filterLine<unsigned char, unsigned char>({100}, 1, nvf::CnKernel<float>({1.225f})))[0], 123);
}

TEST(Cn1dSpatialFilter, ScalarSumsInDoubleAndRoundsOnce) {
    // Output 3 adds 1 and six terms of 3e-8: a float sum would stay at 1, a double sum
    // rounded once to float does not.
    const std::vector<float> in{1.0f, 3e-8f, 3e-8f, 3e-8f, 3e-8f, 3e-8f, 3e-8f};
    const std::vector<float> ones(7, 1.0f);
    const std::vector<float> out = filterLine<float, float>(in, 7, nvf::CnKernel<float>(ones));
    const std::vector<double> expected = referenceLine(std::vector<double>(in.begin(), in.end()), 7, ones);
    for (std::size_t j = 0; j < out.size(); ++j) {
        EXPECT_EQ(out[j], static_cast<float>(expected[j])) << j;
    }
    EXPECT_GT(out[3], 1.0f);
}

TEST(Cn1dSpatialFilter, RandomLinesMatchTheNaiveReferenceForEveryScalarType) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> len(1, 40);
    std::uniform_int_distribution<int> taps(1, 8);
    int checked = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = static_cast<std::size_t>(len(rng));
        const std::size_t m = static_cast<std::size_t>(len(rng)) * (trial % 3 == 0 ? 2 : 1);
        const std::vector<float> kv = randomKernel(static_cast<std::size_t>(taps(rng)), rng);
        if (!pairAccepted(n, m, kv.size())) {
            continue;
        }
        ++checked;
        std::vector<unsigned char> xb(n);
        std::vector<float> xf(n);
        std::vector<double> xbd(n), xfd(n);
        for (std::size_t i = 0; i < n; ++i) {
            xb[i] = static_cast<unsigned char>(rng() % 256);
            xf[i] = static_cast<float>(static_cast<int>(rng() % 20001) - 10000) / 37.0f;
            xbd[i] = xb[i];
            xfd[i] = xf[i];
        }
        const nvf::CnKernel<float> k(kv);
        const std::vector<double> rb = referenceLine(xbd, m, kv), rf = referenceLine(xfd, m, kv);
        const auto bb = filterLine<unsigned char, unsigned char>(xb, m, k);
        const auto bf = filterLine<unsigned char, float>(xb, m, k);
        const auto fb = filterLine<float, unsigned char>(xf, m, k);
        const auto ff = filterLine<float, float>(xf, m, k);
        for (std::size_t j = 0; j < m; ++j) {
            ASSERT_EQ(bb[j], toByte(rb[j])) << "n=" << n << " m=" << m << " j=" << j;
            ASSERT_EQ(bf[j], static_cast<float>(rb[j]));
            ASSERT_EQ(fb[j], toByte(rf[j]));
            ASSERT_EQ(ff[j], static_cast<float>(rf[j]));
        }
    }
    EXPECT_GT(checked, 100);
}

TEST(Cn1dSpatialFilter, VectorComponentsAreFilteredIndependentlyInFloat) {
    std::mt19937 rng(11);
    for (std::size_t m : {9u, 18u, 4u, 3u}) {
        const Image<Vec3f> in = randomImage<Vec3f>({9, 1, 1}, rng);
        const std::vector<Vec3f> x(in.data(), in.data() + 9);
        const std::vector<float> kv = Factory::pyrfilt(0.4f);
        const std::vector<Vec3f> out = filterLine<Vec3f, Vec3f, Vec3f>(x, m, nvf::CnKernel<float>(kv));
        const std::vector<Vec3f> ref = referenceLine(x, m, kv);
        for (std::size_t j = 0; j < m; ++j) {
            EXPECT_EQ(out[j], ref[j]) << "m=" << m << " j=" << j;
        }
    }
    // A vector whose components are three different lines gives the three scalar results.
    const std::vector<Vec3f> x{{10, 1, -5}, {20, 2, -4}, {30, 3, -3}, {40, 4, -2}, {50, 5, -1}};
    const std::vector<Vec3f> out = filterLine<Vec3f, Vec3f, Vec3f>(x, 5, k123);
    EXPECT_EQ(out[0], Vec3f(100, 10, -26));
    EXPECT_EQ(out[4], Vec3f(260, 26, -10));
}

TEST(Cn1dSpatialFilter, LengthChecks) {
    // N = K filters; N = K - 1 is refused.
    EXPECT_EQ((filterLine<float, float>({1, 2, 3}, 3, k123)).size(), 3u);
    Image<float> in(10, 1, 1), out(14, 1, 1);
    out.fill(-3.0f);
    LineFilter<float, float> f;
    f.setKernel(k123);
    f.setInputData(in.begin(), 2, 1);
    f.setOutputData(out.begin(), 2, 1);
    expectThrows(f, msg::kDataSmallerThanKernel);

    // N = 10, M = 14 (up = 1) would read past the padded line.
    f.setInputData(in.begin(), 10, 1);
    f.setOutputData(out.begin(), 14, 1);
    expectThrows(f, msg::kSpatialOutputTooLong);
    // M = 11 is the longest output up = 1 allows; its last window ends on the last padded element.
    f.setOutputData(out.begin(), 11, 1);
    EXPECT_NO_THROW(f.execute());
    f.setOutputData(out.begin(), 12, 1);
    expectThrows(f, msg::kSpatialOutputTooLong);
    for (std::size_t i = 11; i < 14; ++i) {
        EXPECT_EQ(out[i], -3.0f);
    }
}

TEST(Cn1dSpatialFilter, UninitialisedLinesAreRefusedBeforeWriting) {
    Image<float> in(5, 1, 1), out(5, 1, 1);
    out.fill(4.0f);
    LineFilter<float, float> f;
    expectThrows(f, msg::kFilterNotInitialized);
    struct Case {
        bool inStart;
        unsigned int inLen, inStride;
        bool outStart;
        unsigned int outLen, outStride;
    };
    const Case cases[] = {{false, 5, 1, true, 5, 1}, {true, 0, 1, true, 5, 1}, {true, 5, 0, true, 5, 1},
                          {true, 5, 1, false, 5, 1}, {true, 5, 1, true, 0, 1}, {true, 5, 1, true, 5, 0}};
    for (const Case& c : cases) {
        f.setInputData(c.inStart ? in.begin() : nvf::ImageConstIt<float>(), c.inLen, c.inStride);
        f.setOutputData(c.outStart ? out.begin() : nvf::ImageIt<float>(), c.outLen, c.outStride);
        expectThrows(f, msg::kFilterNotInitialized);
    }
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(out[i], 4.0f);
    }
    // Initialisation is checked before the kernel size.
    f.setKernel(Factory::smooth(0.375f));
    f.setInputData(in.begin(), 2, 1);
    f.setOutputData(out.begin(), 2, 0);
    expectThrows(f, msg::kFilterNotInitialized);
}

TEST(Cn1dSpatialFilter, SingleTapOnSingleSampleAndEmptyKernel) {
    EXPECT_EQ((filterLine<float, float>({3}, 1, nvf::CnKernel<float>({2}))), (std::vector<float>{6}));
    // An empty kernel is never longer than the line; every output is the empty sum.
    EXPECT_EQ((filterLine<float, float>({3, 4}, 2, nvf::CnKernel<float>(), -1.0f)), (std::vector<float>{0, 0}));
}

TEST(Cn1dSpatialFilter, DefaultKernelIsIdentityAndSetKernelCopies) {
    LineFilter<unsigned char, float> f;
    ASSERT_EQ(f.getKernel().size(), 1u);
    EXPECT_EQ(f.getKernel()[0], 1.0f);
    nvf::CnKernel<float> k = Factory::smooth(0.375f);
    f.setKernel(k);
    k[0] = 5.0f;
    EXPECT_EQ(f.getKernel().getCenter(), 2u);
    EXPECT_EQ(f.getKernel()[0], 0.375f);
}
