// Border modes of the recursive Gaussian: each line against the zero-continued
// line filter run on the line explicitly continued far enough for the far
// zeros not to matter, and the volume filter against that reference applied
// axis by axis.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "RecursiveTestSupport.h"

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursiveBorders.h>
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>

namespace rectest {
namespace {

using Modes = nvf::CnRecursiveFilter<float, float>;

struct Border {
    Modes::EnBorderMode mode;
    double value;
    const char* name;
};

const Border kBorders[] = {{Modes::Constant, 0.0, "constant 0"}, {Modes::Constant, -3.5, "constant -3.5"},
                           {Modes::Nearest, 0.0, "nearest"},     {Modes::Reflect, 0.0, "reflect"},
                           {Modes::Mirror, 0.0, "mirror"},       {Modes::Wrap, 0.0, "wrap"}};

// Sample k (any integer) of the line x continued as the mode says, by its
// definition: constants outside, or folding k back until it is inside.
double continued(const std::vector<double>& x, long k, const Border& b) {
    const long n = static_cast<long>(x.size());
    while (k < 0 || k >= n) {
        switch (b.mode) {
            case Modes::Constant:
                return b.value;
            case Modes::Nearest:
                return k < 0 ? x.front() : x.back();
            case Modes::Reflect:
                k = k < 0 ? -k - 1 : 2 * n - 1 - k;
                break;
            case Modes::Mirror:
                if (n == 1) {
                    return x[0];
                }
                k = k < 0 ? -k : 2 * n - 2 - k;
                break;
            case Modes::Wrap:
                k = ((k % n) + n) % n;
                break;
        }
    }
    return x[static_cast<std::size_t>(k)];
}

// The zero-continued line filter on x continued by `pad` samples on each side;
// returns the n middle values and the largest magnitude written anywhere.
std::vector<double> reference(const std::vector<double>& x, const Border& b, double sigma, unsigned int order,
                              double& largest) {
    using Line = nvf::Cn1dRecursiveFilter<double, double, double*, double*>;
    const long n = static_cast<long>(x.size());
    const long pad = static_cast<long>(std::ceil(60.0 * sigma)) + 60;
    std::vector<double> ext(static_cast<std::size_t>(n + 2 * pad)), out(ext.size());
    for (long k = 0; k < n + 2 * pad; ++k) {
        ext[static_cast<std::size_t>(k)] = continued(x, k - pad, b);
    }
    Line line;
    CnMatrix<double> M(0, 0);
    double B = 0, a1 = 0, a2 = 0, a3 = 0;
    line.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    line.setParameters(B, a1, a2, a3, &M);
    line.setType(static_cast<Line::EnRecursiveFilterType>(order + 1));
    line.setInputData(ext.data(), static_cast<unsigned int>(ext.size()), 1);
    line.setOutputData(out.data(), static_cast<unsigned int>(out.size()), 1);
    line.execute();
    largest = 0.0;
    for (double v : out) {
        largest = std::max(largest, std::abs(v));
    }
    return std::vector<double>(out.begin() + pad, out.begin() + pad + n);
}

// Every mode, order, length and sigma in one table: the line routine equals
// the filter on the explicitly continued line, to 1e-12 of the largest value
// that filter writes.
TEST(RecursiveBorders, LineEqualsTheFilterOnTheContinuedLine) {
    std::uint32_t seed = 70;
    for (const Border& b : kBorders) {
        for (unsigned int order = 0; order < 3; ++order) {
            for (std::size_t n : {1u, 2u, 3u, 4u, 61u}) {
                for (double sigma : {0.6, 1.7, 5.0}) {
                    SCOPED_TRACE(std::string(b.name) + " order " + std::to_string(order) + " n " +
                                 std::to_string(n) + " sigma " + std::to_string(sigma));
                    const std::vector<double> x = nvftest::randomArray<double>(n, seed++, -100.0, 100.0);
                    double largest = 0.0;
                    const std::vector<double> expected = reference(x, b, sigma, order, largest);

                    CnMatrix<double> M(0, 0);
                    double B = 0, a1 = 0, a2 = 0, a3 = 0;
                    nvf::detail::recursiveCoefficients(sigma, order, B, a1, a2, a3, M);
                    nvf::detail::BorderScratch<double> scratch;
                    std::vector<double> got(n, 1e300);
                    nvf::detail::borderLine(order, static_cast<std::int32_t>(b.mode), b.value, x.data(), got.data(),
                                            n, nvf::detail::borderCoefficients(B, a1, a2, a3, M, order), scratch);
                    // The line filter with the mode, in place, runs the same routine.
                    using Line = nvf::Cn1dRecursiveFilter<double, double, double*, double*>;
                    Line line;
                    line.setParameters(B, a1, a2, a3, &M);
                    line.setType(static_cast<Line::EnRecursiveFilterType>(order + 1));
                    line.setBorderMode(static_cast<Line::EnBorderMode>(b.mode), b.value);
                    std::vector<double> inPlace(x);
                    line.setInputData(inPlace.data(), static_cast<unsigned int>(n), 1);
                    line.setOutputData(inPlace.data(), static_cast<unsigned int>(n), 1);
                    line.execute();
                    for (std::size_t k = 0; k < n; ++k) {
                        EXPECT_NEAR(got[k], expected[k], 1e-12 * largest) << "sample " << k;
                        if (b.value != 0.0 || b.mode != Modes::Constant) {
                            EXPECT_TRUE(bitsEqual(inPlace[k], got[k])) << "line filter, sample " << k;
                        }
                    }
                }
            }
        }
    }
}

// The line filter over image lines (float, with a stride) against the
// reference; an unknown mode is rejected before anything is written.
TEST(RecursiveBorders, LineFilterOnImageLines) {
    using Line = nvf::Cn1dRecursiveFilter<float, float, nvf::ImageConstIt<float>, nvf::ImageIt<float>>;
    const Image<float> in = randomImage<float>({5, 9, 1}, 31);
    for (const Border& b : kBorders) {
        for (unsigned int order = 0; order < 3; ++order) {
            SCOPED_TRACE(std::string(b.name) + " order " + std::to_string(order));
            Line line;
            CnMatrix<double> M(0, 0);
            double B = 0, a1 = 0, a2 = 0, a3 = 0;
            line.computeFilterParameters(1.4, B, a1, a2, a3, M, order);
            line.setParameters(B, a1, a2, a3, &M);
            line.setType(static_cast<Line::EnRecursiveFilterType>(order + 1));
            line.setBorderMode(static_cast<Line::EnBorderMode>(b.mode), b.value);
            EXPECT_EQ(line.getBorderMode(), static_cast<int>(b.mode));
            EXPECT_EQ(line.getBorderValue(), b.value);
            Image<float> out(5, 9, 1);
            out.fill(5.0f);
            line.setInputData(nvf::ImageConstIt<float>(&in, 2), 9, 5);
            line.setOutputData(nvf::ImageIt<float>(&out, 2), 9, 5);
            line.execute();
            std::vector<double> x;
            for (unsigned int k = 0; k < 9; ++k) {
                x.push_back(in.data()[2 + 5 * k]);
            }
            double largest = 0.0;
            const std::vector<double> expected = reference(x, b, 1.4, order, largest);
            for (unsigned int i = 0; i < 45; ++i) {
                if (i % 5 == 2) {
                    EXPECT_NEAR(out.data()[i], expected[i / 5], 1e-6 * largest) << "sample " << i / 5;
                } else {
                    EXPECT_EQ(out.data()[i], 5.0f) << "voxel " << i << " is not on the line";
                }
            }

            line.setBorderMode(static_cast<Line::EnBorderMode>(9));
            const Image<float> before(out);
            EXPECT_EQ(messageOf([&] { line.execute(); }), nvf::messages::kUnknownBorderMode);
            EXPECT_TRUE(sameBits(out, before));
        }
    }
}

// The volume filter's passes by the line reference: X from the input, then Y
// and Z over the previous pass's output stored in the output type.
template <class In, class Out>
std::vector<double> volumeReference(const Image<In>& in, const double sigmas[3], const unsigned int orders[3],
                                    const Border& b, double& largest) {
    const std::size_t sizes[3] = {in.getSizeX(), in.getSizeY(), in.getSizeZ()};
    const std::size_t comps = isVector<In>() ? 3 : 1;
    std::vector<double> data;
    for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
        appendFlat(data, in.data()[i]);
    }
    largest = 0.0;
    const std::size_t strides[3] = {1, sizes[0], sizes[0] * sizes[1]};
    for (int axis = 0; axis < (sizes[2] > 1 ? 3 : 2); ++axis) {
        const std::size_t n = sizes[axis];
        for (std::size_t v = 0; v < in.getNumberOfVoxels(); ++v) {
            if ((v / strides[axis]) % n != 0) {
                continue;  // not the first voxel of a line along this axis
            }
            for (std::size_t c = 0; c < comps; ++c) {
                std::vector<double> line(n);
                for (std::size_t k = 0; k < n; ++k) {
                    line[k] = data[(v + k * strides[axis]) * comps + c];
                }
                // The input is continued by the constant: beyond the volume,
                // earlier passes filtered lines of nothing but the constant,
                // which a derivative pass turns into 0.
                Border pass = b;
                for (int before = 0; before < axis; ++before) {
                    pass.value = orders[before] == 0 ? pass.value : 0.0;
                }
                double written = 0.0;
                const std::vector<double> out = reference(line, pass, sigmas[axis], orders[axis], written);
                largest = std::max(largest, written);
                for (std::size_t k = 0; k < n; ++k) {
                    using Scalar = std::conditional_t<std::is_same_v<Out, Vec3f>, float, Out>;
                    data[(v + k * strides[axis]) * comps + c] = static_cast<Scalar>(out[k]);
                }
            }
        }
    }
    return data;
}

template <class T>
class RecursiveBordersVolume : public ::testing::Test {};
TYPED_TEST_SUITE(RecursiveBordersVolume, Pairs);

// Every mode and derivative on small odd volumes, a single slice and thin ones:
// to 1e-6 (float) or 1e-12 (double) of the largest value any pass writes.
TYPED_TEST(RecursiveBordersVolume, EqualsTheLineReferenceAxisByAxis) {
    using In = typename TypeParam::In;
    using Out = typename TypeParam::Out;
    using Filter = typename TypeParam::Filter;
    const double tolerance = std::is_same_v<Out, double> ? 1e-12 : 1e-6;
    const nvftest::Size3 sizes[] = {{7, 5, 9}, {3, 1, 5}, {9, 7, 1}, {1, 2, 3}};
    const unsigned int orderTable[7][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                           {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    std::uint32_t seed = 90;
    for (const nvftest::Size3& s : sizes) {
        const Image<In> in = randomImage<In>(s, seed++);
        for (const Border& b : kBorders) {
            for (int d = 0; d < (isVector<In>() ? 1 : 7); ++d) {
                if (s.z == 1 && (d == 3 || d == 6)) {
                    continue;  // zero along Z, tested with the default border
                }
                SCOPED_TRACE(nvftest::describe(s) + " " + b.name + " derivative " + std::to_string(d));
                const double sigmas[3] = {0.8 + 0.3 * d, 2.1, 1.3};
                double largest = 0.0;
                const std::vector<double> expected = volumeReference<In, Out>(in, sigmas, orderTable[d], b, largest);
                Image<Out> got(s.x, s.y, s.z);
                Filter f;
                f.setSigma(sigmas[0], sigmas[1], sigmas[2]);
                f.setDerivative(static_cast<typename Filter::EnDerivativeType>(d));
                f.setBorderMode(static_cast<typename Filter::EnBorderMode>(b.mode), b.value);
                EXPECT_EQ(f.getBorderMode(), static_cast<int>(b.mode));
                EXPECT_EQ(f.getBorderValue(), b.value);
                f.execute(in, got);
                std::vector<double> flat;
                for (std::size_t i = 0; i < got.getNumberOfVoxels(); ++i) {
                    appendFlat(flat, got.data()[i]);
                }
                ASSERT_EQ(flat.size(), expected.size());
                for (std::size_t i = 0; i < flat.size(); ++i) {
                    ASSERT_NEAR(flat[i], expected[i], tolerance * largest) << "value " << i;
                }
            }
        }
    }
}

// Constant 0 is the default, bit for bit; a mode outside the enumeration is
// rejected before anything is written.
TYPED_TEST(RecursiveBordersVolume, DefaultAndUnknownModes) {
    using In = typename TypeParam::In;
    using Out = typename TypeParam::Out;
    using Filter = typename TypeParam::Filter;
    const Image<In> in = randomImage<In>({11, 6, 5}, 123);
    Filter plain, zero;
    EXPECT_EQ(plain.getBorderMode(), static_cast<int>(Filter::Constant));
    EXPECT_EQ(plain.getBorderValue(), 0.0);
    zero.setBorderMode(Filter::Reflect, 2.0);
    zero.setBorderMode(Filter::Constant);
    Image<Out> a(11, 6, 5), b(11, 6, 5);
    plain.execute(in, a);
    zero.execute(in, b);
    EXPECT_TRUE(sameBits(a, b));

    for (std::int32_t bad : {-1, 5, 1000}) {
        Filter f;
        f.setBorderMode(static_cast<typename Filter::EnBorderMode>(bad), 1.0);
        Image<Out> out(11, 6, 5);
        out.fill(makeSample<Out>(7.0));
        const Image<Out> before(out);
        EXPECT_EQ(messageOf([&] { f.execute(in, out); }), nvf::messages::kUnknownBorderMode);
        EXPECT_TRUE(sameBits(out, before));
    }
}

}  // namespace
}  // namespace rectest
