// The two-dimensional FFT filter: its checks, then the plane pass (power-of-two
// arrays by the power-of-two engine's row and column passes, every other size as
// a pass of lines along the rows and one along the columns), which spreads over
// the executor, with the tables the filter keeps.
#include <nvfiltering/fft/Cn2dFftFilter.h>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/FftPasses.h>
#include <nvfiltering/framework/CnMessages.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
Cn2dFftFilter<T>::Cn2dFftFilter() = default;

template <class T>
Cn2dFftFilter<T>::Cn2dFftFilter(const Cn2dFftFilter& other) = default;

template <class T>
Cn2dFftFilter<T>& Cn2dFftFilter<T>::operator=(const Cn2dFftFilter& other) = default;

template <class T>
Cn2dFftFilter<T>::~Cn2dFftFilter() = default;

template <class T>
void Cn2dFftFilter<T>::checkSizes() const {
    detail::checkFftCall({{this->m_length, this->m_vectorCount},
                          messages::kFft2dSizeBelowOne,
                          1,
                          this->m_direction,
                          {this->m_realInput, this->m_imagInput, this->m_realOutput, this->m_imagOutput},
                          messages::kFftNullArray,
                          sizeof(T)});
}

template <class T>
void Cn2dFftFilter<T>::execute() {
    checkSizes();
    const std::int32_t n1 = this->m_length;
    const std::int32_t n2 = this->m_vectorCount;
    const detail::PlaneTables<T> tables =
        detail::planeTables(this->planeTables(), n1, n2, this->m_dataJump, this->m_gpfaOnly);
    detail::transformPlane(this->m_realInput, this->m_imagInput, this->m_realOutput, this->m_imagOutput, n1, n2,
                           this->m_dataJump, this->m_direction, tables, this->getExecutor());
}

template class Cn2dFftFilter<float>;
template class Cn2dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
