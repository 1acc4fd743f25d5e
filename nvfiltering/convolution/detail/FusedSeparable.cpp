// The fused sweep of an 8-bit separable filter whose passes are exact in float:
// X and Y rows filtered on first use into rings, Z sums formed per round of
// output slices; multi-versioned row kernels for the hot loops.
#include <nvfiltering/convolution/detail/ConvolutionLine.h>
#include <nvfiltering/convolution/detail/FusedSeparable.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/detail/Parallel.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// Hot loops are built for AVX2 as well as for the baseline and chosen when the
// library is loaded. Every value they form is exact (see floatIsExact), so the
// instruction set, fused multiply-adds and the order of the terms do not change
// a single result.

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

constexpr double kFloatExactLimit = 16777216.0;  // 2^24
constexpr double kInt32ExactLimit = 2147483647.0;  // 2^31 - 1
constexpr int kExponentLimit = 60;
// The last result v is rounded as floor(v + 0.5); with v a multiple of 2^-E in
// 0 ... 255, v + 0.5 needs at most 8 + E significant bits, exact in float for E <= 16.
constexpr int kRoundingExponentLimit = 16;
// Length of the pieces in which the Z window is summed before it is stored.
constexpr std::size_t kChunk = 4096;
// Bands of output rows of a single slice: at least kBandRows rows, so that the
// few X rows two bands both filter cost little, and about kBandSamples samples.
constexpr std::size_t kBandRows = 128;
constexpr std::size_t kBandSamples = std::size_t{1} << 14;
// Output slices of a volume per round (see runVolume). Each round ends in a
// wait for all its tasks; 8 rather than 4 made the 2-thread pyramid of a 256^3
// volume about 1.2 times as fast, at a ring of about 17 filtered input slices
// for a halving kernel of five taps.
constexpr std::size_t kRoundSlices = 8;

// Taps as n_k * 2^-exponent; sumAbs = sum of |n_k|. ok is false for taps that
// are not finite or need an exponent beyond the limit.
struct DyadicTaps {
    bool ok = true;
    int exponent = 0;
    double sumAbs = 0.0;
};

DyadicTaps dyadicTaps(const CnKernel<float>& kernel) {
    DyadicTaps d;
    bool any = false;
    for (const float* t = kernel.begin(); t != kernel.end(); ++t) {
        if (!std::isfinite(*t)) {
            d.ok = false;
            return d;
        }
        if (*t == 0.0f) {
            continue;
        }
        int x = 0;
        const double f = std::frexp(static_cast<double>(*t), &x);  // t = f * 2^x, 0.5 <= |f| < 1
        long long mantissa = static_cast<long long>(std::ldexp(std::fabs(f), 24));
        int e = 24 - x;
        while ((mantissa & 1) == 0) {
            mantissa >>= 1;
            --e;
        }
        d.exponent = any ? std::max(d.exponent, e) : e;
        any = true;
    }
    if (d.exponent > kExponentLimit || d.exponent < -kExponentLimit) {
        d.ok = false;
        return d;
    }
    for (const float* t = kernel.begin(); t != kernel.end(); ++t) {
        d.sumAbs += std::ldexp(std::fabs(static_cast<double>(*t)), d.exponent);
    }
    return d;
}

// --- Row kernels -----------------------------------------------------------------
//
// T is the sample type of the intermediate rows: float, or 16-bit unsigned
// integers where every sample and sum is a small non-negative integer (see
// integerPlan). Integer products and sums are formed in int and stored back;
// the plan guarantees that they fit.

template <std::size_t R, class T>
inline __attribute__((always_inline)) void weightedSumFixed(const T* const* src, const T* w, std::size_t count,
                                                            T* __restrict out) {
    const T* s[R];
    T c[R];
    for (std::size_t r = 0; r < R; ++r) {
        s[r] = src[r];
        c[r] = w[r];
    }
    for (std::size_t i = 0; i < count; ++i) {
        T acc = static_cast<T>(c[0] * s[0][i]);
        for (std::size_t r = 1; r < R; ++r) {
            acc = static_cast<T>(acc + c[r] * s[r][i]);
        }
        out[i] = acc;
    }
}

