// Helpers shared by the recursive filter tests.
#pragma once

#include <cstdint>
#include <string>
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

#include "support/TestImages.h"

namespace rectest {

namespace nvf = com::norvane::filtering;
using com::norvane::math::CnMatrix;
using nvftest::bitsEqual;
using nvftest::Image;
using nvftest::randomImage;
using nvftest::sameBits;
using nvftest::Vec3f;

// The volume filter's (input, output) instantiations, for typed tests.
template <class In_, class Out_>
struct Pair {
    using In = In_;
    using Out = Out_;
    using Filter = nvf::CnRecursiveFilter<In, Out>;
};
using Pairs = ::testing::Types<Pair<unsigned char, float>, Pair<unsigned short, float>, Pair<short, float>,
                               Pair<float, float>, Pair<double, double>, Pair<Vec3f, Vec3f>>;

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

// Random test values for makeSample: integers 0 ... 255 for 8-bit inputs,
// reals in [-100, 100) otherwise.
template <class T>
std::vector<double> randomValues(std::size_t n, std::uint32_t seed) {
    if constexpr (std::is_same_v<T, unsigned char>) {
        const std::vector<unsigned char> bytes = nvftest::randomArray<unsigned char>(n, seed);
        return std::vector<double>(bytes.begin(), bytes.end());
    } else {
        return nvftest::randomArray<double>(n, seed, -100.0, 100.0);
    }
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

}  // namespace rectest
