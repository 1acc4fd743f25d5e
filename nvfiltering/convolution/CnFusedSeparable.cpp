#include <nvfiltering/convolution/detail/CnFusedSeparable.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include <nvfiltering/convolution/detail/CnConvolutionLine.h>

// Hot loops are built for AVX2 as well as for the baseline and chosen when the
// library is loaded. Every value they form is exact (see floatIsExact), so the
// instruction set, fused multiply-adds and the order of the terms do not change
// a single result.
#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define NVF_CONV_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef NVF_CONV_CLONES
#define NVF_CONV_CLONES
#endif

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

constexpr double kFloatExactLimit = 16777216.0;  // 2^24
constexpr int kExponentLimit = 60;
// The last result v is rounded as floor(v + 0.5); with v a multiple of 2^-E in
// 0 ... 255, v + 0.5 needs at most 8 + E significant bits, exact in float for E <= 16.
constexpr int kRoundingExponentLimit = 16;
// Length of the pieces in which the Z window is summed before it is stored.
constexpr std::size_t kChunk = 4096;

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

template <std::size_t R>
inline __attribute__((always_inline)) void weightedSumFixed(const float* const* src, const float* w,
                                                            std::size_t count, float* __restrict out) {
    const float* s[R];
    float c[R];
    for (std::size_t r = 0; r < R; ++r) {
        s[r] = src[r];
        c[r] = w[r];
    }
    for (std::size_t i = 0; i < count; ++i) {
        float acc = c[0] * s[0][i];
        for (std::size_t r = 1; r < R; ++r) {
            acc += c[r] * s[r][i];
        }
        out[i] = acc;
    }
}

// out[i] = sum over r < nrows of w[r] * src[r][i], for i < count; 0 when nrows is 0.
// out must not overlap any source row.
NVF_CONV_CLONES void weightedSum(const float* const* src, const float* w, std::size_t nrows, std::size_t count,
                                 float* __restrict out) {
    switch (nrows) {
        case 0: std::fill(out, out + count, 0.0f); return;
        case 1: weightedSumFixed<1>(src, w, count, out); return;
        case 2: weightedSumFixed<2>(src, w, count, out); return;
        case 3: weightedSumFixed<3>(src, w, count, out); return;
        case 4: weightedSumFixed<4>(src, w, count, out); return;
        case 5: weightedSumFixed<5>(src, w, count, out); return;
        case 6: weightedSumFixed<6>(src, w, count, out); return;
        default: break;
    }
    weightedSumFixed<7>(src, w, count, out);
    for (std::size_t r = 7; r < nrows; ++r) {
        const float c = w[r];
        const float* s = src[r];
        for (std::size_t i = 0; i < count; ++i) {
            out[i] += c * s[i];
        }
    }
}

// 8-bit results: above 255 gives 255, below 0 gives 0, otherwise floor(v + 0.5).
// For 0 <= v <= 255, v + 0.5 is exact (see above) and its truncation is the
// floor; above 255, v + 0.5 is at least 255.5 and is clamped there; below 0 it
// is below 0.5 and clamped to at least 0; both truncate to the clamped result.
NVF_CONV_CLONES void storeBytes(const float* v, std::size_t count, unsigned char* __restrict out) {
    for (std::size_t i = 0; i < count; ++i) {
        float c = std::min(v[i] + 0.5f, 255.5f);
        c = std::max(c, 0.0f);
        out[i] = static_cast<unsigned char>(static_cast<std::int32_t>(c));
    }
}

NVF_CONV_CLONES void widen(const unsigned char* in, std::size_t count, float* __restrict out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(in[i]);
    }
}

// even[i] = in[2i], odd[i] = in[2i + 1] for i < pairs.
NVF_CONV_CLONES void splitPairs(const unsigned char* in, std::size_t pairs, float* __restrict even,
                                float* __restrict odd) {
    for (std::size_t i = 0; i < pairs; ++i) {
        even[i] = static_cast<float>(in[2 * i]);
        odd[i] = static_cast<float>(in[2 * i + 1]);
    }
}

// --- X: one row at a time -----------------------------------------------------------

// Filters rows of n bytes into rows of m floats. The padded line (mirrored ends,
// zeros of the up-sampling) is built in float; when down > 1 it is kept as
// `down` phases (phase r holds padded indices r, r + down, ...), so that for
// every tap the window of outputs 0 ... m - 1 is one contiguous run.
class RowFilter {
public:
    RowFilter(const CnKernel<float>& kernel, std::size_t n, std::size_t m)
        : m_geometry(lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), kernel.size())),
          m_map(paddedSourceMap(m_geometry)) {
        m_n = n;
        m_m = m;
        m_h = static_cast<std::size_t>(m_geometry.half);
        m_up = static_cast<std::size_t>(m_geometry.up);
        m_down = static_cast<std::size_t>(m_geometry.down);
        m_padded = m_map.size();
        m_phaseLength = (m_padded + m_down - 1) / m_down;
        m_buffer.assign(m_down * m_phaseLength, 0.0f);
        const std::size_t taps = kernel.size();
        for (std::size_t k = 0; k < taps; ++k) {
            m_weights.push_back(kernel.begin()[k] * static_cast<float>(m_up));
            m_windows.push_back(m_buffer.data() + (k % m_down) * m_phaseLength + k / m_down);
        }
    }

    RowFilter(const RowFilter&) = delete;
    RowFilter& operator=(const RowFilter&) = delete;

    void run(const unsigned char* in, float* out) {
        float* buf = m_buffer.data();
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
    void fill(const unsigned char* in, std::size_t begin, std::size_t end) {
        float* buf = m_buffer.data();
        for (std::size_t p = begin; p < end; ++p) {
            const std::int64_t s = m_map[p];
            buf[(p % m_down) * m_phaseLength + p / m_down] =
                s >= 0 ? static_cast<float>(in[static_cast<std::size_t>(s)]) : 0.0f;
        }
    }

    LineGeometry m_geometry;
    std::vector<std::int64_t> m_map;
    std::size_t m_n = 0, m_m = 0, m_h = 0, m_up = 1, m_down = 1, m_padded = 0, m_phaseLength = 0;
    std::vector<float> m_buffer;
    std::vector<float> m_weights;
    std::vector<const float*> m_windows;
};

