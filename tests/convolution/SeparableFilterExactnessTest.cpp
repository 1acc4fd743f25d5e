// The separable filter at the limits of its exact float paths: kernels at and
// beyond the sizes for which float sums stay exact, special taps, and the fused
// sweep against line-by-line runs at its integer and rounding limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>

#include "ConvolutionTestSupport.h"

using namespace convtest;
using Factory = nvf::CnKernelFactory<float>;
using ByteSeparable =
    nvf::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;

TEST(CnSeparableFilter, ExactnessLimitsAndSpecialTapsMatchLineByLineRuns) {
    // Kernels at and beyond the sizes for which float sums stay exact, taps too
    // small for the exponent range, and taps that are not finite (with up-sampling,
    // so that inserted zeros meet them).
    std::mt19937 rng(13);
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::vector<float>> kernels = {
        {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f},
        {1.0f},
        {0.5f, -std::ldexp(1.0f, -30)},      // x.5 minus a little: rounds down only if summed exactly
        {256.0f, 256.0f},                    // X exact, Y and Z beyond 2^24
        {65536.0f},                          // 255 * 65536 is still exact; the next pass is not
        {std::ldexp(1.0f, -70), 1.0f},      // exponent out of range
        {-0.5f, 2.0f, -0.5f},                // negative taps, results below 0 and above 255
        {0.0f, 0.0f, 0.0f},
        {1.0f, inf, 1.0f},
        {std::numeric_limits<float>::quiet_NaN()},
    };
    for (const std::vector<float>& kx : kernels) {
        for (const std::vector<float>& kyz : kernels) {
            for (unsigned int z : {1u, 5u}) {
                const Image<unsigned char> src = randomImage<unsigned char>({13, 7, z}, rng);
                const unsigned int oZ = z == 1 ? 1 : 10;
                Image<unsigned char> got(26, 4, oZ), expected(26, 4, oZ);
                ByteSeparable f;
                setKernels(f, nvf::CnKernel<float>(kx), nvf::CnKernel<float>(kyz), nvf::CnKernel<float>(kyz));
                f.execute(src, got);
                separableByLines<unsigned char, float, float>(src, expected, nvf::CnKernel<float>(kx),
                                                              nvf::CnKernel<float>(kyz), nvf::CnKernel<float>(kyz));
                EXPECT_TRUE(sameBits(got, expected)) << kx.size() << " " << kyz.size() << " z=" << z;
            }
        }
    }
}

