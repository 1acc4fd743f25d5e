#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nvcore/Exception.h>
#include <nvcore/floor.h>
#include <nvimage/Volume.h>
#include <nvmath/CnMatrix.h>
#include <nvmath/CnVector3D.h>

using com::norvane::imaging::Image;
using com::norvane::imaging::Volume;
using com::norvane::math::CnMatrix;
using com::norvane::math::CnVector3D;

TEST(Image, LinearIndexIsXFastestAndStorageContiguous) {
    Image<short> im(3, 4, 5);
    EXPECT_EQ(im.getNumberOfVoxels(), 60u);
    im(2, 1, 3) = 42;
    EXPECT_EQ(im[2 + 3 * (1 + 4 * 3)], 42);
    EXPECT_EQ(im.data()[2 + 3 * (1 + 4 * 3)], 42);
    auto it = im.begin() + 5;
    it[2] = 9;
    EXPECT_EQ(im[7], 9);
    const Image<short>& cim = im;
    EXPECT_EQ(cim.begin()[7], 9);
    EXPECT_TRUE(cim.begin() + 7 == Image<short>::const_iterator(&im, 7));
    EXPECT_FALSE(Image<short>::const_iterator());
}

TEST(Image, CopyIsDeepAndSetDimensionClears) {
    Image<float> a(2, 2, 1);
    a[3] = 1.5f;
    Image<float> b(a);
    b[3] = 2.0f;
    EXPECT_FLOAT_EQ(a[3], 1.5f);
    a.setDimension(1, 1, 2);
    EXPECT_EQ(a.getSizeZ(), 2u);
    EXPECT_FLOAT_EQ(a[1], 0.0f);
    Image<float> empty;
    EXPECT_EQ(empty.getNumberOfVoxels(), 0u);
    EXPECT_EQ(Image<CnVector3D<float>>(1, 1, 1)[0], CnVector3D<float>(0, 0, 0));
}

// Dimensions whose voxel count wraps round std::size_t (2^22 * 2^22 * 2^20 =
// 2^64) would otherwise give an image of 0 voxels claiming 2^64: every filter
// that trusts the dimensions would then read outside it. The image keeps its
// old dimensions and voxels.
TEST(Image, DimensionsWhoseVoxelCountWrapsAreRejected) {
    Image<unsigned char> a(3, 2, 1);
    a[5] = 7;
    EXPECT_THROW(a.setDimension(1u << 22, 1u << 22, 1u << 20), std::length_error);
    EXPECT_THROW(Image<unsigned char>(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), std::length_error);
    EXPECT_EQ(a.getSizeX(), 3u);
    EXPECT_EQ(a.getNumberOfVoxels(), 6u);
    EXPECT_EQ(a[5], 7);
    // A zero dimension is an empty image, whatever the others.
    const Image<unsigned char> empty(0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    EXPECT_EQ(empty.getNumberOfVoxels(), 0u);
}

// A view reads and writes the caller's buffer itself; copies own their
// voxels, moves keep viewing the same buffer, setDimension gives the image
// storage of its own and leaves the buffer alone.
TEST(Image, BorrowedVoxelsAreViewedNotCopied) {
    std::vector<int> buffer(24);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<int>(i);
    }
    Volume<int> view;
    view.borrow(buffer.data(), 4, 3, 2);
    EXPECT_TRUE(view.isBorrowed());
    EXPECT_EQ(view.data(), buffer.data());
    EXPECT_EQ(view.getNumberOfVoxels(), 24u);
    EXPECT_EQ(view(3, 2, 1), 23);
    view.begin()[5] = -5;
    EXPECT_EQ(buffer[5], -5);
    view.fill(1);
    EXPECT_EQ(buffer[23], 1);

    Image<int> copy(view);
    EXPECT_FALSE(copy.isBorrowed());
    EXPECT_NE(copy.data(), buffer.data());
    copy[0] = 9;
    EXPECT_EQ(buffer[0], 1);
    Image<int> assigned;
    assigned = view;
    EXPECT_NE(assigned.data(), buffer.data());
    EXPECT_EQ(assigned[7], 1);

    Image<int> moved(std::move(view));
    EXPECT_TRUE(moved.isBorrowed());
    EXPECT_EQ(moved.data(), buffer.data());
    EXPECT_EQ(view.getNumberOfVoxels(), 0u);  // NOLINT(bugprone-use-after-move): the documented state
    Image<int> owner(2, 2, 1);
    owner[3] = 4;
    const int* storage = owner.data();
    moved = std::move(owner);
    EXPECT_FALSE(moved.isBorrowed());
    EXPECT_EQ(moved.data(), storage);
    EXPECT_EQ(moved[3], 4);

    Image<int> again;
    again.borrow(buffer.data(), 2, 2, 1);
    again.setDimension(2, 2, 1);
    EXPECT_FALSE(again.isBorrowed());
    again[0] = 77;
    EXPECT_EQ(buffer[0], 1);
    // Bad views leave the image as it was.
    EXPECT_THROW(again.borrow(nullptr, 1, 1, 1), std::invalid_argument);
    EXPECT_THROW(again.borrow(buffer.data(), 1u << 22, 1u << 22, 1u << 20), std::length_error);
    EXPECT_FALSE(again.isBorrowed());
    EXPECT_EQ(again[0], 77);
    Image<int> none;
    none.borrow(nullptr, 0, 5, 5);
    EXPECT_EQ(none.getNumberOfVoxels(), 0u);
}

