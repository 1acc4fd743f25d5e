// The line filter: the mirrored, resampled line is built once, then every
// output sums its window (in double for scalars, in float per component for
// vectors); pieces of a long line run as tasks on the executor.
#include <nvfiltering/convolution/Cn1dSpatialFilter.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/detail/ConvolutionLine.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

using Vec3f = math::CnVector3D<float>;

// Sum of one window and its conversion to the output type. Scalars: products
// and sum in double. Vectors: every component multiplied and summed in float.
template <class Out>
struct Store;

template <>
struct Store<unsigned char> {
    static unsigned char convert(double v) { return detail::roundToByte(v); }
};

template <>
struct Store<float> {
    static float convert(double v) { return static_cast<float>(v); }
};

template <class Pad, class Out, class Mul, class Add>
struct Window {
    static Out apply(const float* taps, std::size_t count, const Pad* samples, std::uint64_t up) {
        double sum = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            sum += static_cast<double>(taps[k]) * static_cast<double>(samples[k]);
        }
        sum *= static_cast<double>(up);
        return Store<Out>::convert(sum);
    }
};

template <class Mul, class Add>
struct Window<Vec3f, Vec3f, Mul, Add> {
    static Vec3f apply(const float* taps, std::size_t count, const Vec3f* samples, std::uint64_t up) {
        const Mul mul;
        const Add add;
        Vec3f sum(0.0f, 0.0f, 0.0f);
        for (std::size_t k = 0; k < count; ++k) {
            sum.x = add(sum.x, mul(taps[k], samples[k].x));
            sum.y = add(sum.y, mul(taps[k], samples[k].y));
            sum.z = add(sum.z, mul(taps[k], samples[k].z));
        }
        const float gain = static_cast<float>(up);
        return Vec3f(mul(sum.x, gain), mul(sum.y, gain), mul(sum.z, gain));
    }
};

}  // namespace

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::Cn1dSpatialFilter()
    : Cn1dFilter<In, Out, InIt, OutIt>(), m_kernel(CnKernelFactory<K>::id()) {}

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::Cn1dSpatialFilter(const Cn1dSpatialFilter& other)
    : Cn1dFilter<In, Out, InIt, OutIt>(), m_kernel(other.m_kernel) {}

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>&
Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::operator=(const Cn1dSpatialFilter& other) {
    m_kernel = other.m_kernel;
    return *this;
}

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::~Cn1dSpatialFilter() = default;

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
void Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::setKernel(const CnKernel<K>& kernel) {
    m_kernel = kernel;
}

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
const CnKernel<K>& Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::getKernel() const {
    return m_kernel;
}

template <class In, class Out, class K, class Acc, class Mul, class Add, class InIt, class OutIt>
void Cn1dSpatialFilter<In, Out, K, Acc, Mul, Add, InIt, OutIt>::execute() {
    if (!this->m_inputStart || this->m_inputLength == 0 || this->m_inputStride == 0 || !this->m_outputStart ||
        this->m_outputLength == 0 || this->m_outputStride == 0) {
        throwThrowable(messages::kFilterNotInitialized);
    }
    const detail::LineGeometry g =
        detail::lineGeometry(this->m_inputLength, this->m_outputLength, m_kernel.size());
    if (g.inputLength < g.taps) {
        throwThrowable(messages::kDataSmallerThanKernel);
    }
    if (!g.windowFits()) {
        throwThrowable(messages::kSpatialOutputTooLong);
    }

    const std::size_t n = static_cast<std::size_t>(g.inputLength);
    const std::size_t m = static_cast<std::size_t>(g.outputLength);
    const std::size_t taps = static_cast<std::size_t>(g.taps);
    const std::size_t h = static_cast<std::size_t>(g.half);
    const std::size_t u = static_cast<std::size_t>(g.upsampled);
    const std::size_t up = static_cast<std::size_t>(g.up);
    const std::size_t down = static_cast<std::size_t>(g.down);
    const std::size_t inStride = this->m_inputStride;
    const std::size_t outStride = this->m_outputStride;

    // The padded line: the up-sampled samples from index h on, mirrored about the
    // first sample to the left and about the last sample to the right.
    std::vector<In> padded(u + taps, In());
    for (std::size_t k = 0; k < n; ++k) {
        padded[h + k * up] = this->m_inputStart[k * inStride];
    }
    for (std::size_t i = 1; i <= h; ++i) {
        padded[h - i] = padded[h + i];
    }
    for (std::size_t i = 1; i <= taps - h; ++i) {
        if (h + u >= 1 + i) {  // with one tap and one sample the last element has no mirror source
            padded[h + u - 1 + i] = padded[h + u - 1 - i];
        }
    }

    // Every output reads only the padded copy, so long lines are cut into
    // pieces of outputs that run as separate tasks.
    const float* kernel = m_kernel.begin();
    OutIt outputStart = this->m_outputStart;
    const In* paddedData = padded.data();
    const auto outputs = [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            outputStart[j * outStride] = Window<In, Out, Mul, Add>::apply(kernel, taps, paddedData + j * down, g.up);
        }
    };
    constexpr std::size_t kPieceOutputs = std::size_t{1} << 14;
    detail::parallelRanges(this->getExecutor(), m, kPieceOutputs, outputs);
}

template class Cn1dSpatialFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>,
                                 ImageConstIt<unsigned char>, ImageIt<unsigned char>>;
template class Cn1dSpatialFilter<unsigned char, float, float, float, std::multiplies<float>, std::plus<float>,
                                 ImageConstIt<unsigned char>, ImageIt<float>>;
template class Cn1dSpatialFilter<float, unsigned char, float, float, std::multiplies<float>, std::plus<float>,
                                 ImageConstIt<float>, ImageIt<unsigned char>>;
template class Cn1dSpatialFilter<float, float, float, float, std::multiplies<float>, std::plus<float>,
                                 ImageConstIt<float>, ImageIt<float>>;
template class Cn1dSpatialFilter<math::CnVector3D<float>, math::CnVector3D<float>, float, math::CnVector3D<float>,
                                 std::multiplies<float>, std::plus<float>, ImageConstIt<math::CnVector3D<float>>,
                                 ImageIt<math::CnVector3D<float>>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
