// An image with geometry: origin, voxel size (spacing along X, Y, Z) and three
// 3 x 3 direction matrices.
#pragma once

#include <nvimage/Image.h>
#include <nvmath/CnMatrix.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace imaging {

template <class T>
class NVIMAGE_API Volume : public Image<T> {
public:
    using Vector = math::CnVector3D<double>;
    using Matrix = math::CnMatrix<double>;

    Volume() { initGeometry(); }
    Volume(unsigned int x, unsigned int y, unsigned int z) : Image<T>(x, y, z) { initGeometry(); }

    // Same dimensions and geometry as the source; voxels value-initialised, not copied.
    template <class U>
    explicit Volume(const Volume<U>& geometrySource)
        : Image<T>(geometrySource.getSizeX(), geometrySource.getSizeY(), geometrySource.getSizeZ()),
          m_origin(geometrySource.getOrigin()),
          m_voxelSize(geometrySource.getVoxelSize()),
          m_direction(geometrySource.getDirection()),
          m_voxelToWorld(geometrySource.getVoxelToWorld()),
          m_worldToVoxel(geometrySource.getWorldToVoxel()) {}

    Volume(const Volume&) = default;
    Volume(Volume&&) noexcept = default;
    Volume& operator=(const Volume&) = default;
    Volume& operator=(Volume&&) noexcept = default;
    ~Volume() override = default;

    Vector getOrigin() const { return m_origin; }
    void setOrigin(const Vector& origin) { m_origin = origin; }
    Vector getVoxelSize() const { return m_voxelSize; }
    void setVoxelSize(const Vector& voxelSize) { m_voxelSize = voxelSize; }

    // Orientation of the voxel axes in world space.
    const Matrix& getDirection() const { return m_direction; }
    void setDirection(const Matrix& m) { m_direction = m; }
    // Linear part of the voxel-to-world transform (direction times spacing).
    const Matrix& getVoxelToWorld() const { return m_voxelToWorld; }
    void setVoxelToWorld(const Matrix& m) { m_voxelToWorld = m; }
    // Linear part of the world-to-voxel transform.
    const Matrix& getWorldToVoxel() const { return m_worldToVoxel; }
    void setWorldToVoxel(const Matrix& m) { m_worldToVoxel = m; }

private:
    void initGeometry() {
        m_direction.setToIdentity();
        m_voxelToWorld.setToIdentity();
        m_worldToVoxel.setToIdentity();
    }

    Vector m_origin{0.0, 0.0, 0.0};
    Vector m_voxelSize{1.0, 1.0, 1.0};
    Matrix m_direction{3, 3};
    Matrix m_voxelToWorld{3, 3};
    Matrix m_worldToVoxel{3, 3};
};

}  // namespace imaging
}  // namespace norvane
}  // namespace com
