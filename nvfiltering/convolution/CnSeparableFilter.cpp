// The separable filter: checks, the fused sweep where it is exact, otherwise the
// X, Y and Z passes (multi-line for scalar data, line by line for vectors), each
// pass cut into independent bands of lines for the executor.
#include <nvfiltering/convolution/CnSeparableFilter.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

#include <nvfiltering/convolution/Cn1dSpatialFilter.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/detail/CheckedSize.h>
#include <nvfiltering/convolution/detail/ConvolutionLine.h>
#include <nvfiltering/convolution/detail/FusedSeparable.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

using imaging::Image;

// Voxel type of the intermediate volumes: float for 8-bit and float data,
// double for 16-bit data (a float temporary would round sums beyond 2^24) and
// double data, the
// vector itself for vector data.
template <class In>
struct Intermediate {
    using type = float;
};
template <>
struct Intermediate<unsigned short> {
    using type = double;
};
template <>
struct Intermediate<short> {
    using type = double;
};
template <>
struct Intermediate<double> {
    using type = double;
};
template <>
struct Intermediate<math::CnVector3D<float>> {
    using type = math::CnVector3D<float>;
};

// One axis pass run line by line through Cn1dSpatialFilter: the line filter is
// created once per pass and re-pointed at every line.
template <class Src, class Dst, class Acc, class Mul, class Add>
class LinePass {
public:
    LinePass(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst) : m_src(src), m_dst(dst) {
        m_filter.setKernel(kernel);
    }

    void line(std::size_t srcStart, unsigned int n, unsigned int srcStride, std::size_t dstStart, unsigned int m,
              unsigned int dstStride) {
        m_filter.setInputData(m_src.begin() + srcStart, n, srcStride);
        m_filter.setOutputData(m_dst.begin() + dstStart, m, dstStride);
        m_filter.execute();
    }

private:
    Cn1dSpatialFilter<Src, Dst, float, Acc, Mul, Add, ImageConstIt<Src>, ImageIt<Dst>> m_filter;
    const Image<Src>& m_src;
    Image<Dst>& m_dst;
};

// Lengths of one separable run: input (iX, iY, iZ), output (oX, oY, oZ).
using Dims = detail::SeparableDims;

// Lines per task of the line-by-line passes.
constexpr std::size_t kLinesPerTask = 256;

// X pass: every row of the input, length iX, into rows of length oX. Each task
// has its own line filter.
template <class Acc, class Mul, class Add, class Src, class Dst>
void passXByLines(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst, const Dims& d,
                  CnExecutor* executor) {
    detail::parallelRanges(executor, d.iY * d.iZ, kLinesPerTask, [&](std::size_t begin, std::size_t end) {
        LinePass<Src, Dst, Acc, Mul, Add> pass(kernel, src, dst);
        for (std::size_t r = begin; r < end; ++r) {
            pass.line(r * d.iX, static_cast<unsigned int>(d.iX), 1u, r * d.oX, static_cast<unsigned int>(d.oX), 1u);
        }
    });
}

// Y pass: every column of every slice (stride oX), length iY, into length oY.
template <class Acc, class Mul, class Add, class Src, class Dst>
void passYByLines(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst, const Dims& d,
                  CnExecutor* executor) {
    const unsigned int stride = static_cast<unsigned int>(d.oX);
    detail::parallelRanges(executor, d.iZ * d.oX, kLinesPerTask, [&](std::size_t begin, std::size_t end) {
        LinePass<Src, Dst, Acc, Mul, Add> pass(kernel, src, dst);
        for (std::size_t l = begin; l < end; ++l) {
            const std::size_t z = l / d.oX, x = l % d.oX;
            pass.line(z * d.oX * d.iY + x, static_cast<unsigned int>(d.iY), stride, z * d.oX * d.oY + x,
                      static_cast<unsigned int>(d.oY), stride);
        }
    });
}

// Z pass: every line across the slices (stride oX * oY), length iZ, into length oZ.
template <class Acc, class Mul, class Add, class Src, class Dst>
void passZByLines(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst, const Dims& d,
                  CnExecutor* executor) {
    const unsigned int stride = static_cast<unsigned int>(d.oX * d.oY);
    detail::parallelRanges(executor, d.oY * d.oX, kLinesPerTask, [&](std::size_t begin, std::size_t end) {
        LinePass<Src, Dst, Acc, Mul, Add> pass(kernel, src, dst);
        for (std::size_t l = begin; l < end; ++l) {
            pass.line(l, static_cast<unsigned int>(d.iZ), stride, l, static_cast<unsigned int>(d.oZ), stride);
        }
    });
}