template <class T>
inline __attribute__((always_inline)) void weightedSumAny(const T* const* src, const T* w, std::size_t nrows,
                                                          std::size_t count, T* __restrict out) {
    switch (nrows) {
        case 0:
            std::fill(out, out + count, T(0));
            return;
        case 1:
            weightedSumFixed<1>(src, w, count, out);
            return;
        case 2:
            weightedSumFixed<2>(src, w, count, out);
            return;
        case 3:
            weightedSumFixed<3>(src, w, count, out);
            return;
        case 4:
            weightedSumFixed<4>(src, w, count, out);
            return;
        case 5:
            weightedSumFixed<5>(src, w, count, out);
            return;
        case 6:
            weightedSumFixed<6>(src, w, count, out);
            return;
        default:
            break;
    }
    weightedSumFixed<7>(src, w, count, out);
    for (std::size_t r = 7; r < nrows; ++r) {
        const T c = w[r];
        const T* s = src[r];
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<T>(out[i] + c * s[i]);
        }
    }
}

// out[i] = sum over r < nrows of w[r] * src[r][i], for i < count; 0 when nrows is 0.
// out must not overlap any source row. T: float, std::uint16_t or std::int32_t.
template <class T>
void weightedSum(const T* const* src, const T* w, std::size_t nrows, std::size_t count, T* __restrict out) {
    runWidest([&] { weightedSumAny(src, w, nrows, count, out); });
}

// 8-bit results from exact float values: above 255 gives 255, below 0 gives 0,
// otherwise floor(v + 0.5). For 0 <= v <= 255, v + 0.5 is exact (see above) and
// its truncation is the floor; above 255, v + 0.5 is at least 255.5 and is
// clamped there; below 0 it is below 0.5 and clamped to at least 0; both
// truncate to the clamped result.
NVF_ISA_BODY void storeBytesBody(const float* v, std::size_t count, int /*shift*/, unsigned char* __restrict out) {
    for (std::size_t i = 0; i < count; ++i) {
        float c = std::min(v[i] + 0.5f, 255.5f);
        c = std::max(c, 0.0f);
        out[i] = static_cast<unsigned char>(static_cast<std::int32_t>(c));
    }
}

void storeBytes(const float* v, std::size_t count, int shift, unsigned char* __restrict out) {
    runWidest([&] { storeBytesBody(v, count, shift, out); });
}

// 8-bit results from integers n standing for v = n * 2^-shift >= 0: floor(v + 0.5)
// is (n + 2^(shift - 1)) >> shift, and v above 255 gives at least 255. The
// integer plan keeps n + 2^(shift - 1) below 2^16.
NVF_ISA_BODY void storeBytesBody(const std::uint16_t* v, std::size_t count, int shift, unsigned char* __restrict out) {
    const std::uint16_t half = static_cast<std::uint16_t>(shift > 0 ? (1u << (shift - 1)) : 0u);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t q = static_cast<std::uint16_t>(static_cast<std::uint16_t>(v[i] + half) >> shift);
        out[i] = static_cast<unsigned char>(q > 255u ? 255u : q);
    }
}

void storeBytes(const std::uint16_t* v, std::size_t count, int shift, unsigned char* __restrict out) {
    runWidest([&] { storeBytesBody(v, count, shift, out); });
}

// 16-bit results from integers n standing for v = n * 2^-shift: floor(v + 0.5)
// is (n + 2^(shift - 1)) >> shift (an arithmetic shift: the floor for negative
// n too), clamped to Out's range. The 16-bit plan keeps n + 2^(shift - 1) within
// std::int32_t.
template <class Out>
NVF_ISA_BODY void storeShortsBody(const std::int32_t* v, std::size_t count, int shift, Out* __restrict out) {
    const std::int32_t half = shift > 0 ? (std::int32_t{1} << (shift - 1)) : 0;
    constexpr std::int32_t lo = std::numeric_limits<Out>::min(), hi = std::numeric_limits<Out>::max();
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t q = (v[i] + half) >> shift;
        out[i] = static_cast<Out>(q < lo ? lo : (q > hi ? hi : q));
    }
}

