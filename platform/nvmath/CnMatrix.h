// Dense row-major matrix of the math library. The filters use 3 x 3 and 0 x 0
// matrices of doubles only; the storage is sized exactly rows x cols.
#pragma once

#include <vector>

#include <nvmath/nvmath_export.h>

namespace com {
namespace norvane {
namespace math {

template <class T>
class NVMATH_EXPORT CnMatrix {
public:
    CnMatrix();
    CnMatrix(unsigned int rows, unsigned int cols);
    CnMatrix(const CnMatrix& other);
    CnMatrix& operator=(const CnMatrix& other);
    virtual ~CnMatrix();

    unsigned int getRows() const { return m_rows; }
    unsigned int getCols() const { return m_cols; }

    // Element (r, c); no bounds check.
    T& operator()(unsigned int r, unsigned int c) { return m_values[static_cast<std::size_t>(r) * m_cols + c]; }
    const T& operator()(unsigned int r, unsigned int c) const {
        return m_values[static_cast<std::size_t>(r) * m_cols + c];
    }

    // Ones on the diagonal, zeros elsewhere (also for non-square matrices).
    void setToIdentity();
    void fill(T value);

    // Matrix product; throws com::norvane::Throwable when the inner sizes differ.
    CnMatrix operator*(const CnMatrix& other) const;
    // Element-wise sum; throws com::norvane::Throwable when the sizes differ.
    CnMatrix operator+(const CnMatrix& other) const;
    bool operator==(const CnMatrix& other) const;
    bool operator!=(const CnMatrix& other) const { return !(*this == other); }

private:
    unsigned int m_rows;
    unsigned int m_cols;
    std::vector<T> m_values;
};

extern template class CnMatrix<float>;
extern template class CnMatrix<double>;

}  // namespace math
}  // namespace norvane
}  // namespace com
