// Umbrella header: every public class of nvFiltering and the platform types it uses.
#pragma once

#include <nvcore/Exception.h>
#include <nvcore/Throwable.h>
#include <nvcore/floor.h>
#include <nvimage/Image.h>
#include <nvimage/Volume.h>
#include <nvmath/CnFft.h>
#include <nvmath/CnMatrix.h>
#include <nvmath/CnVector3D.h>

#include <nvfiltering/framework/Cn1dFilter.h>
#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/framework/FftDimensionNotImplementedException.h>

#include <nvfiltering/convolution/Cn1dSpatialFilter.h>
#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>
#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>

#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnGreyClosingFilter.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/morphology/CnGreyErosionFilter.h>
#include <nvfiltering/morphology/CnGreyOpeningFilter.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>

#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
