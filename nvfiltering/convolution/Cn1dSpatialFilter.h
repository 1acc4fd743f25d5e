// Convolution of one line of samples with a CnKernel, with the line mirrored at
// both ends and whole-factor resampling between the input and output lengths.
#pragma once

#include <functional>

#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/framework/Cn1dFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

// In, Out: sample types; K: kernel value type; Acc: summation type of the
// instantiation; Mul, Add: its multiplication and addition; InIt, OutIt: the
// image iterators the line is read and written through.
//
// With K taps, h = K / 2, N input and M output samples, execute():
//  - up-samples by up = floor(M / N + 0.5) (zeros inserted after every sample)
//    when M > N, or down-samples by down = floor(N / M + 0.5) (every down-th
//    position is kept) when M < N;
//  - mirrors the up-sampled line about its first and its last sample (the edge
//    sample is not repeated);
//  - writes output j = up * sum over k of kernel[k] * padded[j * down + k]: tap h
//    is aligned with the output sample whatever the kernel's centre says, and the
//    kernel is not reversed.
// Scalar instantiations form each product and the running sum in double and
// convert once; 8-bit results are clamped to 0 ... 255 and rounded half up. The
// vector instantiation filters each component in float.
template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
class NVFILTERING_EXPORT Cn1dSpatialFilter : public Cn1dFilter<In, Out, InIt, OutIt> {
public:
    // No line set; the identity kernel (one value 1, centre 0).
    Cn1dSpatialFilter();
    ~Cn1dSpatialFilter() override;

    // Copies the kernel's values and centre.
    void setKernel(const CnKernel<K>& kernel);
    const CnKernel<K>& getKernel() const;

    // Filters the line set by setInputData / setOutputData. Throws
    // com::norvane::Throwable ("java/lang/Throwable"), before anything is
    // written, when a start is null or a length or stride is 0 ("Filter not
    // initialized."), when N is smaller than the kernel ("Data smaller than
    // kernel."), and when the output is so long that the window would pass the
    // end of the mirrored line ((M - 1) * down > N * up, for example N = 10 and
    // M = 14). The caller guarantees that both lines lie inside their images.
    void execute() override;

private:
    // A copy has the source's kernel and no line; assignment copies the kernel
    // and keeps the target's line.
    Cn1dSpatialFilter(const Cn1dSpatialFilter& other);
    Cn1dSpatialFilter& operator=(const Cn1dSpatialFilter& other);

    CnKernel<K> m_kernel;
};

extern template class Cn1dSpatialFilter<unsigned char, unsigned char, float, float, std::multiplies<float>,
                                        std::plus<float>, ImageConstIt<unsigned char>, ImageIt<unsigned char>>;
extern template class Cn1dSpatialFilter<unsigned char, float, float, float, std::multiplies<float>, std::plus<float>,
                                        ImageConstIt<unsigned char>, ImageIt<float>>;
extern template class Cn1dSpatialFilter<float, unsigned char, float, float, std::multiplies<float>, std::plus<float>,
                                        ImageConstIt<float>, ImageIt<unsigned char>>;
extern template class Cn1dSpatialFilter<float, float, float, float, std::multiplies<float>, std::plus<float>,
                                        ImageConstIt<float>, ImageIt<float>>;
extern template class Cn1dSpatialFilter<math::CnVector3D<float>, math::CnVector3D<float>, float,
                                        math::CnVector3D<float>, std::multiplies<float>, std::plus<float>,
                                        ImageConstIt<math::CnVector3D<float>>, ImageIt<math::CnVector3D<float>>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
