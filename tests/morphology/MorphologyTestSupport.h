// Shared helpers of the morphology tests: awkward image sizes and catching the
// library's exceptions. Images, sizes and their comparison come from
// support/TestImages.h.
#pragma once

#include <gtest/gtest.h>
#include <nvcore/Throwable.h>

#include <functional>
#include <vector>

#include "support/TestImages.h"

namespace morphtest {

using nvftest::describe;
using nvftest::Image;
using nvftest::randomImage;
using nvftest::randomMask;
using nvftest::sameBits;
using nvftest::Size3;

// Odd and degenerate sizes, 1 and 2 included, in one, two and three dimensions.
inline std::vector<Size3> awkwardSizes() {
    return {{1, 1, 1}, {2, 1, 1}, {1, 2, 1},   {1, 1, 2},   {2, 2, 1}, {2, 2, 2}, {3, 1, 1},
            {1, 7, 1}, {1, 1, 9}, {3, 3, 3},   {5, 3, 1},   {3, 5, 1}, {7, 5, 3}, {2, 7, 5},
            {9, 1, 4}, {1, 6, 3}, {13, 11, 1}, {11, 13, 9}, {4, 2, 7}, {17, 3, 2}};
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

}  // namespace morphtest
