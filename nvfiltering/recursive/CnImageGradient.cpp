#include <nvfiltering/recursive/CnImageGradient.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <new>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// An uninitialised block of floats, aligned to 64 bytes.
class FloatBlock {
public:
    explicit FloatBlock(std::size_t count) {
        constexpr std::size_t kAlign = 64;
        const std::size_t bytes = (count * sizeof(float) + kAlign - 1) / kAlign * kAlign;
        m_data = static_cast<float*>(std::aligned_alloc(kAlign, bytes == 0 ? kAlign : bytes));
        if (!m_data) {
            throw std::bad_alloc();
        }
    }
    ~FloatBlock() { std::free(m_data); }
    FloatBlock(const FloatBlock&) = delete;
    FloatBlock& operator=(const FloatBlock&) = delete;
    float* data() const { return m_data; }

private:
    float* m_data = nullptr;
};

}  // namespace

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

    const float scale[3] = {static_cast<float>(1.0 / vx), static_cast<float>(1.0 / vy), static_cast<float>(1.0 / vz)};
    const double sigmaX = m_sigma / vx, sigmaY = m_sigma / vy, sigmaZ = m_sigma / vz;

    const std::size_t sizeX = src.getSizeX(), sizeY = src.getSizeY(), sizeZ = src.getSizeZ();
    if (sizeX >= 4 && sizeY >= 4 && sizeZ >= 4) {
        // The three runs of the volume filter, arranged to share work and keep
        // slices in the cache, with the same values: the smoothing along X is
        // common to the Y and Z derivatives and is computed once (into gz); the
        // Y pass of each slice follows its X pass; the last (Z) pass scales and
        // packs the three components. All coefficients are computed first, in
        // the order the three runs need them, so a sigma that does not converge
        // throws before anything is written.
        Cn1dRecursiveFilter<T, float, ImageConstIt<T>, ImageIt<float>> line;
        math::CnMatrix<double> M(0, 0);
        auto pass = [&](double sigma, unsigned int order) {
            double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
            line.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
            return detail::PassCoefficients{order, detail::makeCoefficients(B, a1, a2, a3, M)};
        };
        const detail::PassCoefficients dX = pass(sigmaX, 1), sY = pass(sigmaY, 0), sZ = pass(sigmaZ, 0);
        const detail::PassCoefficients sX = pass(sigmaX, 0), dY = pass(sigmaY, 1), dZ = pass(sigmaZ, 1);

        // The three intermediate volumes, in one block that is not cleared first
        // (every value is written before it is read).
        const std::size_t slice = sizeX * sizeY;
        const std::size_t voxels = slice * sizeZ;
        FloatBlock block(3 * voxels);
        float* const planes[3] = {block.data(), block.data() + voxels, block.data() + 2 * voxels};
        detail::LaneScratch scratch;
        for (std::size_t z = 0; z < sizeZ; ++z) {
            const T* in = src.data() + z * slice;
            float* px = planes[0] + z * slice;
            float* py = planes[1] + z * slice;
            float* pz = planes[2] + z * slice;
            detail::filterRows(in, px, sizeY, sizeX, 1, dX, scratch);
            detail::filterColumns(px, px, 1, 0, sizeX, sizeX, sizeY, sY, scratch);
            detail::filterRows(in, pz, sizeY, sizeX, 1, sX, scratch);
            detail::filterColumns(pz, py, 1, 0, sizeX, sizeX, sizeY, dY, scratch);
            detail::filterColumns(pz, pz, 1, 0, sizeX, sizeX, sizeY, sY, scratch);
        }
        detail::filterGradientZ(planes[0], planes[1], planes[2], reinterpret_cast<float*>(dst.data()), sizeX, sizeY,
                                sizeZ, sZ, dZ, scale, scratch);
        return;
    }

    // Thin volumes: the three runs as they are.
    imaging::Volume<float> gx(src), gy(src), gz(src);
    CnRecursiveFilter<T, float> filter;
    filter.setSigma(sigmaX, sigmaY, sigmaZ);
    filter.setDerivative(CnRecursiveFilter<T, float>::FirstDerivativeX);
    filter.execute(src, gx);
    filter.setDerivative(CnRecursiveFilter<T, float>::FirstDerivativeY);
    filter.execute(src, gy);
    filter.setDerivative(CnRecursiveFilter<T, float>::FirstDerivativeZ);
    filter.execute(src, gz);

    const float* px = gx.data();
    const float* py = gy.data();
    const float* pz = gz.data();
    math::CnVector3D<float>* out = dst.data();
    const std::size_t count = dst.getNumberOfVoxels();
    for (std::size_t i = 0; i < count; ++i) {
        out[i].x = px[i] * scale[0];
        out[i].y = py[i] * scale[1];
        out[i].z = pz[i] * scale[2];
    }
}

template class CnImageGradient<unsigned char>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