// --- Y and Z: windows of whole rows or slices -------------------------------------

// For every output j of an axis, the input samples (rows or slices) its window
// reads and their weights, tap times gain. Padded positions without a sample
// (inserted zeros) add tap * 0 = 0 and are left out. `slots` is the size of a
// ring that holds every window at once: windows span at most slots - 1
// consecutive samples, so sample s can live in slot s % slots.
struct AxisTerms {
    std::vector<std::size_t> first;  // terms of output j: first[j] ... first[j + 1] - 1
    std::vector<std::size_t> sample;
    std::vector<float> weight;
    std::size_t slots = 1;
    std::size_t widest = 0;  // most terms of one output
};

AxisTerms axisTerms(const CnKernel<float>& kernel, std::size_t n, std::size_t m) {
    const LineGeometry g = lineGeometry(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(m), kernel.size());
    const std::vector<std::int64_t> map = paddedSourceMap(g);
    const std::size_t taps = kernel.size();
    const std::size_t down = static_cast<std::size_t>(g.down);
    const float gain = static_cast<float>(g.up);
    AxisTerms t;
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
            t.weight.push_back(kernel.begin()[k] * gain);
            lo = std::min(lo, sample);
            hi = std::max(hi, sample);
        }
        if (hi >= lo && lo != std::numeric_limits<std::size_t>::max()) {
            span = std::max(span, hi - lo);
        }
        t.first.push_back(t.sample.size());
        t.widest = std::max(t.widest, t.first[j + 1] - t.first[j]);
    }
    t.slots = std::min(span + 1, n);
    return t;
}

// Slots of `length` floats, slot s % count holding sample s when its tag says so.
class Ring {
public:
    Ring(std::size_t count, std::size_t length)
        : m_count(count), m_length(length), m_data(count * length), m_tags(count, kNone) {}

    float* slot(std::size_t sample) { return m_data.data() + (sample % m_count) * m_length; }
    bool holds(std::size_t sample) const { return m_tags[sample % m_count] == sample; }
    void mark(std::size_t sample) { m_tags[sample % m_count] = sample; }
    void clear() { std::fill(m_tags.begin(), m_tags.end(), kNone); }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t m_count, m_length;
    std::vector<float> m_data;
    std::vector<std::size_t> m_tags;
};

// X and Y of one slice: output row j of the slice is formed from the X-filtered
// input rows its Y window reads, which are filtered on first use into a ring.
class SliceFilter {
public:
    SliceFilter(const CnKernel<float>& kx, const CnKernel<float>& ky, const SeparableDims& d)
        : m_d(d),
          m_x(kx, d.iX, d.oX),
          m_y(axisTerms(ky, d.iY, d.oY)),
          m_rows(m_y.slots, d.oX),
          m_sources(m_y.widest) {}

    // Starts a new slice: the ring's rows belong to the previous one.
    void begin(const unsigned char* slice) {
        m_slice = slice;
        m_rows.clear();
    }

    // Output row j (oX floats) of the current slice into out.
    void row(std::size_t j, float* out) {
        const std::size_t b = m_y.first[j], count = m_y.first[j + 1] - b;
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t s = m_y.sample[b + t];
            float* slot = m_rows.slot(s);
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
    RowFilter m_x;
    AxisTerms m_y;
    Ring m_rows;
    std::vector<const float*> m_sources;
    const unsigned char* m_slice = nullptr;
};

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
                       const SeparableDims& d, const unsigned char* in, unsigned char* out) {
    SliceFilter xy(kx, ky, d);
    if (d.iZ <= 1) {
        std::vector<float> row(d.oX);
        xy.begin(in);
        for (std::size_t j = 0; j < d.oY; ++j) {
            xy.row(j, row.data());
            storeBytes(row.data(), d.oX, out + j * d.oX);
        }
        return;
    }
    const std::size_t inSlice = d.iX * d.iY, outSlice = d.oX * d.oY;
    const AxisTerms zt = axisTerms(kz, d.iZ, d.oZ);
    Ring slices(zt.slots, outSlice);
    std::vector<const float*> sources(zt.widest);
    std::vector<float> chunk(std::min(kChunk, outSlice));
    for (std::size_t z = 0; z < d.oZ; ++z) {
        const std::size_t b = zt.first[z], count = zt.first[z + 1] - b;
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t s = zt.sample[b + t];
            float* slot = slices.slot(s);
            if (!slices.holds(s)) {
                xy.begin(in + s * inSlice);
                for (std::size_t j = 0; j < d.oY; ++j) {
                    xy.row(j, slot + j * d.oX);
                }
                slices.mark(s);
            }
        }
        unsigned char* dst = out + z * outSlice;
        for (std::size_t c0 = 0; c0 < outSlice; c0 += kChunk) {
            const std::size_t w = std::min(kChunk, outSlice - c0);
            for (std::size_t t = 0; t < count; ++t) {
                sources[t] = slices.slot(zt.sample[b + t]) + c0;
            }
            weightedSum(sources.data(), zt.weight.data() + b, count, w, chunk.data());
            storeBytes(chunk.data(), w, dst + c0);
        }
    }
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