template <class Out>
void storeBytes(const std::int32_t* v, std::size_t count, int shift, Out* __restrict out) {
    runWidest([&] { storeShortsBody(v, count, shift, out); });
}

template <class S, class T>
inline __attribute__((always_inline)) void widenAny(const S* in, std::size_t count, T* __restrict out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<T>(in[i]);
    }
}

template <class S, class T>
void widen(const S* in, std::size_t count, T* __restrict out) {
    runWidest([&] { widenAny(in, count, out); });
}

// even[i] = in[2i], odd[i] = in[2i + 1] for i < pairs.
template <class S, class T>
inline __attribute__((always_inline)) void splitPairsAny(const S* in, std::size_t pairs, T* __restrict even,
                                                         T* __restrict odd) {
    for (std::size_t i = 0; i < pairs; ++i) {
        even[i] = static_cast<T>(in[2 * i]);
        odd[i] = static_cast<T>(in[2 * i + 1]);
    }
}

template <class S, class T>
void splitPairs(const S* in, std::size_t pairs, T* __restrict even, T* __restrict odd) {
    runWidest([&] { splitPairsAny(in, pairs, even, odd); });
}

// Weight of a tap in the arithmetic T: tap * gain in float; the integer
// tap * gain * 2^exponent for the integer rows.
template <class T>
T weightOf(float tap, std::uint64_t gain, int exponent);
template <>
float weightOf<float>(float tap, std::uint64_t gain, int /*exponent*/) {
    return tap * static_cast<float>(gain);
}
template <>
std::uint16_t weightOf<std::uint16_t>(float tap, std::uint64_t gain, int exponent) {
    return static_cast<std::uint16_t>(std::ldexp(static_cast<double>(tap), exponent) * static_cast<double>(gain));
}
template <>
std::int32_t weightOf<std::int32_t>(float tap, std::uint64_t gain, int exponent) {
    return static_cast<std::int32_t>(std::ldexp(static_cast<double>(tap), exponent) * static_cast<double>(gain));
}

// --- X: one row at a time -----------------------------------------------------------

// Filters rows of n input samples (S: bytes or 16-bit integers) into rows of m
// samples. The padded line (mirrored
// ends, zeros of the up-sampling) is built in T; when down > 1 it is kept as
// `down` phases (phase r holds padded indices r, r + down, ...), so that for
// every tap the window of outputs 0 ... m - 1 is one contiguous run.
template <class S, class T>
class RowFilter {
public:
    RowFilter(const CnKernel<float>& kernel, std::size_t n, std::size_t m, int exponent)
        : m_geometry(lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), kernel.size())),
          m_map(paddedSourceMap(m_geometry)) {
        m_n = n;
        m_m = m;
        m_h = static_cast<std::size_t>(m_geometry.half);
        m_up = static_cast<std::size_t>(m_geometry.up);
        m_down = static_cast<std::size_t>(m_geometry.down);
        m_padded = m_map.size();
        m_phaseLength = (m_padded + m_down - 1) / m_down;
        m_buffer.assign(m_down * m_phaseLength, T(0));
        const std::size_t taps = kernel.size();
        for (std::size_t k = 0; k < taps; ++k) {
            m_weights.push_back(weightOf<T>(kernel.begin()[k], m_geometry.up, exponent));
            m_windows.push_back(m_buffer.data() + (k % m_down) * m_phaseLength + k / m_down);
        }
    }
    RowFilter(const RowFilter&) = delete;
    RowFilter& operator=(const RowFilter&) = delete;

    void run(const S* in, T* out) {
        T* buf = m_buffer.data();
        if (m_down == 1 && m_up == 1) {
            widen(in, m_n, buf + m_h);
            fill(in, 0, m_h);
            fill(in, m_h + m_n, m_padded);
        } else if (m_down == 2 && m_up == 1) {
            // Padded index h + x holds in[x]: even x go to phase h % 2 from index
            // h / 2 on, odd x to phase (h + 1) % 2 from index (h + 1) / 2 on.
            const std::size_t pairs = m_n / 2;
            splitPairs(in, pairs, buf + (m_h % 2) * m_phaseLength + m_h / 2,
                       buf + ((m_h + 1) % 2) * m_phaseLength + (m_h + 1) / 2);
            fill(in, 0, m_h);
            fill(in, m_h + 2 * pairs, m_padded);
        } else {
            fill(in, 0, m_padded);
        }
        weightedSum(m_windows.data(), m_weights.data(), m_windows.size(), m_m, out);
    }

