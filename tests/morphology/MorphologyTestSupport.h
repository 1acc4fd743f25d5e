// Shared helpers of the morphology tests: image sizes, random images and
// catching the library's exceptions.
#pragma once

#include <gtest/gtest.h>
#include <nvcore/Throwable.h>
#include <nvimage/Image.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace morphtest {

using com::norvane::imaging::Image;

struct Size3 {
    unsigned int x, y, z;
};

// Odd and degenerate sizes, 1 and 2 included, in one, two and three dimensions.
inline std::vector<Size3> awkwardSizes() {
    return {{1, 1, 1}, {2, 1, 1}, {1, 2, 1},   {1, 1, 2},   {2, 2, 1}, {2, 2, 2}, {3, 1, 1},
            {1, 7, 1}, {1, 1, 9}, {3, 3, 3},   {5, 3, 1},   {3, 5, 1}, {7, 5, 3}, {2, 7, 5},
            {9, 1, 4}, {1, 6, 3}, {13, 11, 1}, {11, 13, 9}, {4, 2, 7}, {17, 3, 2}};
}

inline std::string describe(const Size3& s) {
    return std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z);
}

// Random voxels from the given generator function.
template <class T, class Gen>
Image<T> randomImage(const Size3& s, std::mt19937& rng, Gen gen) {
    Image<T> image(s.x, s.y, s.z);
    for (std::size_t i = 0; i < image.getNumberOfVoxels(); ++i) {
        image[i] = gen(rng);
    }
    return image;
}

// A mask of 0 and `one` with the given probability of `one`.
template <class T>
Image<T> randomMask(const Size3& s, std::mt19937& rng, double density, T one) {
    std::bernoulli_distribution pick(density);
    return randomImage<T>(s, rng, [&](std::mt19937& r) { return pick(r) ? one : T(0); });
}

// Runs fn, expects a com::norvane::Throwable (or a derived class) and returns it.
inline com::norvane::Throwable expectThrowable(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const com::norvane::Throwable& e) {
        return e;
    }
    ADD_FAILURE() << "no com::norvane::Throwable was thrown";
    return com::norvane::Throwable("", "");
}

template <class T>
bool sameVoxels(const Image<T>& a, const Image<T>& b) {
    if (!a.hasSameDimensions(b)) {
        return false;
    }
    for (std::size_t i = 0; i < a.getNumberOfVoxels(); ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace morphtest
