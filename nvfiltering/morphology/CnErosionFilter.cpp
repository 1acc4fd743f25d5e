#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/detail/CrossRow.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {
using Combine = detail::BitwiseAnd;
}  // namespace

template <class T>
CnErosionFilter<T>::CnErosionFilter() = default;

template <class T>
CnErosionFilter<T>::~CnErosionFilter() = default;

template <class T>
void CnErosionFilter<T>::checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const {
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kErosionOutputSize);
    }
}

template <class T>
void CnErosionFilter<T>::v_execute() {
    const imaging::Image<T>& input = *this->m_input;
    imaging::Image<T>& output = *this->m_output;
    checkDimensions(input, output);
    if (&input == &output) {
        // The passes read neighbours that are already overwritten in place, so
        // they work on a copy.
        const imaging::Image<T> copy(input);
        computeFast(copy, output);
    } else {
        computeFast(input, output);
    }
}

template <class T>
void CnErosionFilter<T>::executeStraightforward(const imaging::Image<T>& input, imaging::Image<T>& output) {
    this->setInputImage(&input);
    this->setOutputImage(&output);
    checkDimensions(input, output);
    if (&input == &output) {
        const imaging::Image<T> copy(input);
        computeStraightforward(copy, output);
    } else {
        computeStraightforward(input, output);
    }
}

template <class T>
T CnErosionFilter<T>::erode_with_checking(typename imaging::Image<T>::const_iterator it, unsigned int x, unsigned int y,
                                          unsigned int z, unsigned int sizeX, unsigned int sizeY, unsigned int sizeZ,
                                          unsigned int strideY, std::size_t strideZ) {
    const T* p = it.get();
    const T centre = *p;
    T v = centre;
    v = Combine::apply(v, x != 0 ? p[-1] : centre);
    v = Combine::apply(v, x != sizeX - 1 ? p[1] : centre);
    v = Combine::apply(v, y != 0 ? *(p - strideY) : centre);
    v = Combine::apply(v, y != sizeY - 1 ? p[strideY] : centre);
    v = Combine::apply(v, z != 0 ? *(p - strideZ) : centre);
    v = Combine::apply(v, z != sizeZ - 1 ? p[strideZ] : centre);
    return v;
}

template <class T>
void CnErosionFilter<T>::computeStraightforward(const imaging::Image<T>& input, imaging::Image<T>& output) {
    const unsigned int X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t XY = static_cast<std::size_t>(X) * Y;
    const typename imaging::Image<T>::const_iterator src = input.begin();
    const typename imaging::Image<T>::iterator dst = output.begin();

    // Interior: seven reads, no bound test.
    if (X > 2 && Y > 2 && Z > 2) {
        for (unsigned int z = 1; z + 1 < Z; ++z) {
            for (unsigned int y = 1; y + 1 < Y; ++y) {
                std::size_t i = XY * z + static_cast<std::size_t>(X) * y + 1;
                for (unsigned int x = 1; x + 1 < X; ++x, ++i) {
                    T v = Combine::apply(src[i], src[i - 1]);
                    v = Combine::apply(v, src[i + 1]);
                    v = Combine::apply(v, src[i - X]);
                    v = Combine::apply(v, src[i + X]);
                    v = Combine::apply(v, src[i - XY]);
                    dst[i] = Combine::apply(v, src[i + XY]);
                }
            }
        }
    }
    const auto border = [&](unsigned int x, unsigned int y, unsigned int z) {
        const std::size_t i = XY * z + static_cast<std::size_t>(X) * y + x;
        dst[i] = erode_with_checking(src + i, x, y, z, X, Y, Z, X, XY);
    };
    // X borders: first and last voxel of every row.
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int y = 0; y < Y; ++y) {
            border(0, y, z);
            if (X > 1) {
                border(X - 1, y, z);
            }
        }
    }
    // Y borders: first and last row of every slice.
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int x = 0; x < X; ++x) {
            border(x, 0, z);
        }
        if (Y > 1) {
            for (unsigned int x = 0; x < X; ++x) {
                border(x, Y - 1, z);
            }
        }
    }
    // Z borders: first and last slice.
    for (unsigned int y = 0; y < Y; ++y) {
        for (unsigned int x = 0; x < X; ++x) {
            border(x, y, 0);
        }
    }
    if (Z > 1) {
        for (unsigned int y = 0; y < Y; ++y) {
            for (unsigned int x = 0; x < X; ++x) {
                border(x, y, Z - 1);
            }
        }
    }
}

template <class T>
void CnErosionFilter<T>::computeFast(const imaging::Image<T>& input, imaging::Image<T>& output) {
    const unsigned int X = input.getSizeX(), Y = input.getSizeY(), Z = input.getSizeZ();
    if (input.getNumberOfVoxels() == 0) {
        return;
    }
    const std::size_t XY = static_cast<std::size_t>(X) * Y;
    const T* src = input.data();
    T* dst = output.data();
    // Row by row: a neighbour row outside the image is replaced by the row
    // itself, which leaves the AND unchanged, so every row runs the same
    // branch-free loop; the two ends of the row go through the checking function.
    for (unsigned int z = 0; z < Z; ++z) {
        for (unsigned int y = 0; y < Y; ++y) {
            const std::size_t base = XY * z + static_cast<std::size_t>(X) * y;
            const T* c = src + base;
            const T* ym = y > 0 ? c - X : c;
            const T* yp = y + 1 < Y ? c + X : c;
            const T* zm = z > 0 ? c - XY : c;
            const T* zp = z + 1 < Z ? c + XY : c;
            detail::combineCrossRow<Combine>(c, ym, yp, zm, zp, dst + base, X);
            dst[base] = erode_with_checking(input.begin() + base, 0, y, z, X, Y, Z, X, XY);
            if (X > 1) {
                dst[base + X - 1] = erode_with_checking(input.begin() + (base + X - 1), X - 1, y, z, X, Y, Z, X, XY);
            }
        }
    }
}

template class CnErosionFilter<unsigned char>;
template class CnErosionFilter<short>;
template class CnErosionFilter<std::uint32_t>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
