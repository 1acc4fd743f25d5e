// The recursive line filter, for each of its instantiations.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>

#include "RecursiveTestSupport.h"

using namespace rectest;

namespace {

// One instantiation of the line filter, with line storage of the matching kind.
template <class In_, class Out_, bool Pointers>
struct Case {
    using In = In_;
    using Out = Out_;
    using InIt = std::conditional_t<Pointers, double*, nvf::ImageConstIt<In>>;
    using OutIt = std::conditional_t<Pointers, double*, nvf::ImageIt<Out>>;
    using Filter = nvf::Cn1dRecursiveFilter<In, Out, InIt, OutIt>;
    static constexpr bool pointers = Pointers;
};

using Cases = ::testing::Types<Case<unsigned char, float, false>, Case<float, float, false>,
                               Case<double, double, false>, Case<Vec3f, Vec3f, false>,
                               Case<double, double, true>>;

// Input and output storage of one line: sample k at k * stride.
template <class C>
struct LineStore {
    typename C::In* inData;
    typename C::Out* outData;
    std::vector<double> inVector, outVector;  // double* case
    Image<typename C::In> inImage;
    Image<typename C::Out> outImage;
    typename C::InIt inStart;
    typename C::OutIt outStart;

    LineStore(std::size_t storage) {
        if constexpr (C::pointers) {
            inVector.assign(storage, 0.0);
            outVector.assign(storage, 0.0);
            inData = inVector.data();
            outData = outVector.data();
            inStart = inData;
            outStart = outData;
        } else {
            inImage.setDimension(static_cast<unsigned int>(storage), 1, 1);
            outImage.setDimension(static_cast<unsigned int>(storage), 1, 1);
            inData = inImage.data();
            outData = outImage.data();
            inStart = const_cast<const Image<typename C::In>&>(inImage).begin();
            outStart = outImage.begin();
        }
    }
};

template <class C>
void configure(typename C::Filter& f, double sigma, unsigned int order, CnMatrix<double>& M) {
    double B, a1, a2, a3;
    f.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    f.setParameters(B, a1, a2, a3, &M);
    f.setType(static_cast<typename C::Filter::EnRecursiveFilterType>(order + 1));
}

// Filters the values (placed at `offset` in a line of `total` samples, zeros
// elsewhere) and returns the flattened outputs at the positions of the values.
template <class C>
std::vector<double> filterValues(const std::vector<double>& values, double sigma, unsigned int order,
                                 std::size_t offset = 0, std::size_t total = 0, unsigned int stride = 1) {
    if (total == 0) {
        total = values.size();
    }
    LineStore<C> store(total * stride);
    for (std::size_t k = 0; k < values.size(); ++k) {
        store.inData[(offset + k) * stride] = makeSample<typename C::In>(values[k]);
    }
    typename C::Filter f;
    CnMatrix<double> M(0, 0);
    configure<C>(f, sigma, order, M);
    f.setInputData(store.inStart, static_cast<unsigned int>(total), stride);
    f.setOutputData(store.outStart, static_cast<unsigned int>(total), stride);
    f.execute();
    std::vector<double> out;
    for (std::size_t k = 0; k < values.size(); ++k) {
        appendFlat(out, store.outData[(offset + k) * stride]);
    }
    return out;
}

template <class C>
std::vector<unsigned int> ordersOf() {
    if constexpr (isVector<typename C::In>()) {
        return {0};
    } else {
        return {0, 1, 2};
    }
}

template <class C>
class Cn1dRecursiveFilterTyped : public ::testing::Test {};
TYPED_TEST_SUITE(Cn1dRecursiveFilterTyped, Cases);

}  // namespace

TYPED_TEST(Cn1dRecursiveFilterTyped, SigmaZeroGivesCopyCentralAndSecondDifference) {
    using C = TypeParam;
    const std::vector<double> x = {3, 9, 4, 250, 0, 17, 8};
    const std::size_t n = x.size();
    auto at = [&](long k) { return k < 0 || k >= static_cast<long>(n) ? 0.0 : x[static_cast<std::size_t>(k)]; };
    std::vector<double> expected[3];
    for (long k = 0; k < static_cast<long>(n); ++k) {
        for (double scale : isVector<typename C::In>() ? std::vector<double>{1.0, -0.5, 2.0}
                                                       : std::vector<double>{1.0}) {
            expected[0].push_back(scale * at(k));
            expected[1].push_back(scale * (at(k + 1) - at(k - 1)) / 2.0);
            expected[2].push_back(scale * (at(k + 1) - 2.0 * at(k) + at(k - 1)));
        }
    }
    for (unsigned int order : ordersOf<C>()) {
        const std::vector<double> y = filterValues<C>(x, 0.0, order);
        ASSERT_EQ(y.size(), expected[order].size());
        for (std::size_t i = 0; i < y.size(); ++i) {
            EXPECT_EQ(y[i], expected[order][i]) << "order " << order << " at " << i;
        }
    }
}

