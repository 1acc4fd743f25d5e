// Coefficients and boundary matrix of the recursive Gaussian.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>

#include "RecursiveTestSupport.h"

using namespace rectest;

namespace {

using LineFilter = nvf::Cn1dRecursiveFilter<float, float, nvf::ImageConstIt<float>, nvf::ImageIt<float>>;

struct Coefficients {
    double B, a1, a2, a3;
    CnMatrix<double> M{0, 0};
};

Coefficients compute(double sigma, unsigned int order) {
    Coefficients c;
    LineFilter().computeFilterParameters(sigma, c.B, c.a1, c.a2, c.a3, c.M, order);
    return c;
}

// Independent evaluation of the boundary series sum V^k U W^k, with the partial
// sum after every iteration, so that the library's stopping point can be read
// off: the library's matrix must equal the partial sum at exactly one iteration.
struct Series {
    std::vector<CnMatrix<double>> partialSums;  // [i] = sum after iteration i (i = 0: U)
    int convergedAt = -1;                       // first iteration with a step <= 1e-10
};

Series referenceSeries(const Coefficients& c, unsigned int order, int iterations) {
    CnMatrix<double> V(3, 3), W(3, 3), U(3, 3), P(3, 3), Q(3, 3);
    V(0, 0) = c.a1;
    V(0, 1) = c.a2;
    V(0, 2) = c.a3;
    V(1, 0) = 1;
    V(2, 1) = 1;
    W(0, 1) = 1;
    W(1, 2) = 1;
    W(2, 0) = c.a3;
    W(2, 1) = c.a2;
    W(2, 2) = c.a1;
    U(0, 0) = order == 2 ? -c.B : c.B;
    if (order == 2) {
        U(0, 1) = c.B;
    }
    P.setToIdentity();
    Q.setToIdentity();
    Series s;
    CnMatrix<double> M = U;
    s.partialSums.push_back(M);
    for (int i = 1; i <= iterations; ++i) {
        P = P * V;
        Q = Q * W;
        const CnMatrix<double> term = (P * U) * Q;
        double squares = 0.0;
        for (unsigned int r = 0; r < 3; ++r) {
            for (unsigned int col = 0; col < 3; ++col) {
                const double before = M(r, col);
                M(r, col) = M(r, col) + term(r, col);
                squares += (before - M(r, col)) * (before - M(r, col));
            }
        }
        s.partialSums.push_back(M);
        if (s.convergedAt < 0 && std::sqrt(squares) <= 1e-10) {
            s.convergedAt = i;
        }
    }
    return s;
}

// Iteration at which the library stopped: the reference's stopping iteration,
// provided the library returned the partial sum of that iteration and of no
// iteration with a different sum (once the terms vanish, as for sigma 0, later
// partial sums repeat the same matrix).
int libraryIterations(double sigma, unsigned int order) {
    const Coefficients c = compute(sigma, order);
    const Series s = referenceSeries(c, order, 1000);
    if (s.convergedAt < 0) {
        ADD_FAILURE() << "reference does not converge for sigma " << sigma;
        return -1;
    }
    const CnMatrix<double>& atStop = s.partialSums[static_cast<std::size_t>(s.convergedAt)];
    EXPECT_TRUE(c.M == atStop) << "sigma " << sigma << " order " << order;
    for (std::size_t i = 0; i <= 1000; ++i) {
        if (s.partialSums[i] == c.M) {
            EXPECT_TRUE(s.partialSums[i] == atStop);
        }
    }
    return c.M == atStop ? s.convergedAt : -1;
}

}  // namespace

