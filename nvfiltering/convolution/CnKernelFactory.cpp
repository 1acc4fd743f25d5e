// The kernels the factory makes: the identity and the five-tap smoothing kernel
// of one parameter.
#include <nvfiltering/convolution/CnKernelFactory.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
CnKernelFactory<T>& CnKernelFactory<T>::operator=(const CnKernelFactory& /*other*/) {
    return *this;
}

template <class T>
const CnKernel<T> CnKernelFactory<T>::id() {
    return CnKernel<T>(std::vector<T>(1, T(1)));
}

template <class T>
const std::vector<T> CnKernelFactory<T>::pyrfilt(T a) {
    // 0.6666667f is the float nearest 2/3 (bit pattern 0x3F2AAAAB).
    const T c = a * T(0.6666667f);
    const T d = c - a * T(0.5f);
    return std::vector<T>{d, c, a, c, d};
}

template <class T>
const CnKernel<T> CnKernelFactory<T>::smooth(T a) {
    CnKernel<T> kernel(pyrfilt(a));
    kernel.setCenter(kernel.size() / 2);
    return kernel;
}

template class CnKernelFactory<float>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