TYPED_TEST(Cn1dRecursiveFilterTyped, HundredOnesShowTheZeroContinuation) {
    using C = TypeParam;
    const std::vector<double> y = filterValues<C>(std::vector<double>(100, 1.0), 2.0, 0);
    const std::size_t c = isVector<typename C::In>() ? 3 : 1;
    EXPECT_NEAR(y[50 * c], 1.0, 1e-6);
    EXPECT_NEAR(y[0], 0.602, 5e-4);
    EXPECT_NEAR(y[1 * c], 0.771, 5e-4);
    EXPECT_NEAR(y[98 * c], 0.771, 5e-4);
    EXPECT_NEAR(y[99 * c], 0.602, 5e-4);
}

// Every line length, including those shorter than the recursion's start-up,
// gives what the same samples give in the middle of a long run of zeros.
TYPED_TEST(Cn1dRecursiveFilterTyped, EqualsTheSameSamplesInALongRunOfZeros) {
    using C = TypeParam;
    const bool single = std::is_same_v<typename C::Out, float> || isVector<typename C::Out>();
    for (unsigned int order : ordersOf<C>()) {
        for (double sigma : {0.0, 0.4, 1.0, 2.5, 7.0, 40.0}) {
            for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 9u, 64u}) {
                const std::vector<double> x = randomValues<typename C::In>(n, static_cast<std::uint32_t>(n * 31 + order));
                const std::vector<double> alone = filterValues<C>(x, sigma, order);
                const std::vector<double> padded = filterValues<C>(x, sigma, order, 7, n + 7 + 3000);
                double scale = 0.0;
                for (double v : x) {
                    scale = std::max(scale, std::fabs(v));
                }
                // Float feedback rounds every output; the recursion's gain grows with sigma.
                const double tol = (single ? 1e-6 : 1e-9) * (scale + 1.0) * (sigma + 1.0);
                for (std::size_t i = 0; i < alone.size(); ++i) {
                    EXPECT_NEAR(alone[i], padded[i], tol)
                        << "order " << order << " sigma " << sigma << " n " << n << " at " << i;
                }
            }
        }
    }
}

TYPED_TEST(Cn1dRecursiveFilterTyped, DerivativesArePerSample) {
    using C = TypeParam;
    if constexpr (!isVector<typename C::In>()) {
        std::vector<double> ramp(200), square(200);
        for (std::size_t k = 0; k < 200; ++k) {
            ramp[k] = static_cast<double>(k);
            square[k] = std::is_same_v<typename C::In, unsigned char> ? static_cast<double>((k % 15) * (k % 15))
                                                                       : static_cast<double>(k * k);
        }
        for (double sigma : {0.0, 1.0, 3.0}) {
            const std::vector<double> d1 = filterValues<C>(ramp, sigma, 1);
            const std::vector<double> d2 = filterValues<C>(square, sigma, 2);
            EXPECT_NEAR(d1[100], 1.0, 1e-4) << sigma;
            if constexpr (std::is_same_v<typename C::In, unsigned char>) {
                // (k mod 15)^2 is a parabola between its jumps; only sigma 0 sees it exactly.
                if (sigma == 0.0) {
                    EXPECT_EQ(d2[97], 2.0);
                }
            } else {
                EXPECT_NEAR(d2[100], 2.0, 1e-3 * (sigma + 1.0)) << sigma;
            }
        }
    }
}