TEST(Volume, ConvertingConstructorCopiesGeometryNotVoxels) {
    Volume<unsigned char> src(4, 3, 2);
    src[5] = 200;
    src.setVoxelSize(CnVector3D<double>(2.0, 1.0, 0.5));
    src.setOrigin(CnVector3D<double>(1.0, 2.0, 3.0));
    CnMatrix<double> m(3, 3);
    m(0, 1) = 4.0;
    src.setDirection(m);
    Volume<float> dst(src);
    EXPECT_EQ(dst.getSizeX(), 4u);
    EXPECT_EQ(dst.getSizeZ(), 2u);
    EXPECT_FLOAT_EQ(dst[5], 0.0f);
    EXPECT_EQ(dst.getVoxelSize(), CnVector3D<double>(2.0, 1.0, 0.5));
    EXPECT_EQ(dst.getOrigin(), CnVector3D<double>(1.0, 2.0, 3.0));
    EXPECT_EQ(dst.getDirection(), m);
    EXPECT_EQ(Volume<float>().getVoxelSize(), CnVector3D<double>(1.0, 1.0, 1.0));
}

TEST(CnMatrix, ProductIdentityAndAssignment) {
    CnMatrix<double> a(2, 3), b(3, 2);
    double v = 1.0;
    for (unsigned r = 0; r < 2; ++r)
        for (unsigned c = 0; c < 3; ++c) a(r, c) = v++;
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned c = 0; c < 2; ++c) b(r, c) = v++;
    const CnMatrix<double> p = a * b;  // [[1 2 3][4 5 6]] * [[7 8][9 10][11 12]]
    EXPECT_EQ(p.getRows(), 2u);
    EXPECT_DOUBLE_EQ(p(0, 0), 58.0);
    EXPECT_DOUBLE_EQ(p(0, 1), 64.0);
    EXPECT_DOUBLE_EQ(p(1, 0), 139.0);
    EXPECT_DOUBLE_EQ(p(1, 1), 154.0);
    CnMatrix<double> e(0, 0);
    e = a;
    EXPECT_EQ(e.getCols(), 3u);
    EXPECT_DOUBLE_EQ(e(1, 2), 6.0);
    CnMatrix<double> id(3, 3);
    id.fill(7.0);
    id.setToIdentity();
    EXPECT_DOUBLE_EQ(id(0, 0), 1.0);
    EXPECT_DOUBLE_EQ(id(0, 1), 0.0);
    EXPECT_THROW(a * a, com::norvane::Throwable);
}

TEST(CnVector3D, ArithmeticIsComponentWise) {
    const CnVector3D<double> a(1, 2, 3), b(4, 5, 6);
    EXPECT_EQ(a + b, CnVector3D<double>(5, 7, 9));
    EXPECT_EQ(b - a, CnVector3D<double>(3, 3, 3));
    EXPECT_EQ(2.0 * a, CnVector3D<double>(2, 4, 6));
    EXPECT_NE(a, b);
}

TEST(NvCore, FloorRoundsDownAndSaturates) {
    EXPECT_EQ(com::norvane::floor(2.5), 2);
    EXPECT_EQ(com::norvane::floor(-0.2), -1);
    EXPECT_EQ(com::norvane::floor(-3.0), -3);
    EXPECT_EQ(com::norvane::floor(1e300), std::numeric_limits<int>::max());
    EXPECT_EQ(com::norvane::floor(-1e300), std::numeric_limits<int>::min());
    EXPECT_EQ(com::norvane::floor(std::nan("")), 0);
}

TEST(NvCore, ExceptionIsAThrowable) {
    try {
        throw com::norvane::Exception("boom", "a/b/C");
    } catch (const com::norvane::Throwable& t) {
        EXPECT_EQ(t.getMessage(), "boom");
        EXPECT_EQ(t.getClassPath(), "a/b/C");
        com::norvane::Throwable copy(t);
        EXPECT_STREQ(copy.what(), "boom");
    }
}
