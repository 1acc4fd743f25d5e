// Recursive (infinite-impulse-response) Gaussian filtering of one line: the
// third-order filter of Young and van Vliet (1995), a causal pass forwards and
// an anti-causal pass backwards, with the boundary matrix of Triggs and Sdika
// (2006) so that the result is exactly that of the line continued by zeros on
// both sides.
#pragma once

#include <cstdint>

#include <nvfiltering/framework/Cn1dFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>
#include <nvmath/CnMatrix.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

// Usage, for many lines along one axis:
//   filter.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
//   filter.setParameters(B, a1, a2, a3, &M);
//   filter.setType(Smooth / FirstDerivative / SecondDerivative matching order);
//   for each line: setInputData(...); setOutputData(...); execute();
//
// Input sample k is read at input start + k * input stride, output sample k is
// written at output start + k * input stride: the input length and stride serve
// the output too. Input and output may be the same line (in-place filtering).
template <class In, class Out, class InIt, class OutIt>
class NVFILTERING_EXPORT Cn1dRecursiveFilter : public Cn1dFilter<In, Out, InIt, OutIt> {
public:
    enum EnRecursiveFilterType : std::int32_t { Smooth = 1, FirstDerivative = 2, SecondDerivative = 3 };

    // Type Smooth; no line, no coefficients, no boundary matrix; border Constant 0.
    Cn1dRecursiveFilter();
    // Copies the line, the type, the coefficients, the border mode and the
    // matrix pointer: the copy shares the source's boundary matrix.
    Cn1dRecursiveFilter(const Cn1dRecursiveFilter& other);
    Cn1dRecursiveFilter& operator=(const Cn1dRecursiveFilter& other);
    ~Cn1dRecursiveFilter() override;

    // Stores any value; execute() rejects values other than 1, 2 and 3.
    void setType(EnRecursiveFilterType type);
    int getType() const;

    // How the line is continued beyond its ends, as CnRecursiveFilter's border
    // modes (the same values and meanings): Constant with a value (0, the
    // default, is the zero continuation), Nearest, Reflect, Mirror, Wrap. Any
    // mode other than Constant 0 filters the line in double precision without
    // reading feedback back from the output. Stores any mode; execute()
    // rejects an unknown one.
    enum EnBorderMode : std::int32_t { Constant = 0, Nearest = 1, Reflect = 2, Mirror = 3, Wrap = 4 };
    void setBorderMode(EnBorderMode mode, double value = 0.0);
    int getBorderMode() const;
    double getBorderValue() const;

    // Stores the coefficients and the boundary matrix pointer. The matrix is not
    // copied or owned: it must stay alive and unchanged while lines are filtered.
    void setParameters(double B, double a1, double a2, double a3, math::CnMatrix<double>* M);

    // Coefficients for sigma (in samples) and the 3 x 3 boundary matrix for the
    // derivative order (0 smoothing, 1 first, 2 second derivative). Reads and
    // changes no member. M is resized to 3 x 3 whatever its size before.
    // Throws com::norvane::Throwable "invalid filter order" for order > 2 (the
    // coefficients are written, M is not), and the convergence message when the
    // boundary series does not converge within 1000 iterations (sigma of about
    // 107 or more; the coefficients are written, M holds the partial sum).
    void computeFilterParameters(double sigma, double& B, double& a1, double& a2, double& a3,
                                 math::CnMatrix<double>& M, unsigned int order) const;

    // Filters the line last set, as the current type says. Works in double
    // precision; feedback values inside the line are read back after conversion
    // to Out. Any length of at least 1 is filtered: lines shorter than the
    // recursion's start-up (3 samples, 4 for the first derivative) get the same
    // zero-continuation result through a bounds-checked path.
    // Throws com::norvane::Throwable, before anything is read or written, for an
    // unknown type, an unknown border mode, a line that is not set (null start, zero length, zero input
    // stride), a line reaching outside its image (image iterators), missing
    // parameters (no matrix or a matrix that is not 3 x 3), and, for the vector
    // instantiation, any derivative type.
    void execute() override;

private:
    // One line of derivative order Order (0 smoothing).
    template <unsigned int Order>
    void executeOrder();
    void checkLineAndParameters() const;

    EnRecursiveFilterType m_type;
    double m_B;
    double m_a1;
    double m_a2;
    double m_a3;
    math::CnMatrix<double>* m_boundaryMatrix;
    EnBorderMode m_borderMode;
    double m_borderValue;
};

extern template class Cn1dRecursiveFilter<unsigned char, float, ImageConstIt<unsigned char>, ImageIt<float>>;
extern template class Cn1dRecursiveFilter<unsigned short, float, ImageConstIt<unsigned short>, ImageIt<float>>;
extern template class Cn1dRecursiveFilter<short, float, ImageConstIt<short>, ImageIt<float>>;
extern template class Cn1dRecursiveFilter<float, float, ImageConstIt<float>, ImageIt<float>>;
extern template class Cn1dRecursiveFilter<double, double, ImageConstIt<double>, ImageIt<double>>;
extern template class Cn1dRecursiveFilter<math::CnVector3D<float>, math::CnVector3D<float>,
                                          ImageConstIt<math::CnVector3D<float>>, ImageIt<math::CnVector3D<float>>>;
extern template class Cn1dRecursiveFilter<double, double, double*, double*>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
