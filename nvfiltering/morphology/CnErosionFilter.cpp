// Erosion: the shared cross passes (detail/CrossFilterPasses.h) with AND.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/detail/CrossFilterPasses.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {
using Combine = detail::BitwiseAnd;
}  // namespace

template <class T>
CnErosionFilter<T>::CnErosionFilter() = default;

template <class T>
CnErosionFilter<T>::~CnErosionFilter() = default;

template <class T>
void CnErosionFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kErosionOutputSize);
    }
}

template <class T>
void CnErosionFilter<T>::v_execute() {
    const imaging::Image<T>& input = *this->m_input;
    imaging::Image<T>& output = *this->m_output;
    checkDimensions(input, output);
    detail::runCrossPass(input, output, [this](const imaging::Image<T>& in, imaging::Image<T>& out) {
        detail::crossFast<Combine>(
            in, out, [this](auto&&... args) { return erode_with_checking(args...); }, this->getExecutor());
    });
}

template <class T>
T CnErosionFilter<T>::erode_with_checking(typename imaging::Image<T>::const_iterator it, unsigned int x, unsigned int y,
                                          unsigned int z, unsigned int sizeX, unsigned int sizeY, unsigned int sizeZ,
                                          unsigned int strideY, std::size_t strideZ) {
    return detail::combineWithChecking<Combine>(it.get(), x, y, z, sizeX, sizeY, sizeZ, strideY, strideZ);
}

template class CnErosionFilter<unsigned char>;
template class CnErosionFilter<short>;
template class CnErosionFilter<unsigned short>;
template class CnErosionFilter<std::uint32_t>;

namespace detail {

template <class T>
void executeStraightforward(const CnErosionFilter<T>& /*filter*/, const imaging::Image<T>& input,
                            imaging::Image<T>& output) {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kErosionOutputSize);
    }
    detail::runCrossPass(input, output, [](const imaging::Image<T>& in, imaging::Image<T>& out) {
        detail::crossStraightforward<Combine>(
            in, out, [](auto it, auto... rest) { return detail::combineWithChecking<Combine>(it.get(), rest...); });
    });
}

template void executeStraightforward<unsigned char>(const CnErosionFilter<unsigned char>&,
                                                    const imaging::Image<unsigned char>&,
                                                    imaging::Image<unsigned char>&);
template void executeStraightforward<unsigned short>(const CnErosionFilter<unsigned short>&,
                                                     const imaging::Image<unsigned short>&,
                                                     imaging::Image<unsigned short>&);
template void executeStraightforward<short>(const CnErosionFilter<short>&, const imaging::Image<short>&,
                                            imaging::Image<short>&);
template void executeStraightforward<std::uint32_t>(const CnErosionFilter<std::uint32_t>&,
                                                    const imaging::Image<std::uint32_t>&,
                                                    imaging::Image<std::uint32_t>&);

}  // namespace detail

}  // namespace filtering
}  // namespace norvane
}  // namespace com
