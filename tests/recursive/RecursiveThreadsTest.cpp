// The recursive volume filter and the gradient on the caller's executor: the
// same bits as in the caller's thread alone, with any number of threads, for
// odd sizes and for volumes one voxel thick along each axis; failures come out
// the same way; filters can share one executor from several threads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvimage/Volume.h>

#include "RecursiveTestSupport.h"

using namespace rectest;
using com::norvane::imaging::Volume;

namespace {

struct Size {
    unsigned int x, y, z;
};

// Odd sizes with full blocks of lanes and remainders, and volumes one voxel
// (or a few voxels) thick along each axis.
const Size kSizes[] = {{37, 29, 23}, {71, 9, 13}, {5, 67, 19}, {19, 17, 70}, {1, 45, 33}, {41, 1, 27},
                       {43, 31, 1},  {2, 3, 39},  {1, 1, 77}, {3, 80, 1},   {67, 2, 2}};
const unsigned int kThreads[] = {1, 2, 3, 7};

template <class T>
Image<T> randomImage(const Size& s, std::uint32_t seed) {
    Image<T> image(s.x, s.y, s.z);
    const std::vector<double> v = randomValues<T>(image.getNumberOfVoxels(), seed);
    for (std::size_t i = 0; i < v.size(); ++i) {
        image[i] = makeSample<T>(v[i]);
    }
    return image;
}

Volume<unsigned char> randomVolume(const Size& s, std::uint32_t seed) {
    Volume<unsigned char> v(s.x, s.y, s.z);
    const std::vector<double> values = randomValues<unsigned char>(v.getNumberOfVoxels(), seed);
    for (std::size_t i = 0; i < values.size(); ++i) {
        v[i] = static_cast<unsigned char>(values[i]);
    }
    v.setVoxelSize(com::norvane::math::CnVector3D<double>(0.9, 1.3, 2.1));
    return v;
}

std::string describe(const Size& s) {
    return std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z);
}

// Counts the calls and tasks handed to an executor it wraps.
class CountingExecutor : public nvf::CnExecutor {
public:
    explicit CountingExecutor(nvf::CnExecutor& inner) : m_inner(inner) {}
    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) override {
        ++calls;
        if (count > 1) {
            ++splitCalls;
        }
        m_inner.parallelFor(count, task);
    }
    std::atomic<int> calls{0};
    std::atomic<int> splitCalls{0};

private:
    nvf::CnExecutor& m_inner;
};

// Readable, stable names for the instantiations (RecursiveFilterThreads/Float.*).
struct PairNames {
    template <class P>
    static std::string GetName(int) {
        using In = typename P::In;
        if constexpr (std::is_same_v<In, unsigned char>) {
            return "UCharToFloat";
        } else if constexpr (std::is_same_v<In, float>) {
            return "Float";
        } else if constexpr (std::is_same_v<In, double>) {
            return "Double";
        } else {
            return "Vector";
        }
    }
};

template <class P>
class RecursiveFilterThreads : public ::testing::Test {};
TYPED_TEST_SUITE(RecursiveFilterThreads, Pairs, PairNames);

}  // namespace

TYPED_TEST(RecursiveFilterThreads, ExecutorGivesTheSameBitsAsTheCallersThread) {
    using In = typename TypeParam::In;
    using Out = typename TypeParam::Out;
    using Filter = typename TypeParam::Filter;
    const int derivatives = isVector<In>() ? 1 : 7;
    std::vector<std::unique_ptr<nvf::CnThreadPoolExecutor>> pools;
    for (unsigned int t : kThreads) {
        pools.push_back(std::make_unique<nvf::CnThreadPoolExecutor>(t));
    }
    std::uint32_t seed = 3;
    for (const Size& s : kSizes) {
        const Image<In> in = randomImage<In>(s, seed++);
        for (int d = 0; d < derivatives; ++d) {
            Filter f;
            f.setSigma(0.7 + 0.4 * d, 2.3, 1.6);
            f.setDerivative(static_cast<typename Filter::EnDerivativeType>(d));
            Image<Out> alone(s.x, s.y, s.z);
            f.execute(in, alone);
            for (std::size_t p = 0; p < pools.size(); ++p) {
                Image<Out> shared(s.x, s.y, s.z);
                f.setExecutor(pools[p].get());
                f.execute(in, shared);
                f.setExecutor(nullptr);
                EXPECT_TRUE(identical(alone, shared))
                    << describe(s) << " derivative " << d << " threads " << kThreads[p];
            }
        }
    }
}

TYPED_TEST(RecursiveFilterThreads, InPlaceWithAnExecutorGivesTheSameBits) {
    using In = typename TypeParam::In;
    using Out = typename TypeParam::Out;
    if constexpr (std::is_same_v<In, Out>) {
        nvf::CnThreadPoolExecutor pool(3);
        const Size s{33, 21, 17};
        const Image<In> in = randomImage<In>(s, 41);
        typename TypeParam::Filter f;
        f.setSigma(1.2, 3.0, 0.9);
        Image<Out> alone(s.x, s.y, s.z);
        f.execute(in, alone);
        Image<Out> inPlace = in;
        f.setExecutor(&pool);
        f.execute(inPlace, inPlace);
        EXPECT_TRUE(identical(alone, inPlace));
    }
}

