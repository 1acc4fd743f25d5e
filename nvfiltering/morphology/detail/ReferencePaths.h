// The straightforward algorithm of each morphology filter, the reference its
// fast path is tested against: the same result, the same checks and messages and,
// for the labelling, the same changes of the filter's members as execute() with
// the filter's settings, computed voxel by voxel in the defining order, in the
// caller's thread. Private to the library: the tests and fuzz targets reach it
// through the internal library.
#pragma once

#include <cstdint>

#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnGreyClosingFilter.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/morphology/CnGreyErosionFilter.h>
#include <nvfiltering/morphology/CnGreyOpeningFilter.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvimage/Image.h>

namespace com::norvane::filtering::detail {

// Bitwise dilation and erosion: the interior, then the X, Y and Z borders,
// every voxel through the image iterators.
template <class T>
void executeStraightforward(const CnDilationFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output);
template <class T>
void executeStraightforward(const CnErosionFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output);

// Grey dilation, erosion, opening and closing: every pass voxel by voxel in the
// order of the bitwise filters' defining passes.
template <class T>
void executeStraightforward(const CnGreyDilationFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output);
template <class T>
void executeStraightforward(const CnGreyErosionFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output);
template <class T>
void executeStraightforward(const CnGreyOpeningFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output);
template <class T>
void executeStraightforward(const CnGreyClosingFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<T>& output);

// Regional maxima: pixel by pixel in the defining order of regions (interior,
// corners, first and last rows, first and last columns), or in volume mode
// voxel by voxel over the neighbours inside the volume.
template <class T>
void executeStraightforward(const CnRegionalMaximumFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<unsigned char>& output);

// Labelling: row labels, Y, diagonal (in-slice edge neighbours), Z and
// slice-to-slice edge and corner merges, chain resolution by pointer
// jumping, numbering and ranking, every voxel through the image access; sets the
// filter's number of components (and minimum size, for a selection) as execute() does.
template <class T>
void executeStraightforward(CnConnectedComponentFilter<T>& filter, const imaging::Image<T>& input,
                            imaging::Image<std::uint32_t>& output);

}  // namespace com::norvane::filtering::detail
