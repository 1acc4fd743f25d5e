// The coefficients of the recursive Gaussian for one sigma and derivative order:
// the gain B and feedback a1, a2, a3 (Young and van Vliet 1995) and the 3 x 3
// boundary matrix of the exact zero-continuation start (Triggs and Sdika 2006).
// The one place they are computed: the public line filter forwards to it, and
// the volume filter and the gradient call it for their passes.
#pragma once

#include <nvmath/CnMatrix.h>

namespace com::norvane::filtering::detail {

// Order 0 smooths, 1 and 2 differentiate. An order above 2 throws "invalid
// filter order"; a series that has not converged after 1000 terms throws the
// convergence message with the sigma. M is resized as needed.
void recursiveCoefficients(double sigma, unsigned int order, double& B, double& a1, double& a2, double& a3,
                           math::CnMatrix<double>& M);

}  // namespace com::norvane::filtering::detail
