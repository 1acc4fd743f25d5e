// The separable filter against naive references and line-by-line runs on random
// shapes and vector voxels, its kernels per axis, its temporaries and its
// refusals (short axes, zero dimensions, outputs too long to resample).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nvcore/Throwable.h>
#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>
#include <nvfiltering/convolution/detail/CheckedSize.h>
#include <nvfiltering/framework/CnMessages.h>

#include "convolution/AllocationCounter.h"
#include "convolution/ConvolutionTestSupport.h"

using namespace convtest;
using Factory = nvf::CnKernelFactory<float>;
using Axis = nvf::CnCoord::Axis;
namespace msg = nvf::messages;

using ByteSeparable =
    nvf::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;
using VecSeparable = nvf::CnSeparableFilter<Vec3f, Vec3f, float, Vec3f, std::multiplies<float>, std::plus<float>>;

namespace {

Axis axis(int bits) { return static_cast<Axis>(bits); }

// Naive separable reference written with referenceLine: the X pass into float,
// Y into float (or rounded to 8 bits for a single slice), Z rounded to 8 bits.
Image<unsigned char> referenceSeparable(const Image<unsigned char>& in, unsigned int oX, unsigned int oY,
                                        unsigned int oZ, const std::vector<float>& kx, const std::vector<float>& ky,
                                        const std::vector<float>& kz) {
    const unsigned int iX = in.getSizeX(), iY = in.getSizeY(), iZ = in.getSizeZ();
    Image<float> t1(oX, iY, iZ);
    for (unsigned int z = 0; z < iZ; ++z) {
        for (unsigned int y = 0; y < iY; ++y) {
            std::vector<double> line(iX);
            for (unsigned int x = 0; x < iX; ++x) {
                line[x] = in(x, y, z);
            }
            const std::vector<double> r = referenceLine(line, oX, kx);
            for (unsigned int x = 0; x < oX; ++x) {
                t1(x, y, z) = static_cast<float>(r[x]);
            }
        }
    }
    Image<unsigned char> out(oX, oY, iZ == 1 ? oZ : oZ);
    Image<float> t2(oX, oY, iZ);
    for (unsigned int z = 0; z < iZ; ++z) {
        for (unsigned int x = 0; x < oX; ++x) {
            std::vector<double> line(iY);
            for (unsigned int y = 0; y < iY; ++y) {
                line[y] = t1(x, y, z);
            }
            const std::vector<double> r = referenceLine(line, oY, ky);
            for (unsigned int y = 0; y < oY; ++y) {
                if (iZ == 1) {
                    out(x, y, 0) = toByte(r[y]);
                } else {
                    t2(x, y, z) = static_cast<float>(r[y]);
                }
            }
        }
    }
    if (iZ == 1) {
        return out;
    }
    for (unsigned int y = 0; y < oY; ++y) {
        for (unsigned int x = 0; x < oX; ++x) {
            std::vector<double> line(iZ);
            for (unsigned int z = 0; z < iZ; ++z) {
                line[z] = t2(x, y, z);
            }
            const std::vector<double> r = referenceLine(line, oZ, kz);
            for (unsigned int z = 0; z < oZ; ++z) {
                out(x, y, z) = toByte(r[z]);
            }
        }
    }
    return out;
}

Image<Vec3f> referenceSeparable(const Image<Vec3f>& in, unsigned int oX, unsigned int oY, unsigned int oZ,
                                const std::vector<float>& kx, const std::vector<float>& ky,
                                const std::vector<float>& kz) {
    const unsigned int iX = in.getSizeX(), iY = in.getSizeY(), iZ = in.getSizeZ();
    Image<Vec3f> t1(oX, iY, iZ), t2(oX, oY, iZ), out(oX, oY, oZ);
    for (unsigned int z = 0; z < iZ; ++z) {
        for (unsigned int y = 0; y < iY; ++y) {
            std::vector<Vec3f> line(iX);
            for (unsigned int x = 0; x < iX; ++x) {
                line[x] = in(x, y, z);
            }
            const std::vector<Vec3f> r = referenceLine(line, oX, kx);
            for (unsigned int x = 0; x < oX; ++x) {
                t1(x, y, z) = r[x];
            }
        }
    }
    Image<Vec3f>& yTarget = iZ == 1 ? out : t2;
    for (unsigned int z = 0; z < iZ; ++z) {
        for (unsigned int x = 0; x < oX; ++x) {
            std::vector<Vec3f> line(iY);
            for (unsigned int y = 0; y < iY; ++y) {
                line[y] = t1(x, y, z);
            }
            const std::vector<Vec3f> r = referenceLine(line, oY, ky);
            for (unsigned int y = 0; y < oY; ++y) {
                yTarget(x, y, z) = r[y];
            }
        }
    }
    if (iZ == 1) {
        return out;
    }
    for (unsigned int y = 0; y < oY; ++y) {
        for (unsigned int x = 0; x < oX; ++x) {
            std::vector<Vec3f> line(iZ);
            for (unsigned int z = 0; z < iZ; ++z) {
                line[z] = t2(x, y, z);
            }
            const std::vector<Vec3f> r = referenceLine(line, oZ, kz);
            for (unsigned int z = 0; z < oZ; ++z) {
                out(x, y, z) = r[z];
            }
        }
    }
    return out;
}

// Runs f on (in, out), expects a Throwable with `message`, an unchanged output
// and no memory kept or allocated beyond `allowedBytes` during the call.
template <class Filter, class T>
void expectRefused(Filter& f, const Image<T>& in, Image<T>& out, const std::string& message,
                   long long allowedBytes = 4096) {
    const Image<T> before = out;
    alloccount::Scope scope;
    try {
        f.execute(in, out);
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const com::norvane::Throwable& e) {
        EXPECT_EQ(e.getMessage(), message);
        EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
    }
    EXPECT_EQ(scope.liveBytes(), 0);
    EXPECT_LT(scope.peakBytes(), allowedBytes);
    EXPECT_TRUE(sameBits(out, before));
}

// One axis of a separable run as the headers state it, for the direct
// convolution below: for output sample j and tap t, the input sample the tap
// reads in the up-sampled line mirrored about its first and its last sample
// (-1 where that line holds an inserted zero), and the gain of the axis.
struct AxisTaps {
    std::vector<std::vector<long>> source;
    double gain;
};

AxisTaps axisTaps(std::size_t n, std::size_t m, std::size_t taps) {
    const Factors f = factors(n, m);
    const long h = static_cast<long>(taps / 2);
    const long u = static_cast<long>(n * f.up);
    AxisTaps a{std::vector<std::vector<long>>(m, std::vector<long>(taps)), static_cast<double>(f.up)};
    for (std::size_t j = 0; j < m; ++j) {
        for (std::size_t t = 0; t < taps; ++t) {
            a.source[j][t] = mirroredSource(static_cast<long>(j * f.down + t) - h, u, static_cast<long>(f.up));
        }
    }
    return a;
}

// The separable filter written as one three-dimensional convolution: output
// voxel (x, y, z) is the product of the three gains times the sum, over every
// triple of taps, of the three taps times the input voxel they read together
// (nothing where one of them reads an inserted zero), in double. `magnitude`
// gets the same sum of absolute values. A single slice is convolved along X
// and Y only. sample(i) is the value of input voxel i.
template <class T, class Sample>
void directConvolution(const Image<T>& in, const Size3& out, const std::vector<float> (&k)[3], Sample sample,
                       std::vector<double>& value, std::vector<double>& magnitude) {
    const bool slice = in.getSizeZ() == 1;
    const AxisTaps ax = axisTaps(in.getSizeX(), out.x, k[0].size());
    const AxisTaps ay = axisTaps(in.getSizeY(), out.y, k[1].size());
    const AxisTaps az = slice ? AxisTaps{{{0}}, 1.0} : axisTaps(in.getSizeZ(), out.z, k[2].size());
    const std::vector<float> kz = slice ? std::vector<float>{1.0f} : k[2];
    const std::size_t oZ = slice ? 1 : out.z;
    value.assign(static_cast<std::size_t>(out.x) * out.y * oZ, 0.0);
    magnitude.assign(value.size(), 0.0);
    std::size_t o = 0;
    for (std::size_t z = 0; z < oZ; ++z) {
        for (std::size_t y = 0; y < out.y; ++y) {
            for (std::size_t x = 0; x < out.x; ++x, ++o) {
                double sum = 0.0, size = 0.0;
                for (std::size_t tz = 0; tz < kz.size(); ++tz) {
                    for (std::size_t ty = 0; ty < k[1].size(); ++ty) {
                        for (std::size_t tx = 0; tx < k[0].size(); ++tx) {
                            const long sx = ax.source[x][tx], sy = ay.source[y][ty], sz = az.source[z][tz];
                            if (sx < 0 || sy < 0 || sz < 0) {
                                continue;
                            }
                            const double term =
                                static_cast<double>(k[0][tx]) * static_cast<double>(k[1][ty]) *
                                static_cast<double>(kz[tz]) *
                                sample(in.linearIndex(static_cast<unsigned int>(sx), static_cast<unsigned int>(sy),
                                                      static_cast<unsigned int>(sz)));
                            sum += term;
                            size += std::abs(term);
                        }
                    }
                }
                const double gain = ax.gain * ay.gain * az.gain;
                value[o] = sum * gain;
                magnitude[o] = size * gain;
            }
        }
    }
}

}  // namespace

