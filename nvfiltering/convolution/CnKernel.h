// A one-dimensional convolution kernel: a list of taps plus the index of the tap
// regarded as its centre.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
class NVFILTERING_EXPORT CnKernel {
public:
    // No values, centre 0.
    CnKernel();
    // Copies the values; centre 0.
    CnKernel(std::vector<T> values);  // NOLINT(google-explicit-constructor): kernels convert from value lists
    // Copies `count` values from the array (none when count is 0); centre 0.
    CnKernel(const T* values, unsigned int count);
    CnKernel(const CnKernel& other);
    const CnKernel& operator=(const CnKernel& other);
    ~CnKernel();

    // Sets the centre to `center` when it indexes one of the values; otherwise
    // (also for an empty kernel) the centre becomes 0. Never throws.
    void setCenter(unsigned int center);
    unsigned int getCenter() const;
    // Number of values, 0 when empty.
    unsigned int size() const;

    // The value at index getCenter() + i; i may be negative. No bounds check.
    T& operator[](int i);
    const T& operator[](int i) const;

    // First value and one past the last; both null when there are no values.
    T* begin();
    T* end();
    const T* begin() const;
    const T* end() const;

private:
    std::uint32_t m_center;
    std::vector<T> m_values;
};

extern template class CnKernel<float>;

// Writes "Kernel:  size:<n>, center:<c>", a line end, then "Values: " and every
// value in the stream's current float format, each followed by one blank. No
// line end follows the values.
NVFILTERING_EXPORT std::ostream& operator<<(std::ostream& os, const CnKernel<float>& kernel);

}  // namespace filtering
}  // namespace norvane
}  // namespace com
