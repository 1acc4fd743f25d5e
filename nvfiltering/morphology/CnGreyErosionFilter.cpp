// Grey-value erosion with the six-neighbour cross: the grey passes of detail/GreyCross.h.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnGreyErosionFilter.h>
#include <nvfiltering/morphology/detail/GreyCross.h>

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

template <class T>
void CnGreyErosionFilter<T>::executeStraightforward(const imaging::Image<T>& input, imaging::Image<T>& output) {
    this->setInputImage(&input);
    this->setOutputImage(&output);
    checkDimensions(input, output);
    const detail::GreySequence sequence{false, m_iterations, 0};
    detail::runGreyCross(input, output, sequence, nullptr, true);
}

template class CnGreyErosionFilter<unsigned char>;
template class CnGreyErosionFilter<unsigned short>;
template class CnGreyErosionFilter<short>;
template class CnGreyErosionFilter<float>;
template class CnGreyErosionFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
