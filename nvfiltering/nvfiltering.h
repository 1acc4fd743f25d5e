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
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/framework/FftDimensionNotImplementedException.h>
