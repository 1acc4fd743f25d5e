// Kernels and the kernel factory: taps, copies, comparison and printing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <vector>

#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/convolution/CnKernelFactory.h>

namespace nvf = com::norvane::filtering;
using Kernel = nvf::CnKernel<float>;
using Factory = nvf::CnKernelFactory<float>;

namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

std::string printed(const Kernel& k) {
    std::ostringstream os;
    os << k;
    return os.str();
}

}  // namespace

TEST(CnKernel, ConstructionCopiesValuesAndStartsAtCentreZero) {
    const Kernel empty;
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.getCenter(), 0u);
    EXPECT_EQ(empty.begin(), nullptr);
    EXPECT_EQ(empty.end(), nullptr);

    std::vector<float> values{1.0f, 2.0f, 3.0f};
    const Kernel fromVector(values);
    values[0] = 99.0f;  // the kernel owns a copy
    ASSERT_EQ(fromVector.size(), 3u);
    EXPECT_EQ(fromVector.getCenter(), 0u);
    EXPECT_EQ(fromVector[0], 1.0f);
    EXPECT_EQ(fromVector.end() - fromVector.begin(), 3);

    const float array[4] = {4.0f, 5.0f, 6.0f, 7.0f};
    const Kernel fromArray(array, 4);
    ASSERT_EQ(fromArray.size(), 4u);
    EXPECT_EQ(fromArray.getCenter(), 0u);
    EXPECT_NE(fromArray.begin(), array);
    EXPECT_EQ(fromArray[3], 7.0f);

    const Kernel none(array, 0);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.begin(), nullptr);
}

TEST(CnKernel, SetCenterAcceptsOnlyValidIndices) {
    Kernel k(std::vector<float>{1, 2, 3, 4, 5});
    k.setCenter(4);
    EXPECT_EQ(k.getCenter(), 4u);
    k.setCenter(5);
    EXPECT_EQ(k.getCenter(), 0u);
    k.setCenter(2);
    k.setCenter(0xFFFFFFFFu);
    EXPECT_EQ(k.getCenter(), 0u);

    Kernel empty;
    empty.setCenter(0);
    EXPECT_EQ(empty.getCenter(), 0u);
    empty.setCenter(3);
    EXPECT_EQ(empty.getCenter(), 0u);
}

TEST(CnKernel, IndexIsRelativeToTheCentreAndWritable) {
    Kernel k(std::vector<float>{10, 20, 30, 40, 50});
    k.setCenter(2);
    EXPECT_EQ(k[-2], 10.0f);
    EXPECT_EQ(k[0], 30.0f);
    EXPECT_EQ(k[2], 50.0f);
    k[-1] = 21.0f;
    EXPECT_EQ(*(k.begin() + 1), 21.0f);
    const Kernel& ck = k;
    EXPECT_EQ(ck[-1], 21.0f);
}

TEST(CnKernel, CopyAndAssignmentCarryValuesAndCentre) {
    Kernel source(std::vector<float>{1, 2, 3});
    source.setCenter(1);
    Kernel copy(source);
    EXPECT_EQ(copy.getCenter(), 1u);
    EXPECT_EQ(copy[1], 3.0f);
    copy[0] = 7.0f;
    EXPECT_EQ(source[0], 2.0f);  // deep copy

    Kernel target(std::vector<float>{9});
    target = source;
    EXPECT_EQ(target.size(), 3u);
    EXPECT_EQ(target.getCenter(), 1u);
    const Kernel& alias = target;
    target = alias;  // self-assignment keeps everything
    EXPECT_EQ(target.size(), 3u);
    EXPECT_EQ(target[-1], 1.0f);
}

TEST(CnKernelFactory, IdentityIsOneValueOneCentredAtZero) {
    const Kernel id = Factory::id();
    ASSERT_EQ(id.size(), 1u);
    EXPECT_EQ(id.getCenter(), 0u);
    EXPECT_EQ(id[0], 1.0f);
}

TEST(CnKernelFactory, PyrfiltUsesTheFloatNearestTwoThirdsAndFloatRounding) {
    const std::vector<float> k = Factory::pyrfilt(0.375f);
    ASSERT_EQ(k.size(), 5u);
    EXPECT_EQ(k, (std::vector<float>{0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f}));

    // c = a * 0x3F2AAAAB in float, d = c - a / 2 in float.
    const std::uint32_t twoThirdsBits = 0x3F2AAAABu;
    float twoThirds;
    std::memcpy(&twoThirds, &twoThirdsBits, sizeof twoThirds);
    for (float a : {0.4f, 1.0f, 0.3f, -2.5f, 1e-3f, 123.456f}) {
        const std::vector<float> v = Factory::pyrfilt(a);
        const float c = a * twoThirds;
        const float d = c - a * 0.5f;
        EXPECT_EQ(bitsOf(v[0]), bitsOf(d)) << a;
        EXPECT_EQ(bitsOf(v[1]), bitsOf(c)) << a;
        EXPECT_EQ(bitsOf(v[2]), bitsOf(a)) << a;
        EXPECT_EQ(bitsOf(v[3]), bitsOf(c)) << a;
        EXPECT_EQ(bitsOf(v[4]), bitsOf(d)) << a;
    }
    EXPECT_EQ(bitsOf(Factory::pyrfilt(1.0f)[1]), twoThirdsBits);
}

TEST(CnKernelFactory, PyrfiltOfZeroAndOne) {
    for (float v : Factory::pyrfilt(0.0f)) {
        EXPECT_EQ(v, 0.0f);
    }
    const std::vector<float> one = Factory::pyrfilt(1.0f);
    std::ostringstream os;
    os << std::setprecision(8);
    for (float v : one) {
        os << v << " ";
    }
    EXPECT_EQ(os.str(), "0.16666669 0.66666669 1 0.66666669 0.16666669 ");
    EXPECT_EQ(one[0], one[4]);
    EXPECT_EQ(one[1], one[3]);
}

TEST(CnKernelFactory, SmoothIsPyrfiltCentredOnItsMiddle) {
    const Kernel s = Factory::smooth(0.4f);
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s.getCenter(), 2u);
    const std::vector<float> p = Factory::pyrfilt(0.4f);
    EXPECT_EQ(std::vector<float>(s.begin(), s.end()), p);
    EXPECT_EQ(s[-2], p[0]);
    EXPECT_EQ(s[0], 0.4f);
}

TEST(CnKernelPrint, ExactFormat) {
    EXPECT_EQ(printed(Factory::id()), "Kernel:  size:1, center:0\nValues: 1 ");
    EXPECT_EQ(printed(Factory::smooth(0.4f)),
              "Kernel:  size:5, center:2\nValues: 0.0666667 0.266667 0.4 0.266667 0.0666667 ");
    EXPECT_EQ(printed(Kernel()), "Kernel:  size:0, center:0\nValues: ");
}

TEST(CnKernelPrint, UsesTheStreamFormatAndReturnsTheStream) {
    std::ostringstream os;
    os << std::fixed << std::setprecision(2);
    std::ostream& result = (os << Factory::smooth(0.375f));
    EXPECT_EQ(&result, &os);
    EXPECT_EQ(os.str(), "Kernel:  size:5, center:2\nValues: 0.06 0.25 0.38 0.25 0.06 ");
}