// Multi-line passes for scalar data. These compute exactly what the line-by-line passes compute, bit for bit: each
// output is 0.0 plus, in kernel order, the products kernel[k] * sample formed in
// double, then times the up-sampling factor, then converted once. They differ
// only in how the samples are reached: the padded line is described once per
// pass by a map from padded index to input sample, rows are read through raw
// pointers, the Y and Z passes process all adjacent lines (columns) at once so
// that the inner loops run over contiguous memory, and the sums of a group of
// outputs stay in registers while the taps are added.
//
// A pass may also run in float instead of double when float provably gives the
// same numbers (detail::floatIsExact): 8-bit input starts with integers up to
// 255, and each exact pass hands the bound of its results on to the next.

// Width of the column blocks of the Y and Z passes.
constexpr std::size_t kColumnBlock = 1024;
// Samples per task of the X pass (at least 16 rows).
constexpr std::size_t kBandSamples = std::size_t{1} << 16;

using detail::floatIsExact;
using detail::SampleBound;

// Everything one pass needs about its kernel and line lengths; A is the
// arithmetic type (double, or float where it is exact).
template <class A>
struct PassPlan {
    detail::LineGeometry geometry;
    std::vector<A> taps;
    std::vector<std::int64_t> map;  // padded index -> input sample, or -1 for a zero
    A gain = 1;
};

template <class A>
PassPlan<A> makePlan(std::size_t n, std::size_t m, const CnKernel<float>& kernel) {
    PassPlan<A> plan;
    plan.geometry =
        detail::lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), kernel.size());
    plan.taps.assign(kernel.begin(), kernel.end());
    plan.map = detail::paddedSourceMap(plan.geometry);
    plan.gain = static_cast<A>(plan.geometry.up);
    return plan;
}

template <class A>
inline void storeResults(const A* acc, A gain, float* out, std::size_t count) {
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = static_cast<float>(acc[c] * gain);
    }
}

template <class A>
inline void storeResults(const A* acc, A gain, double* out, std::size_t count) {
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = static_cast<double>(acc[c] * gain);
    }
}

// 16-bit results: rounded half up and clamped to the type's range, as 8-bit
// results are to 0 ... 255; not-a-number (only from a kernel that is not
// finite) becomes 0.
template <class T>
inline T roundToShort(double v) {
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
    if (v != v) {
        return T(0);
    }
    const double r = std::floor(v + 0.5);
    return static_cast<T>(r > hi ? hi : (r < lo ? lo : r));
}

template <class A>
inline void storeResults(const A* acc, A gain, unsigned short* out, std::size_t count) {
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = roundToShort<unsigned short>(static_cast<double>(acc[c] * gain));
    }
}

template <class A>
inline void storeResults(const A* acc, A gain, short* out, std::size_t count) {
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = roundToShort<short>(static_cast<double>(acc[c] * gain));
    }
}

template <class A>
inline void storeResults(const A* acc, A gain, unsigned char* out, std::size_t count) {
    // Clamp and round half up as detail::roundToByte does; for 0 <= v <= 255
    // truncating v + 0.5 is its floor. Not-a-number is redone the general way.
    bool sawNaN = false;
    for (std::size_t c = 0; c < count; ++c) {
        const double v = static_cast<double>(acc[c] * gain);
        sawNaN |= (v != v);
        double clamped = v > 255.0 ? 255.0 : v;
        clamped = clamped >= 0.0 ? clamped : 0.0;
        out[c] = static_cast<unsigned char>(static_cast<int>(clamped + 0.5));
    }
    if (sawNaN) {
        for (std::size_t c = 0; c < count; ++c) {
            const double v = static_cast<double>(acc[c] * gain);
            if (v != v) {
                out[c] = detail::roundToByte(v);
            }
        }
    }
}