TEST(CnSeparableFilter, DefaultKernelsCopyTheInput) {
    std::mt19937 rng(1);
    for (unsigned int z : {1u, 4u}) {
        const Image<unsigned char> in = randomImage<unsigned char>({7, 5, z}, rng);
        Image<unsigned char> out(7, 5, z);
        ByteSeparable f;
        f.execute(in, out);
        EXPECT_TRUE(sameBits(out, in));
    }
    const Image<Vec3f> vin = randomImage<Vec3f>({3, 4, 5}, rng);
    Image<Vec3f> vout(3, 4, 5);
    VecSeparable vf;
    vf.execute(vin, vout);
    EXPECT_TRUE(sameBits(vout, vin));
}

TEST(CnSeparableFilter, AxisBitsSelectKernels) {
    ByteSeparable f;
    const nvf::CnKernel<float> a(std::vector<float>{1, 2, 3}), b(std::vector<float>{4, 5});
    f.setKernel(a, axis(3));
    EXPECT_EQ(values(f.getKernel(nvf::CnCoord::X)), values(a));
    EXPECT_EQ(values(f.getKernel(nvf::CnCoord::Y)), values(a));
    EXPECT_EQ(values(f.getKernel(nvf::CnCoord::Z)), values(Factory::id()));
    EXPECT_EQ(&f.getKernel(axis(3)), &f.getKernel(nvf::CnCoord::X));
    EXPECT_EQ(&f.getKernel(axis(6)), &f.getKernel(nvf::CnCoord::Y));
    EXPECT_EQ(&f.getKernel(axis(4 | 8)), &f.getKernel(nvf::CnCoord::Z));

    f.setKernel(b, axis(8 | 16));  // no known bit: nothing changes
    f.setKernel(b, axis(-8));      // high bits only
    EXPECT_EQ(values(f.getKernel(nvf::CnCoord::X)), values(a));
    EXPECT_EQ(values(f.getKernel(nvf::CnCoord::Z)), values(Factory::id()));
    f.setKernel(b, axis(7 | 8));
    for (int bit : {1, 2, 4}) {
        EXPECT_EQ(values(f.getKernel(axis(bit))), values(b));
    }
    nvf::CnKernel<float> centred = Factory::smooth(0.375f);
    f.setKernel(centred, nvf::CnCoord::Z);
    EXPECT_EQ(f.getKernel(nvf::CnCoord::Z).getCenter(), 2u);

    for (int bits : {0, 8, 16, 1 << 30}) {
        try {
            f.getKernel(axis(bits));
            ADD_FAILURE() << bits;
        } catch (const com::norvane::Throwable& e) {
            EXPECT_EQ(e.getMessage(), msg::kUnknownAxisGetKernel);
            EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
        }
    }
}

