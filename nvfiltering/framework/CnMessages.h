// Every message the library throws, in one list, with the class paths that go
// with them. Ordinary failures are com::norvane::Throwable with the class path
// kThrowableClassPath; the two library exceptions carry their own paths. One
// constant a line, grouped by family: the groups share their shape by design.
#pragma once

#include <string>

#include <nvcore/Throwable.h>

namespace com {
namespace norvane {
namespace filtering {
namespace messages {

// --- Class paths -------------------------------------------------------------
constexpr const char* kThrowableClassPath = "java/lang/Throwable";
constexpr const char* kFftDimensionClassPath = "com/norvane/filtering/FftDimensionNotImplementedException";
constexpr const char* kEightPointClassPath = "com/norvane/david/EightPointConnectivityIn3DException";

// --- Convolution --------------------------------------------------------------
constexpr const char* kFilterNotInitialized = "Filter not initialized.";
constexpr const char* kDataSmallerThanKernel = "Data smaller than kernel.";
constexpr const char* kUnknownAxisGetKernel = "Unknown axis (getKernel).";
// The output length is too long for the input length: with the whole resampling
// factor rounded from their ratio, the kernel window would run past the mirrored line.
constexpr const char* kSpatialOutputTooLong =
    "Cn1dSpatialFilter: output length too long for the input length and resampling factor.";
constexpr const char* kSeparableInputDimensionZero = "CnSeparableFilter: input image has a dimension of 0.";
constexpr const char* kSeparableOutputDimensionZero = "CnSeparableFilter: output image has a dimension of 0.";
constexpr const char* kSeparableOutputXTooLong =
    "CnSeparableFilter: output X dimension too long for the input X dimension and resampling factor.";
constexpr const char* kSeparableOutputYTooLong =
    "CnSeparableFilter: output Y dimension too long for the input Y dimension and resampling factor.";
constexpr const char* kSeparableOutputZTooLong =
    "CnSeparableFilter: output Z dimension too long for the input Z dimension and resampling factor.";
// A temporary volume of the separable filter (the output's X by the input's Y
// and Z, or the output's X and Y by the input's Z) would have more bytes than
// std::size_t counts, or a slice too large for the line filter's 32-bit strides.
constexpr const char* kSeparableTemporaryTooLarge =
    "CnSeparableFilter: temporary volume too large for the address space or the line strides.";

// --- Recursive filtering -----------------------------------------------------
constexpr const char* kInvalidFilterOrder = "invalid filter order";
// Formatted with the sigma in %f form.
constexpr const char* kRecursiveNoConvergence =
    "Recursive initialization can't converge after 1000 iterations (sigma = %f)";
constexpr const char* kUnknownRecursiveAlgorithm = "Unknown recursive filter algorithm.";
constexpr const char* kNoFirstDerivativeForVectors = "No first derivative filter for images of CnVectors.";
constexpr const char* kNoSecondDerivativeForVectors = "No second derivative filter for images of CnVectors.";
constexpr const char* kInvalidDerivative = "invalid derivative";
constexpr const char* kUnknownBorderMode = "Recursive filter: unknown border mode.";
constexpr const char* kDstHasNoElements = "dst has no elements";
// Checks added by this library for inputs that would otherwise reach outside
// an image, a line or the boundary matrix.
constexpr const char* kRecursiveLineNotSet =
    "Cn1dRecursiveFilter: line not set (null start, zero length or zero stride).";
constexpr const char* kRecursiveLineOutsideImage = "Cn1dRecursiveFilter: line extends beyond its image.";
constexpr const char* kRecursiveParametersNotSet =
    "Cn1dRecursiveFilter: filter parameters not set (call setParameters with a 3 x 3 boundary matrix).";
constexpr const char* kRecursiveOutputSizeDiffers = "CnRecursiveFilter: output image dimensions differ from the input.";
constexpr const char* kGradientSizeDiffers = "CnImageGradient: destination dimensions differ from the source.";
constexpr const char* kGradientInvalidVoxelSize = "CnImageGradient: voxel size must be positive and finite.";
constexpr const char* kGradientTinyVoxelSize =
    "CnImageGradient: voxel size is so small that its inverse does not fit a float.";
constexpr const char* kRecursiveVolumeTooLarge =
    "CnRecursiveFilter: volume too large (its voxel count or byte size does not fit std::size_t).";

// --- Fast Fourier transforms -------------------------------------------------
constexpr const char* kFftDimensionNotImplemented = "FFT dimensions must be a power of 2, 3 or 5";
constexpr const char* kFftLengthBelowOne = "Cn1dFftFilter: transform length is below 1.";
constexpr const char* kFftNegativeVectorCount = "Cn1dFftFilter: vector count is negative.";
constexpr const char* kFftInvalidDirection = "Cn1dFftFilter: direction must be +1 or -1.";
constexpr const char* kFftNullArray = "Cn1dFftFilter: data array is null.";
constexpr const char* kFft2dSizeBelowOne = "Cn2dFftFilter: array size is below 1.";
constexpr const char* kFft3dSizeBelowOne = "Cn3dFftFilter: volume size is below 1.";
constexpr const char* kFft3dNullArray = "Cn3dFftFilter: data array is null.";
constexpr const char* kFftSizeTooLarge = "FFT: the element count of the data does not fit the address space.";
// The GPFA routines a derived filter calls directly.
constexpr const char* kFftNullArgument = "Cn1dFftFilter: a GPFA argument pointer is null.";
constexpr const char* kFftRadixPower = "Cn1dFftFilter: the radix power does not divide the transform length.";
constexpr const char* kFftZeroNegativePower = "Cn1dFftFilter: pow_ii of zero to a negative power.";
// The interleaved complex and real transforms (CnComplexFftFilter, CnRealFftFilter).
constexpr const char* kFftLengthZero = "FFT: a transformed length is 0.";
constexpr const char* kFftArrayNull = "FFT: data array is null.";
constexpr const char* kFftDirection = "FFT: direction must be +1 or -1.";
constexpr const char* kFftNormalization = "FFT: unknown normalisation.";
constexpr const char* kFftDimensionCount = "FFT: the array must have 1, 2 or 3 dimensions.";
constexpr const char* kFftAxis = "FFT: an axis is outside the array or given twice.";
constexpr const char* kFftShapeNull = "FFT: the shape or the axes are null.";
constexpr const char* kFftLinesOutsideArray = "FFT: the lines reach outside the array.";
constexpr const char* kFftLinesOverlap = "FFT: the lines overlap one another.";
constexpr const char* kFftArraysOverlap = "FFT: input and output overlap without being the same array.";
constexpr const char* kFftRealArraysOverlap = "CnRealFftFilter: input and output overlap.";
constexpr const char* kFftRealRank =
    "CnRealFftFilter: the number of transformed axes must be between 1 and the number of dimensions.";

// --- Morphology and labelling ------------------------------------------------
constexpr const char* kComponentDoesNotExist =
    "CnConnectedComponentFilter: component selected to keep does not exist.";
constexpr const char* kEightPointIn3D =
    "8-point connectivity in 3D (really 27-point) is not currently implemented";
constexpr const char* kConnectivityUnknown =
    "CnConnectedComponentFilter: connectivity must be 4, 6, 8, 18 or 26 neighbours.";
constexpr const char* kFourPointIn3D =
    "CnConnectedComponentFilter: 4-point connectivity needs an image of one slice; a volume takes 6, 18 or 26.";
// Checks of the images handed to the morphology and labelling filters.
constexpr const char* kDilationOutputSize = "CnDilationFilter: output image dimensions differ from the input.";
constexpr const char* kErosionOutputSize = "CnErosionFilter: output image dimensions differ from the input.";
constexpr const char* kConnectedComponentOutputSize =
    "CnConnectedComponentFilter: output image dimensions differ from the input.";
constexpr const char* kConnectedComponentTooManyVoxels =
    "CnConnectedComponentFilter: more foreground voxels than 32-bit labels can number.";
constexpr const char* kRegionalMaximumOutputSize =
    "CnRegionalMaximumFilter: output image must have the input's X and Y dimensions and at least one slice.";
// The grey-value morphology filters and the volume option of the regional maxima.
constexpr const char* kGreyDilationOutputSize = "CnGreyDilationFilter: output image dimensions differ from the input.";
constexpr const char* kGreyErosionOutputSize = "CnGreyErosionFilter: output image dimensions differ from the input.";
constexpr const char* kGreyOpeningOutputSize = "CnGreyOpeningFilter: output image dimensions differ from the input.";
constexpr const char* kGreyClosingOutputSize = "CnGreyClosingFilter: output image dimensions differ from the input.";
constexpr const char* kRegionalMaximumVolumeOutputSize =
    "CnRegionalMaximumFilter: in volume mode the output image dimensions must equal the input's.";

}  // namespace messages

// Throws com::norvane::Throwable with the given message and the ordinary class path.
[[noreturn]] inline void throwThrowable(const std::string& message) {
    throw Throwable(message, messages::kThrowableClassPath);
}

}  // namespace filtering
}  // namespace norvane
}  // namespace com
