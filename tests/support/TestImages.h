// Test images shared by every test program: shapes, random images of any
// voxel type from a seed or a generator, and bit-for-bit comparison of images
// and arrays that names the first difference.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <nvimage/Image.h>
#include <nvmath/CnVector3D.h>

namespace nvftest {

using com::norvane::imaging::Image;
using Vec3f = com::norvane::math::CnVector3D<float>;

struct Size3 {
    unsigned int x, y, z;
};

inline std::string describe(const Size3& s) {
    return std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z);
}

template <class T>
Size3 sizeOf(const Image<T>& image) {
    return {image.getSizeX(), image.getSizeY(), image.getSizeZ()};
}

// One random voxel: integers over the type's whole range (0 ... 255 for bytes),
// reals uniform in [-100, 100), vectors three such reals.
template <class T>
T randomVoxel(std::mt19937& rng) {
    if constexpr (std::is_same_v<T, Vec3f>) {
        std::uniform_real_distribution<double> d(-100.0, 100.0);
        const float x = static_cast<float>(d(rng));
        const float y = static_cast<float>(d(rng));
        const float z = static_cast<float>(d(rng));
        return Vec3f(x, y, z);
    } else if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(std::uniform_real_distribution<double>(-100.0, 100.0)(rng));
    } else {
        static_assert(std::is_integral_v<T>, "no random voxels of this type");
        std::uniform_int_distribution<long long> d(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
        return static_cast<T>(d(rng));
    }
}

// n random values from the seed, as randomVoxel draws them.
template <class T>
std::vector<T> randomArray(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<T> out(n);
    for (T& v : out) {
        v = randomVoxel<T>(rng);
    }
    return out;
}

// n reals uniform in [lo, hi), drawn in double and converted to T.
template <class T>
std::vector<T> randomArray(std::size_t n, std::uint32_t seed, double lo, double hi) {
    static_assert(std::is_floating_point_v<T>, "a range is for real values");
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(lo, hi);
    std::vector<T> out(n);
    for (T& v : out) {
        v = static_cast<T>(d(rng));
    }
    return out;
}

// Every voxel from gen(rng), in memory order.
template <class T, class Gen>
void fillRandom(Image<T>& image, std::mt19937& rng, Gen gen) {
    for (std::size_t i = 0; i < image.getNumberOfVoxels(); ++i) {
        image[i] = static_cast<T>(gen(rng));
    }
}

template <class T>
void fillRandom(Image<T>& image, std::mt19937& rng) {
    fillRandom(image, rng, [](std::mt19937& r) { return randomVoxel<T>(r); });
}

template <class T, class Gen>
Image<T> randomImage(const Size3& s, std::mt19937& rng, Gen gen) {
    Image<T> image(s.x, s.y, s.z);
    fillRandom(image, rng, gen);
    return image;
}

template <class T>
Image<T> randomImage(const Size3& s, std::mt19937& rng) {
    Image<T> image(s.x, s.y, s.z);
    fillRandom(image, rng);
    return image;
}

template <class T>
Image<T> randomImage(const Size3& s, std::uint32_t seed) {
    std::mt19937 rng(seed);
    return randomImage<T>(s, rng);
}

// A mask of 0 and `one`, each voxel `one` with the given probability.
template <class T>
Image<T> randomMask(const Size3& s, std::mt19937& rng, double density, T one) {
    std::bernoulli_distribution pick(density);
    return randomImage<T>(s, rng, [&](std::mt19937& r) { return pick(r) ? one : T(0); });
}

// Whether two values have the same object representation (so 0 and -0 differ
// and a not-a-number equals itself).
template <class T>
std::enable_if_t<std::is_arithmetic_v<T>, bool> bitsEqual(T a, T b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool bitsEqual(const Vec3f& a, const Vec3f& b) {
    return bitsEqual(a.x, b.x) && bitsEqual(a.y, b.y) && bitsEqual(a.z, b.z);
}

// A value as a failure message shows it: reals with every digit and their bits.
template <class T>
std::string show(const T& v) {
    std::ostringstream os;
    if constexpr (std::is_same_v<T, Vec3f>) {
        os << "(" << show(v.x) << ", " << show(v.y) << ", " << show(v.z) << ")";
    } else if constexpr (std::is_floating_point_v<T>) {
        using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
        Bits bits;
        std::memcpy(&bits, &v, sizeof bits);
        os << std::setprecision(std::numeric_limits<T>::max_digits10) << v << " [0x" << std::hex << bits << "]";
    } else {
        os << +v;
    }
    return os.str();
}

namespace detail {

// Compares count elements bit for bit; where(i) names element i.
template <class T, class Where>
::testing::AssertionResult compareBits(const T* a, const T* b, std::size_t count, Where where) {
    std::size_t differing = 0, first = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!bitsEqual(a[i], b[i])) {
            if (differing++ == 0) {
                first = i;
            }
        }
    }
    if (differing == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << differing << " of " << count << " differ, the first " << where(first)
                                         << ": " << show(a[first]) << " against " << show(b[first]);
}

}  // namespace detail

// The same dimensions and the same bits in every voxel.
template <class T>
::testing::AssertionResult sameBits(const Image<T>& a, const Image<T>& b) {
    if (!a.hasSameDimensions(b)) {
        return ::testing::AssertionFailure()
               << "dimensions " << describe(sizeOf(a)) << " against " << describe(sizeOf(b));
    }
    const std::size_t sx = a.getSizeX(), sy = a.getSizeY();
    return detail::compareBits(a.data(), b.data(), a.getNumberOfVoxels(), [&](std::size_t i) {
        return "voxel (" + std::to_string(i % sx) + ", " + std::to_string(i / sx % sy) + ", " +
               std::to_string(i / (sx * sy)) + ")";
    });
}

// The same length and the same bits in every element.
template <class T>
::testing::AssertionResult sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) {
        return ::testing::AssertionFailure() << "lengths " << a.size() << " against " << b.size();
    }
    return detail::compareBits(a.data(), b.data(), a.size(),
                               [](std::size_t i) { return "element " + std::to_string(i); });
}

}  // namespace nvftest