TEST(CnSeparableFilter, PyramidLevelOfRandomImagesMatchesTheNaiveReference) {
    std::mt19937 rng(2);
    const std::vector<float> s = Factory::pyrfilt(0.375f);
    struct Case {
        unsigned int iX, iY, iZ, oX, oY, oZ;
    };
    const Case cases[] = {{64, 48, 1, 32, 24, 1},  {37, 23, 1, 18, 11, 1}, {37, 23, 1, 19, 12, 1},
                          {16, 12, 10, 8, 6, 5},   {31, 17, 9, 15, 8, 4},  {21, 19, 7, 11, 10, 4},
                          {9, 11, 13, 9, 5, 6}};
    for (const Case& c : cases) {
        const Image<unsigned char> in = randomImage<unsigned char>({c.iX, c.iY, c.iZ}, rng);
        Image<unsigned char> out(c.oX, c.oY, c.oZ);
        ByteSeparable f;
        f.setKernel(Factory::smooth(0.375f), axis(7));
        f.execute(in, out);
        EXPECT_TRUE(sameBits(out, referenceSeparable(in, c.oX, c.oY, c.oZ, s, s, s)))
            << describe({c.iX, c.iY, c.iZ}) << " -> " << describe({c.oX, c.oY, c.oZ});
    }
}

