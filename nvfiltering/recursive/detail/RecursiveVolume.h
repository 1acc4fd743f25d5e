// The work of the volume filter and of the gradient with the kernel version as
// a parameter (private to the library): the public classes run it with the
// version the processor suits best, the tests with each version in turn.
#pragma once

#include <cstdint>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>
#include <nvimage/Image.h>
#include <nvimage/Volume.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// The (input, output) element types of the volume filter: CnRecursiveFilter and
// RecursiveVolume are both instantiated for exactly these, through
// NVF_RECURSIVE_VOLUME_TYPES(F), which expands F(In, Out) once per pair.
#define NVF_RECURSIVE_VOLUME_TYPES(F) \
    F(unsigned char, float)           \
    F(unsigned short, float)          \
    F(short, float)                   \
    F(float, float)                   \
    F(double, double)                 \
    F(math::CnVector3D<float>, math::CnVector3D<float>)

template <class In, class Out>
class RecursiveVolume {
public:
    // CnRecursiveFilter<In, Out>::execute with these sigmas, derivative (an
    // EnDerivativeType value) and border mode (an EnBorderMode value and its
    // constant), its checks and its messages.
    static void run(const imaging::Image<In>& input, imaging::Image<Out>& output, double sigmaX, double sigmaY,
                    double sigmaZ, std::int32_t derivative, CnExecutor* executor, RecursiveKernel kernel,
                    std::int32_t borderMode = 0, double borderValue = 0.0);
};

template <class T>
class RecursiveGradient {
public:
    // CnImageGradient<T>::execute with this sigma.
    static void run(const imaging::Volume<T>& src, imaging::Volume<math::CnVector3D<float>>& dst, double sigma,
                    CnExecutor* executor, RecursiveKernel kernel);
};

extern template class RecursiveVolume<unsigned char, float>;
extern template class RecursiveVolume<unsigned short, float>;
extern template class RecursiveVolume<short, float>;
extern template class RecursiveVolume<float, float>;
extern template class RecursiveVolume<double, double>;
extern template class RecursiveVolume<math::CnVector3D<float>, math::CnVector3D<float>>;
extern template class RecursiveGradient<unsigned char>;
extern template class RecursiveGradient<unsigned short>;
extern template class RecursiveGradient<short>;

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
