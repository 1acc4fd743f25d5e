#include <nvfiltering/recursive/CnRecursiveFilter.h>

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursiveBlock.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

struct AxisOrders {
    unsigned int x;
    unsigned int y;
    unsigned int z;
};

// Derivative order per axis for each EnDerivativeType value; false if invalid.
bool lookUpOrders(std::int32_t derivative, AxisOrders& orders) {
    static const AxisOrders table[7] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                        {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    if (derivative < 0 || derivative > 6) {
        return false;
    }
    orders = table[derivative];
    return true;
}

// Configures a line filter for one pass: coefficients and boundary matrix for
// sigma and order, and the matching line filter type. Returns the coefficients
// for the blocked kernels.
template <class LineFilter>
detail::RecursiveCoefficients configurePass(LineFilter& filter, double sigma, unsigned int order,
                                            math::CnMatrix<double>& M) {
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    filter.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    filter.setParameters(B, a1, a2, a3, &M);
    filter.setType(static_cast<typename LineFilter::EnRecursiveFilterType>(order + 1));
    return detail::makeCoefficients(B, a1, a2, a3, M);
}

// ---- Blocked passes -----------------------------------------------------------
// The lines of a pass are filtered kLanes at a time (detail::filterBlock), with
// the same arithmetic per line as the line filter, so the results are the same
// bit for bit. Vector voxels are filtered as three float lanes each. Only line
// and block buffers are allocated, never a temporary volume.

constexpr std::size_t kLanes = 32;

template <class T>
struct ScalarOf {
    using type = T;
    static constexpr std::size_t components = 1;
};
template <>
struct ScalarOf<math::CnVector3D<float>> {
    using type = float;
    static constexpr std::size_t components = 3;
};
static_assert(sizeof(math::CnVector3D<float>) == 3 * sizeof(float), "vector voxels are three packed floats");

template <class T>
const typename ScalarOf<T>::type* scalars(const imaging::Image<T>& image) {
    return reinterpret_cast<const typename ScalarOf<T>::type*>(image.data());
}
template <class T>
typename ScalarOf<T>::type* scalars(imaging::Image<T>& image) {
    return reinterpret_cast<typename ScalarOf<T>::type*>(image.data());
}

// The block kernel, compiled twice: for the base instruction set and, on x86
// processors that have it, for AVX (twice as many lanes per instruction). Both
// use the same IEEE double operations in the same order (AVX without fused
// multiply-add), so they give identical results; the choice is made once.
template <class SIn, class SOut>
using BlockKernel = void (*)(unsigned int, const SIn*, std::size_t, SOut*, std::size_t, std::size_t,
                             const detail::RecursiveCoefficients&, double*);

template <class SIn, class SOut>
void blockBase(unsigned int order, const SIn* x, std::size_t xs, SOut* y, std::size_t ys, std::size_t n,
               const detail::RecursiveCoefficients& c, double* w) {
    detail::filterBlock<kLanes>(order, x, xs, y, ys, n, c, w);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NVF_RECURSIVE_AVX 1
template <class SIn, class SOut>
__attribute__((target("avx"))) void blockAvx(unsigned int order, const SIn* x, std::size_t xs, SOut* y,
                                             std::size_t ys, std::size_t n, const detail::RecursiveCoefficients& c,
                                             double* w) {
    detail::filterBlock<kLanes>(order, x, xs, y, ys, n, c, w);
}
#endif

template <class SIn, class SOut>
BlockKernel<SIn, SOut> blockKernel() {
#ifdef NVF_RECURSIVE_AVX
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) {
        return &blockAvx<SIn, SOut>;
    }
#endif
    return &blockBase<SIn, SOut>;
}

unsigned int minimumLength(unsigned int order) { return order == 1 ? 4u : 3u; }

// Lines along Y or Z, in place: `groups` groups of `width` lines whose lanes are
// neighbours in memory; group g starts at data + g * groupStride, sample k of a
// line lies k * sampleStride further on. Each block of lanes is copied into a
// contiguous buffer first (large power-of-two strides would make the lines
// compete for the same cache sets); a narrower last block is padded with zero
// lanes, which are filtered but never copied back.
template <class S>
void filterAdjacentLines(S* data, std::size_t groups, std::size_t groupStride, std::size_t width,
                         std::size_t sampleStride, std::size_t n, unsigned int order,
                         const detail::RecursiveCoefficients& c) {
    std::vector<double> w((n + 3) * kLanes);
    std::vector<S> buffer(n * kLanes);
    const BlockKernel<S, S> kernel = blockKernel<S, S>();
    for (std::size_t g = 0; g < groups; ++g) {
        S* base = data + g * groupStride;
        for (std::size_t x0 = 0; x0 < width; x0 += kLanes) {
            const std::size_t lanes = width - x0 < kLanes ? width - x0 : kLanes;
            if (lanes < kLanes) {
                std::fill(buffer.begin(), buffer.end(), S());
            }
            for (std::size_t k = 0; k < n; ++k) {
                const S* line = base + x0 + k * sampleStride;
                std::copy(line, line + lanes, buffer.data() + k * kLanes);
            }
            kernel(order, buffer.data(), kLanes, buffer.data(), kLanes, n, c, w.data());
            for (std::size_t k = 0; k < n; ++k) {
                const S* block = buffer.data() + k * kLanes;
                std::copy(block, block + lanes, base + x0 + k * sampleStride);
            }
        }
    }
}

// Lines along X, from input to output: line i starts at lineStart(i) (in
// scalars) and its samples are `step` apart. Blocks of lines go through small
// transposed buffers, so that the lanes of one sample are neighbours.
template <class SIn, class SOut, class Start>
void filterRows(const SIn* in, SOut* out, std::size_t lines, Start lineStart, std::size_t step, std::size_t n,
                unsigned int order, const detail::RecursiveCoefficients& c) {
    std::vector<double> w((n + 3) * kLanes);
    std::vector<SIn> inBuffer(n * kLanes);
    std::vector<SOut> outBuffer(n * kLanes);
    const BlockKernel<SIn, SOut> kernel = blockKernel<SIn, SOut>();
    for (std::size_t i0 = 0; i0 < lines; i0 += kLanes) {
        const std::size_t lanes = lines - i0 < kLanes ? lines - i0 : kLanes;
        if (lanes < kLanes) {
            std::fill(inBuffer.begin(), inBuffer.end(), SIn());
        }
        for (std::size_t l = 0; l < lanes; ++l) {
            const SIn* row = in + lineStart(i0 + l);
            for (std::size_t k = 0; k < n; ++k) {
                inBuffer[k * kLanes + l] = row[k * step];
            }
        }
        kernel(order, inBuffer.data(), kLanes, outBuffer.data(), kLanes, n, c, w.data());
        for (std::size_t l = 0; l < lanes; ++l) {
            SOut* row = out + lineStart(i0 + l);
            for (std::size_t k = 0; k < n; ++k) {
                row[k * step] = outBuffer[k * kLanes + l];
            }
        }
    }
}

}  // namespace

