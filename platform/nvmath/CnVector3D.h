// A small 3-vector with public components, used for vector-valued voxels and
// for geometry (origin, voxel size).
#pragma once

#include <nvmath/nvmath_export.h>

namespace com {
namespace norvane {
namespace math {

template <class T>
class NVMATH_EXPORT CnVector3D {
public:
    T x;
    T y;
    T z;

    CnVector3D() : x(), y(), z() {}
    CnVector3D(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}
    CnVector3D(const CnVector3D&) = default;
    CnVector3D& operator=(const CnVector3D&) = default;
    ~CnVector3D() = default;

    CnVector3D operator+(const CnVector3D& o) const { return CnVector3D(x + o.x, y + o.y, z + o.z); }
    CnVector3D operator-(const CnVector3D& o) const { return CnVector3D(x - o.x, y - o.y, z - o.z); }
    CnVector3D operator*(T s) const { return CnVector3D(x * s, y * s, z * s); }
    CnVector3D& operator+=(const CnVector3D& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    bool operator==(const CnVector3D& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const CnVector3D& o) const { return !(*this == o); }
};

template <class T>
inline CnVector3D<T> operator*(T s, const CnVector3D<T>& v) {
    return CnVector3D<T>(s * v.x, s * v.y, s * v.z);
}

}  // namespace math
}  // namespace norvane
}  // namespace com