private:
    // Padded indices [begin, end) from the source map.
    void fill(const S* in, std::size_t begin, std::size_t end) {
        T* buf = m_buffer.data();
        for (std::size_t p = begin; p < end; ++p) {
            const std::int64_t s = m_map[p];
            buf[(p % m_down) * m_phaseLength + p / m_down] =
                s >= 0 ? static_cast<T>(in[static_cast<std::size_t>(s)]) : T(0);
        }
    }

    LineGeometry m_geometry;
    std::vector<std::int64_t> m_map;
    std::size_t m_n = 0, m_m = 0, m_h = 0, m_up = 1, m_down = 1, m_padded = 0, m_phaseLength = 0;
    std::vector<T> m_buffer;
    std::vector<T> m_weights;
    std::vector<const T*> m_windows;
};

// --- Y and Z: windows of whole rows or slices -------------------------------------

// For every output j of an axis, the input samples (rows or slices) its window
// reads and their weights. Padded positions without a sample (inserted zeros)
// add tap * 0 = 0 and are left out. `slots` is the size of a ring that holds
// every window at once: windows span at most slots - 1 consecutive samples, so
// sample s can live in slot s % slots.
template <class T>
struct AxisTerms {
    std::vector<std::size_t> first;  // terms of output j: first[j] ... first[j + 1] - 1
    std::vector<std::size_t> sample;
    std::vector<T> weight;
    std::size_t slots = 1;
    std::size_t widest = 0;  // most terms of one output
};

template <class T>
AxisTerms<T> axisTerms(const CnKernel<float>& kernel, std::size_t n, std::size_t m, int exponent) {
    const LineGeometry g = lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), kernel.size());
    const std::vector<std::int64_t> map = paddedSourceMap(g);
    const std::size_t taps = kernel.size();
    const std::size_t down = static_cast<std::size_t>(g.down);
    AxisTerms<T> t;
    std::size_t span = 0;
    t.first.push_back(0);
    for (std::size_t j = 0; j < m; ++j) {
        std::size_t lo = std::numeric_limits<std::size_t>::max(), hi = 0;
        for (std::size_t k = 0; k < taps; ++k) {
            const std::int64_t s = map[j * down + k];
            if (s < 0) {
                continue;
            }
            const std::size_t sample = static_cast<std::size_t>(s);
            t.sample.push_back(sample);
            t.weight.push_back(weightOf<T>(kernel.begin()[k], g.up, exponent));
            lo = std::min(lo, sample);
            hi = std::max(hi, sample);
        }
        if (lo <= hi) {
            span = std::max(span, hi - lo);
        }
        t.first.push_back(t.sample.size());
        t.widest = std::max(t.widest, t.first[j + 1] - t.first[j]);
    }
    t.slots = std::min(span + 1, n);
    return t;
}

// Slots of `length` samples, slot s % count holding sample s when its tag says so.
template <class T>
class Ring {
public:
    Ring(std::size_t count, std::size_t length)
        : m_count(count), m_length(length), m_data(count * length), m_tags(count, kNone) {}

    T* slot(std::size_t sample) { return m_data.data() + (sample % m_count) * m_length; }
    bool holds(std::size_t sample) const { return m_tags[sample % m_count] == sample; }
    void mark(std::size_t sample) { m_tags[sample % m_count] = sample; }
    void clear() { std::fill(m_tags.begin(), m_tags.end(), kNone); }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t m_count, m_length;
    std::vector<T> m_data;
    std::vector<std::size_t> m_tags;
};

