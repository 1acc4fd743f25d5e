// Grey-value dilation with the six-neighbour cross.
// (CnGreyErosionFilter.h, CnGreyOpeningFilter.h and CnGreyClosingFilter.h declare
// the same interface over the passes they share in detail/GreyCross.h.)
#pragma once

#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>

namespace com {
namespace norvane {
namespace filtering {

// Each output voxel is the maximum of the input voxel and of its face neighbours
// along -X, +X, -Y, +Y, -Z and +Z that lie inside the image: a cross of seven
// voxels (five when Z = 1, three when Y = Z = 1). On a mask of 0 and one
// positive value it gives the same voxels as CnDilationFilter.
//
// setIterations(k) runs k such passes, each on the result of the one before:
// the result equals k successive runs of one pass, that is the maximum over
// the voxels at most k face steps away. k = 0 copies the input. The default is 1.
//
// Borders: a neighbour outside the image is left out (the cross never wraps to
// the next row or slice), which for the maximum and minimum is the same as
// repeating the nearest voxel of the image.
//
// Floating-point values are ordered numerically, with -0 below +0; a cross that
// holds a NaN gives NaN (the quiet NaN of std::numeric_limits<T>), so a NaN
// spreads by one face step per pass. The result therefore depends neither on
// the order nor on the grouping in which the voxels of a cross are combined.
//
// execute(input, output):
// - output must have exactly the input's dimensions, otherwise a
//   com::norvane::Throwable (class path "java/lang/Throwable") is thrown and
//   nothing is written;
// - output may be the input image itself, with the same result as with a
//   separate output;
// - every output voxel is written; an image with a zero dimension has no voxels
//   and is left as it is.
// Passes beyond X + Y + Z - 3 in a row change nothing (every voxel then holds
// the extreme of the whole image) and are not run, so large iteration counts
// cost no more than that. Bands of rows run as tasks on the executor
// (setExecutor); the output does not depend on it.
template <class T>
class NVFILTERING_EXPORT CnGreyDilationFilter : public CnFilter<T, T> {
public:
    CnGreyDilationFilter();
    ~CnGreyDilationFilter() override;

    void setIterations(unsigned int iterations);
    unsigned int getIterations() const;

protected:
    void v_execute() override;

private:
    void checkDimensions(const imaging::Image<T>& input, const imaging::Image<T>& output) const;

    unsigned int m_iterations;
};

extern template class CnGreyDilationFilter<unsigned char>;
extern template class CnGreyDilationFilter<unsigned short>;
extern template class CnGreyDilationFilter<short>;
extern template class CnGreyDilationFilter<float>;
extern template class CnGreyDilationFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
