#include <nvfiltering/recursive/CnImageGradient.h>

#include <cmath>
#include <cstddef>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>

namespace com {
namespace norvane {
namespace filtering {

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

    imaging::Volume<float> gx(src), gy(src), gz(src);

    CnRecursiveFilter<T, float> filter;
    filter.setSigma(m_sigma / vx, m_sigma / vy, m_sigma / vz);
    filter.setDerivative(CnRecursiveFilter<T, float>::FirstDerivativeX);
    filter.execute(src, gx);
    filter.setDerivative(CnRecursiveFilter<T, float>::FirstDerivativeY);
    filter.execute(src, gy);
    filter.setDerivative(CnRecursiveFilter<T, float>::FirstDerivativeZ);
    filter.execute(src, gz);

    const float rx = static_cast<float>(1.0 / vx);
    const float ry = static_cast<float>(1.0 / vy);
    const float rz = static_cast<float>(1.0 / vz);
    const float* px = gx.data();
    const float* py = gy.data();
    const float* pz = gz.data();
    math::CnVector3D<float>* out = dst.data();
    const std::size_t count = dst.getNumberOfVoxels();
    for (std::size_t i = 0; i < count; ++i) {
        out[i].x = px[i] * rx;
        out[i].y = py[i] * ry;
        out[i].z = pz[i] * rz;
    }
}

template class CnImageGradient<unsigned char>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