// X and Y of one slice: output row j of the slice is formed from the X-filtered
// input rows its Y window reads, which are filtered on first use into a ring.
template <class S, class T>
class SliceFilter {
public:
    // y: the Y terms of the slice (axisTerms of ky), shared by every task.
    SliceFilter(const CnKernel<float>& kx, const AxisTerms<T>& y, const SeparableDims& d, int ex)
        : m_d(d), m_x(kx, d.iX, d.oX, ex), m_y(y), m_rows(m_y.slots, d.oX), m_sources(m_y.widest) {}

    // Starts a new slice: the ring's rows belong to the previous one.
    void begin(const S* slice) {
        m_slice = slice;
        m_rows.clear();
    }

    // Output row j (oX samples) of the current slice into out.
    void row(std::size_t j, T* out) {
        const std::size_t b = m_y.first[j], count = m_y.first[j + 1] - b;
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t s = m_y.sample[b + t];
            T* slot = m_rows.slot(s);
            if (!m_rows.holds(s)) {
                m_x.run(m_slice + s * m_d.iX, slot);
                m_rows.mark(s);
            }
            m_sources[t] = slot;
        }
        weightedSum(m_sources.data(), m_y.weight.data() + b, count, m_d.oX, out);
    }

private:
    SeparableDims m_d;
    RowFilter<S, T> m_x;
    const AxisTerms<T>& m_y;
    Ring<T> m_rows;
    std::vector<const T*> m_sources;
    const S* m_slice = nullptr;
};

// A single slice, rows in T, each output row stored as bytes (shift: see
// storeBytes). Bands of output rows run as separate tasks, each with its own
// ring of X rows; the few rows two bands share are filtered by both, with the
// same arithmetic.
template <class T, class S, class Out>
void runImage(const CnKernel<float>& kx, const CnKernel<float>& ky, const SeparableDims& d, int ex, int ey,
              const S* in, Out* out, CnExecutor* executor) {
    const AxisTerms<T> yTerms = axisTerms<T>(ky, d.iY, d.oY, ey);
    const auto band = [&](std::size_t begin, std::size_t end) {
        SliceFilter<S, T> xy(kx, yTerms, d, ex);
        std::vector<T> row(d.oX);
        xy.begin(in);
        for (std::size_t j = begin; j < end; ++j) {
            xy.row(j, row.data());
            storeBytes(row.data(), d.oX, ex + ey, out + j * d.oX);
        }
    };
    parallelRanges(executor, d.oY, std::max<std::size_t>(kBandRows, kBandSamples / d.oX), band);
}

// 16-bit integer rows for a single slice whose taps are non-negative: every tap
// of an axis is an integer times 2^-e (after the gain), the X sums of bytes and
// the Y sums of those stay below 2^16, and the result n * 2^-(ex + ey) has
// 0 <= ex + ey <= 16 with n + 2^(ex + ey - 1) below 2^16 too. Sets the two
// exponents when it applies.
bool integerPlan(const CnKernel<float>& kx, const CnKernel<float>& ky, const SeparableDims& d, int& ex, int& ey) {
    if (d.iZ > 1) {
        return false;
    }
    double bound = 255.0;
    const auto axis = [&](const CnKernel<float>& k, std::size_t n, std::size_t m, int& e) {
        for (const float* t = k.begin(); t != k.end(); ++t) {
            if (!(*t >= 0.0f)) {
                return false;
            }
        }
        const DyadicTaps taps = dyadicTaps(k);
        const LineGeometry g = lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), k.size());
        bound *= taps.sumAbs * static_cast<double>(g.up);
        e = taps.exponent;
        return taps.ok && bound <= 65535.0;
    };
    if (!axis(kx, d.iX, d.oX, ex) || !axis(ky, d.iY, d.oY, ey) || ex + ey < 0 || ex + ey > 16) {
        return false;
    }
    return bound + (ex + ey > 0 ? std::ldexp(1.0, ex + ey - 1) : 0.0) <= 65535.0;
}

