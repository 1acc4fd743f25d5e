// Separable recursive Gaussian filtering of a volume: smoothing with a sigma per
// axis, or the first or second Gaussian derivative along one axis with smoothing
// along the other two.
#pragma once

#include <cstdint>

#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

// Runs the recursive line filter along every X line (input to output), then
// along every Y line and every Z line (in place in the output). Sigmas are in
// voxels. Borders: the image is continued by zeros along each axis, so values
// near the faces are pulled towards 0.
//
// Requirements and failures (com::norvane::Throwable, nothing written):
// - the output must have the input's X, Y and Z sizes;
// - derivative outside 0 ... 6: "invalid derivative".
// A sigma whose boundary series does not converge (about 107 voxels or more)
// throws the convergence message when its pass starts, after the earlier passes
// have written the output. The vector instantiation smooths only: a derivative
// throws the line filter's message at the start of the pass that takes it.
//
// Thin images: any size of at least 1 along each axis is filtered (short lines
// get their exact zero-continuation result). A single-slice image (Z size 1) is
// not filtered along Z. A derivative along Z of a single-slice image is 0
// everywhere (the image does not vary along Z); the output is filled with zeros.
//
// Input and output may be the same image when In and Out are the same type.
template <class In, class Out>
class NVFILTERING_EXPORT CnRecursiveFilter : public CnFilter<In, Out> {
public:
    enum EnDerivativeType : std::int32_t {
        NoDerivative = 0,
        FirstDerivativeX = 1,
        FirstDerivativeY = 2,
        FirstDerivativeZ = 3,
        SecondDerivativeX = 4,
        SecondDerivativeY = 5,
        SecondDerivativeZ = 6
    };

    // Sigmas 1.0, NoDerivative.
    CnRecursiveFilter();
    ~CnRecursiveFilter() override;

    // Stores the three standard deviations (in voxels); none is validated.
    void setSigma(double sigmaX, double sigmaY, double sigmaZ);
    double getSigmaX() const;
    double getSigmaY() const;
    double getSigmaZ() const;

    // Stores any value; it is validated when the filter runs.
    void setDerivative(EnDerivativeType derivative);
    int getDerivative() const;

protected:
    void v_execute() override;

private:
    double m_sigmaX;
    double m_sigmaY;
    double m_sigmaZ;
    EnDerivativeType m_derivative;
};

extern template class CnRecursiveFilter<unsigned char, float>;
extern template class CnRecursiveFilter<unsigned short, float>;
extern template class CnRecursiveFilter<short, float>;
extern template class CnRecursiveFilter<float, float>;
extern template class CnRecursiveFilter<double, double>;
extern template class CnRecursiveFilter<math::CnVector3D<float>, math::CnVector3D<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