TEST(CnSeparableFilter, EvenPyramidOutputIsTheSmoothedInputAtEvenPositions) {
    std::mt19937 rng(3);
    const Image<unsigned char> in = randomImage<unsigned char>({20, 14, 1}, rng);
    Image<unsigned char> half(10, 7, 1), full(20, 14, 1);
    ByteSeparable f;
    f.setKernel(Factory::smooth(0.375f), axis(7));
    f.execute(in, half);
    // Smoothing at full size then picking (2x, 2y) differs only by the rounding of the
    // full-size intermediate, which both runs keep in float: the results are equal.
    f.execute(in, full);
    for (unsigned int y = 0; y < 7; ++y) {
        for (unsigned int x = 0; x < 10; ++x) {
            EXPECT_EQ(half(x, y, 0), full(2 * x, 2 * y, 0)) << x << "," << y;
        }
    }
}

TEST(CnSeparableFilter, SingleSliceIgnoresTheZKernelAndOutputDepth) {
    std::mt19937 rng(4);
    const Image<unsigned char> in = randomImage<unsigned char>({12, 9, 1}, rng);
    Image<unsigned char> out(6, 9, 3);
    out.fill(77);
    ByteSeparable f;
    f.setKernel(Factory::smooth(0.375f), axis(3));
    f.setKernel(nvf::CnKernel<float>(std::vector<float>(9, 1.0f)), nvf::CnCoord::Z);  // longer than iZ
    f.execute(in, out);
    const std::vector<float> s = Factory::pyrfilt(0.375f);
    const Image<unsigned char> ref = referenceSeparable(in, 6, 9, 1, s, s, {});
    for (unsigned int y = 0; y < 9; ++y) {
        for (unsigned int x = 0; x < 6; ++x) {
            EXPECT_EQ(out(x, y, 0), ref(x, y, 0));
            EXPECT_EQ(out(x, y, 1), 77);
            EXPECT_EQ(out(x, y, 2), 77);
        }
    }
}

TEST(CnSeparableFilter, EightBitIntermediatesStayUnroundedFloats) {
    // X halves (0.5 would round to 1), Y and Z negate (a clamp would give 0): only the
    // last pass rounds and clamps.
    for (unsigned int z : {1u, 3u}) {
        Image<unsigned char> in(3, 3, z), out(3, 3, z);
        in.fill(1);
        ByteSeparable f;
        f.setKernel(nvf::CnKernel<float>({0.5f}), nvf::CnCoord::X);
        f.setKernel(nvf::CnKernel<float>({-2.0f}), nvf::CnCoord::Y);
        f.setKernel(nvf::CnKernel<float>({z == 1 ? 1.0f : -1.0f}), nvf::CnCoord::Z);
        f.execute(in, out);
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], z == 1 ? 0 : 1) << "z=" << z;
        }
    }
}

TEST(CnSeparableFilter, VectorVolumesMatchTheNaiveReference) {
    std::mt19937 rng(5);
    const std::vector<float> s = Factory::pyrfilt(0.4f);
    const std::vector<float> k3{0.25f, -0.5f, 1.25f};
    struct Case {
        unsigned int iX, iY, iZ, oX, oY, oZ;
    };
    for (const Case& c : {Case{11, 9, 7, 5, 9, 14}, Case{8, 10, 1, 16, 5, 1}, Case{6, 7, 5, 6, 7, 5}}) {
        const Image<Vec3f> in = randomImage<Vec3f>({c.iX, c.iY, c.iZ}, rng);
        Image<Vec3f> out(c.oX, c.oY, c.oZ);
        VecSeparable f;
        f.setKernel(nvf::CnKernel<float>(s), nvf::CnCoord::X);
        f.setKernel(nvf::CnKernel<float>(k3), axis(6));
        f.execute(in, out);
        EXPECT_TRUE(sameBits(out, referenceSeparable(in, c.oX, c.oY, c.oZ, s, k3, k3))) << describe({c.iX, c.iY, c.iZ});
    }
}

