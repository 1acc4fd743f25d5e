// Kernels: a list of taps with copy, comparison and the printed form.
#include <nvfiltering/convolution/CnKernel.h>

#include <cstddef>
#include <utility>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
CnKernel<T>::CnKernel() : m_center(0), m_values() {}

template <class T>
CnKernel<T>::CnKernel(std::vector<T> values) : m_center(0), m_values(std::move(values)) {}

template <class T>
CnKernel<T>::CnKernel(const T* values, unsigned int count) : m_center(0), m_values() {
    if (count > 0 && values != nullptr) {
        m_values.assign(values, values + count);
    }
}

template <class T>
CnKernel<T>::CnKernel(const CnKernel& other) = default;

template <class T>
const CnKernel<T>& CnKernel<T>::operator=(const CnKernel& other) {
    if (this != &other) {
        m_center = other.m_center;
        m_values = other.m_values;
    }
    return *this;
}

template <class T>
CnKernel<T>::~CnKernel() = default;

template <class T>
void CnKernel<T>::setCenter(unsigned int center) {
    m_center = (!m_values.empty() && center < m_values.size()) ? center : 0u;
}

template <class T>
unsigned int CnKernel<T>::getCenter() const {
    return m_center;
}

template <class T>
unsigned int CnKernel<T>::size() const {
    return static_cast<unsigned int>(m_values.size());
}

template <class T>
T& CnKernel<T>::operator[](int i) {
    return m_values.data()[static_cast<std::ptrdiff_t>(m_center) + i];
}

template <class T>
const T& CnKernel<T>::operator[](int i) const {
    return m_values.data()[static_cast<std::ptrdiff_t>(m_center) + i];
}

template <class T>
T* CnKernel<T>::begin() {
    return m_values.empty() ? nullptr : m_values.data();
}

template <class T>
T* CnKernel<T>::end() {
    return m_values.empty() ? nullptr : m_values.data() + m_values.size();
}

template <class T>
const T* CnKernel<T>::begin() const {
    return m_values.empty() ? nullptr : m_values.data();
}

template <class T>
const T* CnKernel<T>::end() const {
    return m_values.empty() ? nullptr : m_values.data() + m_values.size();
}

std::ostream& operator<<(std::ostream& os, const CnKernel<float>& kernel) {
    os << "Kernel: " << " size:" << kernel.size() << ", center:" << kernel.getCenter() << std::endl;
    os << "Values: ";
    for (const float* v = kernel.begin(); v != kernel.end(); ++v) {
        os << *v << " ";
    }
    return os;
}

template class CnKernel<float>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
