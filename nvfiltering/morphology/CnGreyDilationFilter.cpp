// Grey-value dilation with the six-neighbour cross: the grey passes of detail/GreyCross.h.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/morphology/detail/GreyCross.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
CnGreyDilationFilter<T>::CnGreyDilationFilter() : m_iterations(1) {}

template <class T>
CnGreyDilationFilter<T>::~CnGreyDilationFilter() = default;

template <class T>
void CnGreyDilationFilter<T>::setIterations(unsigned int iterations) {
    m_iterations = iterations;
}

template <class T>
unsigned int CnGreyDilationFilter<T>::getIterations() const {
    return m_iterations;
}

template <class T>
void CnGreyDilationFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyDilationOutputSize);
    }
}

template <class T>
void CnGreyDilationFilter<T>::v_execute() {
    checkDimensions(*this->m_input, *this->m_output);
    const detail::GreySequence sequence{true, m_iterations, 0};
    detail::runGreyCross(*this->m_input, *this->m_output, sequence, this->getExecutor(), false);
}

template class CnGreyDilationFilter<unsigned char>;
template class CnGreyDilationFilter<unsigned short>;
template class CnGreyDilationFilter<short>;
template class CnGreyDilationFilter<float>;
template class CnGreyDilationFilter<double>;

namespace detail {

template <class T>
void executeStraightforward(const CnGreyDilationFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output) {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyDilationOutputSize);
    }
    const GreySequence sequence{true, filter.getIterations(), 0};
    runGreyCross(input, output, sequence, nullptr, true);
}

template void executeStraightforward<unsigned char>(const CnGreyDilationFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnGreyDilationFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned short>&);
template void executeStraightforward<short>(const CnGreyDilationFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<short>&);
template void executeStraightforward<float>(const CnGreyDilationFilter<float>&, const imaging::Image<float>&,
                                            imaging::Image<float>&);
template void executeStraightforward<double>(const CnGreyDilationFilter<double>&, const imaging::Image<double>&,
                                             imaging::Image<double>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