// A volume in rounds of kRoundSlices output slices, two passes per round: the
// XY slices the round reads that are not in the ring yet, one task per slice;
// then the Z sums of the round's output slices, one task per piece of kChunk
// samples. The ring holds the widest round's slices, so the slices two rounds
// share are filtered once.
template <class T, class S, class Out>
void runVolume(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz, const SeparableDims& d,
               const int (&exponents)[3], const S* in, Out* out, CnExecutor* executor) {
    const std::size_t inSlice = d.iX * d.iY, outSlice = d.oX * d.oY;
    const int shift = exponents[0] + exponents[1] + exponents[2];
    const AxisTerms<T> zt = axisTerms<T>(kz, d.iZ, d.oZ, exponents[2]);
    // Input slices read by output slices [z0, z1): samples lo .. hi.
    const auto reach = [&zt](std::size_t z0, std::size_t z1, std::size_t& lo, std::size_t& hi) {
        lo = std::numeric_limits<std::size_t>::max();
        hi = 0;
        for (std::size_t t = zt.first[z0]; t < zt.first[z1]; ++t) {
            lo = std::min(lo, zt.sample[t]);
            hi = std::max(hi, zt.sample[t]);
        }
        return lo <= hi;
    };
    std::size_t widest = 1;
    for (std::size_t z0 = 0; z0 < d.oZ; z0 += kRoundSlices) {
        std::size_t lo = 0, hi = 0;
        if (reach(z0, std::min(d.oZ, z0 + kRoundSlices), lo, hi)) {
            widest = std::max(widest, hi - lo + 1);
        }
    }
    Ring<T> slices(std::min(widest, d.iZ), outSlice);
    const AxisTerms<T> yTerms = axisTerms<T>(ky, d.iY, d.oY, exponents[1]);
    std::vector<std::size_t> missing;
    const std::size_t chunks = (outSlice + kChunk - 1) / kChunk;
    for (std::size_t z0 = 0; z0 < d.oZ; z0 += kRoundSlices) {
        const std::size_t z1 = std::min(d.oZ, z0 + kRoundSlices);
        std::size_t lo = 0, hi = 0;
        missing.clear();
        if (reach(z0, z1, lo, hi)) {
            for (std::size_t s = lo; s <= hi; ++s) {
                if (!slices.holds(s)) {
                    missing.push_back(s);
                }
            }
        }
        parallelFor(executor, missing.size(), [&](std::size_t i) {
            const std::size_t s = missing[i];
            SliceFilter<S, T> xy(kx, yTerms, d, exponents[0]);
            T* slot = slices.slot(s);
            xy.begin(in + s * inSlice);
            for (std::size_t j = 0; j < d.oY; ++j) {
                xy.row(j, slot + j * d.oX);
            }
        });
        for (const std::size_t s : missing) {
            slices.mark(s);
        }
        parallelFor(executor, (z1 - z0) * chunks, [&](std::size_t task) {
            const std::size_t z = z0 + task / chunks, c0 = (task % chunks) * kChunk;
            const std::size_t b = zt.first[z], count = zt.first[z + 1] - b;
            const std::size_t w = std::min(kChunk, outSlice - c0);
            std::vector<const T*> sources(count);
            std::vector<T> chunk(w);
            for (std::size_t t = 0; t < count; ++t) {
                sources[t] = slices.slot(zt.sample[b + t]) + c0;
            }
            weightedSum(sources.data(), zt.weight.data() + b, count, w, chunk.data());
            storeBytes(chunk.data(), w, shift, out + z * outSlice + c0);
        });
    }
}

}  // namespace

SampleBound byteSampleBound() {
    SampleBound b;
    b.known = true;
    b.exponent = 0;
    b.numerator = 255.0;
    return b;
}

