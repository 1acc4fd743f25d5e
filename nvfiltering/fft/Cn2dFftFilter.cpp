#include <nvfiltering/fft/Cn2dFftFilter.h>

#include <algorithm>
#include <cstddef>

#include <nvfiltering/framework/CnMessages.h>
#include <nvmath/CnFft.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
Cn2dFftFilter<T>::Cn2dFftFilter() = default;

template <class T>
Cn2dFftFilter<T>::Cn2dFftFilter(const Cn2dFftFilter& other) = default;

template <class T>
Cn2dFftFilter<T>& Cn2dFftFilter<T>::operator=(const Cn2dFftFilter& other) = default;

template <class T>
Cn2dFftFilter<T>::~Cn2dFftFilter() = default;

template <class T>
void Cn2dFftFilter<T>::checkSizes() const {
    if (this->m_length < 1 || this->m_vectorCount < 1) {
        throwThrowable(messages::kFft2dSizeBelowOne);
    }
    Cn1dFftFilter<T>::checkLength(this->m_length);
    Cn1dFftFilter<T>::checkLength(this->m_vectorCount);
    if (this->m_direction != 1 && this->m_direction != -1) {
        throwThrowable(messages::kFftInvalidDirection);
    }
    if (this->m_realInput == nullptr || this->m_imagInput == nullptr || this->m_realOutput == nullptr ||
        this->m_imagOutput == nullptr) {
        throwThrowable(messages::kFftNullArray);
    }
}

template <class T>
void Cn2dFftFilter<T>::execute() {
    checkSizes();
    const std::int32_t n1 = this->m_length;
    const std::int32_t n2 = this->m_vectorCount;
    if (this->IsPowerOf2(static_cast<unsigned int>(n1)) && this->IsPowerOf2(static_cast<unsigned int>(n2))) {
        const std::size_t m = static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2);
        if (this->m_realInput != this->m_realOutput) {
            std::copy(this->m_realInput, this->m_realInput + m, this->m_realOutput);
        }
        if (this->m_imagInput != this->m_imagOutput) {
            std::copy(this->m_imagInput, this->m_imagInput + m, this->m_imagOutput);
        }
        CallMklFftRoutine();
        return;
    }

    // Rows: n1 vectors of n2 adjacent values, from the input into the output.
    this->m_length = n2;
    this->m_vectorJump = n2;
    this->m_vectorCount = n1;
    Cn1dFftFilter<T>::execute();

    // Columns: n2 vectors of n1 values n2 apart, in place in the output.
    const T* realIn = this->m_realInput;
    const T* imagIn = this->m_imagInput;
    this->m_realInput = this->m_realOutput;
    this->m_imagInput = this->m_imagOutput;
    this->m_length = n1;
    this->m_dataJump = n2;
    this->m_vectorJump = 1;
    this->m_vectorCount = n2;
    try {
        Cn1dFftFilter<T>::execute();
    } catch (...) {
        this->m_realInput = realIn;
        this->m_imagInput = imagIn;
        throw;
    }
    this->m_realInput = realIn;
    this->m_imagInput = imagIn;
}

template <class T>
void Cn2dFftFilter<T>::CallMklFftRoutine() {
    const math::CnFft<T> fft;
    fft.Call2dMklFftRoutine(this->m_realOutput, this->m_imagOutput, this->m_length, this->m_vectorCount,
                            this->m_direction);
}

template class Cn2dFftFilter<float>;
template class Cn2dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
