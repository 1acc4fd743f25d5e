// The grey morphology filters as a sequence of passes over the face cross:
// dilation passes (grey maximum) and erosion passes (grey minimum) from the
// input to the output through at most one scratch image. Internal to the
// library; not part of its interface.
#pragma once

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/morphology/detail/CrossFilterPasses.h>
#include <nvfiltering/morphology/detail/CrossRow.h>
#include <nvimage/Image.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// A grey filter: `first` passes of one operation (dilation when dilateFirst),
// then `second` passes of the other.
struct GreySequence {
    bool dilateFirst;
    std::uint64_t first;
    std::uint64_t second;
};

// One pass of Op over the cross, row-wise on the executor or voxel by voxel.
template <class Op, class T>
void greyPass(const imaging::Image<T>& input, imaging::Image<T>& output, CnExecutor* executor, bool straightforward) {
    const auto check = [](typename imaging::Image<T>::const_iterator it, unsigned int x, unsigned int y,
                          unsigned int z, unsigned int sizeX, unsigned int sizeY, unsigned int sizeZ,
                          unsigned int strideY, std::size_t strideZ) {
        return combineWithChecking<Op>(it.get(), x, y, z, sizeX, sizeY, sizeZ, strideY, strideZ);
    };
    if (straightforward) {
        crossStraightforward<Op>(input, output, check);
    } else {
        crossFast<Op>(input, output, check, executor);
    }
}

// The most passes of one operation in a row that can change anything. k passes
// give each voxel the extreme over the voxels at most k face steps away (the
// grey maximum and minimum are associative and commutative, and no path
// between two voxels of the box needs to leave it); from X + Y + Z - 3 steps on
// that is the whole image, and a further pass combines only equal values, which
// keeps their bits. At least one pass is kept: a pass turns every NaN into the
// quiet NaN, which a copy would not.
template <class T>
std::uint64_t usefulPasses(const imaging::Image<T>& image) {
    const std::uint64_t reach = std::uint64_t{image.getSizeX()} + image.getSizeY() + image.getSizeZ() - 3;
    return std::max<std::uint64_t>(reach, 1);
}

// Runs the sequence from input to output (which may be the input image
// itself). The passes alternate between the output and a scratch image, the
// first placed so that the last writes the output; only an odd number of
// passes in place copies the input.
template <class T>
void runGreyCross(const imaging::Image<T>& input, imaging::Image<T>& output, GreySequence sequence,
                  CnExecutor* executor, bool straightforward) {
    const std::size_t voxels = input.getNumberOfVoxels();
    if (voxels == 0) {
        return;
    }
    const std::uint64_t useful = usefulPasses(input);
    const std::uint64_t first = std::min(sequence.first, useful);
    const std::uint64_t second = std::min(sequence.second, useful);
    const std::uint64_t total = first + second;
    const bool inPlace = &input == &output;
    if (total == 0) {
        if (!inPlace) {
            std::copy(input.data(), input.data() + voxels, output.data());
        }
        return;
    }
    imaging::Image<T> scratch;
    const imaging::Image<T>* source = &input;
    if (inPlace && total % 2 == 1) {
        // The first pass writes the output, which it also reads: it reads a copy.
        scratch = input;
        source = &scratch;
    } else if (inPlace || total > 1) {
        scratch.setDimension(input.getSizeX(), input.getSizeY(), input.getSizeZ());
    }
    for (std::uint64_t i = 0; i < total; ++i) {
        imaging::Image<T>& target = (total - 1 - i) % 2 == 0 ? output : scratch;
        if ((i < first) == sequence.dilateFirst) {
            greyPass<GreyMax>(*source, target, executor, straightforward);
        } else {
            greyPass<GreyMin>(*source, target, executor, straightforward);
        }
        source = &target;
    }
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
