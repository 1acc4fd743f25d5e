// Regional maxima of the first slice: the defining pixel-by-pixel order as the
// reference, and branch-free row tests in bands of rows as the fast path.
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/detail/Parallel.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// Branch-free test of the pixels begin .. end-1 of one row (1 <= begin and
// end <= n-1, so that x - 1 and x + 1 lie in the row). A row outside the image
// is passed as the centre row itself: a positive value is never smaller than
// itself, and a value that is not positive fails anyway, so the mask is the one
// over the neighbours that exist. Every comparison with not-a-number is false,
// so a not-a-number pixel or neighbour clears the mask as in the definition.
template <class T>
NVF_MULTIVERSION void maximaOfRow(const T* __restrict above, const T* __restrict row, const T* __restrict below,
                                unsigned char* __restrict out, std::size_t begin, std::size_t end) {
    for (std::size_t x = begin; x < end; ++x) {
        const T v = row[x];
        const bool m = (v > T(0)) & (v >= above[x - 1]) & (v >= above[x]) & (v >= above[x + 1]) &
                       (v >= row[x - 1]) & (v >= row[x + 1]) & (v >= below[x - 1]) & (v >= below[x]) &
                       (v >= below[x + 1]);
        out[x] = static_cast<unsigned char>(m);
    }
}

// The test of pixel x of a row with its neighbours that exist in x - 1 .. x + 1.
template <class T>
unsigned char maximumAt(const T* above, const T* row, const T* below, std::size_t x, std::size_t n) {
    const T v = row[x];
    if (!(v > T(0))) {
        return 0;
    }
    const std::size_t lo = x > 0 ? x - 1 : x;
    const std::size_t hi = x + 1 < n ? x + 1 : x;
    for (std::size_t t = lo; t <= hi; ++t) {
        if (!(v >= above[t]) || !(v >= row[t]) || !(v >= below[t])) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

template <class T>
CnRegionalMaximumFilter<T>::CnRegionalMaximumFilter() = default;

template <class T>
CnRegionalMaximumFilter<T>::~CnRegionalMaximumFilter() = default;

template <class T>
void CnRegionalMaximumFilter<T>::checkDimensions(const imaging::Image<T>& input,
                                                 const imaging::Image<unsigned char>& output) const {
    // Both images are addressed by the same linear index, so the rows must have
    // the same length and the same number.
    if (output.getSizeX() != input.getSizeX() || output.getSizeY() != input.getSizeY() ||
        (input.getNumberOfVoxels() != 0 && output.getSizeZ() == 0)) {
        throwThrowable(messages::kRegionalMaximumOutputSize);
    }
}

template <class T>
void CnRegionalMaximumFilter<T>::v_execute() {
    checkDimensions(*this->m_input, *this->m_output);
    computeFast(*this->m_input, *this->m_output);
}

template <class T>
void CnRegionalMaximumFilter<T>::executeStraightforward(const imaging::Image<T>& input,
                                                        imaging::Image<unsigned char>& output) {
    this->setInputImage(&input);
    this->setOutputImage(&output);
    checkDimensions(input, output);
    computeStraightforward(input, output);
}

template <class T>
void CnRegionalMaximumFilter<T>::computeStraightforward(const imaging::Image<T>& input,
                                                        imaging::Image<unsigned char>& output) {
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t X = input.getSizeX(), Y = input.getSizeY();
    const auto test = [&](std::size_t i, std::initializer_list<std::size_t> neighbours) {
        const T v = input[i];
        bool maximum = v > T(0);
        for (const std::size_t j : neighbours) {
            if (!maximum) {
                break;
            }
            maximum = v >= input[j];
        }
        output[i] = maximum ? 1 : 0;
    };

    if (X < 2 || Y < 2) {
        // A single row or column: the two neighbours along it, where they exist.
        const std::size_t n = X * Y;
        for (std::size_t i = 0; i < n; ++i) {
            if (n == 1) {
                test(i, {});
            } else if (i == 0) {
                test(i, {1});
            } else if (i + 1 == n) {
                test(i, {i - 1});
            } else {
                test(i, {i - 1, i + 1});
            }
        }
        return;
    }

    // Interior: eight neighbours.
    for (std::size_t y = 1; y + 1 < Y; ++y) {
        for (std::size_t x = 1; x + 1 < X; ++x) {
            const std::size_t i = x + X * y;
            test(i, {i - X - 1, i - X, i - X + 1, i - 1, i + 1, i + X - 1, i + X, i + X + 1});
        }
    }
    // Corners: three neighbours.
    const std::size_t last = X * (Y - 1);
    test(0, {1, X, X + 1});
    test(X - 1, {X - 2, 2 * X - 2, 2 * X - 1});
    test(last, {last - X, last - X + 1, last + 1});
    test(last + X - 1, {last - 2, last - 1, last + X - 2});
    // First and last rows: five neighbours.
    for (std::size_t x = 1; x + 1 < X; ++x) {
        test(x, {x - 1, x + 1, X + x - 1, X + x, X + x + 1});
        const std::size_t i = last + x;
        test(i, {i - X - 1, i - X, i - X + 1, i - 1, i + 1});
    }
    // First and last columns: five neighbours.
    for (std::size_t y = 1; y + 1 < Y; ++y) {
        const std::size_t i = X * y;
        test(i, {i - X, i - X + 1, i + 1, i + X, i + X + 1});
        const std::size_t j = i + X - 1;
        test(j, {j - X - 1, j - X, j - 1, j + X - 1, j + X});
    }
}

template <class T>
void CnRegionalMaximumFilter<T>::computeFast(const imaging::Image<T>& input, imaging::Image<unsigned char>& output) {
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t X = input.getSizeX(), Y = input.getSizeY();
    const T* src = input.data();
    unsigned char* dst = output.data();
    // Rows are tested in blocks of kBlock pixels; before each block the matching
    // part of the row kAhead rows further down is requested from memory, so
    // that it arrives while this block is computed.
    constexpr std::size_t kBlock = 256;
    constexpr std::size_t kAhead = 3;
    constexpr std::size_t kLine = 64 / sizeof(T);
    // Rows are independent: bands of rows run as separate tasks.
    const auto rows = [&](std::size_t first, std::size_t last) {
        for (std::size_t y = first; y < last; ++y) {
            const T* row = src + X * y;
            const T* above = y > 0 ? row - X : row;
            const T* below = y + 1 < Y ? row + X : row;
            const T* ahead = y + kAhead < last ? row + X * kAhead : nullptr;
            unsigned char* out = dst + X * y;
            for (std::size_t begin = 1; begin + 1 < X; begin += kBlock) {
                const std::size_t end = begin + kBlock < X - 1 ? begin + kBlock : X - 1;
                if (ahead != nullptr) {
                    for (std::size_t x = begin; x < end; x += kLine) {
                        __builtin_prefetch(ahead + x);
                    }
                }
                maximaOfRow(above, row, below, out, begin, end);
            }
            out[0] = maximumAt(above, row, below, 0, X);
            if (X > 1) {
                out[X - 1] = maximumAt(above, row, below, X - 1, X);
            }
        }
    };
    constexpr std::size_t kBandPixels = std::size_t{1} << 16;
    detail::parallelRanges(this->getExecutor(), Y, std::max<std::size_t>(1, kBandPixels / X), rows);
}

template class CnRegionalMaximumFilter<short>;
template class CnRegionalMaximumFilter<float>;
template class CnRegionalMaximumFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