TYPED_TEST(Cn1dRecursiveFilterTyped, InPlaceEqualsSeparateOutput) {
    using C = TypeParam;
    if constexpr (std::is_same_v<typename C::In, typename C::Out>) {
        for (unsigned int order : ordersOf<C>()) {
            for (std::size_t n : {2u, 3u, 37u}) {
                const std::vector<double> x = randomValues<typename C::In>(n, 5);
                const std::vector<double> separate = filterValues<C>(x, 1.7, order, 0, 0, 3);
                LineStore<C> store(n * 3);
                for (std::size_t k = 0; k < n; ++k) {
                    store.outData[k * 3] = makeSample<typename C::In>(x[k]);
                }
                typename C::Filter f;
                CnMatrix<double> M(0, 0);
                configure<C>(f, 1.7, order, M);
                f.setInputData(typename C::InIt(store.outStart), static_cast<unsigned int>(n), 3);
                f.setOutputData(store.outStart, static_cast<unsigned int>(n), 3);
                f.execute();
                std::vector<double> inPlace;
                for (std::size_t k = 0; k < n; ++k) {
                    appendFlat(inPlace, store.outData[k * 3]);
                }
                EXPECT_EQ(inPlace, separate) << "order " << order << " n " << n;
            }
        }
    }
}

TYPED_TEST(Cn1dRecursiveFilterTyped, OutputUsesTheInputLengthAndStride) {
    using C = TypeParam;
    const std::vector<double> x = {1, 2, 3, 4, 5, 6};
    LineStore<C> store(12);
    for (std::size_t k = 0; k < 6; ++k) {
        store.inData[2 * k] = makeSample<typename C::In>(x[k]);
    }
    typename C::Filter f;
    CnMatrix<double> M(0, 0);
    configure<C>(f, 1.0, 0, M);
    f.setInputData(store.inStart, 6, 2);
    f.setOutputData(store.outStart, 3, 1);
    f.execute();
    std::vector<double> got, odd;
    for (std::size_t k = 0; k < 6; ++k) {
        appendFlat(got, store.outData[2 * k]);
        appendFlat(odd, store.outData[2 * k + 1]);
    }
    EXPECT_EQ(got, filterValues<C>(x, 1.0, 0));
    EXPECT_TRUE(std::all_of(odd.begin(), odd.end(), [](double v) { return v == 0.0; }));
}

TYPED_TEST(Cn1dRecursiveFilterTyped, CopySharesCoefficientsAndMatrix) {
    using C = TypeParam;
    const std::vector<double> x = randomValues<typename C::In>(20, 9);
    LineStore<C> store(20);
    for (std::size_t k = 0; k < 20; ++k) {
        store.inData[k] = makeSample<typename C::In>(x[k]);
    }
    typename C::Filter f;
    CnMatrix<double> M(0, 0);
    configure<C>(f, 2.2, 0, M);
    f.setInputData(store.inStart, 20, 1);
    f.setOutputData(store.outStart, 20, 1);
    typename C::Filter copy(f);
    typename C::Filter assigned;
    assigned = f;
    copy.execute();
    std::vector<double> a, b;
    for (std::size_t k = 0; k < 20; ++k) {
        appendFlat(a, store.outData[k]);
    }
    assigned.execute();
    for (std::size_t k = 0; k < 20; ++k) {
        appendFlat(b, store.outData[k]);
    }
    EXPECT_EQ(a, filterValues<C>(x, 2.2, 0));
    EXPECT_EQ(a, b);
}