// out[i] = convert(gain * (0 + taps[0] * rows[0][i] + taps[1] * rows[1][i] + ...)) for
// i < count, the terms added in the order given, in arithmetic A. Groups of
// sums are kept in registers while the rows are added.
template <class A, class S, class D>
void accumulateRows(const A* taps, const S* const* rows, std::size_t nrows, std::size_t count, A gain, D* out) {
    constexpr std::size_t kGroup = 64 / sizeof(A);
    std::size_t i = 0;
    for (; i + kGroup <= count; i += kGroup) {
        A a[kGroup] = {};
        for (std::size_t r = 0; r < nrows; ++r) {
            const A t = taps[r];
            const S* s = rows[r] + i;
            for (std::size_t q = 0; q < kGroup; ++q) {
                a[q] += t * static_cast<A>(s[q]);
            }
        }
        storeResults(a, gain, out + i, kGroup);
    }
    if (i < count) {
        A a[kGroup] = {};
        const std::size_t rest = count - i;
        for (std::size_t r = 0; r < nrows; ++r) {
            const A t = taps[r];
            const S* s = rows[r] + i;
            for (std::size_t q = 0; q < rest; ++q) {
                a[q] += t * static_cast<A>(s[q]);
            }
        }
        storeResults(a, gain, out + i, rest);
    }
}

// X pass over `rows` contiguous rows: each row of n samples becomes a row of m.
// The row is widened into the padded line (U + K values). When down > 1 the
// padded line is split into `down` phases (phase r holds padded indices r,
// r + down, ...), so that the window of output j starts at index j of phase
// k % down for tap k; either way every tap reads one contiguous run.
template <class A, class Src, class Dst>
void passXFast(const CnKernel<float>& kernel, const Src* src, Dst* dst, std::size_t rows, std::size_t n,
               std::size_t m) {
    const PassPlan<A> plan = makePlan<A>(n, m, kernel);
    const std::size_t taps = plan.taps.size();
    const std::size_t up = static_cast<std::size_t>(plan.geometry.up);
    const std::size_t down = static_cast<std::size_t>(plan.geometry.down);
    const std::size_t h = static_cast<std::size_t>(plan.geometry.half);
    const std::size_t u = static_cast<std::size_t>(plan.geometry.upsampled);
    const std::size_t padded = plan.map.size();
    const std::size_t phaseLength = (padded + down - 1) / down;

    std::vector<A> line(padded, A(0));
    std::vector<A> phases(down > 1 ? down * phaseLength : 0, A(0));
    std::vector<const A*> windows(taps);
    const A* base = down > 1 ? phases.data() : line.data();
    for (std::size_t k = 0; k < taps; ++k) {
        windows[k] = down > 1 ? base + (k % down) * phaseLength + k / down : base + k;
    }
    for (std::size_t r = 0; r < rows; ++r) {
        const Src* in = src + r * n;
        A* lp = line.data();
        if (up == 1) {
            A* middle = lp + h;
            for (std::size_t x = 0; x < n; ++x) {
                middle[x] = static_cast<A>(in[x]);
            }
            for (std::size_t p = 0; p < h; ++p) {
                lp[p] = plan.map[p] >= 0 ? static_cast<A>(in[plan.map[p]]) : A(0);
            }
            for (std::size_t p = h + u; p < padded; ++p) {
                lp[p] = plan.map[p] >= 0 ? static_cast<A>(in[plan.map[p]]) : A(0);
            }
        } else {
            for (std::size_t p = 0; p < padded; ++p) {
                lp[p] = plan.map[p] >= 0 ? static_cast<A>(in[plan.map[p]]) : A(0);
            }
        }
        if (down == 2) {
            A* even = phases.data();
            A* odd = even + phaseLength;
            const std::size_t pairs = padded / 2;
            for (std::size_t i = 0; i < pairs; ++i) {
                even[i] = lp[2 * i];
                odd[i] = lp[2 * i + 1];
            }
            if (padded % 2 != 0) {
                even[pairs] = lp[padded - 1];
            }
        } else if (down > 2) {
            for (std::size_t p = 0; p < padded; ++p) {
                phases[(p % down) * phaseLength + p / down] = lp[p];
            }
        }
        accumulateRows(plan.taps.data(), windows.data(), taps, m, plan.gain, dst + r * m);
    }
}

