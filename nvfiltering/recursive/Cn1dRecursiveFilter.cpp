// The recursive line filter: coefficients and boundary matrix for a sigma (the
// series summed until it has converged), the checks of a line, and one line of
// each order through the kernels of detail/RecursiveLine.h.
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/LineFilterTypes.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

template <class It>
auto rawStart(const It& it) {
    return it.get();
}
inline double* rawStart(double* p) { return p; }

// A line of image iterators must stay inside its image; plain pointers cannot be checked.
template <class It>
bool lineInsideImage(const It& it, std::size_t n, std::size_t stride) {
    const std::size_t voxels = it.image()->getNumberOfVoxels();
    const std::size_t index = it.index();
    return index < voxels && (n - 1) * stride <= voxels - 1 - index;
}
inline bool lineInsideImage(double*, std::size_t, std::size_t) { return true; }

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

template <class In, class Out, class InIt, class OutIt>
Cn1dRecursiveFilter<In, Out, InIt, OutIt>::Cn1dRecursiveFilter()
    : Cn1dFilter<In, Out, InIt, OutIt>(),
      m_type(Smooth),
      m_B(0.0),
      m_a1(0.0),
      m_a2(0.0),
      m_a3(0.0),
      m_boundaryMatrix(nullptr) {}

template <class In, class Out, class InIt, class OutIt>
Cn1dRecursiveFilter<In, Out, InIt, OutIt>::Cn1dRecursiveFilter(const Cn1dRecursiveFilter& other) = default;

template <class In, class Out, class InIt, class OutIt>
Cn1dRecursiveFilter<In, Out, InIt, OutIt>& Cn1dRecursiveFilter<In, Out, InIt, OutIt>::operator=(
    const Cn1dRecursiveFilter& other) = default;

template <class In, class Out, class InIt, class OutIt>
Cn1dRecursiveFilter<In, Out, InIt, OutIt>::~Cn1dRecursiveFilter() = default;

template <class In, class Out, class InIt, class OutIt>
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::setType(EnRecursiveFilterType type) {
    m_type = type;
}

template <class In, class Out, class InIt, class OutIt>
int Cn1dRecursiveFilter<In, Out, InIt, OutIt>::getType() const {
    return static_cast<int>(m_type);
}

template <class In, class Out, class InIt, class OutIt>
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::setParameters(double B, double a1, double a2, double a3,
                                                              math::CnMatrix<double>* M) {
    m_B = B;
    m_a1 = a1;
    m_a2 = a2;
    m_a3 = a3;
    m_boundaryMatrix = M;
}

template <class In, class Out, class InIt, class OutIt>
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::computeFilterParameters(double sigma, double& B, double& a1,
                                                                        double& a2, double& a3,
                                                                        math::CnMatrix<double>& M,
                                                                        unsigned int order) const {
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

template <class In, class Out, class InIt, class OutIt>
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::execute() {
    switch (m_type) {
        case Smooth:
            executeOrder<0>();
            return;
        case FirstDerivative:
            executeOrder<1>();
            return;
        case SecondDerivative:
            executeOrder<2>();
            return;
    }
    throwThrowable(messages::kUnknownRecursiveAlgorithm);
}

template <class In, class Out, class InIt, class OutIt>
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::checkLineAndParameters() const {
    if (!static_cast<bool>(this->m_inputStart) || !static_cast<bool>(this->m_outputStart) ||
        this->m_inputLength == 0 || this->m_inputStride == 0) {
        throwThrowable(messages::kRecursiveLineNotSet);
    }
    if (!lineInsideImage(this->m_inputStart, this->m_inputLength, this->m_inputStride) ||
        !lineInsideImage(this->m_outputStart, this->m_inputLength, this->m_inputStride)) {
        throwThrowable(messages::kRecursiveLineOutsideImage);
    }
    if (m_boundaryMatrix == nullptr || m_boundaryMatrix->getRows() != 3 || m_boundaryMatrix->getCols() != 3) {
        throwThrowable(messages::kRecursiveParametersNotSet);
    }
}

// One line of the given order: the exact kernel when the line is long enough
// for it, otherwise the kernel that reads every missing sample as zero.
template <unsigned int Order, class V, class SIn, class SOut>
void filterLine(const SIn* x, SOut* y, std::size_t s, std::size_t n, const detail::RecursiveCoefficients& c) {
    std::vector<V> w(n + (Order == 0 ? 2 : 3));
    if (n < (Order == 1 ? 4u : 3u)) {
        detail::zeroContinuedLine<V>(Order, x, y, s, n, c, w.data());
    } else if constexpr (Order == 0) {
        detail::smoothLine<V>(x, y, s, n, c, w.data());
    } else if constexpr (Order == 1) {
        detail::firstDerivativeLine(x, y, s, n, c, w.data());
    } else {
        detail::secondDerivativeLine(x, y, s, n, c, w.data());
    }
}

template <class In, class Out, class InIt, class OutIt>
template <unsigned int Order>
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::executeOrder() {
    constexpr bool vectors = std::is_same_v<In, math::CnVector3D<float>>;
    if constexpr (vectors && Order == 1) {
        throwThrowable(messages::kNoFirstDerivativeForVectors);
    } else if constexpr (vectors && Order == 2) {
        throwThrowable(messages::kNoSecondDerivativeForVectors);
    } else {
        checkLineAndParameters();
        using V = std::conditional_t<vectors, detail::Vec3d, double>;
        filterLine<Order, V>(rawStart(this->m_inputStart), rawStart(this->m_outputStart), this->m_inputStride,
                             this->m_inputLength, detail::makeCoefficients(m_B, m_a1, m_a2, m_a3, *m_boundaryMatrix));
    }
}

#define NVF_INSTANTIATE(In, Out, InIt, OutIt) template class Cn1dRecursiveFilter<In, Out, InIt, OutIt>;
NVF_LINE_FILTER_TYPES(NVF_INSTANTIATE)
#undef NVF_INSTANTIATE

}  // namespace filtering
}  // namespace norvane
}  // namespace com