bool floatIsExact(const SampleBound& in, const CnKernel<float>& kernel, std::uint64_t up, SampleBound& next) {
    next = SampleBound();
    if (!in.known) {
        return false;
    }
    const DyadicTaps d = dyadicTaps(kernel);
    const int exponent = in.exponent + d.exponent;
    const double numerator = in.numerator * d.sumAbs * static_cast<double>(up);
    if (!d.ok || exponent > kExponentLimit || exponent < -kExponentLimit || !(numerator < kFloatExactLimit)) {
        return false;
    }
    next.known = true;
    next.exponent = exponent;
    next.numerator = numerator;
    return true;
}

bool fusedSeparableApplies(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                           const SeparableDims& d) {
    SampleBound bound = byteSampleBound(), next;
    const auto pass = [&](const CnKernel<float>& k, std::size_t n, std::size_t m) {
        const LineGeometry g = lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), k.size());
        const bool exact = floatIsExact(bound, k, g.up, next);
        bound = next;
        return exact;
    };
    if (!pass(kx, d.iX, d.oX) || !pass(ky, d.iY, d.oY)) {
        return false;
    }
    if (d.iZ > 1 && !pass(kz, d.iZ, d.oZ)) {
        return false;
    }
    return bound.exponent <= kRoundingExponentLimit;
}

void runFusedSeparable(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                       const SeparableDims& d, const unsigned char* in, unsigned char* out, CnExecutor* executor) {
    if (d.iZ <= 1) {
        int ex = 0, ey = 0;
        if (integerPlan(kx, ky, d, ex, ey)) {
            runImage<std::uint16_t>(kx, ky, d, ex, ey, in, out, executor);
        } else {
            runImage<float>(kx, ky, d, 0, 0, in, out, executor);
        }
        return;
    }
    const int none[3] = {0, 0, 0};
    runVolume<float>(kx, ky, kz, d, none, in, out, executor);
}

bool sixteenBitPlan(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                    const SeparableDims& d, bool isSigned, int (&exponents)[3]) {
    // Every sample n * 2^-E with |n| <= bound; each pass multiplies the bound
    // by the sum of its integer taps (gain included) and adds its exponent.
    double bound = isSigned ? 32768.0 : 65535.0;
    const auto axis = [&](const CnKernel<float>& k, std::size_t n, std::size_t m, int& e) {
        const DyadicTaps taps = dyadicTaps(k);
        const LineGeometry g = lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), k.size());
        bound *= taps.sumAbs * static_cast<double>(g.up);
        e = taps.exponent;
        return taps.ok && e >= 0 && bound <= kInt32ExactLimit;
    };
    exponents[0] = exponents[1] = exponents[2] = 0;
    if (!axis(kx, d.iX, d.oX, exponents[0]) || !axis(ky, d.iY, d.oY, exponents[1])) {
        return false;
    }
    if (d.iZ > 1 && !axis(kz, d.iZ, d.oZ, exponents[2])) {
        return false;
    }
    const int shift = exponents[0] + exponents[1] + exponents[2];
    return shift <= 30 && bound + (shift > 0 ? std::ldexp(1.0, shift - 1) : 0.0) <= kInt32ExactLimit;
}

template <class S>
void runFusedSixteenBit(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                        const SeparableDims& d, const int (&exponents)[3], const S* in, S* out,
                        CnExecutor* executor) {
    if (d.iZ <= 1) {
        runImage<std::int32_t>(kx, ky, d, exponents[0], exponents[1], in, out, executor);
        return;
    }
    runVolume<std::int32_t>(kx, ky, kz, d, exponents, in, out, executor);
}

template void runFusedSixteenBit<unsigned short>(const CnKernel<float>&, const CnKernel<float>&,
                                                 const CnKernel<float>&, const SeparableDims&, const int (&)[3],
                                                 const unsigned short*, unsigned short*, CnExecutor*);
template void runFusedSixteenBit<short>(const CnKernel<float>&, const CnKernel<float>&, const CnKernel<float>&,
                                        const SeparableDims&, const int (&)[3], const short*, short*, CnExecutor*);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