TEST(CnSeparableFilter, FusedSweepMatchesLineByLineRuns) {
    // Kernels whose passes are exact in float, so that all passes run in one
    // sweep: non-negative taps (small integer sums, as the pyramid kernel has),
    // taps of both signs, kernels longer than seven taps, and every resampling
    // (up 2 and 3, down 2, 3 and 4) on odd, thin and single-slice shapes.
    std::mt19937 rng(14);
    std::uniform_int_distribution<int> dim(1, 29), mode(0, 6), tapCount(1, 9), kind(0, 2);
    const auto makeKernel = [&](std::size_t taps) {
        switch (kind(rng)) {
            case 0: return dyadicKernel(taps, 6, rng);  // signs mixed, small
            case 1: {
                std::uniform_int_distribution<int> n(0, 6), e(2, 5);
                std::vector<float> k(taps);
                for (float& v : k) {
                    v = std::ldexp(static_cast<float>(n(rng)), -e(rng));
                }
                return k;
            }
            default: return values(Factory::smooth(0.375f));
        }
    };
    int compared = 0;
    for (int trial = 0; trial < 400 && compared < 150; ++trial) {
        unsigned int in[3], out[3];
        std::vector<float> k[3];
        bool ok = true;
        for (int a = 0; a < 3; ++a) {
            in[a] = static_cast<unsigned int>(dim(rng));
            if (a == 2) {
                in[a] = trial % 3 == 0 ? 1u : 2u + static_cast<unsigned int>(trial % 7);
            }
            k[a] = makeKernel(static_cast<std::size_t>(std::min<int>(tapCount(rng), static_cast<int>(in[a]))));
            switch (mode(rng)) {
                case 0: out[a] = in[a] * 2; break;
                case 1: out[a] = in[a] * 3; break;
                case 2: out[a] = (in[a] + 1) / 2; break;
                case 3: out[a] = std::max(1u, in[a] / 3); break;
                case 4: out[a] = std::max(1u, in[a] / 4); break;
                default: out[a] = in[a]; break;
            }
            if (a == 2 && in[2] == 1) {
                out[a] = 1;
                continue;
            }
            ok = ok && pairAccepted(in[a], out[a], k[a].size());
        }
        if (!ok) {
            continue;
        }
        const Image<unsigned char> src = randomImage<unsigned char>({in[0], in[1], in[2]}, rng);
        Image<unsigned char> got(out[0], out[1], out[2]), expected(out[0], out[1], out[2]);
        ByteSeparable f;
        setKernels(f, nvf::CnKernel<float>(k[0]), nvf::CnKernel<float>(k[1]), nvf::CnKernel<float>(k[2]));
        f.execute(src, got);
        separableByLines<unsigned char, float, float>(src, expected, nvf::CnKernel<float>(k[0]),
                                                      nvf::CnKernel<float>(k[1]), nvf::CnKernel<float>(k[2]));
        ASSERT_TRUE(sameBits(got, expected))
            << describe({in[0], in[1], in[2]}) << " -> " << describe({out[0], out[1], out[2]}) << " taps "
            << k[0].size() << "," << k[1].size() << "," << k[2].size();
        ++compared;
    }
    EXPECT_GE(compared, 100);
}

TEST(CnSeparableFilter, FusedSweepAtItsIntegerAndRoundingLimits) {
    // Single slices whose sums reach 2^16 - 1 (all 255 input: clamped), whose
    // rounding offset would pass 2^16, and whose last result needs 16 or 17
    // fractional bits; each must give the bytes of the line-by-line run.
    std::mt19937 rng(15);
    const std::vector<std::vector<float>> pairs[] = {
        {{128.0f, 129.0f}, {1.0f}},                           // X sums up to 255 * 257 = 65535
        {{0.5f, 0.50390625f}, {1.0f}},                        // the same over 2^8: offset 128 passes 2^16
        {{0.5f, 0.5f}, {0.5f, 0.50390625f}},                  // sums below 2^16 with offset, shift 9
        {{std::ldexp(1.0f, -8), 1.0f}, {std::ldexp(1.0f, -8)}},  // 16 fractional bits
        {{std::ldexp(1.0f, -9), 1.0f}, {std::ldexp(1.0f, -8)}},  // 17: not fused
        {{0.25f, 0.5f, 0.25f}, {2.0f, 4.0f}},                 // gain above 1
        {{4.0f}, {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f}},   // negative exponent on X
    };
    for (const auto& kxy : pairs) {
        for (int fill : {0, 1}) {
            Image<unsigned char> src = randomImage<unsigned char>({23, 17, 1}, rng);
            if (fill == 1) {
                src.fill(255);
            }
            for (unsigned int oX : {23u, 12u, 46u}) {
                Image<unsigned char> got(oX, 9, 1), expected(oX, 9, 1);
                ByteSeparable f;
                f.setKernel(nvf::CnKernel<float>(kxy[0]), nvf::CnCoord::X);
                f.setKernel(nvf::CnKernel<float>(kxy[1]), nvf::CnCoord::Y);
                f.execute(src, got);
                separableByLines<unsigned char, float, float>(src, expected, nvf::CnKernel<float>(kxy[0]),
                                                              nvf::CnKernel<float>(kxy[1]), Factory::id());
                EXPECT_TRUE(sameBits(got, expected)) << kxy[0].size() << " " << kxy[1].size() << " " << oX;
            }
        }
    }
}
