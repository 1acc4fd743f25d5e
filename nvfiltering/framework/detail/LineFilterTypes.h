// The element and iterator types (In, Out, InIt, OutIt) the recursive line
// filter is instantiated for, and its base Cn1dFilter with them: the macro
// expands F(In, Out, InIt, OutIt) once per set. The public headers declare the
// same sets one by one; a set added here must be added there too, or the
// instantiation is not exported where callers see it.
#pragma once

#include <nvfiltering/framework/Cn1dFilter.h>

#define NVF_LINE_FILTER_TYPES(F)                                                                   \
    F(unsigned char, float, ImageConstIt<unsigned char>, ImageIt<float>)                           \
    F(unsigned short, float, ImageConstIt<unsigned short>, ImageIt<float>)                         \
    F(short, float, ImageConstIt<short>, ImageIt<float>)                                           \
    F(float, float, ImageConstIt<float>, ImageIt<float>)                                           \
    F(double, double, ImageConstIt<double>, ImageIt<double>)                                       \
    F(math::CnVector3D<float>, math::CnVector3D<float>, ImageConstIt<math::CnVector3D<float>>,     \
      ImageIt<math::CnVector3D<float>>)                                                            \
    F(double, double, double*, double*)
