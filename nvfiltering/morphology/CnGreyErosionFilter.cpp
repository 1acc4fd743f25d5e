// Grey-value erosion with the six-neighbour cross: the grey passes of detail/GreyCross.h.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnGreyErosionFilter.h>
#include <nvfiltering/morphology/detail/GreyCross.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
CnGreyErosionFilter<T>::CnGreyErosionFilter() : m_iterations(1) {}

template <class T>
CnGreyErosionFilter<T>::~CnGreyErosionFilter() = default;

template <class T>
void CnGreyErosionFilter<T>::setIterations(unsigned int iterations) {
    m_iterations = iterations;
}

template <class T>
unsigned int CnGreyErosionFilter<T>::getIterations() const {
    return m_iterations;
}

template <class T>
void CnGreyErosionFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyErosionOutputSize);
    }
}

template <class T>
void CnGreyErosionFilter<T>::v_execute() {
    checkDimensions(*this->m_input, *this->m_output);
    const detail::GreySequence sequence{false, m_iterations, 0};
    detail::runGreyCross(*this->m_input, *this->m_output, sequence, this->getExecutor(), false);
}

template class CnGreyErosionFilter<unsigned char>;
template class CnGreyErosionFilter<unsigned short>;
template class CnGreyErosionFilter<short>;
template class CnGreyErosionFilter<float>;
template class CnGreyErosionFilter<double>;

namespace detail {

template <class T>
void executeStraightforward(const CnGreyErosionFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output) {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kGreyErosionOutputSize);
    }
    const GreySequence sequence{false, filter.getIterations(), 0};
    runGreyCross(input, output, sequence, nullptr, true);
}

template void executeStraightforward<unsigned char>(const CnGreyErosionFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnGreyErosionFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned short>&);
template void executeStraightforward<short>(const CnGreyErosionFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<short>&);
template void executeStraightforward<float>(const CnGreyErosionFilter<float>&, const imaging::Image<float>&,
                                            imaging::Image<float>&);
template void executeStraightforward<double>(const CnGreyErosionFilter<double>&, const imaging::Image<double>&,
                                             imaging::Image<double>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