// A pass along lines that lie side by side: line c has sample i at
// src[c + i * srcStride] and output j at dst[c + j * dstStride], c < width. Used
// for Y (per slice, the columns) and for Z (the lines through all slices). For
// output j every tap contributes one contiguous input row. A padded position
// without a sample adds kernel[k] * 0, which leaves a sum that started at +0
// unchanged unless the tap is not finite; only then is it added (as a row of
// zeros).
template <class A, class Src, class Dst>
void passColumnsFast(const PassPlan<A>& plan, const Src* src, std::size_t srcStride, Dst* dst, std::size_t dstStride,
                     std::size_t width, std::size_t m, const Src* zeros) {
    const std::size_t taps = plan.taps.size();
    const std::size_t down = static_cast<std::size_t>(plan.geometry.down);
    std::vector<const Src*> rows(taps);
    std::vector<A> rowTaps(taps);
    std::vector<const Src*> blockRows(taps);
    for (std::size_t j = 0; j < m; ++j) {
        std::size_t used = 0;
        for (std::size_t k = 0; k < taps; ++k) {
            const std::int64_t sample = plan.map[j * down + k];
            if (sample >= 0) {
                rows[used] = src + static_cast<std::size_t>(sample) * srcStride;
            } else if (!std::isfinite(plan.taps[k])) {
                rows[used] = nullptr;
            } else {
                continue;
            }
            rowTaps[used++] = plan.taps[k];
        }
        Dst* out = dst + j * dstStride;
        for (std::size_t c0 = 0; c0 < width; c0 += kColumnBlock) {
            const std::size_t w = std::min(kColumnBlock, width - c0);
            for (std::size_t r = 0; r < used; ++r) {
                blockRows[r] = rows[r] == nullptr ? zeros : rows[r] + c0;
            }
            accumulateRows(rowTaps.data(), blockRows.data(), used, w, plan.gain, out + c0);
        }
    }
}

// X pass over every row, bands of rows as tasks.
template <class A, class Src, class Dst>
void passXBands(const CnKernel<float>& kernel, const Src* src, Dst* dst, const Dims& d, CnExecutor* executor) {
    detail::parallelRanges(executor, d.iY * d.iZ, std::max<std::size_t>(16, kBandSamples / d.iX),
                           [&](std::size_t begin, std::size_t end) {
                               passXFast<A>(kernel, src + begin * d.iX, dst + begin * d.oX, end - begin, d.iX, d.oX);
                           });
}

// Y pass, one task per slice and block of kColumnBlock columns. In place (src ==
// dst, only when oY = iY) each task first copies its columns aside, so that no
// output overwrites a sample still to be read.
template <class A, class Src, class Dst>
void passYFast(const CnKernel<float>& kernel, const Image<Src>& srcImage, Image<Dst>& dstImage, const Dims& d,
               CnExecutor* executor) {
    const PassPlan<A> plan = makePlan<A>(d.iY, d.oY, kernel);
    const std::vector<Src> zeros(kColumnBlock, Src());
    const std::size_t srcSlice = d.oX * d.iY, dstSlice = d.oX * d.oY;
    const bool inPlace = static_cast<const void*>(srcImage.data()) == static_cast<const void*>(dstImage.data());
    const std::size_t blocks = (d.oX + kColumnBlock - 1) / kColumnBlock;
    detail::parallelFor(executor, d.iZ * blocks, [&](std::size_t task) {
        const std::size_t z = task / blocks, c0 = (task % blocks) * kColumnBlock;
        const std::size_t w = std::min(kColumnBlock, d.oX - c0);
        const Src* src = srcImage.data() + z * srcSlice + c0;
        std::size_t stride = d.oX;
        std::vector<Src> copy;
        if (inPlace) {
            copy.resize(w * d.iY);
            for (std::size_t i = 0; i < d.iY; ++i) {
                std::copy(src + i * d.oX, src + i * d.oX + w, copy.begin() + static_cast<std::ptrdiff_t>(i * w));
            }
            src = copy.data();
            stride = w;
        }
        passColumnsFast(plan, src, stride, dstImage.data() + z * dstSlice + c0, d.oX, w, d.oY, zeros.data());
    });
}

