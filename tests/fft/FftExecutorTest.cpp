// The FFT filters on the caller's executor: every layout and engine, 1, 2, 3 and 7
// threads, bit for bit against the run without an executor; two filters sharing
// one executor from two threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>

#include "FftTestSupport.h"

using namespace fft_test;
using com::norvane::filtering::CnExecutor;
using com::norvane::filtering::CnThreadPoolExecutor;

namespace {

template <class T>
class FftExecutorTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FftExecutorTest, Precisions, PrecisionNames);

const unsigned kThreads[] = {1, 2, 3, 7};

template <class T>
struct Output {
    std::vector<T> re, im;
    bool operator==(const Output& o) const { return re == o.re && im == o.im; }
};

// The 1-D filter on `count` vectors of length n; layout 0: vectors one after
// another, 1: interleaved (the columns of a row-major array).
template <class T>
Output<T> run1d(int n, int count, int layout, bool gpfaOnly, int dir, CnExecutor* executor) {
    const std::size_t m = static_cast<std::size_t>(n) * count;
    Output<T> out{randomValues<T>(m, static_cast<unsigned>(n + 31 * count)),
                  randomValues<T>(m, static_cast<unsigned>(7 * n + count))};
    Probe1d<T> f;
    f.setExecutor(executor);
    f.setGpfaOnly(gpfaOnly);
    if (layout == 0) {
        f.executeWith(out.re.data(), out.im.data(), out.re.data(), out.im.data(), n, count, dir);
    } else {
        f.setFields(out.re.data(), out.im.data(), out.re.data(), out.im.data(), n, count);
        f.SetDataJump(count);
        f.SetVectorJump(1);
        f.SetDirection(dir);
        f.execute();
    }
    return out;
}

template <class T>
Output<T> run2d(int n1, int n2, int dir, CnExecutor* executor) {
    const std::size_t m = static_cast<std::size_t>(n1) * n2;
    const std::vector<T> re = randomValues<T>(m, static_cast<unsigned>(n1 * 3 + n2)), im = randomValues<T>(m, 5);
    Output<T> out{std::vector<T>(m), std::vector<T>(m)};
    Cn2dFftFilter<T> f;
    f.setExecutor(executor);
    f.executeWith(re.data(), im.data(), out.re.data(), out.im.data(), n1, n2, dir);
    return out;
}

template <class T>
Output<T> run3d(int nx, int ny, int nz, int dir, CnExecutor* executor) {
    const std::size_t m = static_cast<std::size_t>(nx) * ny * nz;
    Output<T> out{randomValues<T>(m, static_cast<unsigned>(nx + 5 * ny + 17 * nz)), randomValues<T>(m, 9)};
    Cn3dFftFilter<T> f;
    f.setExecutor(executor);
    f.executeWith(out.re.data(), out.im.data(), out.re.data(), out.im.data(), nx, ny, nz, dir);
    return out;
}

TYPED_TEST(FftExecutorTest, OneDimensionalBatchesAreBitIdenticalForAnyThreadCount) {
    using T = TypeParam;
    // Odd-ish lengths on the GPFA, powers of two on both engines; each batch holds
    // about 2^16 values, enough for several pieces of work, and ends in partial
    // chunks and bands.
    const int lengths[] = {1, 3, 15, 45, 75, 64, 1024};
    for (unsigned threads : kThreads) {
        CnThreadPoolExecutor executor(threads);
        for (int n : lengths) {
            const int count = ((1 << 16) / n) | 1;
            for (int layout : {0, 1}) {
                for (bool gpfaOnly : {false, true}) {
                    if (gpfaOnly && (n & (n - 1)) != 0) {
                        continue;
                    }
                    for (int dir : {1, -1}) {
                        const Output<T> plain = run1d<T>(n, count, layout, gpfaOnly, dir, nullptr);
                        ASSERT_TRUE(run1d<T>(n, count, layout, gpfaOnly, dir, &executor) == plain)
                            << threads << " threads, n " << n << " x " << count << " layout " << layout
                            << " gpfaOnly " << gpfaOnly << " dir " << dir;
                    }
                }
            }
        }
    }
}

TYPED_TEST(FftExecutorTest, TwoAndThreeDimensionalAreBitIdenticalForAnyThreadCount) {
    using T = TypeParam;
    const int shapes2[][2] = {{1, 1}, {3, 1}, {1, 75}, {15, 45}, {45, 75}, {75, 3}, {64, 128}, {256, 32}, {64, 45},
                              {375, 405}, {512, 256}};
    const int shapes3[][3] = {{1, 1, 1}, {3, 5, 1}, {15, 3, 45}, {45, 15, 3}, {5, 75, 9}, {16, 8, 32}, {32, 16, 2},
                              {75, 45, 27}, {64, 64, 32}};
    for (unsigned threads : kThreads) {
        CnThreadPoolExecutor executor(threads);
        for (const auto& s : shapes2) {
            for (int dir : {1, -1}) {
                ASSERT_TRUE(run2d<T>(s[0], s[1], dir, &executor) == run2d<T>(s[0], s[1], dir, nullptr))
                    << threads << " threads, " << s[0] << "x" << s[1] << " dir " << dir;
            }
        }
        for (const auto& s : shapes3) {
            for (int dir : {1, -1}) {
                ASSERT_TRUE(run3d<T>(s[0], s[1], s[2], dir, &executor) == run3d<T>(s[0], s[1], s[2], dir, nullptr))
                    << threads << " threads, " << s[0] << "x" << s[1] << "x" << s[2] << " dir " << dir;
            }
        }
    }
}

TYPED_TEST(FftExecutorTest, TwoFiltersShareOneExecutorFromTwoThreads) {
    using T = TypeParam;
    const Output<T> want2d = run2d<T>(45, 75, 1, nullptr);
    const Output<T> want3d = run3d<T>(15, 9, 25, -1, nullptr);
    CnThreadPoolExecutor executor(3);
    for (int round = 0; round < 3; ++round) {
        Output<T> got2d, got3d;
        std::thread other([&] { got2d = run2d<T>(45, 75, 1, &executor); });
        got3d = run3d<T>(15, 9, 25, -1, &executor);
        other.join();
        EXPECT_TRUE(got2d == want2d) << "round " << round;
        EXPECT_TRUE(got3d == want3d) << "round " << round;
    }
}

}  // namespace
