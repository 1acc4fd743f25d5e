// What the FFT filters do with empty batches and with sizes whose element count
// does not fit the address space: nothing is touched, and the oversize calls throw
// before any access (huge sizes over tiny arrays, so nothing large is allocated).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include <nvcore/Exception.h>
#include <nvcore/Throwable.h>
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/fft/detail/GpfaDrivers.h>
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>

#include "FftTestSupport.h"

namespace msg = com::norvane::filtering::messages;
namespace detail = com::norvane::filtering::detail;
using namespace fft_test;

namespace {

template <class T>
class FftGuardTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FftGuardTest, Precisions, PrecisionNames);

// An empty batch with null arrays is legal for every length, engine, layout and
// direction, with or without an executor; under the sanitizers any pointer formed
// from a null array (an offset) is reported.
TYPED_TEST(FftGuardTest, EmptyBatchTouchesNoPointerWhateverTheLengthAndEngine) {
    using T = TypeParam;
    com::norvane::filtering::CnThreadPoolExecutor executor(2);
    T* none = nullptr;
    for (int n : {1, 2, 3, 5, 6, 12, 16, 45, 64, 2500, 4096, 100000}) {
        for (bool gpfaOnly : {false, true}) {
            for (int dir : {1, -1}) {
                for (auto* ex : {static_cast<com::norvane::filtering::CnExecutor*>(nullptr),
                                 static_cast<com::norvane::filtering::CnExecutor*>(&executor)}) {
                    Probe1d<T> f;
                    f.setGpfaOnly(gpfaOnly);
                    f.setExecutor(ex);
                    EXPECT_NO_THROW(f.executeWith(none, none, none, none, n, 0, dir)) << n;
                    // the setters' layouts: columns (vector jump 1) and strided vectors
                    for (int dataJump : {1, 3}) {
                        f.setFields(none, none, none, none, n, 0);
                        f.SetDataJump(dataJump);
                        f.SetVectorJump(dataJump == 1 ? 1 : n * 3);
                        f.SetDirection(dir);
                        EXPECT_NO_THROW(f.execute()) << n << " data jump " << dataJump;
                    }
                }
            }
        }
    }
    // the engines themselves, given an empty lot
    std::vector<T> table(2 * 12), powerTable(3 * 16);
    detail::gpfaTable(table.data(), 12);
    detail::gpfaTransform(none, none, table.data(), 1, 12, 12, 0, 1);
    detail::gpfaStrided(none, none, table.data(), 12, 1, 12, 0, -1);
    detail::gpfaContiguous(none, none, table.data(), 12, 0, 1, &executor);
    detail::gpfaColumns(none, none, table.data(), 12, 0, 0, -1, &executor);
    detail::pow2Contiguous(none, none, 16, 16, 0, powerTable.data(), detail::Pow2Ends<T>{true, true, T(1)},
                           &executor);
    detail::pow2Interleaved(none, none, 16, 0, 0, powerTable.data(), detail::Pow2Ends<T>{true, true, T(1)},
                            &executor);
}

template <class Call>
void expectTooLarge(Call&& call) {
    try {
        call();
        ADD_FAILURE() << "no exception";
    } catch (const com::norvane::Throwable& e) {
        EXPECT_EQ(e.getMessage(), msg::kFftSizeTooLarge);
        EXPECT_EQ(e.getClassPath(), msg::kThrowableClassPath);
    }
}

TYPED_TEST(FftGuardTest, ElementCountsBeyondTheAddressSpaceThrowBeforeAnyAccess) {
    using T = TypeParam;
    const std::int32_t big = std::int32_t(1) << 30;  // a legal length
    std::vector<T> re(8, T(3)), im(8, T(4));
    // 2^30 x 2^30 x 2^30 elements overflow std::size_t itself.
    Cn3dFftFilter<T> f3;
    expectTooLarge([&] { f3.executeWith(re.data(), im.data(), re.data(), im.data(), big, big, big, 1); });
    // 2^61 elements: more bytes than a pointer difference holds, even in float.
    expectTooLarge([&] { f3.executeWith(re.data(), im.data(), re.data(), im.data(), 2, big, big, -1); });
    if (sizeof(T) == 8) {
        // 2^60 or nearly 2^61 doubles: more bytes than a pointer difference holds.
        Cn2dFftFilter<T> f2;
        expectTooLarge([&] { f2.executeWith(re.data(), im.data(), re.data(), im.data(), big, big, 1); });
        Cn1dFftFilter<T> f1;
        expectTooLarge([&] {
            f1.executeWith(re.data(), im.data(), re.data(), im.data(), big, std::numeric_limits<std::int32_t>::max(),
                           1);
        });
    }
    EXPECT_EQ(re, std::vector<T>(8, T(3)));
    EXPECT_EQ(im, std::vector<T>(8, T(4)));
    // an illegal length is still reported as such, before the size
    Cn3dFftFilter<T> f;
    EXPECT_THROW(f.executeWith(re.data(), im.data(), re.data(), im.data(), big, big, 7, 1), com::norvane::Exception);
}

}  // namespace