// Random shapes (thin and single-slice ones included), kernels of 1 to 7
// random taps with a random centre, which the filter does not use, and axes
// halved, kept, doubled or cut to a third: the output is the direct 3-D
// convolution up to the rounding of the float passes (2^-16 of the sum of the
// absolute terms), 8-bit outputs clamped and rounded to the nearest value.
TEST(CnSeparableFilter, MatchesADirectThreeDimensionalConvolution) {
    std::mt19937 rng(13);
    std::uniform_int_distribution<unsigned int> dim(1, 13), taps(1, 7), mode(0, 3), centre(0, 6);
    const double rounding = std::ldexp(1.0, -16);
    int compared = 0;
    for (int trial = 0; trial < 300 && compared < 80; ++trial) {
        Size3 in{}, out{};
        unsigned int* ins[3] = {&in.x, &in.y, &in.z};
        unsigned int* outs[3] = {&out.x, &out.y, &out.z};
        std::vector<float> k[3];
        bool accepted = true;
        for (int a = 0; a < 3; ++a) {
            unsigned int& n = *ins[a];
            unsigned int& m = *outs[a];
            n = a == 2 && trial % 3 == 0 ? 1 : dim(rng);
            const unsigned int length = a == 2 && n == 1 ? taps(rng) : std::min(taps(rng), n);
            k[a] = randomKernel(length, rng);
            switch (mode(rng)) {
                case 0:
                    m = (n + 1) / 2;
                    break;
                case 1:
                    m = n;
                    break;
                case 2:
                    m = 2 * n;
                    break;
                default:
                    m = std::max(1u, n / 3);
                    break;
            }
            if (a == 2 && n == 1) {
                m = 1;  // a single slice runs along X and Y only
            } else {
                accepted = accepted && pairAccepted(n, m, k[a].size());
            }
        }
        if (!accepted) {
            continue;
        }
        ++compared;
        nvf::CnKernel<float> kernels[3] = {k[0], k[1], k[2]};
        for (nvf::CnKernel<float>& kernel : kernels) {
            kernel.setCenter(centre(rng));
        }
        const std::string what = describe(in) + " -> " + describe(out) + " taps " + std::to_string(k[0].size()) + "," +
                                 std::to_string(k[1].size()) + "," + std::to_string(k[2].size());
        std::vector<double> value, magnitude;

        const Image<unsigned char> bytes = randomImage<unsigned char>(in, rng);
        Image<unsigned char> got(out.x, out.y, out.z);
        ByteSeparable f;
        setKernels(f, kernels[0], kernels[1], kernels[2]);
        f.execute(bytes, got);
        directConvolution(
            bytes, out, k, [&](std::size_t i) { return static_cast<double>(bytes[i]); }, value, magnitude);
        int wrong = 0;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const double expected = std::min(255.0, std::max(0.0, value[i]));
            if (std::abs(static_cast<double>(got[i]) - expected) > 0.5 + rounding * magnitude[i] && wrong++ == 0) {
                ADD_FAILURE() << what << ": voxel " << i << " is " << static_cast<int>(got[i]) << ", the direct sum "
                              << value[i];
            }
        }
        EXPECT_EQ(wrong, 0) << what;

        const Image<Vec3f> vectors = randomImage<Vec3f>(in, rng);
        Image<Vec3f> gotVectors(out.x, out.y, out.z);
        VecSeparable vf;
        setKernels(vf, kernels[0], kernels[1], kernels[2]);
        vf.execute(vectors, gotVectors);
        float Vec3f::*const components[3] = {&Vec3f::x, &Vec3f::y, &Vec3f::z};
        for (float Vec3f::*component : components) {
            directConvolution(
                vectors, out, k, [&](std::size_t i) { return static_cast<double>(vectors[i].*component); }, value,
                magnitude);
            wrong = 0;
            for (std::size_t i = 0; i < value.size(); ++i) {
                const double g = static_cast<double>(gotVectors[i].*component);
                if (std::abs(g - value[i]) > rounding * magnitude[i] && wrong++ == 0) {
                    ADD_FAILURE() << what << ": vector voxel " << i << " has " << g << ", the direct sum " << value[i];
                }
            }
            EXPECT_EQ(wrong, 0) << what << " vectors";
        }
    }
    EXPECT_GE(compared, 60);
}

