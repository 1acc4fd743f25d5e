// Grey-value dilation with the six-neighbour cross: the grey passes of detail/GreyCross.h.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/morphology/detail/GreyCross.h>

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

template <class T>
void CnGreyDilationFilter<T>::executeStraightforward(const imaging::Image<T>& input, imaging::Image<T>& output) {
    this->setInputImage(&input);
    this->setOutputImage(&output);
    checkDimensions(input, output);
    const detail::GreySequence sequence{true, m_iterations, 0};
    detail::runGreyCross(input, output, sequence, nullptr, true);
}

template class CnGreyDilationFilter<unsigned char>;
template class CnGreyDilationFilter<unsigned short>;
template class CnGreyDilationFilter<short>;
template class CnGreyDilationFilter<float>;
template class CnGreyDilationFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
