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
#include <nvfiltering/recursive/detail/RecursiveBorders.h>
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>
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


}  // namespace

template <class In, class Out, class InIt, class OutIt>
Cn1dRecursiveFilter<In, Out, InIt, OutIt>::Cn1dRecursiveFilter()
    : Cn1dFilter<In, Out, InIt, OutIt>(),
      m_type(Smooth),
      m_B(0.0),
      m_a1(0.0),
      m_a2(0.0),
      m_a3(0.0),
      m_boundaryMatrix(nullptr),
      m_borderMode(Constant),
      m_borderValue(0.0) {}

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
void Cn1dRecursiveFilter<In, Out, InIt, OutIt>::setBorderMode(EnBorderMode mode, double value) {
    m_borderMode = mode;
    m_borderValue = value;
}

template <class In, class Out, class InIt, class OutIt>
int Cn1dRecursiveFilter<In, Out, InIt, OutIt>::getBorderMode() const {
    return static_cast<int>(m_borderMode);
}

template <class In, class Out, class InIt, class OutIt>
double Cn1dRecursiveFilter<In, Out, InIt, OutIt>::getBorderValue() const {
    return m_borderValue;
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
    detail::recursiveCoefficients(sigma, order, B, a1, a2, a3, M);
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
    if (!detail::isBorderMode(m_borderMode)) {
        throwThrowable(messages::kUnknownBorderMode);
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

// One line of the given order with a border mode other than the continuation
// by zeros: gathered into double precision, filtered, written back.
template <unsigned int Order, class V, class SIn, class SOut>
void filterLineWithBorder(const SIn* x, SOut* y, std::size_t s, std::size_t n, std::int32_t mode, double value,
                          const detail::RecursiveCoefficients& c) {
    std::vector<V> line(n), result(n);
    for (std::size_t k = 0; k < n; ++k) {
        line[k] = detail::loadSample(x[k * s]);
    }
    detail::BorderScratch<V> scratch;
    detail::borderLine(Order, mode, value, line.data(), result.data(), n, c, scratch);
    for (std::size_t k = 0; k < n; ++k) {
        detail::storeSample(y[k * s], result[k]);
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
        if (!detail::isZeroContinuation(m_borderMode, m_borderValue)) {
            filterLineWithBorder<Order, V>(
                rawStart(this->m_inputStart), rawStart(this->m_outputStart), this->m_inputStride, this->m_inputLength,
                m_borderMode, m_borderValue,
                detail::borderCoefficients(m_B, m_a1, m_a2, m_a3, *m_boundaryMatrix, Order));
            return;
        }
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
