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
// voxels. Borders (setBorderMode): by default the image is continued by zeros
// along each axis, so values near the faces are pulled towards 0; the other
// modes continue each line by a constant, its edge values, its reflection, its
// mirror image or periodically, and every mode gives the exact result of the
// line so continued (no padding, no truncation).
//
// Requirements and failures (com::norvane::Throwable, nothing written):
// - the output must have the input's X, Y and Z sizes;
// - derivative outside 0 ... 6: "invalid derivative";
// - a border mode outside EnBorderMode: "unknown border mode".
// A sigma whose boundary series does not converge (about 107 voxels or more)
// throws the convergence message when its pass starts, after the earlier passes
// have written the output. The vector instantiation smooths only: a derivative
// throws the line filter's message at the start of the pass that takes it.
//
// Thin images: any size of at least 1 along each axis is filtered (short lines
// get their exact result for the border mode). A single-slice image (Z size 1)
// is not filtered along Z, whatever the border mode. A derivative along Z of a single-slice image is 0
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

    // How each line is continued beyond the image, with SciPy's ndimage meaning
    // (for a line a b c d): Constant with a value c (c c | a b c d | c c; c = 0
    // is the default and runs the filter's fastest code), Nearest (a a | a b c d
    // | d d), Reflect (b a | a b c d | d c), Mirror (c b | a b c d | c b) and
    // Wrap (c d | a b c d | a b). Modes other than Constant 0 run line by line
    // in double precision; their cost is a few times that of the default.
    enum EnBorderMode : std::int32_t { Constant = 0, Nearest = 1, Reflect = 2, Mirror = 3, Wrap = 4 };

    // Sigmas 1.0, NoDerivative, border Constant 0.
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

    // Stores any mode and value (the value is used by Constant only, and kept
    // for the others); the mode is validated when the filter runs.
    void setBorderMode(EnBorderMode mode, double value = 0.0);
    int getBorderMode() const;
    double getBorderValue() const;

protected:
    void v_execute() override;

private:
    double m_sigmaX;
    double m_sigmaY;
    double m_sigmaZ;
    EnDerivativeType m_derivative;
    EnBorderMode m_borderMode;
    double m_borderValue;
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