TEST(RecursiveCoefficients, ReferenceValuesOfTheThreeRanges) {
    struct Ref {
        double sigma, B, a1, a2, a3;
    };
    const Ref refs[] = {{1.0, 0.541422, 0.570436, -0.123131, 0.011274},
                        {2.5, 0.159011, 1.456358, -0.760221, 0.144852},
                        {5.0, 0.026183, 2.225551, -1.690706, 0.438972}};
    for (const Ref& r : refs) {
        const Coefficients c = compute(r.sigma, 0);
        EXPECT_NEAR(c.B, r.B, 5e-7) << r.sigma;
        EXPECT_NEAR(c.a1, r.a1, 5e-7) << r.sigma;
        EXPECT_NEAR(c.a2, r.a2, 5e-7) << r.sigma;
        EXPECT_NEAR(c.a3, r.a3, 5e-7) << r.sigma;
        // Unit gain for a constant: B = 1 - (a1 + a2 + a3) exactly as computed.
        EXPECT_EQ(c.B, 1.0 - (c.a1 + c.a2 + c.a3));
    }
}

TEST(RecursiveCoefficients, SmallSigmaUsesTheSinglePrecisionFactorAndMeetsTheMiddleRange) {
    // Below 0.5, q = 0.2295f * sigma; a3 = 0.422205 q^3 / b0 recovers q.
    const double sigma = 0.3;
    const Coefficients c = compute(sigma, 0);
    const double q = static_cast<double>(0.2295f) * sigma;
    const double b0 = 1.57825 + 2.44413 * q + 1.4281 * q * q + 0.422205 * q * q * q;
    EXPECT_EQ(c.a1, (2.44413 * q + 2.85619 * q * q + 1.26661 * q * q * q) * (1.0 / b0));
    // Just below and at 0.5 the two formulas nearly agree.
    const Coefficients below = compute(std::nextafter(0.5, 0.0), 0);
    const Coefficients at = compute(0.5, 0);
    EXPECT_NEAR(below.a1, at.a1, 1e-4);
    EXPECT_NE(below.a1, at.a1);
}

TEST(RecursiveCoefficients, SigmaZeroIsTheIdentity) {
    for (unsigned int order = 0; order <= 2; ++order) {
        const Coefficients c = compute(0.0, order);
        EXPECT_EQ(c.B, 1.0);
        EXPECT_EQ(c.a1, 0.0);
        EXPECT_EQ(c.a2, 0.0);
        EXPECT_EQ(c.a3, 0.0);
        ASSERT_EQ(c.M.getRows(), 3u);
        ASSERT_EQ(c.M.getCols(), 3u);
        CnMatrix<double> expected(3, 3);
        if (order < 2) {
            expected.setToIdentity();
        } else {
            expected(0, 0) = expected(1, 1) = expected(2, 2) = -1.0;
            expected(0, 1) = expected(1, 2) = 1.0;
        }
        EXPECT_TRUE(c.M == expected) << "order " << order;
        EXPECT_EQ(libraryIterations(0.0, order), 3);
    }
}

TEST(RecursiveCoefficients, IterationCountsOfTheBoundarySeries) {
    const double sigmas[] = {1.0, 5.0, 10.0, 100.0};
    const int orders01[] = {12, 52, 114, 937};
    const int order2[] = {11, 48, 91, 936};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(libraryIterations(sigmas[i], 0), orders01[i]) << sigmas[i];
        EXPECT_EQ(libraryIterations(sigmas[i], 1), orders01[i]) << sigmas[i];
        EXPECT_EQ(libraryIterations(sigmas[i], 2), order2[i]) << sigmas[i];
    }
    // The test after the 1000th iteration still counts.
    EXPECT_EQ(libraryIterations(107.0, 0), 1000);
}

TEST(RecursiveCoefficients, OrdersZeroAndOneShareTheMatrixOrderTwoDiffers) {
    for (double sigma : {0.7, 2.5, 12.0}) {
        const Coefficients c0 = compute(sigma, 0), c1 = compute(sigma, 1), c2 = compute(sigma, 2);
        EXPECT_TRUE(c0.M == c1.M);
        EXPECT_FALSE(c0.M == c2.M);
    }
}

