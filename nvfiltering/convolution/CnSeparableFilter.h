// Separable convolution of an image or volume with one kernel per axis, run as
// line convolutions along X, then Y, then Z; each axis is resampled from the
// input to the output dimension (one level of an image pyramid with
// CnKernelFactory<float>::smooth and halved dimensions).
#pragma once

#include <functional>

#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

// Every pass follows Cn1dSpatialFilter: the line is mirrored at both ends, tap
// K / 2 of the axis kernel is aligned with the output sample, and an axis whose
// output dimension differs from the input dimension is resampled by a whole
// factor (zeros inserted with gain, or samples skipped). Intermediate results
// are float for 8-bit and float data (vectors of float for the vector
// instantiation) and double for 16-bit and double data; integer results are rounded half
// up and clamped to the type's range (0 ... 255, 0 ... 65535, -32768 ... 32767)
// only by the last pass. Every pass forms its products and sums in double as
// the line filter does; float data is converted to float after each pass.
// Instantiated for unsigned char, unsigned short, short, float and double
// voxels (each to the same type) and for vectors of three floats. A single-slice input (Z dimension 1)
// is filtered along X and Y only; the Z kernel and the output's Z dimension are
// then not used. Bands of lines, slices and column blocks run as tasks on the
// executor (setExecutor); the output does not depend on it.
template <class In, class Out, class K, class Acc, class Mul, class Add>
class NVFILTERING_EXPORT CnSeparableFilter : public CnFilter<In, Out> {
public:
    // No images; the identity kernel on every axis.
    CnSeparableFilter();
    ~CnSeparableFilter() override;

    // Copies `kernel` into the kernel of every axis whose bit (1 = X, 2 = Y,
    // 4 = Z) is set in `axis`; other bits are ignored.
    void setKernel(const CnKernel<K>& kernel, CnCoord::Axis axis);
    // The X kernel if bit 1 is set, else the Y kernel if bit 2 is set, else the Z
    // kernel if bit 4 is set; otherwise throws "Unknown axis (getKernel).".
    const CnKernel<K>& getKernel(CnCoord::Axis axis) const;

protected:
    // Runs the passes into the caller's output image, whose dimensions give the
    // output length of every axis. Before anything is written or allocated it
    // throws com::norvane::Throwable ("java/lang/Throwable") when an image has a
    // dimension of 0, when an axis that runs is shorter than its kernel ("Data
    // smaller than kernel."), or when an output dimension is too long for whole-
    // factor resampling of its input dimension (see Cn1dSpatialFilter::execute).
    // The output is then unchanged and the input is never changed.
    void v_execute() override;

private:
    // A copy has no images and the source's kernels; assignment copies the
    // kernels and keeps the images.
    CnSeparableFilter(const CnSeparableFilter& other);
    CnSeparableFilter& operator=(const CnSeparableFilter& other);

    void checkDimensions() const;
    void executeWithTmp();

    CnKernel<K> m_kernelX;
    CnKernel<K> m_kernelY;
    CnKernel<K> m_kernelZ;
};

extern template class CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>,
                                        std::plus<float>>;
extern template class CnSeparableFilter<unsigned short, unsigned short, float, float, std::multiplies<float>,
                                        std::plus<float>>;
extern template class CnSeparableFilter<short, short, float, float, std::multiplies<float>, std::plus<float>>;
extern template class CnSeparableFilter<float, float, float, float, std::multiplies<float>, std::plus<float>>;
extern template class CnSeparableFilter<double, double, float, float, std::multiplies<float>, std::plus<float>>;
extern template class CnSeparableFilter<math::CnVector3D<float>, math::CnVector3D<float>, float,
                                        math::CnVector3D<float>, std::multiplies<float>, std::plus<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
