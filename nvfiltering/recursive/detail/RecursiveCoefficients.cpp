// The coefficients of the recursive Gaussian (see RecursiveCoefficients.h).
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>

namespace com::norvane::filtering::detail {

namespace {

// The convergence message with sigma in %f form; the text grows with sigma
// (a huge sigma has hundreds of digits), so it is sized by a first dry run.
std::string convergenceMessage(double sigma) {
    const int length = std::snprintf(nullptr, 0, messages::kRecursiveNoConvergence, sigma);
    if (length <= 0) {
        return messages::kRecursiveNoConvergence;
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), messages::kRecursiveNoConvergence, sigma);
    return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace

void recursiveCoefficients(double sigma, unsigned int order, double& B, double& a1, double& a2, double& a3,
                           math::CnMatrix<double>& M) {
    // Scale parameter q (Young and van Vliet 1995, with a line through zero below 0.5).
    double q;
    if (sigma < 0.5) {
        q = static_cast<double>(0.2295f) * sigma;
    } else if (sigma < 2.5) {
        q = 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * sigma);
    } else {
        q = 0.98711 * sigma - 0.96330;
    }
    const double q2 = q * q;
    const double q3 = q2 * q;
    const double b0 = 1.57825 + 2.44413 * q + 1.4281 * q2 + 0.422205 * q3;
    const double b1 = 2.44413 * q + 2.85619 * q2 + 1.26661 * q3;
    const double b2 = -1.4281 * q2 - 1.26661 * q3;
    const double b3 = 0.422205 * q3;
    const double inv = 1.0 / b0;
    a1 = b1 * inv;
    a2 = b2 * inv;
    a3 = b3 * inv;
    B = 1.0 - (a1 + a2 + a3);

    if (order > 2) {
        throwThrowable(messages::kInvalidFilterOrder);
    }

    // Boundary matrix M = sum over k >= 0 of V^k U W^k (Triggs and Sdika 2006):
    // V steps the anti-causal state, W the causal state, U feeds the anti-causal input.
    math::CnMatrix<double> V(3, 3), W(3, 3), U(3, 3);
    V(0, 0) = a1;
    V(0, 1) = a2;
    V(0, 2) = a3;
    V(1, 0) = 1.0;
    V(2, 1) = 1.0;
    W(0, 1) = 1.0;
    W(1, 2) = 1.0;
    W(2, 0) = a3;
    W(2, 1) = a2;
    W(2, 2) = a1;
    if (order == 2) {
        U(0, 0) = -B;
        U(0, 1) = B;
    } else {
        U(0, 0) = B;
    }

    M = U;
    math::CnMatrix<double> P(3, 3), Q(3, 3);
    P.setToIdentity();
    Q.setToIdentity();
    // The series has converged when the last step changed the sum by at most
    // 1e-10 and by at most 1e-8 of the sum's own size. The absolute bound alone
    // is met by the very first term for a huge sigma (every term is tiny there
    // because B is), long before the sum is reached; the relative bound rejects
    // that. Wherever the series converges (sigma up to about 107) the relative
    // bound holds with room (steps below 2.1e-10 of the sum), so it never
    // changes the iteration at which the loop stops. A sum of exactly zero is
    // not converged: from sigma about 5e11 the gain B rounds to zero, every term
    // vanishes and the filter would write zeros.
    for (unsigned int iteration = 1; iteration <= 1000; ++iteration) {
        const math::CnMatrix<double> previous(M);
        P = P * V;
        Q = Q * W;
        const math::CnMatrix<double> term = (P * U) * Q;
        double squares = 0.0;
        double sumSquares = 0.0;
        for (unsigned int r = 0; r < 3; ++r) {
            for (unsigned int c = 0; c < 3; ++c) {
                M(r, c) = M(r, c) + term(r, c);
                const double diff = previous(r, c) - M(r, c);
                squares += diff * diff;
                sumSquares += M(r, c) * M(r, c);
            }
        }
        const double step = std::sqrt(squares);
        if (sumSquares > 0.0 && step <= 1e-10 && step <= 1e-8 * std::sqrt(sumSquares)) {
            return;
        }
    }
    throwThrowable(convergenceMessage(sigma));
}

}  // namespace com::norvane::filtering::detail
