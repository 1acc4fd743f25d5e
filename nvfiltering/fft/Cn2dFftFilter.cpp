// The two-dimensional FFT filter: power-of-two arrays by the power-of-two engine's
// row and column passes, every other size as a row pass and a column pass of the
// one-dimensional filter; each pass spreads over the executor.
#include <nvfiltering/fft/Cn2dFftFilter.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/FftEngine.h>
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
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
    detail::checkFftCall({{this->m_length, this->m_vectorCount},
                          messages::kFft2dSizeBelowOne,
                          1,
                          this->m_direction,
                          {this->m_realInput, this->m_imagInput, this->m_realOutput, this->m_imagOutput},
                          messages::kFftNullArray,
                          sizeof(T)});
}

template <class T>
void Cn2dFftFilter<T>::execute() {
    checkSizes();
    const std::int32_t n1 = this->m_length;
    const std::int32_t n2 = this->m_vectorCount;
    const auto powerOfTwo = detail::FftEngine::PowerOfTwo;
    if (detail::chooseFftEngine(n1, 1, false) == powerOfTwo && detail::chooseFftEngine(n2, 1, false) == powerOfTwo) {
        const std::size_t m = static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2);
        if (this->m_realInput != this->m_realOutput) {
            std::copy(this->m_realInput, this->m_realInput + m, this->m_realOutput);
        }
        if (this->m_imagInput != this->m_imagOutput) {
            std::copy(this->m_imagInput, this->m_imagInput + m, this->m_imagOutput);
        }
        transformPowerOfTwo();
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
void Cn2dFftFilter<T>::transformPowerOfTwo() {
    // The numbers of the math library's two-dimensional routine: the imaginary
    // parts negated (inverse), the rows, the columns, then the scaling by
    // 1 / (n1 n2) (inverse); the rows in one pass, the bands of columns in the next.
    const int n1 = this->m_length;
    const int n2 = this->m_vectorCount;
    const math::CnFft<T> fft;
    std::vector<T> rowTable(3 * static_cast<std::size_t>(n2));
    std::vector<T> columnTable(3 * static_cast<std::size_t>(n1));
    fft.Call1dMklFftRoutine(nullptr, nullptr, n2, 0, rowTable.data());
    fft.Call1dMklFftRoutine(nullptr, nullptr, n1, 0, columnTable.data());
    const bool inverse = this->m_direction < 0;
    const T r = inverse ? static_cast<T>(1.0 / (static_cast<double>(n1) * static_cast<double>(n2))) : T(1);
    detail::pow2Contiguous(this->m_realOutput, this->m_imagOutput, n2, n2, n1, rowTable.data(),
                           detail::Pow2Ends<T>{inverse, false, T(1)}, this->getExecutor());
    detail::pow2Interleaved(this->m_realOutput, this->m_imagOutput, n1, n2, n2, columnTable.data(),
                            detail::Pow2Ends<T>{false, inverse, r}, this->getExecutor());
}

template class Cn2dFftFilter<float>;
template class Cn2dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
