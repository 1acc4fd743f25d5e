// The separable filter (fused sweep, pass by pass in float and double, vector
// voxels) and the line filter give the same bytes on every executor and thread
// count as without one and as line-by-line runs, on shapes cut into several
// tasks; a failing task reaches the caller; filters share one pool safely.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>

#include "ConvolutionTestSupport.h"
#include "ExecutorTestSupport.h"

using namespace convtest;
using exectest::expectSameOnEveryExecutor;
using Factory = nvf::CnKernelFactory<float>;
using ByteSeparable =
    nvf::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;
using VecSeparable = nvf::CnSeparableFilter<Vec3f, Vec3f, float, Vec3f, std::multiplies<float>, std::plus<float>>;

namespace {

struct Shape {
    unsigned int in[3];
    unsigned int out[3];
};

std::string describe(const Shape& s) {
    return std::to_string(s.in[0]) + "x" + std::to_string(s.in[1]) + "x" + std::to_string(s.in[2]) + " -> " +
           std::to_string(s.out[0]) + "x" + std::to_string(s.out[1]) + "x" + std::to_string(s.out[2]);
}

// Halved (pyramid), kept and doubled axes; an axis of length 1 keeps its length.
unsigned int resampled(unsigned int n, int mode) {
    if (n == 1) {
        return 1;
    }
    return mode == 0 ? (n + 1) / 2 : mode == 1 ? n : 2 * n;
}

// Shapes with odd sizes, thin ones (one voxel along each axis in turn) and some
// large enough that every pass is cut into several tasks.
std::vector<Shape> shapes(std::mt19937& rng) {
    std::vector<Shape> list;
    std::uniform_int_distribution<int> odd(2, 30), mode(0, 2);
    const unsigned int sizes[][3] = {{1, 37, 23}, {41, 1, 19}, {29, 33, 1}, {1, 1, 45}, {1, 2101, 1},
                                     {2101, 1, 1}, {1501, 301, 1}, {67, 45, 39}, {1100, 7, 5}};
    for (const auto& s : sizes) {
        const int m = mode(rng);
        list.push_back({{s[0], s[1], s[2]}, {resampled(s[0], m), resampled(s[1], m), resampled(s[2], m)}});
    }
    for (int t = 0; t < 6; ++t) {
        Shape s{};
        for (int a = 0; a < 3; ++a) {
            s.in[a] = static_cast<unsigned int>(2 * odd(rng) + 1);
            s.out[a] = resampled(s.in[a], mode(rng));
        }
        list.push_back(s);
    }
    return list;
}

// The kernel of an axis: `taps` if the axis is long enough, else the identity.
nvf::CnKernel<float> kernelFor(const nvf::CnKernel<float>& taps, unsigned int n) {
    return n >= taps.size() ? taps : Factory::id();
}

// The same run line by line through the line filter, the reference.
template <class In, class Tmp, class Acc>
Image<In> referenceRun(const nvf::CnKernel<float>& k, const Image<In>& in, const Shape& s) {
    Image<In> out(s.out[0], s.out[1], s.out[2]);
    separableByLines<In, Tmp, Acc>(in, out, kernelFor(k, in.getSizeX()), kernelFor(k, in.getSizeY()),
                                   kernelFor(k, in.getSizeZ()));
    return out;
}

template <class Filter, class In, class Out>
void runSeparable(Filter& f, const nvf::CnKernel<float>& k, const Image<In>& in, Image<Out>& out) {
    f.setKernel(kernelFor(k, in.getSizeX()), nvf::CnCoord::X);
    f.setKernel(kernelFor(k, in.getSizeY()), nvf::CnCoord::Y);
    f.setKernel(kernelFor(k, in.getSizeZ()), nvf::CnCoord::Z);
    f.execute(in, out);
}

std::vector<unsigned char> bytes(const Image<unsigned char>& im) {
    return std::vector<unsigned char>(im.data(), im.data() + im.getNumberOfVoxels());
}

std::vector<std::uint32_t> bits(const Image<Vec3f>& im) {
    std::vector<std::uint32_t> b(3 * im.getNumberOfVoxels());
    for (std::size_t i = 0; i < im.getNumberOfVoxels(); ++i) {
        const float c[3] = {im[i].x, im[i].y, im[i].z};
        std::memcpy(&b[3 * i], c, sizeof c);
    }
    return b;
}

TEST(SeparableFilterOnExecutors, EightBitKernelsOfEveryPathGiveTheSameBytes) {
    // smooth(0.375) runs as the fused sweep, smooth(0.4) pass by pass in float
    // where that is exact, random taps pass by pass in double.
    std::mt19937 rng(101);
    const std::vector<std::pair<std::string, nvf::CnKernel<float>>> kernels = {
        {"pyramid", Factory::smooth(0.375f)},
        {"smooth 0.4", Factory::smooth(0.4f)},
        {"random taps", nvf::CnKernel<float>(randomKernel(3, rng))}};
    for (const Shape& s : shapes(rng)) {
        const Image<unsigned char> in = randomBytes(s.in[0], s.in[1], s.in[2], rng);
        for (const auto& kernel : kernels) {
            const std::function<std::vector<unsigned char>(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
                ByteSeparable f;
                f.setExecutor(e);
                Image<unsigned char> out(s.out[0], s.out[1], s.out[2]);
                runSeparable(f, kernel.second, in, out);
                return bytes(out);
            };
            const bool big = in.getNumberOfVoxels() > 200000;
            expectSameOnEveryExecutor(run, big, kernel.first + " " + describe(s));
            EXPECT_EQ(bytes(referenceRun<unsigned char, float, float>(kernel.second, in, s)), run(nullptr))
                << kernel.first << " " << describe(s) << " against the line filter";
        }
    }
}

TEST(SeparableFilterOnExecutors, FusedVolumeSweepCutsRoundsIntoTasks) {
    // Several rounds of output slices, shared input slices between rounds, and
    // slices wider than one piece of the Z sums.
    std::mt19937 rng(102);
    for (const Shape& s : {Shape{{131, 71, 61}, {66, 36, 31}}, Shape{{9, 11, 70}, {5, 6, 35}},
                           Shape{{21, 17, 13}, {42, 34, 26}}}) {
        const Image<unsigned char> in = randomBytes(s.in[0], s.in[1], s.in[2], rng);
        const std::function<std::vector<unsigned char>(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
            ByteSeparable f;
            f.setExecutor(e);
            Image<unsigned char> out(s.out[0], s.out[1], s.out[2]);
            runSeparable(f, Factory::smooth(0.375f), in, out);
            return bytes(out);
        };
        expectSameOnEveryExecutor(run, true, describe(s));
        EXPECT_EQ(bytes(referenceRun<unsigned char, float, float>(Factory::smooth(0.375f), in, s)), run(nullptr))
            << describe(s) << " against the line filter";
    }
}

TEST(SeparableFilterOnExecutors, VectorVoxelsGiveTheSameBits) {
    std::mt19937 rng(103);
    for (const Shape& s : shapes(rng)) {
        if (static_cast<std::size_t>(s.in[0]) * s.in[1] * s.in[2] > 300000) {
            continue;
        }
        const Image<Vec3f> in = randomVectors(s.in[0], s.in[1], s.in[2], rng);
        const std::function<std::vector<std::uint32_t>(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
            VecSeparable f;
            f.setExecutor(e);
            Image<Vec3f> out(s.out[0], s.out[1], s.out[2]);
            runSeparable(f, Factory::smooth(0.4f), in, out);
            return bits(out);
        };
        expectSameOnEveryExecutor(run, in.getNumberOfVoxels() > 2000, describe(s));
        EXPECT_EQ(bits(referenceRun<Vec3f, Vec3f, Vec3f>(Factory::smooth(0.4f), in, s)), run(nullptr))
            << describe(s) << " against the line filter";
    }
}

TEST(LineFilterOnExecutors, LongLinesAreCutIntoPieces) {
    std::mt19937 rng(104);
    for (const unsigned int n : {1u, 5u, 40001u, 70001u}) {
        for (const unsigned int m : {n, (n + 1) / 2, 2 * n}) {
            const Image<unsigned char> in = randomBytes(n, 1, 1, rng);
            const std::function<std::vector<unsigned char>(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
                LineFilter<unsigned char, unsigned char> f;
                f.setExecutor(e);
                f.setKernel(n >= 5 ? Factory::smooth(0.375f) : Factory::id());
                Image<unsigned char> out(2 * m, 1, 1);
                f.setInputData(in.begin(), n, 1);
                f.setOutputData(out.begin(), m, 2);
                f.execute();
                return bytes(out);
            };
            expectSameOnEveryExecutor(run, m > 40000, std::to_string(n) + " -> " + std::to_string(m));
        }
    }
}

TEST(SeparableFilterOnExecutors, TwoFiltersShareOnePoolFromTwoThreads) {
    std::mt19937 rng(105);
    const Image<unsigned char> a = randomBytes(301, 257, 1, rng);
    const Image<unsigned char> b = randomBytes(65, 63, 61, rng);
    const auto level = [](const Image<unsigned char>& in, nvf::CnExecutor* e) {
        ByteSeparable f;
        f.setExecutor(e);
        Image<unsigned char> out((in.getSizeX() + 1) / 2, (in.getSizeY() + 1) / 2, (in.getSizeZ() + 1) / 2);
        f.setKernel(Factory::smooth(0.375f), static_cast<nvf::CnCoord::Axis>(7));
        f.execute(in, out);
        return bytes(out);
    };
    const std::vector<unsigned char> expectedA = level(a, nullptr), expectedB = level(b, nullptr);
    nvf::CnThreadPoolExecutor pool(3);
    bool sameA = true, sameB = true;
    std::thread first([&] {
        for (int i = 0; i < 10; ++i) sameA = sameA && level(a, &pool) == expectedA;
    });
    std::thread second([&] {
        for (int i = 0; i < 10; ++i) sameB = sameB && level(b, &pool) == expectedB;
    });
    first.join();
    second.join();
    EXPECT_TRUE(sameA);
    EXPECT_TRUE(sameB);
}

}  // namespace
