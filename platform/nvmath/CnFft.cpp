#include <nvmath/CnFft.h>

#include <nvcore/Throwable.h>

namespace com {
namespace norvane {
namespace math {

template <class T>
CnFft<T>::CnFft() = default;

template <class T>
CnFft<T>::~CnFft() = default;

template <class T>
void CnFft<T>::Call1dMklFftRoutine(T*, T*, int, int, T*) const {
    throw Throwable("CnFft: not available yet.", "java/lang/Throwable");
}

template <class T>
void CnFft<T>::Call2dMklFftRoutine(T*, T*, int, int, int) const {
    throw Throwable("CnFft: not available yet.", "java/lang/Throwable");
}

template class CnFft<float>;
template class CnFft<double>;

}  // namespace math
}  // namespace norvane
}  // namespace com
