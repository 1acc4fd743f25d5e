// The size guard of the volume filter and the gradient: a volume whose voxel
// count, scalar count or byte size would wrap round std::size_t is refused with
// a clear message before anything is allocated (tested on the guard itself).
#include <cstddef>
#include <limits>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/detail/RecursivePlan.h>

#include "RecursiveTestSupport.h"

using namespace rectest;

TEST(RecursiveSizeGuard, CountsWhatFitsAndRefusesWhatWraps) {
    using nvf::detail::checkedVoxelCount;
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    constexpr std::size_t kU = std::numeric_limits<unsigned int>::max();
    EXPECT_EQ(checkedVoxelCount(256, 256, 256, 3, 4), std::size_t{256} * 256 * 256);
    EXPECT_EQ(checkedVoxelCount(0, kU, kU, 3, 8), 0u);
    EXPECT_EQ(checkedVoxelCount(kU, kU, 1, 1, 1), kU * kU);
    // Three dimensions of the largest unsigned int: the voxel count wraps.
    EXPECT_EQ(messageOf([&] { checkedVoxelCount(kU, kU, kU, 1, 1); }), nvf::messages::kRecursiveVolumeTooLarge);
    // The voxel count fits, the scalars of vector voxels do not.
    EXPECT_EQ(messageOf([&] { checkedVoxelCount(kMax / 2 + 1, 1, 1, 3, 1); }),
              nvf::messages::kRecursiveVolumeTooLarge);
    // The scalars fit, their bytes do not; one voxel fewer fits.
    EXPECT_EQ(messageOf([&] { checkedVoxelCount(kMax / 8 + 1, 1, 1, 1, 8); }),
              nvf::messages::kRecursiveVolumeTooLarge);
    EXPECT_EQ(checkedVoxelCount(1, kMax / 8, 1, 1, 8), kMax / 8);
    EXPECT_EQ(messageOf([&] { checkedVoxelCount(1, 1, kMax / 12 + 1, 3, 4); }),
              nvf::messages::kRecursiveVolumeTooLarge);
}
