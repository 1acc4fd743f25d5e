// Erosion of a mask with the six-neighbour cross.
// (CnDilationFilter.h declares the same interface: two public classes over the
// passes they share in detail/CrossFilterPasses.h.)
#pragma once

#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>

#include <cstddef>
#include <cstdint>

namespace com {
namespace norvane {
namespace filtering {

// Each output voxel is the bitwise AND of the input voxel and of its face
// neighbours along -X, +X, -Y, +Y, -Z and +Z that lie inside the image. On a
// mask of 0 and one fixed non-zero value this is the two-valued erosion with a
// cross of seven voxels (five when Z = 1, three when Y = Z = 1); on other values
// it is the bitwise combination, not the minimum. The structuring element never
// wraps to the next row or slice: a neighbour outside the image is left out.
//
// execute(input, output):
// - output must have exactly the input's dimensions, otherwise a
//   com::norvane::Throwable (class path "java/lang/Throwable") is thrown and
//   nothing is written;
// - output may be the input image itself: the input is then copied first, and
//   the result is the same as with a separate output;
// - every output voxel is written; an image with a zero dimension has no voxels
//   and is left as it is.
// Bands of rows run as tasks on the executor (setExecutor); the output does not
// depend on it.
template <class T>
class NVFILTERING_EXPORT CnErosionFilter : public CnFilter<T, T> {
public:
    CnErosionFilter();
    ~CnErosionFilter() override;

protected:
    void v_execute() override;

private:
    // AND of the voxel at it and of those of its six neighbours that exist; a
    // missing neighbour is replaced by the centre value. (x, y, z) are the
    // voxel's coordinates, size* the image dimensions, strideY = X, strideZ = X * Y.
    T erode_with_checking(typename imaging::Image<T>::const_iterator it, unsigned int x, unsigned int y, unsigned int z,
                          unsigned int sizeX, unsigned int sizeY, unsigned int sizeZ, unsigned int strideY,
                          std::size_t strideZ);

    void checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const;
};

extern template class CnErosionFilter<unsigned char>;
extern template class CnErosionFilter<short>;
extern template class CnErosionFilter<unsigned short>;
extern template class CnErosionFilter<std::uint32_t>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
