// Helpers shared by the recursive filter tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <random>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <nvcore/Throwable.h>
#include <nvfiltering/framework/Cn1dFilter.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>
#include <nvfiltering/recursive/detail/RecursiveVolume.h>
#include <nvimage/Image.h>
#include <nvmath/CnMatrix.h>
#include <nvmath/CnVector3D.h>

namespace rectest {

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using com::norvane::math::CnMatrix;
using Vec3f = com::norvane::math::CnVector3D<float>;

// The volume filter's (input, output) instantiations, for typed tests.
template <class In_, class Out_>
struct Pair {
    using In = In_;
    using Out = Out_;
    using Filter = nvf::CnRecursiveFilter<In, Out>;
};
using Pairs = ::testing::Types<Pair<unsigned char, float>, Pair<float, float>, Pair<double, double>,
                               Pair<Vec3f, Vec3f>>;

// Sample conversions for every voxel type: a scalar test value v becomes an
// input sample (vectors get three different, proportional components, so that
// 0 stays 0), and a sample flattens into one or three doubles.
template <class T>
T makeSample(double v) {
    if constexpr (std::is_same_v<T, unsigned char>) {
        return static_cast<unsigned char>(v);
    } else if constexpr (std::is_same_v<T, Vec3f>) {
        return Vec3f(static_cast<float>(v), static_cast<float>(-0.5 * v), static_cast<float>(2.0 * v));
    } else {
        return static_cast<T>(v);
    }
}

template <class T>
void appendFlat(std::vector<double>& out, const T& v) {
    if constexpr (std::is_same_v<T, Vec3f>) {
        out.push_back(v.x);
        out.push_back(v.y);
        out.push_back(v.z);
    } else {
        out.push_back(static_cast<double>(v));
    }
}

template <class T>
constexpr bool isVector() {
    return std::is_same_v<T, Vec3f>;
}

// Catches the Throwable thrown by fn and returns its message ("" if none).
template <class Fn>
std::string messageOf(Fn&& fn) {
    try {
        fn();
    } catch (const com::norvane::Throwable& e) {
        EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
        return e.getMessage();
    }
    return "";
}

// Random test values: integers 0 ... 255 for 8-bit inputs, reals otherwise.
template <class T>
std::vector<double> randomValues(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<double> v(n);
    for (double& x : v) {
        if constexpr (std::is_same_v<T, unsigned char>) {
            x = static_cast<double>(rng() % 256);
        } else {
            x = std::uniform_real_distribution<double>(-100.0, 100.0)(rng);
        }
    }
    return v;
}

// The block kernel versions this processor can run (the base version always).
inline std::vector<nvf::detail::RecursiveKernel> supportedKernels() {
    using nvf::detail::RecursiveKernel;
    std::vector<RecursiveKernel> kernels;
    for (RecursiveKernel k : {RecursiveKernel::Plain, RecursiveKernel::Avx2, RecursiveKernel::Avx512}) {
        if (nvf::detail::recursiveKernelSupported(k)) {
            kernels.push_back(k);
        }
    }
    return kernels;
}

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool sameBits(const Vec3f& a, const Vec3f& b) {
    return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z);
}

// Same dimensions and the same bits in every voxel.
template <class T>
bool identical(const com::norvane::imaging::Image<T>& a, const com::norvane::imaging::Image<T>& b) {
    if (!a.hasSameDimensions(b)) {
        return false;
    }
    for (std::size_t i = 0; i < a.getNumberOfVoxels(); ++i) {
        if (!sameBits(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace rectest
