// Self-checks of the recursive filters that need no stored reference: every
// short line against the same samples in a long run of zeros, and the symmetry
// of the Gaussian (a mirrored input gives the mirrored result, odd for the first
// derivative), for the line filter and for the volume filter along each axis.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>

#include "RecursiveTestSupport.h"

using namespace rectest;

namespace {

using DoubleLine = nvf::Cn1dRecursiveFilter<double, double, double*, double*>;
using FloatLine = nvf::Cn1dRecursiveFilter<float, float, nvf::ImageConstIt<float>, nvf::ImageIt<float>>;

const double kSigmas[] = {0.0, 0.6, 1.0, 2.5, 6.0, 19.0};

// Filters values placed at `offset` in a line of `total` samples (zeros
// elsewhere) with the double line filter; returns the outputs at the values.
std::vector<double> filterDoubles(const std::vector<double>& values, double sigma, unsigned int order,
                                  std::size_t offset, std::size_t total) {
    std::vector<double> line(total, 0.0);
    std::copy(values.begin(), values.end(), line.begin() + static_cast<std::ptrdiff_t>(offset));
    DoubleLine f;
    double B, a1, a2, a3;
    CnMatrix<double> M(0, 0);
    f.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    f.setParameters(B, a1, a2, a3, &M);
    f.setType(static_cast<DoubleLine::EnRecursiveFilterType>(order + 1));
    f.setInputData(line.data(), static_cast<unsigned int>(total), 1);
    f.setOutputData(line.data(), static_cast<unsigned int>(total), 1);
    f.execute();
    return std::vector<double>(line.begin() + static_cast<std::ptrdiff_t>(offset),
                               line.begin() + static_cast<std::ptrdiff_t>(offset + values.size()));
}

// The same with the float line filter (float feedback), over an image row.
std::vector<double> filterFloats(const std::vector<double>& values, double sigma, unsigned int order) {
    const unsigned int n = static_cast<unsigned int>(values.size());
    Image<float> in(n, 1, 1), out(n, 1, 1);
    for (unsigned int k = 0; k < n; ++k) {
        in[k] = static_cast<float>(values[k]);
    }
    FloatLine f;
    double B, a1, a2, a3;
    CnMatrix<double> M(0, 0);
    f.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    f.setParameters(B, a1, a2, a3, &M);
    f.setType(static_cast<FloatLine::EnRecursiveFilterType>(order + 1));
    f.setInputData(static_cast<const Image<float>&>(in).begin(), n, 1);
    f.setOutputData(out.begin(), n, 1);
    f.execute();
    return std::vector<double>(out.data(), out.data() + n);
}

double largest(const std::vector<double>& v) {
    double m = 0.0;
    for (double x : v) {
        m = std::max(m, std::fabs(x));
    }
    return m;
}

std::vector<double> reversed(std::vector<double> v) {
    std::reverse(v.begin(), v.end());
    return v;
}

std::string where(unsigned int order, double sigma, std::size_t n) {
    return "order " + std::to_string(order) + " sigma " + std::to_string(sigma) + " n " + std::to_string(n);
}

}  // namespace

// Zero continuation is the definition of the borders: a line of any length
// 1 ... 64 gives what its samples give in the middle of a long run of zeros,
// far enough from its ends (60 sigma) that their own borders do not reach it.
TEST(RecursiveSelfTest, EveryLengthEqualsTheZeroPaddedLongLine) {
    for (unsigned int order = 0; order <= 2; ++order) {
        for (double sigma : kSigmas) {
            const std::size_t pad = 64 + static_cast<std::size_t>(60.0 * sigma);
            for (std::size_t n = 1; n <= 64; ++n) {
                const std::vector<double> x = randomValues<double>(n, static_cast<std::uint32_t>(1000 * order + n));
                const std::vector<double> alone = filterDoubles(x, sigma, order, 0, n);
                const std::vector<double> padded = filterDoubles(x, sigma, order, pad, n + 2 * pad);
                // The boundary series stops at a step of 1e-10; the recursion's gain grows with sigma.
                const double tol = 1e-9 * (largest(x) + 1.0) * (sigma + 1.0);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_NEAR(alone[i], padded[i], tol) << where(order, sigma, n) << " at " << i;
                }
            }
        }
    }
}