// The passes really are handed to the executor: each dependent pass of a
// volume large enough to split is one call with more than one task.
TEST(RecursiveFilterExecutor, PassesAreSplitIntoTasks) {
    nvf::CnThreadPoolExecutor pool(2);
    CountingExecutor counting(pool);
    const Size s{64, 48, 40};
    const Image<float> in = randomImage<float>(s, 8);
    Image<float> out(s.x, s.y, s.z);
    nvf::CnRecursiveFilter<float, float> f;
    f.setSigma(2.0, 2.0, 2.0);
    f.setExecutor(&counting);
    f.execute(in, out);
    EXPECT_GE(counting.splitCalls.load(), 2);

    CountingExecutor countingGradient(pool);
    const Volume<unsigned char> src = randomVolume(s, 9);
    Volume<Vec3f> dst(s.x, s.y, s.z);
    nvf::CnImageGradient<unsigned char> g;
    g.setSigma(1.5);
    g.setExecutor(&countingGradient);
    g.execute(src, dst);
    EXPECT_GE(countingGradient.splitCalls.load(), 2);
}

TEST(ImageGradientThreads, ExecutorGivesTheSameBitsAsTheCallersThread) {
    std::vector<std::unique_ptr<nvf::CnThreadPoolExecutor>> pools;
    for (unsigned int t : kThreads) {
        pools.push_back(std::make_unique<nvf::CnThreadPoolExecutor>(t));
    }
    std::uint32_t seed = 17;
    for (const Size& s : kSizes) {
        const Volume<unsigned char> src = randomVolume(s, seed++);
        for (double sigma : {0.0, 1.7}) {
            nvf::CnImageGradient<unsigned char> g;
            g.setSigma(sigma);
            Volume<Vec3f> alone(s.x, s.y, s.z);
            g.execute(src, alone);
            for (std::size_t p = 0; p < pools.size(); ++p) {
                Volume<Vec3f> shared(s.x, s.y, s.z);
                g.setExecutor(pools[p].get());
                g.execute(src, shared);
                g.setExecutor(nullptr);
                EXPECT_TRUE(identical(alone, shared)) << describe(s) << " sigma " << sigma << " threads " << kThreads[p];
            }
        }
    }
}

// A failure inside a pass comes out of the executor as it does without one,
// with the output as far as the earlier passes wrote it.
TEST(RecursiveFilterExecutor, FailuresAreTheSameWithAnExecutor) {
    nvf::CnThreadPoolExecutor pool(3);
    const Size s{29, 23, 19};
    {
        const Image<float> in = randomImage<float>(s, 5);
        nvf::CnRecursiveFilter<float, float> f;
        f.setSigma(1.0, 1.5, 300.0);
        Image<float> alone(s.x, s.y, s.z), shared(s.x, s.y, s.z);
        const std::string expected = messageOf([&] { f.execute(in, alone); });
        EXPECT_NE(expected, "");
        f.setExecutor(&pool);
        EXPECT_EQ(messageOf([&] { f.execute(in, shared); }), expected);
        EXPECT_TRUE(identical(alone, shared));
    }
    {
        const Image<Vec3f> in = randomImage<Vec3f>(s, 6);
        nvf::CnRecursiveFilter<Vec3f, Vec3f> f;
        f.setDerivative(nvf::CnRecursiveFilter<Vec3f, Vec3f>::FirstDerivativeZ);
        Image<Vec3f> alone(s.x, s.y, s.z), shared(s.x, s.y, s.z);
        const std::string expected = messageOf([&] { f.execute(in, alone); });
        EXPECT_NE(expected, "");
        f.setExecutor(&pool);
        EXPECT_EQ(messageOf([&] { f.execute(in, shared); }), expected);
        EXPECT_TRUE(identical(alone, shared));
    }
    {
        const Volume<unsigned char> src = randomVolume(s, 7);
        nvf::CnImageGradient<unsigned char> g;
        g.setSigma(500.0);
        Volume<Vec3f> alone(s.x, s.y, s.z), shared(s.x, s.y, s.z);
        const std::string expected = messageOf([&] { g.execute(src, alone); });
        EXPECT_NE(expected, "");
        g.setExecutor(&pool);
        EXPECT_EQ(messageOf([&] { g.execute(src, shared); }), expected);
        EXPECT_TRUE(identical(alone, shared));
    }
}

// Two filters, each run repeatedly from its own thread, share one executor.
TEST(RecursiveFilterExecutor, TwoFiltersShareOneExecutorFromTwoThreads) {
    nvf::CnThreadPoolExecutor pool(3);
    const Size s{45, 37, 29};
    const Image<float> in = randomImage<float>(s, 21);
    const Volume<unsigned char> src = randomVolume(s, 22);

    nvf::CnRecursiveFilter<float, float> smooth;
    smooth.setSigma(1.8, 1.1, 2.6);
    Image<float> smoothAlone(s.x, s.y, s.z);
    smooth.execute(in, smoothAlone);
    nvf::CnImageGradient<unsigned char> gradient;
    gradient.setSigma(1.3);
    Volume<Vec3f> gradientAlone(s.x, s.y, s.z);
    gradient.execute(src, gradientAlone);

    smooth.setExecutor(&pool);
    gradient.setExecutor(&pool);
    std::atomic<int> mismatches{0};
    std::thread first([&] {
        for (int i = 0; i < 6; ++i) {
            Image<float> out(s.x, s.y, s.z);
            smooth.execute(in, out);
            if (!identical(out, smoothAlone)) {
                ++mismatches;
            }
        }
    });
    std::thread second([&] {
        for (int i = 0; i < 6; ++i) {
            Volume<Vec3f> out(s.x, s.y, s.z);
            gradient.execute(src, out);
            if (!identical(out, gradientAlone)) {
                ++mismatches;
            }
        }
    });
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}
