// Grey-value opening with the six-neighbour cross: the grey passes of detail/GreyCross.h.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnGreyOpeningFilter.h>
#include <nvfiltering/morphology/detail/GreyCross.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
CnGreyOpeningFilter<T>::CnGreyOpeningFilter() : m_iterations(1) {}

template <class T>
CnGreyOpeningFilter<T>::~CnGreyOpeningFilter() = default;

template <class T>
void CnGreyOpeningFilter<T>::setIterations(unsigned int iterations) {
    m_iterations = iterations;
}

template <class T>
unsigned int CnGreyOpeningFilter<T>::getIterations() const {
    return m_iterations;
}

template <class T>
void CnGreyOpeningFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyOpeningOutputSize);
    }
}

template <class T>
void CnGreyOpeningFilter<T>::v_execute() {
    checkDimensions(*this->m_input, *this->m_output);
    const detail::GreySequence sequence{false, m_iterations, m_iterations};
    detail::runGreyCross(*this->m_input, *this->m_output, sequence, this->getExecutor(), false);
}

template class CnGreyOpeningFilter<unsigned char>;
template class CnGreyOpeningFilter<unsigned short>;
template class CnGreyOpeningFilter<short>;
template class CnGreyOpeningFilter<float>;
template class CnGreyOpeningFilter<double>;

namespace detail {

template <class T>
void executeStraightforward(const CnGreyOpeningFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output) {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyOpeningOutputSize);
    }
    const GreySequence sequence{false, filter.getIterations(), filter.getIterations()};
    runGreyCross(input, output, sequence, nullptr, true);
}

template void executeStraightforward<unsigned char>(const CnGreyOpeningFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnGreyOpeningFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned short>&);
template void executeStraightforward<short>(const CnGreyOpeningFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<short>&);
template void executeStraightforward<float>(const CnGreyOpeningFilter<float>&, const imaging::Image<float>&,
                                            imaging::Image<float>&);
template void executeStraightforward<double>(const CnGreyOpeningFilter<double>&, const imaging::Image<double>&,
                                             imaging::Image<double>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