// The matrix maps the last three causal values to the first three anti-causal
// values of the zero-continued signal: checked by running both recursions far
// past the end of a line.
TEST(RecursiveCoefficients, BoundaryMatrixGivesTheAntiCausalStartOfEachOrder) {
    for (unsigned int order = 0; order <= 2; ++order) {
        for (double sigma : {0.8, 3.0, 20.0}) {
            const Coefficients c = compute(sigma, order);
            // Any state (w[m], w[m+1], w[m+2]) continued with zero input.
            const std::size_t tail = 20000;
            std::vector<long double> w(tail + 4), y(tail + 4, 0.0L);
            w[0] = 1.0L;
            w[1] = -0.4L;
            w[2] = 0.25L;
            for (std::size_t k = 3; k < w.size(); ++k) {
                w[k] = c.a1 * w[k - 1] + c.a2 * w[k - 2] + c.a3 * w[k - 3];
            }
            for (std::size_t k = tail; k-- > 0;) {
                const long double v = order == 2 ? w[k + 1] - w[k] : w[k];
                y[k] = c.B * v + c.a1 * y[k + 1] + c.a2 * y[k + 2] + c.a3 * y[k + 3];
            }
            for (unsigned int r = 0; r < 3; ++r) {
                const double predicted = c.M(r, 0) * 1.0 + c.M(r, 1) * -0.4 + c.M(r, 2) * 0.25;
                EXPECT_NEAR(predicted, static_cast<double>(y[r]), 1e-9 * (1.0 + std::fabs(predicted)))
                    << "order " << order << " sigma " << sigma;
            }
        }
    }
}

TEST(RecursiveCoefficients, MatrixIsResizedFromAnySize) {
    Coefficients c;
    c.M = CnMatrix<double>(5, 2);
    LineFilter().computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, c.M, 0);
    EXPECT_EQ(c.M.getRows(), 3u);
    EXPECT_EQ(c.M.getCols(), 3u);
    EXPECT_TRUE(c.M == compute(2.0, 0).M);
}

TEST(RecursiveCoefficients, InvalidOrderThrowsAfterWritingTheCoefficients) {
    double B = -7, a1 = -7, a2 = -7, a3 = -7;
    CnMatrix<double> M(2, 2);
    M(0, 0) = 42.0;
    const std::string msg =
        messageOf([&] { LineFilter().computeFilterParameters(1.0, B, a1, a2, a3, M, 3); });
    EXPECT_EQ(msg, "invalid filter order");
    const Coefficients ref = compute(1.0, 0);
    EXPECT_EQ(B, ref.B);
    EXPECT_EQ(a1, ref.a1);
    EXPECT_EQ(a3, ref.a3);
    EXPECT_EQ(M.getRows(), 2u);
    EXPECT_EQ(M(0, 0), 42.0);
}

TEST(RecursiveCoefficients, NonConvergenceThrowsWithTheSigmaAndKeepsThePartialSum) {
    Coefficients c;
    const std::string msg =
        messageOf([&] { LineFilter().computeFilterParameters(110.0, c.B, c.a1, c.a2, c.a3, c.M, 0); });
    EXPECT_EQ(msg, "Recursive initialization can't converge after 1000 iterations (sigma = 110.000000)");
    // The coefficients were written: the same as those that an invalid order returns.
    double B = 0, a1 = 0, a2 = 0, a3 = 0;
    CnMatrix<double> unused(0, 0);
    messageOf([&] { LineFilter().computeFilterParameters(110.0, B, a1, a2, a3, unused, 3); });
    EXPECT_EQ(c.B, B);
    EXPECT_EQ(c.a1, a1);
    EXPECT_EQ(c.a2, a2);
    EXPECT_EQ(c.a3, a3);
    const Series s = referenceSeries(c, 0, 1000);
    EXPECT_EQ(s.convergedAt, -1);
    EXPECT_TRUE(c.M == s.partialSums[1000]);
}

TEST(RecursiveCoefficients, HugeSigmaMessageIsCompleteAndBounded) {
    Coefficients c;
    const std::string msg =
        messageOf([&] { LineFilter().computeFilterParameters(1e300, c.B, c.a1, c.a2, c.a3, c.M, 1); });
    char expected[400];
    std::snprintf(expected, sizeof expected, nvf::messages::kRecursiveNoConvergence, 1e300);
    EXPECT_GT(msg.size(), 300u);
    EXPECT_EQ(msg, std::string(expected));
    EXPECT_EQ(msg.substr(msg.size() - 8), ".000000)");
}