// Z pass, one task per block of columns of kColumnBlock samples.
template <class A, class Src, class Dst>
void passZFast(const CnKernel<float>& kernel, const Image<Src>& srcImage, Image<Dst>& dstImage, const Dims& d,
               CnExecutor* executor) {
    const PassPlan<A> plan = makePlan<A>(d.iZ, d.oZ, kernel);
    const std::vector<Src> zeros(kColumnBlock, Src());
    const std::size_t slice = d.oX * d.oY;
    const std::size_t blocks = (slice + kColumnBlock - 1) / kColumnBlock;
    detail::parallelFor(executor, blocks, [&](std::size_t b) {
        const std::size_t c0 = b * kColumnBlock;
        passColumnsFast(plan, srcImage.data() + c0, slice, dstImage.data() + c0, slice,
                        std::min(kColumnBlock, slice - c0), d.oZ, zeros.data());
    });
}

// The passes of one instantiation, run in the order X, Y, Z by executeWithTmp:
// line by line through Cn1dSpatialFilter for vector voxels, ...
template <class In, class Acc, class Mul, class Add>
class Passes {
public:
    explicit Passes(CnExecutor* executor) : m_executor(executor) {}
    template <class Src, class Dst>
    void x(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        passXByLines<Acc, Mul, Add>(k, src, dst, d, m_executor);
    }
    template <class Src, class Dst>
    void y(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        passYByLines<Acc, Mul, Add>(k, src, dst, d, m_executor);
    }
    template <class Src, class Dst>
    void z(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        passZByLines<Acc, Mul, Add>(k, src, dst, d, m_executor);
    }

private:
    CnExecutor* m_executor;
};

// ... and the multi-line passes for 8-bit voxels, each in float when that is
// exact for the samples it reads, otherwise in double.
template <class Acc, class Mul, class Add>
class Passes<unsigned char, Acc, Mul, Add> {
public:
    explicit Passes(CnExecutor* executor) : m_executor(executor), m_bound(detail::byteSampleBound()) {}
    template <class Src, class Dst>
    void x(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        if (advance(k, d.iX, d.oX)) {
            passXBands<float>(k, src.data(), dst.data(), d, m_executor);
        } else {
            passXBands<double>(k, src.data(), dst.data(), d, m_executor);
        }
    }
    template <class Src, class Dst>
    void y(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        if (advance(k, d.iY, d.oY)) {
            passYFast<float>(k, src, dst, d, m_executor);
        } else {
            passYFast<double>(k, src, dst, d, m_executor);
        }
    }
    template <class Src, class Dst>
    void z(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        if (advance(k, d.iZ, d.oZ)) {
            passZFast<float>(k, src, dst, d, m_executor);
        } else {
            passZFast<double>(k, src, dst, d, m_executor);
        }
    }

private:
    // Whether the next pass is exact in float; updates the bound of its output.
    bool advance(const CnKernel<float>& k, std::size_t n, std::size_t m) {
        const detail::LineGeometry g =
            detail::lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), k.size());
        SampleBound next;
        const bool exact = floatIsExact(m_bound, k, g.up, next);
        m_bound = next;
        return exact;
    }

    CnExecutor* m_executor;
    SampleBound m_bound;
};

// ... and for 16-bit and float voxels, every pass in double (the products and
// sums the line filter forms), multi-line. 16-bit intermediates are double, so
// a level is the exact weighted sum, rounded once at the end.
template <class Acc, class Mul, class Add>
class DoublePasses {
public:
    explicit DoublePasses(CnExecutor* executor) : m_executor(executor) {}
    template <class Src, class Dst>
    void x(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        passXBands<double>(k, src.data(), dst.data(), d, m_executor);
    }
    template <class Src, class Dst>
    void y(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        passYFast<double>(k, src, dst, d, m_executor);
    }
    template <class Src, class Dst>
    void z(const CnKernel<float>& k, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
        passZFast<double>(k, src, dst, d, m_executor);
    }

private:
    CnExecutor* m_executor;
};

