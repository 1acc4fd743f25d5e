// Grey dilation, erosion, opening and closing against a direct triple-loop
// cross written here: every type, odd and one-voxel-thick sizes, iterations,
// in place, the order relations of opening and closing, masks against the
// bitwise filters, NaN and signed zeros, thread counts, wrong outputs.
#include <gtest/gtest.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnGreyClosingFilter.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/morphology/CnGreyErosionFilter.h>
#include <nvfiltering/morphology/CnGreyOpeningFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using morphtest::describe;
using morphtest::sameBits;
using morphtest::Size3;

namespace {

// Whether w replaces best as the larger (or smaller) value: the numeric order,
// with -0 below +0.
template <class T>
bool better(T w, T best, bool larger) {
    if (w == best) {
        if constexpr (std::is_floating_point<T>::value) {
            return larger ? (std::signbit(best) && !std::signbit(w)) : (!std::signbit(best) && std::signbit(w));
        }
        return false;
    }
    return larger ? w > best : w < best;
}

template <class T>
bool isNan(T v) {
    if constexpr (std::is_floating_point<T>::value) {
        return std::isnan(v);
    }
    return false;
}

// One pass by the definition: the extreme over the voxel and its face
// neighbours inside the image; the quiet NaN if any of them is NaN.
template <class T>
Image<T> referencePass(const Image<T>& in, bool dilate) {
    const long long X = in.getSizeX(), Y = in.getSizeY(), Z = in.getSizeZ();
    Image<T> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const long long d[7][3] = {{0, 0, 0}, {-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    const auto at = [](long long u) { return static_cast<unsigned int>(u); };
    for (long long z = 0; z < Z; ++z) {
        for (long long y = 0; y < Y; ++y) {
            for (long long x = 0; x < X; ++x) {
                T best = in(at(x), at(y), at(z));
                bool nan = false;
                for (const auto& o : d) {
                    const long long nx = x + o[0], ny = y + o[1], nz = z + o[2];
                    if (nx < 0 || ny < 0 || nz < 0 || nx >= X || ny >= Y || nz >= Z) {
                        continue;
                    }
                    const T w = in(at(nx), at(ny), at(nz));
                    nan = nan || isNan(w);
                    best = better(w, best, dilate) ? w : best;
                }
                out(at(x), at(y), at(z)) = nan ? std::numeric_limits<T>::quiet_NaN() : best;
            }
        }
    }
    return out;
}

// `first` passes of one operation, then `second` of the other.
template <class T>
Image<T> reference(const Image<T>& in, bool dilateFirst, unsigned int first, unsigned int second) {
    Image<T> v(in);
    for (unsigned int i = 0; i < first; ++i) {
        v = referencePass(v, dilateFirst);
    }
    for (unsigned int i = 0; i < second; ++i) {
        v = referencePass(v, !dilateFirst);
    }
    return v;
}

// Values with many ties. Integers: a narrow range or the whole one.
// Floating point: small integers, both zeros, infinities, denormals and,
// when withNan, NaNs of either sign and several payloads.
template <class T>
Image<T> randomValues(const Size3& s, std::mt19937& rng, bool withNan) {
    if constexpr (std::is_floating_point<T>::value) {
        std::uniform_int_distribution<int> kind(0, 31), small(-3, 3), pick(0, 2);
        const T nans[3] = {std::numeric_limits<T>::quiet_NaN(), -std::numeric_limits<T>::quiet_NaN(),
                           std::numeric_limits<T>::signaling_NaN()};
        return morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) -> T {
            switch (kind(r)) {
                case 0: return T(0);
                case 1: case 2: return -T(0);
                case 3: return std::numeric_limits<T>::infinity();
                case 4: return -std::numeric_limits<T>::infinity();
                case 5: return std::numeric_limits<T>::denorm_min();
                case 6: return withNan ? nans[pick(r)] : T(1.5);
                default: return static_cast<T>(small(r));
            }
        });
    } else {
        std::uniform_int_distribution<long long> wide(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
        std::uniform_int_distribution<int> narrow(0, 3);
        const bool few = std::uniform_int_distribution<int>(0, 1)(rng) == 0;
        return morphtest::randomImage<T>(
            s, rng, [&](std::mt19937& r) { return static_cast<T>(few ? narrow(r) : wide(r)); });
    }
}

// Odd sizes, each of X, Y and Z of one voxel in turn, besides the awkward ones.
std::vector<Size3> sizes(std::mt19937& rng) {
    std::vector<Size3> list = morphtest::awkwardSizes();
    std::uniform_int_distribution<unsigned int> odd(0, 9);
    for (int t = 0; t < 6; ++t) {
        Size3 s{2 * odd(rng) + 1, 2 * odd(rng) + 1, 2 * odd(rng) + 1};
        if (t < 3) {
            (t == 0 ? s.x : t == 1 ? s.y : s.z) = 1;
        }
        list.push_back(s);
    }
    // Rows of several vector blocks, and one block and a voxel past it.
    list.push_back({37, 3, 3});
    list.push_back({67, 2, 2});
    list.push_back({19, 2, 3});
    return list;
}

// The four filters behind one interface: dilateFirst, passes of the first and
// second kind per iteration.
enum class Kind { Dilation, Erosion, Opening, Closing };

template <class T>
struct Run {
    Kind kind;
    unsigned int iterations;
    nvf::CnExecutor* executor = nullptr;

    template <class Filter>
    void apply(const Image<T>& in, Image<T>& out, bool straightforward) const {
        Filter f;
        EXPECT_EQ(f.getIterations(), 1u);
        f.setIterations(iterations);
        EXPECT_EQ(f.getIterations(), iterations);
        f.setExecutor(executor);
        if (straightforward) {
            com::norvane::filtering::detail::executeStraightforward(f, in, out);
        } else {
            f.execute(in, out);
        }
    }

    void operator()(const Image<T>& in, Image<T>& out, bool straightforward = false) const {
        switch (kind) {
            case Kind::Dilation: apply<nvf::CnGreyDilationFilter<T>>(in, out, straightforward); break;
            case Kind::Erosion: apply<nvf::CnGreyErosionFilter<T>>(in, out, straightforward); break;
            case Kind::Opening: apply<nvf::CnGreyOpeningFilter<T>>(in, out, straightforward); break;
            case Kind::Closing: apply<nvf::CnGreyClosingFilter<T>>(in, out, straightforward); break;
        }
    }

    Image<T> expected(const Image<T>& in) const {
        switch (kind) {
            case Kind::Dilation: return reference(in, true, iterations, 0);
            case Kind::Erosion: return reference(in, false, iterations, 0);
            case Kind::Opening: return reference(in, false, iterations, iterations);
            default: return reference(in, true, iterations, iterations);
        }
    }
};

const Kind kKinds[] = {Kind::Dilation, Kind::Erosion, Kind::Opening, Kind::Closing};

template <class T>
class GreyMorphology : public ::testing::Test {};

using VoxelTypes = ::testing::Types<unsigned char, unsigned short, short, float, double>;
TYPED_TEST_SUITE(GreyMorphology, VoxelTypes);

TYPED_TEST(GreyMorphology, BothPathsMatchTheDefinitionWithIterations) {
    using T = TypeParam;
    std::mt19937 rng(31);
    for (const Size3& s : sizes(rng)) {
        for (const bool withNan : {false, true}) {
            const Image<T> in = randomValues<T>(s, rng, withNan);
            for (const Kind kind : kKinds) {
                for (const unsigned int k : {0u, 1u, 2u, 3u}) {
                    const Run<T> run{kind, k};
                    const Image<T> expected = run.expected(in);
                    Image<T> fast(s.x, s.y, s.z), slow(s.x, s.y, s.z);
                    run(in, fast);
                    run(in, slow, true);
                    EXPECT_TRUE(sameBits(fast, expected)) << describe(s) << " kind " << int(kind) << " k " << k;
                    EXPECT_TRUE(sameBits(slow, expected)) << describe(s) << " kind " << int(kind) << " k " << k;
                }
            }
        }
    }
}

TYPED_TEST(GreyMorphology, IterationsEqualSuccessiveRunsEvenBeyondTheImage) {
    using T = TypeParam;
    std::mt19937 rng(32);
    for (const Size3& s : {Size3{4, 3, 2}, Size3{1, 1, 1}, Size3{7, 1, 1}, Size3{2, 5, 3}}) {
        const Image<T> in = randomValues<T>(s, rng, true);
        for (const Kind kind : kKinds) {
            // The most iterations give what X + Y + Z passes of the definition give.
            Image<T> out(s.x, s.y, s.z);
            Run<T>{kind, UINT_MAX}(in, out);
            EXPECT_TRUE(sameBits(out, Run<T>{kind, s.x + s.y + s.z}.expected(in)))
                << describe(s) << " kind " << int(kind);
        }
        for (const Kind kind : {Kind::Dilation, Kind::Erosion}) {
            // Three runs of one pass, in place, against one run of three.
            Image<T> stepped(in), direct(s.x, s.y, s.z);
            for (int i = 0; i < 3; ++i) {
                Run<T>{kind, 1}(stepped, stepped);
            }
            Run<T>{kind, 3}(in, direct);
            EXPECT_TRUE(sameBits(stepped, direct)) << describe(s) << " kind " << int(kind);
        }
    }
}

TYPED_TEST(GreyMorphology, InPlaceEqualsSeparateOutput) {
    using T = TypeParam;
    std::mt19937 rng(33);
    for (const Size3& s : {Size3{7, 5, 3}, Size3{1, 1, 1}, Size3{9, 4, 1}, Size3{1, 1, 6}, Size3{2, 2, 2}}) {
        const Image<T> in = randomValues<T>(s, rng, true);
        for (const Kind kind : kKinds) {
            for (const unsigned int k : {0u, 1u, 2u, 3u}) {
                const Run<T> run{kind, k};
                const Image<T> expected = run.expected(in);
                for (const bool straightforward : {false, true}) {
                    Image<T> a(in);
                    run(a, a, straightforward);
                    EXPECT_TRUE(sameBits(a, expected)) << describe(s) << " kind " << int(kind) << " k " << k;
                }
            }
        }
    }
}

TYPED_TEST(GreyMorphology, OpeningBelowInputBelowClosingAndBothIdempotent) {
    using T = TypeParam;
    std::mt19937 rng(34);
    for (const Size3& s : sizes(rng)) {
        const Image<T> in = randomValues<T>(s, rng, false);
        for (const unsigned int k : {1u, 2u}) {
            Image<T> opened(s.x, s.y, s.z), closed(s.x, s.y, s.z), again(s.x, s.y, s.z);
            Run<T>{Kind::Opening, k}(in, opened);
            Run<T>{Kind::Closing, k}(in, closed);
            for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
                ASSERT_FALSE(better(opened[i], in[i], true)) << describe(s) << " voxel " << i;
                ASSERT_FALSE(better(in[i], closed[i], true)) << describe(s) << " voxel " << i;
            }
            Run<T>{Kind::Opening, k}(opened, again);
            EXPECT_TRUE(sameBits(again, opened)) << describe(s) << " opening twice";
            Run<T>{Kind::Closing, k}(closed, again);
            EXPECT_TRUE(sameBits(again, closed)) << describe(s) << " closing twice";
        }
    }
}

TYPED_TEST(GreyMorphology, ThreadCountsGiveTheSameBits) {
    using T = TypeParam;
    std::mt19937 rng(35);
    nvf::CnThreadPoolExecutor pools[] = {nvf::CnThreadPoolExecutor(1), nvf::CnThreadPoolExecutor(2),
                                         nvf::CnThreadPoolExecutor(3), nvf::CnThreadPoolExecutor(7)};
    // Large enough to be cut into several bands of rows.
    for (const Size3& s : {Size3{67, 53, 41}, Size3{301, 257, 3}, Size3{3, 5, 9001}}) {
        const Image<T> in = randomValues<T>(s, rng, true);
        for (const Kind kind : kKinds) {
            Image<T> expected(s.x, s.y, s.z);
            Run<T>{kind, 2}(in, expected);
            for (nvf::CnThreadPoolExecutor& pool : pools) {
                Image<T> out(s.x, s.y, s.z);
                Run<T>{kind, 2, &pool}(in, out);
                EXPECT_TRUE(sameBits(out, expected))
                    << describe(s) << " kind " << int(kind) << ", threads " << pool.getThreadCount();
            }
        }
    }
}

TYPED_TEST(GreyMorphology, WrongOutputThrowsAndWritesNothingEmptyImagesWriteNothing) {
    using T = TypeParam;
    const Image<T> in(4, 3, 2);
    const char* messages[] = {nvf::messages::kGreyDilationOutputSize, nvf::messages::kGreyErosionOutputSize,
                              nvf::messages::kGreyOpeningOutputSize, nvf::messages::kGreyClosingOutputSize};
    for (const Size3& s : {Size3{3, 3, 2}, Size3{4, 4, 2}, Size3{4, 3, 1}, Size3{0, 0, 0}, Size3{24, 1, 1}}) {
        for (int k = 0; k < 4; ++k) {
            for (const bool straightforward : {false, true}) {
                Image<T> out(s.x, s.y, s.z);
                out.fill(T(3));
                const Image<T> before(out);
                const auto e = morphtest::expectThrowable([&] { Run<T>{kKinds[k], 0}(in, out, straightforward); });
                EXPECT_EQ(e.getMessage(), messages[k]);
                EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
                EXPECT_TRUE(sameBits(out, before));
            }
        }
    }
    for (const Kind kind : kKinds) {
        Image<T> empty(0, 5, 3), same(0, 5, 3);
        Run<T>{kind, 2}(empty, same);
        Run<T>{kind, 3}(empty, empty);
        EXPECT_EQ(same.getNumberOfVoxels(), 0u);
    }
}

// On a mask of 0 and one positive value the grey filters give the bitwise ones' voxels.
template <class T>
void expectMasksLikeBitwise(T one) {
    std::mt19937 rng(36);
    for (const Size3& s : morphtest::awkwardSizes()) {
        for (const double density : {0.2, 0.7}) {
            const Image<T> in = morphtest::randomMask<T>(s, rng, density, one);
            Image<T> grey(s.x, s.y, s.z), bitwise(s.x, s.y, s.z);
            Run<T>{Kind::Dilation, 1}(in, grey);
            nvf::CnDilationFilter<T>().execute(in, bitwise);
            EXPECT_TRUE(sameBits(grey, bitwise)) << describe(s) << " dilation";
            Run<T>{Kind::Erosion, 1}(in, grey);
            nvf::CnErosionFilter<T>().execute(in, bitwise);
            EXPECT_TRUE(sameBits(grey, bitwise)) << describe(s) << " erosion";
        }
    }
}

TEST(GreyMorphologyRules, MasksGiveTheBitwiseFiltersVoxels) {
    expectMasksLikeBitwise<unsigned char>(1);
    expectMasksLikeBitwise<unsigned char>(255);
    expectMasksLikeBitwise<short>(1);
    expectMasksLikeBitwise<short>(32767);
}

// A NaN spreads to its cross with every operation; the signs of zero follow the
// order -0 < +0 whatever the position of the zeros.
template <class T>
void expectNanAndZeroRules() {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    Image<T> in(5, 5, 5);
    in.fill(T(2));
    in(2, 2, 2) = -std::numeric_limits<T>::signaling_NaN();
    in(0, 0, 0) = T(-7);
    for (const Kind kind : {Kind::Dilation, Kind::Erosion}) {
        Image<T> out(5, 5, 5);
        Run<T>{kind, 1}(in, out);
        for (unsigned int z = 0; z < 5; ++z) {
            for (unsigned int y = 0; y < 5; ++y) {
                for (unsigned int x = 0; x < 5; ++x) {
                    const unsigned int d = (x > 2 ? x - 2 : 2 - x) + (y > 2 ? y - 2 : 2 - y) + (z > 2 ? z - 2 : 2 - z);
                    const T v = out(x, y, z);
                    if (d <= 1) {
                        EXPECT_EQ(std::memcmp(&v, &nan, sizeof v), 0) << x << "," << y << "," << z;
                    } else {
                        EXPECT_FALSE(std::isnan(v));
                    }
                }
            }
        }
        EXPECT_EQ(out(1, 0, 0), kind == Kind::Dilation ? T(2) : T(-7));
    }
    Image<T> opened(5, 5, 5);
    Run<T>{Kind::Opening, 1}(in, opened);
    EXPECT_TRUE(std::isnan(opened(4, 2, 2)) && std::isnan(opened(2, 2, 0)));
    EXPECT_FALSE(std::isnan(opened(4, 4, 2)));
    // Zeros of both signs: +0 for the dilation, -0 for the erosion, at either end.
    for (const bool plusFirst : {false, true}) {
        Image<T> zeros(3, 1, 1), out(3, 1, 1);
        zeros[0] = plusFirst ? T(0) : -T(0);
        zeros[1] = -T(0);
        zeros[2] = plusFirst ? -T(0) : T(0);
        Run<T>{Kind::Dilation, 1}(zeros, out);
        EXPECT_FALSE(std::signbit(out[1]));
        EXPECT_EQ(std::signbit(out[0]), !plusFirst);
        Run<T>{Kind::Erosion, 1}(zeros, out);
        EXPECT_TRUE(std::signbit(out[0]) && std::signbit(out[1]) && std::signbit(out[2]));
    }
}

TEST(GreyMorphologyRules, NanSpreadsAndZerosAreOrdered) {
    expectNanAndZeroRules<float>();
    expectNanAndZeroRules<double>();
}

TEST(GreyMorphologyRules, IntegerExtremesAndThinImages) {
    // A row of one voxel per row: only X neighbours count, borders replicate.
    Image<short> row(5, 1, 1), out(5, 1, 1);
    const short values[5] = {-32768, 7, 32767, -1, 0};
    for (unsigned int x = 0; x < 5; ++x) {
        row[x] = values[x];
    }
    nvf::CnGreyDilationFilter<short> d;
    d.execute(row, out);
    const short dilated[5] = {7, 32767, 32767, 32767, 0};
    const short eroded[5] = {-32768, -32768, -1, -1, -1};
    for (unsigned int x = 0; x < 5; ++x) {
        EXPECT_EQ(out[x], dilated[x]) << x;
    }
    nvf::CnGreyErosionFilter<short> e;
    e.execute(row, out);
    for (unsigned int x = 0; x < 5; ++x) {
        EXPECT_EQ(out[x], eroded[x]) << x;
    }
    // A column along Z of unsigned 16-bit values.
    Image<unsigned short> column(1, 1, 4), grown(1, 1, 4);
    column[2] = 65535;
    nvf::CnGreyDilationFilter<unsigned short> g;
    g.setIterations(2);
    g.execute(column, grown);
    EXPECT_EQ(grown[0], 65535);
    EXPECT_EQ(grown[3], 65535);
}

}  // namespace