TYPED_TEST(Cn1dRecursiveFilterTyped, RejectsUnknownTypeAndUnsetLineWithoutTouchingTheOutput) {
    using C = TypeParam;
    LineStore<C> store(8);
    for (std::size_t k = 0; k < 8; ++k) {
        store.inData[k] = makeSample<typename C::In>(static_cast<double>(k + 1));
    }
    const typename C::Out marker = makeSample<typename C::Out>(-3.0);
    std::fill(store.outData, store.outData + 8, marker);
    auto untouched = [&] {
        return std::all_of(store.outData, store.outData + 8,
                           [&](const typename C::Out& v) { return bitsEqual(v, marker); });
    };
    using T = typename C::Filter::EnRecursiveFilterType;

    typename C::Filter f;
    CnMatrix<double> M(0, 0);
    EXPECT_EQ(f.getType(), 1);
    // No line, no parameters.
    EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveLineNotSet);
    f.setInputData(store.inStart, 8, 1);
    f.setOutputData(store.outStart, 8, 1);
    EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveParametersNotSet);
    f.setParameters(1.0, 0.0, 0.0, 0.0, &M);  // a 0 x 0 matrix
    EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveParametersNotSet);
    configure<C>(f, 1.0, 0, M);
    for (int bad : {0, 4, 7, -1}) {
        f.setType(static_cast<T>(bad));
        EXPECT_EQ(f.getType(), bad);
        EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kUnknownRecursiveAlgorithm);
    }
    f.setType(T::Smooth);
    f.setInputData(store.inStart, 8, 0);
    EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveLineNotSet);
    f.setInputData(store.inStart, 0, 1);
    EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveLineNotSet);
    f.setInputData(typename C::InIt(), 8, 1);
    EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveLineNotSet);
    if constexpr (!C::pointers) {
        f.setInputData(store.inStart + 1, 4, 2);  // last sample at index 7: inside
        f.setOutputData(store.outStart + 2, 4, 2);  // last sample at index 8: outside
        EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveLineOutsideImage);
        f.setInputData(store.inStart, 9, 1);
        EXPECT_EQ(messageOf([&] { f.execute(); }), nvf::messages::kRecursiveLineOutsideImage);
    }
    EXPECT_TRUE(untouched());

    if constexpr (isVector<typename C::In>()) {
        f.setInputData(store.inStart, 8, 1);
        f.setOutputData(store.outStart, 8, 1);
        f.setType(T::FirstDerivative);
        EXPECT_EQ(messageOf([&] { f.execute(); }), "No first derivative filter for images of CnVectors.");
        f.setType(T::SecondDerivative);
        EXPECT_EQ(messageOf([&] { f.execute(); }), "No second derivative filter for images of CnVectors.");
        typename C::Filter unset;
        unset.setType(T::FirstDerivative);
        EXPECT_EQ(messageOf([&] { unset.execute(); }), "No first derivative filter for images of CnVectors.");
        EXPECT_TRUE(untouched());
    }
}

// The vector filter smooths each component exactly as the float filter does.
TEST(Cn1dRecursiveFilter, VectorSmoothingEqualsFloatPerComponent) {
    using VC = Case<Vec3f, Vec3f, false>;
    using FC = Case<float, float, false>;
    for (std::size_t n : {1u, 2u, 5u, 50u}) {
        const std::vector<double> x = randomValues<float>(n, 77);
        const std::vector<double> v = filterValues<VC>(x, 3.3, 0);
        for (int comp = 0; comp < 3; ++comp) {
            const double scale = comp == 0 ? 1.0 : (comp == 1 ? -0.5 : 2.0);
            std::vector<double> xs(n);
            for (std::size_t k = 0; k < n; ++k) {
                xs[k] = static_cast<double>(static_cast<float>(scale * x[k]));
            }
            const std::vector<double> f = filterValues<FC>(xs, 3.3, 0);
            for (std::size_t k = 0; k < n; ++k) {
                EXPECT_EQ(v[3 * k + static_cast<std::size_t>(comp)], f[k]) << "n " << n << " k " << k;
            }
        }
    }
}

// The bounds-checked path for short lines is the exact path on long lines.
TEST(Cn1dRecursiveFilter, ZeroContinuedPathMatchesTheExactFormulas) {
    namespace d = nvf::detail;
    using F = nvf::Cn1dRecursiveFilter<double, double, double*, double*>;
    for (unsigned int order = 0; order <= 2; ++order) {
        for (double sigma : {0.0, 0.9, 4.0}) {
            for (std::size_t n : {4u, 5u, 33u}) {
                double B, a1, a2, a3;
                CnMatrix<double> M(0, 0);
                F().computeFilterParameters(sigma, B, a1, a2, a3, M, order);
                const d::RecursiveCoefficients c = d::makeCoefficients(B, a1, a2, a3, M);
                const std::vector<double> x = randomValues<double>(n, 3);
                std::vector<double> exact(n), general(n), w(n + 3);
                if (order == 0) {
                    d::smoothLine<double>(x.data(), exact.data(), 1, n, c, w.data());
                } else if (order == 1) {
                    d::firstDerivativeLine(x.data(), exact.data(), 1, n, c, w.data());
                } else {
                    d::secondDerivativeLine(x.data(), exact.data(), 1, n, c, w.data());
                }
                d::zeroContinuedLine<double>(order, x.data(), general.data(), 1, n, c, w.data());
                for (std::size_t k = 0; k < n; ++k) {
                    EXPECT_NEAR(exact[k], general[k], 1e-12 * 100.0) << order << " " << sigma << " " << n;
                }
            }
        }
    }
}
