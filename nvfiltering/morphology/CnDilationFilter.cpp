// Dilation: the shared cross passes (detail/CrossFilterPasses.h) with OR.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/detail/CrossFilterPasses.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {
using Combine = detail::BitwiseOr;
}  // namespace

template <class T>
CnDilationFilter<T>::CnDilationFilter() = default;

template <class T>
CnDilationFilter<T>::~CnDilationFilter() = default;

template <class T>
void CnDilationFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kDilationOutputSize);
    }
}

template <class T>
void CnDilationFilter<T>::v_execute() {
    const imaging::Image<T>& input = *this->m_input;
    imaging::Image<T>& output = *this->m_output;
    checkDimensions(input, output);
    detail::runCrossPass(input, output, [this](const imaging::Image<T>& in, imaging::Image<T>& out) {
        detail::crossFast<Combine>(in, out, [this](auto&&... args) { return dilate_with_checking(args...); },
                                   this->getExecutor());
    });
}

template <class T>
void CnDilationFilter<T>::executeStraightforward(const imaging::Image<T>& input, imaging::Image<T>& output) {
    this->setInputImage(&input);
    this->setOutputImage(&output);
    checkDimensions(input, output);
    detail::runCrossPass(input, output, [this](const imaging::Image<T>& in, imaging::Image<T>& out) {
        detail::crossStraightforward<Combine>(in, out,
                                              [this](auto&&... args) { return dilate_with_checking(args...); });
    });
}

template <class T>
T CnDilationFilter<T>::dilate_with_checking(typename imaging::Image<T>::const_iterator it, unsigned int x,
                                            unsigned int y, unsigned int z, unsigned int sizeX, unsigned int sizeY,
                                            unsigned int sizeZ, unsigned int strideY, std::size_t strideZ) {
    return detail::combineWithChecking<Combine>(it.get(), x, y, z, sizeX, sizeY, sizeZ, strideY, strideZ);
}

template class CnDilationFilter<unsigned char>;
template class CnDilationFilter<short>;
template class CnDilationFilter<std::uint32_t>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