template <class In, class Out>
CnRecursiveFilter<In, Out>::CnRecursiveFilter()
    : CnFilter<In, Out>(), m_sigmaX(1.0), m_sigmaY(1.0), m_sigmaZ(1.0), m_derivative(NoDerivative) {}

template <class In, class Out>
CnRecursiveFilter<In, Out>::~CnRecursiveFilter() = default;

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setSigma(double sigmaX, double sigmaY, double sigmaZ) {
    m_sigmaX = sigmaX;
    m_sigmaY = sigmaY;
    m_sigmaZ = sigmaZ;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaX() const {
    return m_sigmaX;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaY() const {
    return m_sigmaY;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaZ() const {
    return m_sigmaZ;
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setDerivative(EnDerivativeType derivative) {
    m_derivative = derivative;
}

template <class In, class Out>
int CnRecursiveFilter<In, Out>::getDerivative() const {
    return static_cast<int>(m_derivative);
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::v_execute() {
    const imaging::Image<In>& input = *this->m_input;
    imaging::Image<Out>& output = *this->m_output;
    const imaging::Image<Out>& outputRead = output;

    AxisOrders orders{0, 0, 0};
    if (!lookUpOrders(static_cast<std::int32_t>(m_derivative), orders)) {
        throwThrowable(messages::kInvalidDerivative);
    }
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kRecursiveOutputSizeDiffers);
    }

    const unsigned int sizeX = input.getSizeX();
    const unsigned int sizeY = input.getSizeY();
    const unsigned int sizeZ = input.getSizeZ();
    const std::size_t sliceSize = static_cast<std::size_t>(sizeX) * sizeY;

    if (output.getNumberOfVoxels() == 0) {
        return;
    }
    // A single slice does not vary along Z: its derivatives along Z vanish.
    if (sizeZ == 1 && orders.z != 0) {
        output.fill(Out());
        return;
    }

    math::CnMatrix<double> M(0, 0);
    constexpr bool vectors = std::is_same_v<Out, math::CnVector3D<float>>;
    constexpr std::size_t comps = ScalarOf<Out>::components;
    // A pass runs blocked when its lines are long enough for the exact kernels;
    // otherwise (short lines, and derivatives of vector voxels, which throw at
    // the first line) it runs line by line.
    auto blocked = [&](unsigned int order, unsigned int length) {
        return length >= minimumLength(order) && !(vectors && order != 0);
    };

    Cn1dRecursiveFilter<In, Out, ImageConstIt<In>, ImageIt<Out>> lineX;
    const detail::RecursiveCoefficients cx = configurePass(lineX, m_sigmaX, orders.x, M);
    if (blocked(orders.x, sizeX)) {
        const std::size_t rowScalars = sizeX * comps;
        auto lineStart = [&](std::size_t i) { return (i / comps) * rowScalars + i % comps; };
        filterRows(scalars(input), scalars(output), sliceSize / sizeX * sizeZ * comps, lineStart, comps, sizeX,
                   orders.x, cx);
    } else {
        for (unsigned int z = 0; z < sizeZ; ++z) {
            for (unsigned int y = 0; y < sizeY; ++y) {
                const std::size_t s = z * sliceSize + static_cast<std::size_t>(y) * sizeX;
                lineX.setInputData(input.begin() + s, sizeX, 1);
                lineX.setOutputData(output.begin() + s, sizeX, 1);
                lineX.execute();
            }
        }
    }

    Cn1dRecursiveFilter<Out, Out, ImageConstIt<Out>, ImageIt<Out>> lineYZ;
    const detail::RecursiveCoefficients cy = configurePass(lineYZ, m_sigmaY, orders.y, M);
    if (blocked(orders.y, sizeY)) {
        filterAdjacentLines(scalars(output), sizeZ, sliceSize * comps, sizeX * comps, sizeX * comps, sizeY,
                            orders.y, cy);
    } else {
        for (unsigned int z = 0; z < sizeZ; ++z) {
            for (unsigned int x = 0; x < sizeX; ++x) {
                const std::size_t s = z * sliceSize + x;
                lineYZ.setInputData(outputRead.begin() + s, sizeY, sizeX);
                lineYZ.setOutputData(output.begin() + s, sizeY, sizeX);
                lineYZ.execute();
            }
        }
    }

    if (sizeZ > 1) {
        const detail::RecursiveCoefficients cz = configurePass(lineYZ, m_sigmaZ, orders.z, M);
        if (blocked(orders.z, sizeZ)) {
            filterAdjacentLines(scalars(output), sizeY, sizeX * comps, sizeX * comps, sliceSize * comps, sizeZ,
                                orders.z, cz);
        } else {
            const unsigned int strideZ = static_cast<unsigned int>(sliceSize);
            for (unsigned int y = 0; y < sizeY; ++y) {
                for (unsigned int x = 0; x < sizeX; ++x) {
                    const std::size_t s = static_cast<std::size_t>(y) * sizeX + x;
                    lineYZ.setInputData(outputRead.begin() + s, sizeZ, strideZ);
                    lineYZ.setOutputData(output.begin() + s, sizeZ, strideZ);
                    lineYZ.execute();
                }
            }
        }
    }
}

template class CnRecursiveFilter<unsigned char, float>;
template class CnRecursiveFilter<float, float>;
template class CnRecursiveFilter<double, double>;
template class CnRecursiveFilter<math::CnVector3D<float>, math::CnVector3D<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
