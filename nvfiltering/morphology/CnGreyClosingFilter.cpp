// Grey-value closing with the six-neighbour cross: the grey passes of detail/GreyCross.h.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnGreyClosingFilter.h>
#include <nvfiltering/morphology/detail/GreyCross.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
CnGreyClosingFilter<T>::CnGreyClosingFilter() : m_iterations(1) {}

template <class T>
CnGreyClosingFilter<T>::~CnGreyClosingFilter() = default;

template <class T>
void CnGreyClosingFilter<T>::setIterations(unsigned int iterations) {
    m_iterations = iterations;
}

template <class T>
unsigned int CnGreyClosingFilter<T>::getIterations() const {
    return m_iterations;
}

template <class T>
void CnGreyClosingFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyClosingOutputSize);
    }
}

template <class T>
void CnGreyClosingFilter<T>::v_execute() {
    checkDimensions(*this->m_input, *this->m_output);
    const detail::GreySequence sequence{true, m_iterations, m_iterations};
    detail::runGreyCross(*this->m_input, *this->m_output, sequence, this->getExecutor(), false);
}

template class CnGreyClosingFilter<unsigned char>;
template class CnGreyClosingFilter<unsigned short>;
template class CnGreyClosingFilter<short>;
template class CnGreyClosingFilter<float>;
template class CnGreyClosingFilter<double>;

namespace detail {

template <class T>
void executeStraightforward(const CnGreyClosingFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output) {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyClosingOutputSize);
    }
    const GreySequence sequence{true, filter.getIterations(), filter.getIterations()};
    runGreyCross(input, output, sequence, nullptr, true);
}

template void executeStraightforward<unsigned char>(const CnGreyClosingFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnGreyClosingFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned short>&);
template void executeStraightforward<short>(const CnGreyClosingFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<short>&);
template void executeStraightforward<float>(const CnGreyClosingFilter<float>&, const imaging::Image<float>&,
                                            imaging::Image<float>&);
template void executeStraightforward<double>(const CnGreyClosingFilter<double>&, const imaging::Image<double>&,
                                             imaging::Image<double>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
