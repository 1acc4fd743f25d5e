// Mask of the regional maxima of a two-dimensional image, or of a volume.
#pragma once

#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>

#include <cstdint>

namespace com {
namespace norvane {
namespace filtering {

// Marks with 1 every pixel of the first slice (z = 0) whose value is positive
// and not smaller than any of its eight neighbours that lie inside the image,
// and with 0 every other pixel. Equal neighbours do not disqualify a pixel, so a
// flat top is marked in full. For float and double a pixel that does not
// compare (not a number), or one with such a neighbour, is never a maximum.
// Pixels on the border and in images of width or height 1 are compared with the
// neighbours that exist.
//
// execute(input, output):
// - output must have exactly the input's X and Y dimensions and, when the
//   input has voxels, at least one slice, otherwise a com::norvane::Throwable is
//   thrown and nothing is written;
// - only the X * Y voxels of the output's first slice are written; deeper
//   slices keep their content. An input without voxels writes nothing, so its
//   output may have no slice (it has no voxel to write either).
//
// setVolume(true) tests the whole volume instead: every voxel is marked with 1
// when its value is positive and not smaller than any of its 26 neighbours
// that lie inside the volume (the same rule in three dimensions: plateaus are
// marked in full, a not-a-number voxel or one next to a not-a-number is never
// a maximum), and with 0 otherwise. The output must then have exactly the
// input's three dimensions, otherwise a com::norvane::Throwable is thrown and
// nothing is written; every output voxel is written. On a single slice this
// gives the same mask as the default. setVolume(false), the default, keeps
// the two-dimensional test of the first slice described above.
//
// For unsigned char the output may be the input image itself, in either mode,
// with the same result as with a separate output.
// Bands of rows run as separate tasks on the executor (setExecutor); the mask
// does not depend on it.
template <class T>
class NVFILTERING_EXPORT CnRegionalMaximumFilter : public CnFilter<T, unsigned char> {
public:
    CnRegionalMaximumFilter();
    ~CnRegionalMaximumFilter() override;

    void v_execute() override;

    // Whether execute() tests the whole volume against 26 neighbours (true) or
    // the first slice against 8 (false, the default).
    void setVolume(bool volume);
    bool getVolume() const;

private:
    void checkDimensions(const imaging::Image<T>& input, const imaging::Image<unsigned char>& output) const;
    void computeFast(const imaging::Image<T>& input, imaging::Image<unsigned char>& output);
    void computeVolumeFast(const imaging::Image<T>& input, imaging::Image<unsigned char>& output);

    bool m_volume;
};

extern template class CnRegionalMaximumFilter<unsigned char>;
extern template class CnRegionalMaximumFilter<unsigned short>;
extern template class CnRegionalMaximumFilter<short>;
extern template class CnRegionalMaximumFilter<float>;
extern template class CnRegionalMaximumFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
