// The standard kernels: the identity and the five-tap pyramid smoothing kernel.
#pragma once

#include <vector>

#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
class NVFILTERING_EXPORT CnKernelFactory {
public:
    CnKernelFactory() = default;
    CnKernelFactory(const CnKernelFactory&) = default;
    // Does nothing: the factory has no state.
    CnKernelFactory& operator=(const CnKernelFactory& other);

    // One value, 1; centre 0.
    static const CnKernel<T> id();
    // The five values [d, c, a, c, d] with c = a * 0.6666667f and d = c - a * 0.5,
    // each rounded to T. They add up to 8a/3 (1 for a = 0.375); not normalised.
    static const std::vector<T> pyrfilt(T a);
    // The kernel of pyrfilt(a), centred on its middle value (centre 2).
    static const CnKernel<T> smooth(T a);
};

extern template class CnKernelFactory<float>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
