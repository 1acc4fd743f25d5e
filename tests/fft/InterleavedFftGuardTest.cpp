// What the interleaved complex and real transforms reject, with the message of
// each case, and that a rejected call writes nothing; empty batches touch nothing.
#include <gtest/gtest.h>

#include <complex>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <nvcore/Throwable.h>
#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>
#include <nvfiltering/framework/CnMessages.h>

#include "InterleavedFftSupport.h"

namespace msg = com::norvane::filtering::messages;
using namespace ifft_test;

namespace {

template <class T>
class InterleavedFftGuardTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(InterleavedFftGuardTest, Precisions, PrecisionNames);

struct Case {
    const char* what;
    const char* message;
    std::function<void()> call;
};

void expectRejected(const Case& c) {
    try {
        c.call();
        ADD_FAILURE() << c.what << ": not rejected";
    } catch (const com::norvane::Throwable& e) {
        EXPECT_EQ(std::string(e.getMessage()), c.message) << c.what;
        EXPECT_EQ(std::string(e.getClassPath()), msg::kThrowableClassPath) << c.what;
    }
}

TYPED_TEST(InterleavedFftGuardTest, RejectedCallsThrowTheirMessageAndWriteNothing) {
    using T = TypeParam;
    using C = std::complex<T>;
    const std::size_t big = std::numeric_limits<std::size_t>::max() / 4;
    std::vector<C> in = randomComplex<T>(64, 1), out(64, C(T(7), T(7))), out2(64);
    std::vector<T> rin = randomReal<T>(64, 2), rout(64, T(7));
    const std::vector<C> outBefore = out;
    const std::vector<T> routBefore = rout;
    nvf::CnComplexFftFilter<T> f;
    nvf::CnRealFftFilter<T> r;
    const std::size_t s2[2] = {8, 8};
    const std::size_t s0[2] = {8, 0};
    const std::size_t huge[3] = {big, big, 2};
    const int axes01[2] = {0, 1};
    const int axes00[2] = {0, 0};
    const int axis2[1] = {2};
    auto lines = [](std::size_t length, std::size_t stride, std::size_t c0, std::size_t s0_) {
        nvf::CnFftLines l;
        l.length = length;
        l.stride = stride;
        l.count0 = c0;
        l.stride0 = s0_;
        return l;
    };
    const Case cases[] = {
        {"null input", msg::kFftArrayNull, [&] { f.execute1d(nullptr, out.data(), 8, 8, 1); }},
        {"null output", msg::kFftArrayNull, [&] { f.execute2d(in.data(), nullptr, 8, 8, 1); }},
        {"length 0", msg::kFftLengthZero, [&] { f.execute1d(in.data(), out.data(), 0, 8, 1); }},
        {"transformed size 0", msg::kFftLengthZero,
         [&] { f.executeAxis(in.data(), out.data(), s0, 2, 1, 1); }},
        {"direction 0", msg::kFftDirection, [&] { f.execute1d(in.data(), out.data(), 8, 8, 0); }},
        {"direction 2", msg::kFftDirection, [&] { f.execute3d(in.data(), out.data(), 4, 4, 4, 2); }},
        {"no dimensions", msg::kFftDimensionCount, [&] { f.executeAxis(in.data(), out.data(), s2, 0, 0, 1); }},
        {"four dimensions", msg::kFftDimensionCount, [&] { f.executeAxis(in.data(), out.data(), s2, 4, 0, 1); }},
        {"null shape", msg::kFftShapeNull, [&] { f.executeAxis(in.data(), out.data(), nullptr, 2, 0, 1); }},
        {"axis outside", msg::kFftAxis, [&] { f.executeAxes(in.data(), out.data(), s2, 2, axis2, 1, 1); }},
        {"negative axis", msg::kFftAxis, [&] { f.executeAxis(in.data(), out.data(), s2, 2, -1, 1); }},
        {"axis twice", msg::kFftAxis, [&] { f.executeAxes(in.data(), out.data(), s2, 2, axes00, 2, 1); }},
        {"too many axes", msg::kFftAxis, [&] { f.executeAxes(in.data(), out.data(), s2, 2, axes01, 3, 1); }},
        {"element count overflows", msg::kFftSizeTooLarge,
         [&] { f.executeAxis(in.data(), out.data(), huge, 3, 2, 1); }},
        {"partial overlap", msg::kFftArraysOverlap,
         [&] { f.execute1d(out.data(), out.data() + 1, 8, 7, 1); }},
        {"lines past the array", msg::kFftLinesOutsideArray,
         [&] { f.executeLines(in.data(), out.data(), 64, lines(8, 8, 9, 1), 1); }},
        {"stride past the array", msg::kFftLinesOutsideArray,
         [&] { f.executeLines(in.data(), out.data(), 64, lines(9, 8, 1, 0), 1); }},
        {"stride product overflows", msg::kFftSizeTooLarge,
         [&] { f.executeLines(in.data(), out.data(), 64, lines(3, big, 1, 0), 1); }},
        {"overlapping lines", msg::kFftLinesOverlap,
         [&] { f.executeLines(in.data(), out.data(), 64, lines(8, 1, 8, 4), 1); }},
        {"zero stride", msg::kFftLinesOverlap,
         [&] { f.executeLines(in.data(), out.data(), 64, lines(8, 0, 1, 0), 1); }},
        {"explicit length 0", msg::kFftLengthZero,
         [&] { f.executeLines(in.data(), out.data(), 64, lines(0, 1, 8, 8), 1); }},
        {"real null input", msg::kFftArrayNull,
         [&] { r.executeForward(nullptr, out.data(), s2, 2, 2); }},
        {"real null output", msg::kFftArrayNull,
         [&] { r.executeInverse(in.data(), nullptr, s2, 2, 1); }},
        {"real rank 0", msg::kFftRealRank, [&] { r.executeForward(rin.data(), out.data(), s2, 2, 0); }},
        {"real rank above dimensions", msg::kFftRealRank,
         [&] { r.executeInverse(in.data(), rout.data(), s2, 2, 3); }},
        {"real length 0", msg::kFftLengthZero, [&] { r.executeForward(rin.data(), out.data(), s0, 2, 1); }},
        {"real axis outside", msg::kFftAxis, [&] { r.executeForwardAxis(rin.data(), out.data(), s2, 2, 2); }},
        {"real arrays overlap", msg::kFftRealArraysOverlap,
         [&] {
             r.executeInverseAxis(out.data(), reinterpret_cast<T*>(out.data()) + 8, s2, 2, 1);
         }},
        // The whole spectrum of a 4 x 8 array is 32 values; its half spectrum only 20,
        // which an input at value 24 would not overlap.
        {"whole spectrum overlaps the input", msg::kFftRealArraysOverlap,
         [&] {
             const std::size_t s48[2] = {4, 8};
             r.executeForwardFull(reinterpret_cast<const T*>(out.data() + 24), out.data(), s48, 2, 2);
         }},
        {"whole spectrum rank 0", msg::kFftRealRank,
         [&] { r.executeForwardFull(rin.data(), out.data(), s2, 2, 0, true); }},
        {"real four dimensions", msg::kFftDimensionCount,
         [&] { r.executeForwardAxis(rin.data(), out.data(), s2, 4, 0); }},
    };
    for (const Case& c : cases) {
        expectRejected(c);
        ASSERT_EQ(out, outBefore) << c.what;
        ASSERT_EQ(rout, routBefore) << c.what;
    }
}

// No lines: null arrays are fine and nothing is touched.
TYPED_TEST(InterleavedFftGuardTest, EmptyBatchesTouchNothing) {
    using T = TypeParam;
    nvf::CnComplexFftFilter<T> f;
    nvf::CnRealFftFilter<T> r;
    const std::size_t s[3] = {0, 5, 7};
    nvf::CnFftLines l;
    l.length = 5;
    l.count0 = 0;
    EXPECT_NO_THROW(f.execute1d(nullptr, nullptr, 4099, 0, 1));
    EXPECT_NO_THROW(f.executeAxis(nullptr, nullptr, s, 3, 2, -1));
    EXPECT_NO_THROW(r.executeForward(nullptr, nullptr, s, 3, 2));
    EXPECT_NO_THROW(r.executeForwardFull(nullptr, nullptr, s, 3, 2, true));
    EXPECT_NO_THROW(r.executeInverse(nullptr, nullptr, s, 3, 1));
    EXPECT_NO_THROW(f.executeLines(nullptr, nullptr, 0, l, 1));
}

}  // namespace
