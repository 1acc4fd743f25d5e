#include <nvmath/CnMatrix.h>

#include <nvcore/Throwable.h>

namespace com {
namespace norvane {
namespace math {

template <class T>
CnMatrix<T>::CnMatrix() : m_rows(0), m_cols(0) {}

template <class T>
CnMatrix<T>::CnMatrix(unsigned int rows, unsigned int cols)
    : m_rows(rows), m_cols(cols), m_values(static_cast<std::size_t>(rows) * cols, T()) {}

template <class T>
CnMatrix<T>::CnMatrix(const CnMatrix& other) = default;

template <class T>
CnMatrix<T>& CnMatrix<T>::operator=(const CnMatrix& other) = default;

template <class T>
CnMatrix<T>::~CnMatrix() = default;

template <class T>
void CnMatrix<T>::setToIdentity() {
    for (unsigned int r = 0; r < m_rows; ++r) {
        for (unsigned int c = 0; c < m_cols; ++c) {
            (*this)(r, c) = r == c ? T(1) : T(0);
        }
    }
}

template <class T>
void CnMatrix<T>::fill(T value) {
    for (T& v : m_values) {
        v = value;
    }
}

template <class T>
CnMatrix<T> CnMatrix<T>::operator*(const CnMatrix& other) const {
    if (m_cols != other.m_rows) {
        throw Throwable("CnMatrix: sizes do not match for the product.", "java/lang/Throwable");
    }
    CnMatrix result(m_rows, other.m_cols);
    for (unsigned int r = 0; r < m_rows; ++r) {
        for (unsigned int c = 0; c < other.m_cols; ++c) {
            T sum = T(0);
            for (unsigned int k = 0; k < m_cols; ++k) {
                sum += (*this)(r, k) * other(k, c);
            }
            result(r, c) = sum;
        }
    }
    return result;
}

template <class T>
CnMatrix<T> CnMatrix<T>::operator+(const CnMatrix& other) const {
    if (m_rows != other.m_rows || m_cols != other.m_cols) {
        throw Throwable("CnMatrix: sizes do not match for the sum.", "java/lang/Throwable");
    }
    CnMatrix result(*this);
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        result.m_values[i] += other.m_values[i];
    }
    return result;
}

template <class T>
bool CnMatrix<T>::operator==(const CnMatrix& other) const {
    return m_rows == other.m_rows && m_cols == other.m_cols && m_values == other.m_values;
}

template class CnMatrix<float>;
template class CnMatrix<double>;

}  // namespace math
}  // namespace norvane
}  // namespace com