template <class Acc, class Mul, class Add>
class Passes<unsigned short, Acc, Mul, Add> : public DoublePasses<Acc, Mul, Add> {
    using DoublePasses<Acc, Mul, Add>::DoublePasses;
};
template <class Acc, class Mul, class Add>
class Passes<short, Acc, Mul, Add> : public DoublePasses<Acc, Mul, Add> {
    using DoublePasses<Acc, Mul, Add>::DoublePasses;
};
template <class Acc, class Mul, class Add>
class Passes<float, Acc, Mul, Add> : public DoublePasses<Acc, Mul, Add> {
    using DoublePasses<Acc, Mul, Add>::DoublePasses;
};
template <class Acc, class Mul, class Add>
class Passes<double, Acc, Mul, Add> : public DoublePasses<Acc, Mul, Add> {
    using DoublePasses<Acc, Mul, Add>::DoublePasses;
};

// The fused sweep of all passes, for 8-bit data whose passes are all exact in
// float; false when it does not apply and the passes are to run one by one.
template <class In, class Out>
struct Fused {
    static bool run(const CnKernel<float>&, const CnKernel<float>&, const CnKernel<float>&, const Dims&,
                    const Image<In>&, Image<Out>&, CnExecutor*) {
        return false;
    }
};

template <>
struct Fused<unsigned char, unsigned char> {
    static bool run(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz, const Dims& d,
                    const Image<unsigned char>& in, Image<unsigned char>& out, CnExecutor* executor) {
        if (!detail::fusedSeparableApplies(kx, ky, kz, d)) {
            return false;
        }
        detail::runFusedSeparable(kx, ky, kz, d, in.data(), out.data(), executor);
        return true;
    }
};

// 16-bit data whose taps are dyadic and whose sums fit 32-bit integers: the
// fused sweep in integers, the exact sums rounded once, as the double passes.
template <class S>
struct FusedSixteenBit {
    static bool run(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz, const Dims& d,
                    const Image<S>& in, Image<S>& out, CnExecutor* executor) {
        int exponents[3];
        if (!detail::sixteenBitPlan(kx, ky, kz, d, std::is_signed<S>::value, exponents)) {
            return false;
        }
        detail::runFusedSixteenBit(kx, ky, kz, d, exponents, in.data(), out.data(), executor);
        return true;
    }
};
template <>
struct Fused<unsigned short, unsigned short> : FusedSixteenBit<unsigned short> {};
template <>
struct Fused<short, short> : FusedSixteenBit<short> {};

