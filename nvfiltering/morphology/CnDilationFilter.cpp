// Dilation: the shared cross passes (detail/CrossFilterPasses.h) with OR.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/detail/CrossFilterPasses.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

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
        detail::crossFast<Combine>(
            in, out, [this](auto&&... args) { return dilate_with_checking(args...); }, this->getExecutor());
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
template class CnDilationFilter<unsigned short>;
template class CnDilationFilter<std::uint32_t>;

namespace detail {

template <class T>
void executeStraightforward(const CnDilationFilter<T>& /*filter*/, const imaging::Image<T>& input,
                            imaging::Image<T>& output) {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kDilationOutputSize);
    }
    detail::runCrossPass(input, output, [](const imaging::Image<T>& in, imaging::Image<T>& out) {
        detail::crossStraightforward<Combine>(
            in, out, [](auto it, auto... rest) { return detail::combineWithChecking<Combine>(it.get(), rest...); });
    });
}

template void executeStraightforward<unsigned char>(const CnDilationFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnDilationFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned short>&);
template void executeStraightforward<short>(const CnDilationFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<short>&);
template void executeStraightforward<std::uint32_t>(const CnDilationFilter<std::uint32_t>&,
                                                    const imaging::Image<std::uint32_t>&,
                                                    imaging::Image<std::uint32_t>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