TEST(CnSeparableFilter, MatchesLineByLineRunsOnRandomShapes) {
    // Random dimensions (odd, thin, single-slice), kernels of 1 to 7 taps with
    // negative values, and output dimensions that up- or down-sample or keep each axis.
    std::mt19937 rng(6);
    std::uniform_int_distribution<int> dim(1, 23), taps(1, 7), mode(0, 5);
    int compared = 0;
    for (int trial = 0; trial < 300 && compared < 120; ++trial) {
        unsigned int in[3], out[3];
        std::vector<float> k[3];
        bool ok = true;
        for (int a = 0; a < 3; ++a) {
            in[a] = static_cast<unsigned int>(dim(rng));
            if (a == 2 && trial % 4 == 0) {
                in[a] = 1;
            }
            if (a == 2 && trial % 4 == 1) {
                in[a] = 2 + trial % 3;  // thin volume
            }
            const std::size_t length = static_cast<std::size_t>(std::min<int>(taps(rng), static_cast<int>(in[a])));
            k[a] = trial % 3 == 0 ? randomKernel(length, rng) : dyadicKernel(length, trial % 3 == 1 ? 4 : 300, rng);
            switch (mode(rng)) {
                case 0: out[a] = in[a] * 2; break;
                case 1: out[a] = (in[a] + 1) / 2; break;
                case 2: out[a] = std::max(1u, in[a] / 3); break;
                case 3: out[a] = static_cast<unsigned int>(dim(rng)); break;
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
    EXPECT_GE(compared, 60);
}

// Pyramid levels and other resamplings of thin shapes (one voxel along each
// axis in turn), long lines, and volumes large enough for several rounds of
// output slices, with the kernels of every path: the pyramid kernel (the fused
// sweep), smooth(0.4) (pass by pass in float where that is exact) and taps
// that are not short fractions (pass by pass in double); an axis shorter than
// the kernel gets the identity.
TEST(CnSeparableFilter, LargerAndThinVolumesMatchLineByLineRuns) {
    std::mt19937 rng(8);
    struct Case {
        Size3 in, out;
    };
    std::vector<Case> cases = {
        {{257, 131, 1}, {128, 65, 1}}, {{67, 45, 29}, {33, 22, 14}},    {{67, 45, 29}, {67, 45, 29}},
        {{40, 33, 6}, {80, 33, 12}},   {{1, 37, 23}, {1, 19, 12}},      {{41, 1, 19}, {41, 1, 19}},
        {{29, 33, 1}, {58, 66, 1}},    {{1, 1, 45}, {1, 1, 90}},        {{1, 2101, 1}, {1, 1051, 1}},
        {{2101, 1, 1}, {4202, 1, 1}},  {{1501, 301, 1}, {751, 151, 1}}, {{1100, 7, 5}, {550, 4, 3}},
        {{131, 71, 61}, {66, 36, 31}}, {{9, 11, 70}, {5, 6, 35}},       {{21, 17, 13}, {42, 34, 26}}};
    std::uniform_int_distribution<unsigned int> half(2, 30), mode(0, 2);
    for (int t = 0; t < 6; ++t) {
        Case c{};
        unsigned int* in[3] = {&c.in.x, &c.in.y, &c.in.z};
        unsigned int* out[3] = {&c.out.x, &c.out.y, &c.out.z};
        for (int a = 0; a < 3; ++a) {
            *in[a] = 2 * half(rng) + 1;
            const unsigned int m = mode(rng);
            *out[a] = m == 0 ? (*in[a] + 1) / 2 : m == 1 ? *in[a] : 2 * *in[a];
        }
        cases.push_back(c);
    }
    const nvf::CnKernel<float> kernels[] = {Factory::smooth(0.375f), Factory::smooth(0.4f),
                                            nvf::CnKernel<float>(randomKernel(3, rng))};
    const auto axisKernel = [](const nvf::CnKernel<float>& k, unsigned int n) {
        return n >= k.size() ? k : Factory::id();
    };
    for (const Case& c : cases) {
        const Image<unsigned char> src = randomImage<unsigned char>(c.in, rng);
        for (const nvf::CnKernel<float>& k : kernels) {
            const nvf::CnKernel<float> kx = axisKernel(k, c.in.x), ky = axisKernel(k, c.in.y),
                                       kz = axisKernel(k, c.in.z);
            Image<unsigned char> got(c.out.x, c.out.y, c.out.z), expected(c.out.x, c.out.y, c.out.z);
            ByteSeparable f;
            setKernels(f, kx, ky, kz);
            f.execute(src, got);
            separableByLines<unsigned char, float, float>(src, expected, kx, ky, kz);
            EXPECT_TRUE(sameBits(got, expected)) << describe(c.in) << " -> " << describe(c.out) << ", " << k;
        }
        if (static_cast<std::size_t>(c.in.x) * c.in.y * c.in.z > 300000) {
            continue;
        }
        const Image<Vec3f> vectors = randomImage<Vec3f>(c.in, rng);
        const nvf::CnKernel<float> s = Factory::smooth(0.4f);
        const nvf::CnKernel<float> kx = axisKernel(s, c.in.x), ky = axisKernel(s, c.in.y), kz = axisKernel(s, c.in.z);
        Image<Vec3f> got(c.out.x, c.out.y, c.out.z), expected(c.out.x, c.out.y, c.out.z);
        VecSeparable f;
        setKernels(f, kx, ky, kz);
        f.execute(vectors, got);
        separableByLines<Vec3f, Vec3f, Vec3f>(vectors, expected, kx, ky, kz);
        EXPECT_TRUE(sameBits(got, expected)) << describe(c.in) << " -> " << describe(c.out) << ", vectors";
    }
}

TEST(CnSeparableFilter, KeepsAtMostTwoTemporaryVolumes) {
    // The pyramid kernel takes the fused sweep, taps that are not short dyadic
    // fractions the pass-by-pass run; both stay within T1 (oX, iY, iZ) plus
    // T2 (oX, oY, iZ) when Y is resampled, and within one volume when it is not.
    std::mt19937 rng(9);
    const nvf::CnKernel<float> kernels[] = {Factory::smooth(0.375f), Factory::smooth(0.4f)};
    for (const nvf::CnKernel<float>& k : kernels) {
        {
            const Image<unsigned char> in = randomImage<unsigned char>({64, 64, 32}, rng);
            Image<unsigned char> out(32, 32, 16), expected(32, 32, 16);
            ByteSeparable f;
            f.setKernel(k, axis(7));
            const long long t1 = 32LL * 64 * 32 * 4, t2 = 32LL * 32 * 32 * 4;
            {
                alloccount::Scope scope;
                f.execute(in, out);
                EXPECT_EQ(scope.liveBytes(), 0);
                EXPECT_LE(scope.peakBytes(), t1 + t2 + 32 * 1024);
            }
            separableByLines<unsigned char, float, float>(in, expected, k, k, k);
            EXPECT_TRUE(sameBits(out, expected));
        }
        {
            const Image<unsigned char> in = randomImage<unsigned char>({64, 64, 32}, rng);
            Image<unsigned char> out(32, 64, 16);
            ByteSeparable f;
            f.setKernel(k, axis(7));
            const long long t1 = 32LL * 64 * 32 * 4;
            alloccount::Scope scope;
            f.execute(in, out);
            EXPECT_EQ(scope.liveBytes(), 0);
            EXPECT_LE(scope.peakBytes(), t1 + t1 / 32 + 32 * 1024);
        }
    }
    // The fused sweep keeps a ring of filtered slices, never more of them than
    // the input has: a thin volume whose Z window spans every slice.
    const Image<unsigned char> thin = randomImage<unsigned char>({40, 30, 5}, rng);
    Image<unsigned char> out(20, 15, 10);
    ByteSeparable f;
    f.setKernel(Factory::smooth(0.375f), axis(7));
    alloccount::Scope scope;
    f.execute(thin, out);
    EXPECT_EQ(scope.liveBytes(), 0);
    EXPECT_LE(scope.peakBytes(), 20LL * 15 * 5 * 4 + 32 * 1024);
}

TEST(CnSeparableFilter, ShortAxesAreRefusedBeforeAnyPass) {
    std::mt19937 rng(10);
    ByteSeparable f;
    f.setKernel(Factory::smooth(0.375f), axis(7));
    {
        const Image<unsigned char> in = randomImage<unsigned char>({4, 64, 64}, rng);
        Image<unsigned char> out(2, 32, 32);
        out.fill(9);
        expectRefused(f, in, out, msg::kDataSmallerThanKernel);
    }
    {
        const Image<unsigned char> in = randomImage<unsigned char>({64, 3, 64}, rng);
        Image<unsigned char> out(32, 3, 32);
        expectRefused(f, in, out, msg::kDataSmallerThanKernel);
    }
    {
        // Y and X would run and fill temporaries before the Z pass; nothing runs at all.
        const Image<unsigned char> in = randomImage<unsigned char>({64, 64, 4}, rng);
        Image<unsigned char> out(32, 32, 2);
        out.fill(200);
        expectRefused(f, in, out, msg::kDataSmallerThanKernel);
    }
    // The filter works again afterwards.
    const Image<unsigned char> in = randomImage<unsigned char>({8, 8, 8}, rng);
    Image<unsigned char> out(4, 4, 4);
    EXPECT_NO_THROW(f.execute(in, out));
    VecSeparable vf;
    vf.setKernel(Factory::smooth(0.375f), nvf::CnCoord::Y);
    const Image<Vec3f> vin = randomImage<Vec3f>({5, 4, 5}, rng);
    Image<Vec3f> vout(5, 4, 5);
    expectRefused(vf, vin, vout, msg::kDataSmallerThanKernel);
}

TEST(CnSeparableFilter, ZeroDimensionsAreRefused) {
    ByteSeparable f;
    const Image<unsigned char> good(6, 6, 6);
    Image<unsigned char> goodOut(6, 6, 6);
    goodOut.fill(5);
    const unsigned int dims[3][3] = {{0, 6, 6}, {6, 0, 6}, {6, 6, 0}};
    for (const auto& d : dims) {
        const Image<unsigned char> in(d[0], d[1], d[2]);
        expectRefused(f, in, goodOut, msg::kSeparableInputDimensionZero);
        Image<unsigned char> out(d[0], d[1], d[2]);
        expectRefused(f, good, out, msg::kSeparableOutputDimensionZero);
    }
    // A single slice writes slice 0 of the output, which must exist.
    const Image<unsigned char> flat(6, 6, 1);
    Image<unsigned char> noSlice(6, 6, 0);
    expectRefused(f, flat, noSlice, msg::kSeparableOutputDimensionZero);
    VecSeparable vf;
    const Image<Vec3f> vin(3, 3, 3);
    Image<Vec3f> vout(3, 0, 3);
    expectRefused(vf, vin, vout, msg::kSeparableOutputDimensionZero);
}

TEST(CnSeparableFilter, OutputDimensionsBeyondWholeFactorResamplingAreRefused) {
    std::mt19937 rng(12);
    ByteSeparable f;
    f.setKernel(Factory::smooth(0.375f), axis(7));
    const Image<unsigned char> in = randomImage<unsigned char>({10, 10, 10}, rng);
    Image<unsigned char> wideX(14, 10, 10), wideY(10, 14, 10), wideZ(10, 10, 14);
    wideX.fill(1);
    expectRefused(f, in, wideX, msg::kSeparableOutputXTooLong);
    expectRefused(f, in, wideY, msg::kSeparableOutputYTooLong);
    expectRefused(f, in, wideZ, msg::kSeparableOutputZTooLong);
    // The longest accepted output with up = 1 is N + 1.
    Image<unsigned char> longest(11, 11, 11);
    EXPECT_NO_THROW(f.execute(in, longest));
    // A single slice never checks Z.
    const Image<unsigned char> flat = randomImage<unsigned char>({10, 10, 1}, rng);
    Image<unsigned char> deep(10, 10, 14);
    EXPECT_NO_THROW(f.execute(flat, deep));
    // The kernel length is checked before the output length.
    const Image<unsigned char> narrow = randomImage<unsigned char>({4, 10, 10}, rng);
    Image<unsigned char> wide(14, 10, 10);
    expectRefused(f, narrow, wide, msg::kDataSmallerThanKernel);
}

TEST(CnSeparableFilterSizes, ProductsThatDoNotFitAreRefusedNotWrapped) {
    // The guard the filter runs on its temporaries before allocating them;
    // images this large cannot be made in a test, the arithmetic can.
    namespace det = nvf::detail;
    const std::size_t big = std::numeric_limits<unsigned int>::max();
    const char* message = msg::kSeparableTemporaryTooLarge;
    EXPECT_EQ(det::checkedVolume(4096, 4096, 256, 4, message), std::size_t{4096} * 4096 * 256);
    // (2^32 - 1)^2 elements of 4 bytes: just below 2^66 bytes, too many.
    EXPECT_THROW(det::checkedVolume(big, big, 1, 4, message), com::norvane::Throwable);
    EXPECT_EQ(det::checkedVolume(big, big, 1, 1, message), big * big);
    EXPECT_EQ(det::checkedVolume(0, big, big, 12, message), 0u);
    for (const std::size_t z : {std::size_t{2}, big}) {
        try {
            det::checkedVolume(big, big, z, 4, message);
            ADD_FAILURE() << "no exception for z " << z;
        } catch (const com::norvane::Throwable& e) {
            EXPECT_EQ(e.getMessage(), message);
            EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
        }
    }
    // The element count fits, its byte size does not.
    EXPECT_THROW(det::checkedVolume(std::size_t{1} << 40, std::size_t{1} << 20, 1, 16, message),
                 com::norvane::Throwable);
    EXPECT_EQ(det::checkedProduct(std::numeric_limits<std::size_t>::max(), 1, message),
              std::numeric_limits<std::size_t>::max());
    EXPECT_THROW(det::checkedProduct(std::numeric_limits<std::size_t>::max(), 2, message), com::norvane::Throwable);
}
