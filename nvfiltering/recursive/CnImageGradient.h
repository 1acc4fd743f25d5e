// Gradient of an integer volume (8 or 16 bits) in physical units, by first
// Gaussian derivatives.
#pragma once

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Volume.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

// At every voxel, the first recursive Gaussian derivatives along X, Y and Z,
// each divided by the voxel size along its axis (intensity per unit length).
// sigma is in the unit of the voxel size and becomes sigma / voxel size in
// voxels per axis. With sigma 0 there is no smoothing and each component is
// the central difference (src(x+1) - src(x-1)) / (2 vx), src taken as 0
// outside the volume. The Z component of a single-slice source is 0.
// Instantiated for unsigned char, unsigned short and short voxels, read as
// their integer values (every one exact in float and double).
template <class T>
class NVFILTERING_EXPORT CnImageGradient {
public:
    // sigma 0.
    CnImageGradient();
    virtual ~CnImageGradient();

    // Stores sigma; nothing is validated.
    void setSigma(double sigma);
    double getSigma();

    // Fills dst with the gradient of src; src is read and never written.
    // Throws com::norvane::Throwable before anything is written when dst holds no
    // voxels ("dst has no elements"), when dst's dimensions differ from src's,
    // and when a component of src's voxel size is zero, negative or not finite;
    // the convergence message when sigma / voxel size is about 107 or more.
    void execute(const imaging::Volume<T>& src, imaging::Volume<math::CnVector3D<float>>& dst);

    // Where execute() runs its independent pieces of work; null (the default,
    // and after a copy) runs everything in the caller's thread. The filter does
    // not own the executor; an assignment keeps the target's. Results do not
    // depend on it.
    void setExecutor(CnExecutor* executor) { m_executor.set(executor); }
    CnExecutor* getExecutor() const { return m_executor.get(); }

protected:
    CnImageGradient(const CnImageGradient& other);
    CnImageGradient& operator=(const CnImageGradient& other);

private:
    double m_sigma;
    CnExecutorSlot m_executor;
};

extern template class CnImageGradient<unsigned char>;
extern template class CnImageGradient<unsigned short>;
extern template class CnImageGradient<short>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
