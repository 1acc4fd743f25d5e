// The recursive Gaussian volume filter: its settings; the passes themselves
// are in RecursiveVolume.cpp, where the kernel version is a parameter.
#include <nvfiltering/recursive/CnRecursiveFilter.h>

#include <cstdint>

#include <nvfiltering/recursive/detail/RecursiveVolume.h>

namespace com {
namespace norvane {
namespace filtering {

template <class In, class Out>
CnRecursiveFilter<In, Out>::CnRecursiveFilter()
    : CnFilter<In, Out>(), m_sigmaX(1.0), m_sigmaY(1.0), m_sigmaZ(1.0), m_derivative(NoDerivative),
      m_borderMode(Constant),
      m_borderValue(0.0) {}

template <class In, class Out>
CnRecursiveFilter<In, Out>::~CnRecursiveFilter() = default;

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setSigma(double sigmaX, double sigmaY, double sigmaZ) {
    m_sigmaX = sigmaX;
    m_sigmaY = sigmaY;
    m_sigmaZ = sigmaZ;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaX() const {
    return m_sigmaX;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaY() const {
    return m_sigmaY;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaZ() const {
    return m_sigmaZ;
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setDerivative(EnDerivativeType derivative) {
    m_derivative = derivative;
}

template <class In, class Out>
int CnRecursiveFilter<In, Out>::getDerivative() const {
    return static_cast<int>(m_derivative);
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setBorderMode(EnBorderMode mode, double value) {
    m_borderMode = mode;
    m_borderValue = value;
}

template <class In, class Out>
int CnRecursiveFilter<In, Out>::getBorderMode() const {
    return static_cast<int>(m_borderMode);
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getBorderValue() const {
    return m_borderValue;
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::v_execute() {
    detail::RecursiveVolume<In, Out>::run(*this->m_input, *this->m_output, m_sigmaX, m_sigmaY, m_sigmaZ,
                                          static_cast<std::int32_t>(m_derivative), this->getExecutor(),
                                          detail::RecursiveKernel::Automatic, static_cast<std::int32_t>(m_borderMode),
                                          m_borderValue);
}

#define NVF_INSTANTIATE(In, Out) template class CnRecursiveFilter<In, Out>;
NVF_RECURSIVE_VOLUME_TYPES(NVF_INSTANTIATE)
#undef NVF_INSTANTIATE

}  // namespace filtering
}  // namespace norvane
}  // namespace com
