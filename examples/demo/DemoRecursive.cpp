// Recursive Gaussian filtering of the phantom volume: smoothing, a first
// derivative and the gradient magnitude, with mid-slice previews.
#include <cmath>
#include <vector>

#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvimage/Volume.h>
#include <nvmath/CnVector3D.h>

#include "DemoSupport.h"

namespace {

namespace nvf = com::norvane::filtering;
using Vec3f = com::norvane::math::CnVector3D<float>;

void runRecursive(demo::Demo& d) {
    const demo::Volume<unsigned char>& src = d.phantom().volume;
    const unsigned int X = src.getSizeX(), Y = src.getSizeY(), Z = src.getSizeZ();
    const std::string size = demo::sizeOf(src);

    demo::Volume<float> smooth(X, Y, Z);
    d.run("CnRecursiveFilter smooth sigma 2", "uint8 -> float", size, size, [&] {
        nvf::CnRecursiveFilter<unsigned char, float> f;
        f.setSigma(2.0, 2.0, 2.0);
        f.execute(src, smooth);
        return demo::checksum(smooth);
    });
    const std::vector<float> smoothSlice = demo::midSlice(smooth);
    d.writeGray("recursive_smooth", smoothSlice.data(), X, Y);

    demo::Volume<float> dx(X, Y, Z);
    d.run("CnRecursiveFilter d/dx sigma 2", "uint8 -> float", size, size, [&] {
        nvf::CnRecursiveFilter<unsigned char, float> f;
        f.setSigma(2.0, 2.0, 2.0);
        f.setDerivative(nvf::CnRecursiveFilter<unsigned char, float>::FirstDerivativeX);
        f.execute(src, dx);
        return demo::checksum(dx);
    });
    const std::vector<float> dxSlice = demo::midSlice(dx);
    d.writeGray("recursive_dx", dxSlice.data(), X, Y);

    demo::Volume<Vec3f> gradient(src);
    std::vector<float> magnitude;
    d.run("CnImageGradient sigma 1.5", "uint8 -> vec3 float", size, size, [&] {
        nvf::CnImageGradient<unsigned char> g;
        g.setSigma(1.5);
        g.execute(src, gradient);
        double sum = 0.0;
        for (std::size_t i = 0; i < gradient.getNumberOfVoxels(); ++i) {
            const Vec3f& v = gradient[i];
            sum += std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                             static_cast<double>(v.z) * v.z);
        }
        return sum;
    });
    magnitude.resize(static_cast<std::size_t>(X) * Y);
    for (unsigned int y = 0; y < Y; ++y) {
        for (unsigned int x = 0; x < X; ++x) {
            const Vec3f& v = gradient(x, y, Z / 2);
            magnitude[static_cast<std::size_t>(y) * X + x] = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        }
    }
    d.writeGray("recursive_gradient_magnitude", magnitude.data(), X, Y);
    d.note("recursive: zero continuation at the volume faces; the gradient is in intensity per unit of voxel size.");
}

}  // namespace

static demo::RegisterSection reg(20, "recursive", &runRecursive);
