// The gradient of a volume: the three first derivatives of the volume filter,
// scaled by the voxel size and packed as vectors, computed with shared work and
// no scratch volume beyond one float volume (thin volumes) or a few slices.
#include <nvfiltering/recursive/CnImageGradient.h>

#include <cmath>
#include <limits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>
#include <nvfiltering/recursive/detail/RecursivePlan.h>
#include <nvfiltering/recursive/detail/RecursiveVolume.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {

namespace detail {

namespace {

// Component c of every voxel of dst (three floats each) from plane.
void putComponent(const float* plane, float* dst, std::size_t count, std::size_t c) {
    for (std::size_t i = 0; i < count; ++i) {
        dst[3 * i + c] = plane[i];
    }
}
void putScaledComponent(const float* plane, float* dst, std::size_t count, std::size_t c, float factor) {
    for (std::size_t i = 0; i < count; ++i) {
        dst[3 * i + c] = plane[i] * factor;
    }
}

}  // namespace

template <class T>
void RecursiveGradient<T>::run(const imaging::Volume<T>& src, imaging::Volume<math::CnVector3D<float>>& dst,
                               double sigma, CnExecutor* executor, RecursiveKernel kernel) {
    if (dst.getNumberOfVoxels() == 0) {
        throwThrowable(messages::kDstHasNoElements);
    }
    if (!dst.hasSameDimensions(src)) {
        throwThrowable(messages::kGradientSizeDiffers);
    }
    const math::CnVector3D<double> voxelSize = src.getVoxelSize();
    const double vx = voxelSize.x, vy = voxelSize.y, vz = voxelSize.z;
    if (!(std::isfinite(vx) && vx > 0.0 && std::isfinite(vy) && vy > 0.0 && std::isfinite(vz) && vz > 0.0)) {
        throwThrowable(messages::kGradientInvalidVoxelSize);
    }
    // The components are scaled by the inverse voxel sizes in float: one that
    // overflowed would turn every zero derivative into not-a-number.
    constexpr double kLargestScale = static_cast<double>(std::numeric_limits<float>::max());
    if (1.0 / vx > kLargestScale || 1.0 / vy > kLargestScale || 1.0 / vz > kLargestScale) {
        throwThrowable(messages::kGradientTinyVoxelSize);
    }
    const std::size_t sizeX = src.getSizeX(), sizeY = src.getSizeY(), sizeZ = src.getSizeZ();
    const std::size_t voxels = checkedVoxelCount(sizeX, sizeY, sizeZ, 3, sizeof(float));
    const std::size_t slice = sizeX * sizeY;

    const float scale[3] = {static_cast<float>(1.0 / vx), static_cast<float>(1.0 / vy), static_cast<float>(1.0 / vz)};
    const double sigmas[3] = {sigma / vx, sigma / vy, sigma / vz};

    // The coefficients the three runs of the volume filter need, in the order
    // they need them (a single slice needs none along Z, and its Z derivative
    // none at all), so that a sigma that does not converge throws with the
    // same message, before anything is written.
    math::CnMatrix<double> M(0, 0);
    PassCoefficients coefficients[3][2];  // [axis][order]
    for (int run = 0; run < 3; ++run) {
        if (run == 2 && sizeZ == 1) {
            break;
        }
        for (int axis = 0; axis < (sizeZ == 1 ? 2 : 3); ++axis) {
            const unsigned int order = axis == run ? 1u : 0u;
            double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
            recursiveCoefficients(sigmas[axis], order, B, a1, a2, a3, M);
            coefficients[axis][order] = PassCoefficients{order, makeCoefficients(B, a1, a2, a3, M)};
        }
    }
    float* const out = reinterpret_cast<float*>(dst.data());

    if (sizeX < 4 || sizeY < 4 || sizeZ < 4) {
        // Thin volumes: the three runs as they are, one after the other through
        // one float volume.
        imaging::Image<float> g(src.getSizeX(), src.getSizeY(), src.getSizeZ());
        for (int axis = 0; axis < 3; ++axis) {
            RecursiveVolume<T, float>::run(src, g, sigmas[0], sigmas[1], sigmas[2], axis + 1, executor, kernel);
            putScaledComponent(g.data(), out, voxels, static_cast<std::size_t>(axis), scale[axis]);
        }
        return;
    }

    // The smoothing along X is common to the Y and Z derivatives and is
    // computed once; the Y pass of each slice follows its X pass while the
    // slice is in the cache, through two slice planes per task; the results
    // go into dst, where the Z pass filters, scales and packs them in place.
    const PassCoefficients &dX = coefficients[0][1], &sX = coefficients[0][0];
    const PassCoefficients &dY = coefficients[1][1], &sY = coefficients[1][0];
    const PassCoefficients &dZ = coefficients[2][1], &sZ = coefficients[2][0];
    const KernelTable& kernels = kernelTable(kernel);
    const RowsEntry<T, float> rowsD = kernels.rows<T, float>(1), rowsS = kernels.rows<T, float>(0);
    const ColumnsEntry<float> columnsD = kernels.columns<float>(1), columnsS = kernels.columns<float>(0);
    // Tasks of at least two slices, each with two slice planes borrowed from a
    // shelf: there are only as many as tasks ran at once, never more than one
    // float volume.
    struct Planes {
        explicit Planes(std::size_t n) : a(n), b(n) {}
        std::vector<float> a, b;
        LaneScratch scratch;
    };
    ScratchShelf<Planes> shelf;
    parallelRanges(executor, sizeZ, std::max<std::size_t>(2, grainFor(slice)), [&](std::size_t begin, std::size_t end) {
        const auto planes = shelf.borrow([slice] { return std::make_unique<Planes>(slice); });
        std::vector<float>& a = planes->a;
        std::vector<float>& b = planes->b;
        LaneScratch& scratch = planes->scratch;
        for (std::size_t z = begin; z < end; ++z) {
            const T* in = src.data() + z * slice;
            float* o = out + 3 * z * slice;
            rowsD(in, a.data(), sizeY, sizeX, 1, dX.c, scratch);
            columnsS(a.data(), a.data(), 1, 0, sizeX, sizeX, sizeY, sY.c, scratch);
            putComponent(a.data(), o, slice, 0);
            rowsS(in, a.data(), sizeY, sizeX, 1, sX.c, scratch);
            columnsD(a.data(), b.data(), 1, 0, sizeX, sizeX, sizeY, dY.c, scratch);
            putComponent(b.data(), o, slice, 1);
            columnsS(a.data(), a.data(), 1, 0, sizeX, sizeX, sizeY, sY.c, scratch);
            putComponent(a.data(), o, slice, 2);
        }
    });
    ScratchShelf<LaneScratch> zShelf;
    parallelRanges(executor, sizeY, grainFor(3 * sizeX * sizeZ), [&](std::size_t begin, std::size_t end) {
        const auto scratch = zShelf.borrow();
        kernels.gradientZ(out + 3 * begin * sizeX, sizeX, end - begin, 3 * sizeX, 3 * slice, sizeZ, sZ.c, dZ.c,
                          scale, *scratch);
    });
}

template class RecursiveGradient<unsigned char>;
template class RecursiveGradient<unsigned short>;
template class RecursiveGradient<short>;

}  // namespace detail

template <class T>
CnImageGradient<T>::CnImageGradient() : m_sigma(0.0) {}

template <class T>
CnImageGradient<T>::CnImageGradient(const CnImageGradient& other) = default;

template <class T>
CnImageGradient<T>& CnImageGradient<T>::operator=(const CnImageGradient& other) = default;

template <class T>
CnImageGradient<T>::~CnImageGradient() = default;

template <class T>
void CnImageGradient<T>::setSigma(double sigma) {
    m_sigma = sigma;
}

template <class T>
double CnImageGradient<T>::getSigma() {
    return m_sigma;
}

template <class T>
void CnImageGradient<T>::execute(const imaging::Volume<T>& src, imaging::Volume<math::CnVector3D<float>>& dst) {
    detail::RecursiveGradient<T>::run(src, dst, m_sigma, getExecutor(), detail::RecursiveKernel::Automatic);
}

template class CnImageGradient<unsigned char>;
template class CnImageGradient<unsigned short>;
template class CnImageGradient<short>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
