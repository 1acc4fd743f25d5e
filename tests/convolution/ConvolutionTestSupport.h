// Shared pieces of the convolution tests: random kernels, a naive reference of
// the mirrored, resampled line convolution, and a separable run driven line by
// line through Cn1dSpatialFilter. Images and their comparison come from
// support/TestImages.h.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include <nvcore/floor.h>
#include <nvfiltering/convolution/Cn1dSpatialFilter.h>
#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernel.h>
#include <nvimage/Image.h>
#include <nvmath/CnVector3D.h>

#include "support/TestImages.h"

namespace convtest {

namespace nvf = com::norvane::filtering;
using nvftest::describe;
using nvftest::Image;
using nvftest::randomImage;
using nvftest::sameBits;
using nvftest::Size3;
using nvftest::Vec3f;

template <class In, class Out, class Acc = float>
using LineFilter = nvf::Cn1dSpatialFilter<In, Out, float, Acc, std::multiplies<float>, std::plus<float>,
                                          nvf::ImageConstIt<In>, nvf::ImageIt<Out>>;
using VecLineFilter = LineFilter<Vec3f, Vec3f, Vec3f>;

// Resampling factors, written out independently of the library.
struct Factors {
    std::size_t up = 1, down = 1;
};
inline Factors factors(std::size_t n, std::size_t m) {
    Factors f;
    const double r = static_cast<double>(m) / static_cast<double>(n);
    if (r > 1.0) {
        f.up = static_cast<std::size_t>(std::floor(r + 0.5));
    } else if (r < 1.0) {
        f.down = static_cast<std::size_t>(std::floor(1.0 / r + 0.5));
    }
    return f;
}

// Whether the library accepts the length pair (the window stays in the padded line).
inline bool pairAccepted(std::size_t n, std::size_t m, std::size_t k) {
    const Factors f = factors(n, m);
    return n >= k && (m - 1) * f.down <= n * f.up;
}

// Sample m of the up-sampled line s(0 .. U-1) reflected about both ends, as the
// index of the input sample it holds, or -1 for an inserted zero. Valid for
// -h <= m <= U - 1 + (K - h) when U >= K >= 2 or U >= 2.
inline long mirroredSource(long m, long u, long up) {
    if (m < 0) {
        m = -m;
    }
    if (m > u - 1) {
        m = 2 * (u - 1) - m;
    }
    return m % up == 0 ? m / up : -1;
}

inline unsigned char toByte(double v) {
    if (v > 255.0) {
        return 255;
    }
    if (v < 0.0) {
        return 0;
    }
    return static_cast<unsigned char>(com::norvane::floor(v + 0.5));
}

// Naive scalar reference of one line: products and sum in double, times up.
inline std::vector<double> referenceLine(const std::vector<double>& x, std::size_t m, const std::vector<float>& k) {
    const Factors f = factors(x.size(), m);
    const long h = static_cast<long>(k.size() / 2);
    const long u = static_cast<long>(x.size() * f.up);
    std::vector<double> out(m);
    for (std::size_t j = 0; j < m; ++j) {
        double sum = 0.0;
        for (std::size_t t = 0; t < k.size(); ++t) {
            const long src = mirroredSource(static_cast<long>(j * f.down + t) - h, u, static_cast<long>(f.up));
            const double sample = src < 0 ? 0.0 : x[static_cast<std::size_t>(src)];
            sum += static_cast<double>(k[t]) * sample;
        }
        out[j] = sum * static_cast<double>(f.up);
    }
    return out;
}

// Naive vector reference of one line: each component multiplied and summed in float.
inline std::vector<Vec3f> referenceLine(const std::vector<Vec3f>& x, std::size_t m, const std::vector<float>& k) {
    const Factors f = factors(x.size(), m);
    const long h = static_cast<long>(k.size() / 2);
    const long u = static_cast<long>(x.size() * f.up);
    std::vector<Vec3f> out(m);
    for (std::size_t j = 0; j < m; ++j) {
        float sx = 0.0f, sy = 0.0f, sz = 0.0f;
        for (std::size_t t = 0; t < k.size(); ++t) {
            const long src = mirroredSource(static_cast<long>(j * f.down + t) - h, u, static_cast<long>(f.up));
            const Vec3f s = src < 0 ? Vec3f(0, 0, 0) : x[static_cast<std::size_t>(src)];
            sx = sx + k[t] * s.x;
            sy = sy + k[t] * s.y;
            sz = sz + k[t] * s.z;
        }
        const float g = static_cast<float>(f.up);
        out[j] = Vec3f(sx * g, sy * g, sz * g);
    }
    return out;
}

inline std::vector<float> randomKernel(std::size_t taps, std::mt19937& rng) {
    std::uniform_real_distribution<float> d(-0.6f, 1.2f);
    std::vector<float> k(taps);
    for (float& v : k) {
        v = d(rng);
    }
    return k;
}

// A separable run written out pass by pass with one Cn1dSpatialFilter per pass,
// re-pointed at every line: X into a float image (oX, iY, iZ), Y into (oX, oY, iZ)
// (or straight into the output for a single slice), Z into the output.
template <class In, class Tmp, class Acc>
void separableByLines(const Image<In>& in, Image<In>& out, const nvf::CnKernel<float>& kx,
                      const nvf::CnKernel<float>& ky, const nvf::CnKernel<float>& kz) {
    const std::size_t iX = in.getSizeX(), iY = in.getSizeY(), iZ = in.getSizeZ();
    const std::size_t oX = out.getSizeX(), oY = out.getSizeY(), oZ = out.getSizeZ();
    Image<Tmp> t1(static_cast<unsigned int>(oX), static_cast<unsigned int>(iY), static_cast<unsigned int>(iZ));
    LineFilter<In, Tmp, Acc> fx;
    fx.setKernel(kx);
    for (std::size_t r = 0; r < iY * iZ; ++r) {
        fx.setInputData(in.begin() + r * iX, static_cast<unsigned int>(iX), 1);
        fx.setOutputData(t1.begin() + r * oX, static_cast<unsigned int>(oX), 1);
        fx.execute();
    }
    if (iZ == 1) {
        LineFilter<Tmp, In, Acc> fy;
        fy.setKernel(ky);
        for (std::size_t x = 0; x < oX; ++x) {
            fy.setInputData(t1.begin() + x, static_cast<unsigned int>(iY), static_cast<unsigned int>(oX));
            fy.setOutputData(out.begin() + x, static_cast<unsigned int>(oY), static_cast<unsigned int>(oX));
            fy.execute();
        }
        return;
    }
    Image<Tmp> t2(static_cast<unsigned int>(oX), static_cast<unsigned int>(oY), static_cast<unsigned int>(iZ));
    LineFilter<Tmp, Tmp, Acc> fy;
    fy.setKernel(ky);
    for (std::size_t z = 0; z < iZ; ++z) {
        for (std::size_t x = 0; x < oX; ++x) {
            fy.setInputData(t1.begin() + z * oX * iY + x, static_cast<unsigned int>(iY), static_cast<unsigned int>(oX));
            fy.setOutputData(t2.begin() + z * oX * oY + x, static_cast<unsigned int>(oY),
                             static_cast<unsigned int>(oX));
            fy.execute();
        }
    }
    LineFilter<Tmp, In, Acc> fz;
    fz.setKernel(kz);
    const unsigned int slice = static_cast<unsigned int>(oX * oY);
    for (std::size_t i = 0; i < oX * oY; ++i) {
        fz.setInputData(t2.begin() + i, static_cast<unsigned int>(iZ), slice);
        fz.setOutputData(out.begin() + i, static_cast<unsigned int>(oZ), slice);
        fz.execute();
    }
}

template <class Filter>
void setKernels(Filter& f, const nvf::CnKernel<float>& kx, const nvf::CnKernel<float>& ky,
                const nvf::CnKernel<float>& kz) {
    f.setKernel(kx, nvf::CnCoord::X);
    f.setKernel(ky, nvf::CnCoord::Y);
    f.setKernel(kz, nvf::CnCoord::Z);
}

// Taps that are small integers over powers of two (as the pyramid kernel is),
// some negative, up to `largest` in magnitude before scaling.
inline std::vector<float> dyadicKernel(std::size_t taps, int largest, std::mt19937& rng) {
    std::uniform_int_distribution<int> numerator(-largest / 2, largest), exponent(0, 8);
    std::vector<float> k(taps);
    for (float& v : k) {
        v = std::ldexp(static_cast<float>(numerator(rng)), -exponent(rng));
    }
    return k;
}

inline std::vector<float> values(const nvf::CnKernel<float>& k) { return std::vector<float>(k.begin(), k.end()); }

}  // namespace convtest