// Within rounding, the Gaussian and its second derivative are even and the
// first derivative is odd, at every length, short lines included.
TEST(RecursiveSelfTest, MirroredLineGivesTheMirroredResult) {
    for (unsigned int order = 0; order <= 2; ++order) {
        const double sign = order == 1 ? -1.0 : 1.0;
        for (double sigma : kSigmas) {
            for (std::size_t n = 1; n <= 64; ++n) {
                const std::vector<double> x = randomValues<double>(n, static_cast<std::uint32_t>(77 * n + order));
                const std::vector<double> y = filterDoubles(x, sigma, order, 0, n);
                const std::vector<double> yMirror = filterDoubles(reversed(x), sigma, order, 0, n);
                const std::vector<double> f = filterFloats(x, sigma, order);
                const std::vector<double> fMirror = filterFloats(reversed(x), sigma, order);
                const double tol = (largest(x) + 1.0) * (sigma + 1.0);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_NEAR(yMirror[n - 1 - i], sign * y[i], 1e-9 * tol) << where(order, sigma, n) << " at " << i;
                    ASSERT_NEAR(fMirror[n - 1 - i], sign * f[i], 1e-5 * tol) << where(order, sigma, n) << " at " << i;
                }
            }
        }
    }
}

// The volume filter, on its blocked passes (lines long enough, several blocks
// of lanes) and on short ones: flipping the volume along one axis flips the
// result, with the sign changed for a first derivative along that axis.
TEST(RecursiveSelfTest, VolumeFlippedAlongAnAxisGivesTheFlippedResult) {
    using Filter = nvf::CnRecursiveFilter<double, double>;
    struct Size {
        unsigned int x, y, z;
    };
    for (const Size& s : {Size{37, 21, 11}, Size{3, 70, 2}}) {
        Image<double> in(s.x, s.y, s.z);
        const std::vector<double> v = randomValues<double>(in.getNumberOfVoxels(), 99);
        std::copy(v.begin(), v.end(), in.data());
        for (int axis = 0; axis < 3; ++axis) {
            auto flipped = [&](const Image<double>& a) {
                Image<double> b(s.x, s.y, s.z);
                for (unsigned int z = 0; z < s.z; ++z) {
                    for (unsigned int y = 0; y < s.y; ++y) {
                        for (unsigned int x = 0; x < s.x; ++x) {
                            b(axis == 0 ? s.x - 1 - x : x, axis == 1 ? s.y - 1 - y : y, axis == 2 ? s.z - 1 - z : z) =
                                a(x, y, z);
                        }
                    }
                }
                return b;
            };
            const Image<double> inFlipped = flipped(in);
            for (int d = 0; d < 7; ++d) {
                Filter f;
                f.setSigma(1.5, 2.5, 0.8);
                f.setDerivative(static_cast<Filter::EnDerivativeType>(d));
                Image<double> out(s.x, s.y, s.z), outOfFlipped(s.x, s.y, s.z);
                f.execute(in, out);
                f.execute(inFlipped, outOfFlipped);
                const Image<double> expected = flipped(out);
                const double sign = (d == 1 + axis) ? -1.0 : 1.0;
                double scale = 1.0;
                for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
                    scale = std::max(scale, std::fabs(out[i]));
                }
                for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
                    ASSERT_NEAR(outOfFlipped[i], sign * expected[i], 1e-9 * scale)
                        << s.x << "x" << s.y << "x" << s.z << " axis " << axis << " derivative " << d << " voxel " << i;
                }
            }
        }
    }
}
