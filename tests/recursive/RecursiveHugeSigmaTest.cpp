// Sigmas from 100 to the largest double: each one either converges to a boundary
// matrix that treats both ends of a symmetric line alike, or throws the
// convergence message. (An absolute stopping test once accepted huge sigmas after
// one tiny term; from about 5e11 the gain B can round to exactly zero, when every
// term of the series is zero and a relative test alone is met at once.)
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>

#include "RecursiveTestSupport.h"

using namespace rectest;

namespace {

using PointerLine = nvf::Cn1dRecursiveFilter<double, double, double*, double*>;
using VolumeFilter = nvf::CnRecursiveFilter<float, float>;

std::string convergenceMessage(double sigma) {
    char text[512];
    std::snprintf(text, sizeof text, nvf::messages::kRecursiveNoConvergence, sigma);
    return text;
}

// 100 ... 1e9 a quarter decade apart, then every decade up to 1e300 in a few
// steps each, plus the points around the last converging sigma, where the old
// test went wrong and where B rounds to zero (5e11, 1e15, 1e17).
std::vector<double> hugeSigmas() {
    std::vector<double> s = {100.0, 104.0, 106.0, 107.0, 107.1, 107.2, 108.0, 7.6e5, 1.0e6, 3.3e6, 1.0e7,
                             5.0e11, 1.0e15, 1.0e17, std::numeric_limits<double>::max()};
    for (int e = 8; e <= 36; ++e) {
        s.push_back(std::pow(10.0, e / 4.0));
    }
    for (int e = 10; e <= 300; ++e) {
        for (double m : {1.0, 2.0, 5.0, 7.5}) {
            s.push_back(m * std::pow(10.0, e));
        }
    }
    return s;
}

// y[k] against sign * y[n-1-k], to a tolerance relative to the line's size.
void expectMirrored(const std::vector<double>& y, double sign, double tolerance, const std::string& what) {
    double size = 0.0;
    for (double v : y) {
        size = std::max(size, std::fabs(v));
    }
    ASSERT_GT(size, 0.0) << what;
    for (std::size_t k = 0; k < y.size(); ++k) {
        ASSERT_NEAR(y[k], sign * y[y.size() - 1 - k], tolerance * size) << what << " at " << k;
    }
}

}  // namespace

TEST(RecursiveHugeSigma, LineFilterConvergesSymmetricallyOrThrows) {
    int accepted = 0;
    for (double sigma : hugeSigmas()) {
        for (unsigned int order = 0; order <= 2; ++order) {
            const std::string what = "sigma " + std::to_string(sigma) + " order " + std::to_string(order);
            PointerLine f;
            double B = 0, a1 = 0, a2 = 0, a3 = 0;
            CnMatrix<double> M(0, 0);
            const std::string msg = messageOf([&] { f.computeFilterParameters(sigma, B, a1, a2, a3, M, order); });
            if (!msg.empty()) {
                EXPECT_EQ(msg, convergenceMessage(sigma)) << what;
                continue;
            }
            ++accepted;
            EXPECT_LT(sigma, 108.0) << what;
            f.setParameters(B, a1, a2, a3, &M);
            f.setType(static_cast<PointerLine::EnRecursiveFilterType>(order + 1));
            std::vector<double> y(101, 1.0);
            const unsigned int length = 101;
            f.setInputData(y.data(), length, 1);
            f.setOutputData(y.data(), length, 1);
            f.execute();
            // Smoothing and the second derivative are even, the first derivative odd;
            // the series stopped at 1e-10 leaves relative differences near 1e-8.
            expectMirrored(y, order == 1 ? -1.0 : 1.0, 1e-6, what);
        }
    }
    // 100 ... 107 converge for every order.
    EXPECT_GE(accepted, 12);
}

TEST(RecursiveHugeSigma, VolumeFilterOfOnesIsSymmetricOrThrows) {
    const unsigned int n = 8;
    Image<float> ones(n, n, n);
    ones.fill(1.0f);
    const VolumeFilter::EnDerivativeType derivatives[3] = {VolumeFilter::NoDerivative, VolumeFilter::FirstDerivativeX,
                                                           VolumeFilter::SecondDerivativeX};
    for (double sigma : hugeSigmas()) {
        for (unsigned int order = 0; order <= 2; ++order) {
            const std::string what = "sigma " + std::to_string(sigma) + " order " + std::to_string(order);
            VolumeFilter f;
            f.setSigma(sigma, sigma, sigma);
            f.setDerivative(derivatives[order]);
            Image<float> out(n, n, n);
            const std::string msg = messageOf([&] { f.execute(ones, out); });
            if (!msg.empty()) {
                EXPECT_EQ(msg, convergenceMessage(sigma)) << what;
                continue;
            }
            EXPECT_LT(sigma, 108.0) << what;
            // Along X (even or odd by the order), and along Y and Z (even). The
            // float feedback of three passes leaves relative differences of a
            // few 1e-6 at sigma 100; a wrong matrix differs by orders of magnitude.
            for (unsigned int z = 0; z < n; ++z) {
                for (unsigned int y = 0; y < n; ++y) {
                    std::vector<double> lineX, lineY, lineZ;
                    for (unsigned int k = 0; k < n; ++k) {
                        lineX.push_back(out(k, y, z));
                        lineY.push_back(out(y, k, z));
                        lineZ.push_back(out(y, z, k));
                    }
                    expectMirrored(lineX, order == 1 ? -1.0 : 1.0, 1e-4, what + " X");
                    expectMirrored(lineY, 1.0, 1e-4, what + " Y");
                    expectMirrored(lineZ, 1.0, 1e-4, what + " Z");
                }
            }
        }
    }
}