void checkAxis(unsigned int n, unsigned int m, const CnKernel<float>& kernel, const char* tooLong) {
    const detail::LineGeometry g = detail::lineGeometry(n, m, kernel.size());
    if (g.inputLength < g.taps) {
        throwThrowable(messages::kDataSmallerThanKernel);
    }
    if (!g.windowFits()) {
        throwThrowable(tooLong);
    }
}

}  // namespace

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>::CnSeparableFilter()
    : CnFilter<In, Out>(),
      m_kernelX(CnKernelFactory<K>::id()),
      m_kernelY(CnKernelFactory<K>::id()),
      m_kernelZ(CnKernelFactory<K>::id()) {}

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>::CnSeparableFilter(const CnSeparableFilter& other)
    : CnFilter<In, Out>(), m_kernelX(other.m_kernelX), m_kernelY(other.m_kernelY), m_kernelZ(other.m_kernelZ) {}

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>& CnSeparableFilter<In, Out, K, Acc, Mul, Add>::operator=(
    const CnSeparableFilter& other) {
    m_kernelX = other.m_kernelX;
    m_kernelY = other.m_kernelY;
    m_kernelZ = other.m_kernelZ;
    return *this;
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>::~CnSeparableFilter() = default;

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::setKernel(const CnKernel<K>& kernel, CnCoord::Axis axis) {
    const std::int32_t bits = static_cast<std::int32_t>(axis);
    if ((bits & CnCoord::X) != 0) {
        m_kernelX = kernel;
    }
    if ((bits & CnCoord::Y) != 0) {
        m_kernelY = kernel;
    }
    if ((bits & CnCoord::Z) != 0) {
        m_kernelZ = kernel;
    }
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
const CnKernel<K>& CnSeparableFilter<In, Out, K, Acc, Mul, Add>::getKernel(CnCoord::Axis axis) const {
    const std::int32_t bits = static_cast<std::int32_t>(axis);
    if ((bits & CnCoord::X) != 0) {
        return m_kernelX;
    }
    if ((bits & CnCoord::Y) != 0) {
        return m_kernelY;
    }
    if ((bits & CnCoord::Z) != 0) {
        return m_kernelZ;
    }
    throwThrowable(messages::kUnknownAxisGetKernel);
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::v_execute() {
    checkDimensions();
    executeWithTmp();
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::checkDimensions() const {
    const Image<In>& input = *this->m_input;
    const Image<Out>& output = *this->m_output;
    if (input.getSizeX() == 0 || input.getSizeY() == 0 || input.getSizeZ() == 0) {
        throwThrowable(messages::kSeparableInputDimensionZero);
    }
    if (output.getSizeX() == 0 || output.getSizeY() == 0 || output.getSizeZ() == 0) {
        throwThrowable(messages::kSeparableOutputDimensionZero);
    }
    checkAxis(input.getSizeX(), output.getSizeX(), m_kernelX, messages::kSeparableOutputXTooLong);
    checkAxis(input.getSizeY(), output.getSizeY(), m_kernelY, messages::kSeparableOutputYTooLong);
    if (input.getSizeZ() > 1) {
        checkAxis(input.getSizeZ(), output.getSizeZ(), m_kernelZ, messages::kSeparableOutputZTooLong);
    }
    // The temporaries: X filtered (oX, iY, iZ) and X and Y filtered (oX, oY,
    // iZ); vectors are filtered line by line with 32-bit strides up to a slice.
    using Tmp = typename Intermediate<In>::type;
    const char* tooLarge = messages::kSeparableTemporaryTooLarge;
    detail::checkedVolume(output.getSizeX(), input.getSizeY(), input.getSizeZ(), sizeof(Tmp), tooLarge);
    detail::checkedVolume(output.getSizeX(), output.getSizeY(), input.getSizeZ(), sizeof(Tmp), tooLarge);
    if (std::is_same<In, math::CnVector3D<float>>::value &&
        detail::checkedProduct(output.getSizeX(), output.getSizeY(), tooLarge) >
            std::numeric_limits<unsigned int>::max()) {
        throwThrowable(tooLarge);
    }
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::executeWithTmp() {
    using Tmp = typename Intermediate<In>::type;
    const Image<In>& input = *this->m_input;
    Image<Out>& output = *this->m_output;
    const Dims d{input.getSizeX(), input.getSizeY(), input.getSizeZ(),
                 output.getSizeX(), output.getSizeY(), output.getSizeZ()};
    const CnKernel<K> kernelX = getKernel(CnCoord::X);
    const CnKernel<K> kernelY = getKernel(CnCoord::Y);
    const CnKernel<K> kernelZ = getKernel(CnCoord::Z);

    if (Fused<In, Out>::run(kernelX, kernelY, kernelZ, d, input, output, this->getExecutor())) {
        return;
    }
    // Temporaries are owned here so that they are released on every way out.
    std::unique_ptr<Image<Tmp>> t1(new Image<Tmp>(output.getSizeX(), input.getSizeY(), input.getSizeZ()));
    Passes<In, Acc, Mul, Add> run(this->getExecutor());
    run.x(kernelX, input, *t1, d);
    if (d.iZ <= 1) {
        run.y(kernelY, *t1, output, d);
        return;
    }
    std::unique_ptr<Image<Tmp>> t2Owned;
    Image<Tmp>* t2 = t1.get();
    if (d.oY != d.iY) {
        t2Owned.reset(new Image<Tmp>(output.getSizeX(), output.getSizeY(), input.getSizeZ()));
        t2 = t2Owned.get();
    }
    run.y(kernelY, *t1, *t2, d);
    if (t2Owned) {
        t1.reset();
    }
    run.z(kernelZ, *t2, output, d);
}

template class CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;
template class CnSeparableFilter<unsigned short, unsigned short, float, float, std::multiplies<float>,
                                 std::plus<float>>;
template class CnSeparableFilter<short, short, float, float, std::multiplies<float>, std::plus<float>>;
template class CnSeparableFilter<float, float, float, float, std::multiplies<float>, std::plus<float>>;
template class CnSeparableFilter<double, double, float, float, std::multiplies<float>, std::plus<float>>;
template class CnSeparableFilter<math::CnVector3D<float>, math::CnVector3D<float>, float, math::CnVector3D<float>,
                                 std::multiplies<float>, std::plus<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
