// The bodies of the blocked passes (private to the library), included once by
// each translation unit that compiles them for one instruction set, with the
// derivative order as a template parameter so that each body stays small.
//
// Every version evaluates the same IEEE double operations in the same order,
// so all give the same bits; the project-wide -ffp-contract=off keeps the
// compiler from fusing a multiplication and an addition (AVX-512 could).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/recursive/detail/RecursiveBlock.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>

#if defined(__GNUC__) && defined(__x86_64__)
#define NVF_RECURSIVE_X86 1
#include <immintrin.h>
#endif

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

#ifdef NVF_RECURSIVE_X86
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

// ---- Buffers ------------------------------------------------------------------

template <class S>
S* laneBuffer(LaneScratch& s, std::size_t count) {
    if constexpr (std::is_same_v<S, float>) {
        if (s.floats.size() < count) {
            s.floats.resize(count);
        }
        return s.floats.data();
    } else {
        if (s.doubles.size() < count) {
            s.doubles.resize(count);
        }
        return s.doubles.data();
    }
}

template <class VT>
void prepareKernelBuffers(LaneScratch& s, std::size_t n) {
    constexpr std::size_t L = VT::W * VT::R;
    if (s.w.size() < (n + 3) * L) {
        s.w.resize((n + 3) * L);
    }
    if (s.fb.size() < 4 * L) {
        s.fb.resize(4 * L);
    }
}

// ---- 8 x 8 float transposes (AVX2) ------------------------------------------------

#ifdef NVF_RECURSIVE_X86
#define NVF_AVX2_INLINE inline __attribute__((always_inline)) NVF_TARGET_AVX2

NVF_AVX2_INLINE __m256 loadEight(const float* p) { return _mm256_loadu_ps(p); }
NVF_AVX2_INLINE __m256 loadEight(const unsigned char* p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
NVF_AVX2_INLINE __m256 loadEight(const unsigned short* p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
NVF_AVX2_INLINE __m256 loadEight(const short* p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

NVF_AVX2_INLINE void transpose8(__m256 (&r)[8]) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]);
    const __m256 t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]);
    const __m256 t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]);
    const __m256 t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]);
    const __m256 t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
    r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
    r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
    r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
    r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
    r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
    r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
    r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

// Rows r0 ... r0+7 of a block (row l at in + l * rowStride), samples k0 ... k0+7,
// into the lane-major buffer (sample k of lane l at buf[k * L + l]).
// (Not forced inline: the passes that call them are compiled for the base
// instruction set too, where these calls are never made.)
template <std::size_t L, class SIn>
NVF_TARGET_AVX2 void tileIn(const SIn* in, std::size_t rowStride, std::size_t k0, float* buf) {
    __m256 r[8];
    for (std::size_t j = 0; j < 8; ++j) {
        r[j] = loadEight(in + j * rowStride + k0);
    }
    transpose8(r);
    for (std::size_t j = 0; j < 8; ++j) {
        _mm256_storeu_ps(buf + (k0 + j) * L, r[j]);
    }
}

template <std::size_t L>
NVF_TARGET_AVX2 void tileOut(const float* buf, std::size_t k0, float* out, std::size_t rowStride) {
    __m256 r[8];
    for (std::size_t j = 0; j < 8; ++j) {
        r[j] = _mm256_loadu_ps(buf + (k0 + j) * L);
    }
    transpose8(r);
    for (std::size_t j = 0; j < 8; ++j) {
        _mm256_storeu_ps(out + j * rowStride + k0, r[j]);
    }
}
#endif

// ---- Lines along X ------------------------------------------------------------------
// A block of L lines goes through one lane-major buffer of SOut: the input
// transposed into it, filtered in place, transposed back into the output rows.

template <class Isa, unsigned int Order, class SIn, class SOut>
NVF_ALWAYS_INLINE void rowsImpl(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                                const RecursiveCoefficients& c, LaneScratch& scratch) {
    using VT = typename Isa::VT;
    constexpr std::size_t L = VT::W * VT::R;
    prepareKernelBuffers<VT>(scratch, n);
    SOut* buf = laneBuffer<SOut>(scratch, n * L);
    const std::size_t rowScalars = n * comps;
    auto lineStart = [&](std::size_t i) { return (i / comps) * rowScalars + i % comps; };
    constexpr bool tiles = kX86 && VT::W > 2 && std::is_same_v<SOut, float> && !std::is_same_v<SIn, double>;
    for (std::size_t i0 = 0; i0 < lines; i0 += L) {
        const std::size_t lanes = std::min(L, lines - i0);
        const bool tiled = tiles && comps == 1 && lanes == L;
        if (tiled) {
#ifdef NVF_RECURSIVE_X86
            if constexpr (tiles) {
                const std::size_t kTiles = n - n % 8;
                for (std::size_t r0 = 0; r0 < L; r0 += 8) {
                    const SIn* rows = in + (i0 + r0) * n;
                    for (std::size_t k0 = 0; k0 < kTiles; k0 += 8) {
                        tileIn<L>(rows, n, k0, buf + r0);
                    }
                    for (std::size_t j = 0; j < 8; ++j) {
                        for (std::size_t k = kTiles; k < n; ++k) {
                            buf[k * L + r0 + j] = static_cast<float>(rows[j * n + k]);
                        }
                    }
                }
            }
#endif
        } else {
            if (lanes < L) {
                std::fill(buf, buf + n * L, SOut());
            }
            for (std::size_t l = 0; l < lanes; ++l) {
                const SIn* row = in + lineStart(i0 + l);
                for (std::size_t k = 0; k < n; ++k) {
                    buf[k * L + l] = static_cast<SOut>(row[k * comps]);
                }
            }
        }
        // While the block is filtered, the memory system brings in the input
        // rows of the next block (a slice per step of the forward sweep) and
        // the output rows this block goes to (per step of the backward sweep).
        SweepPrefetch next, rowsOut;
        if (comps == 1) {
            rowsOut = regionPrefetch(out + i0 * n, lanes * n, n);
            if (i0 + L < lines) {
                next = regionPrefetch(in + (i0 + L) * n, std::min(L, lines - i0 - L) * n, n);
            }
        }
        Isa::template lanes<Order, false>(buf, L, buf, L, n, c, scratch.w.data(), scratch.fb.data(), 1.0f, next,
                                          rowsOut);
        if (tiled) {
#ifdef NVF_RECURSIVE_X86
            if constexpr (tiles) {
                const std::size_t kTiles = n - n % 8;
                for (std::size_t r0 = 0; r0 < L; r0 += 8) {
                    SOut* rows = out + (i0 + r0) * n;
                    for (std::size_t k0 = 0; k0 < kTiles; k0 += 8) {
                        tileOut<L>(buf + r0, k0, rows, n);
                    }
                    for (std::size_t j = 0; j < 8; ++j) {
                        for (std::size_t k = kTiles; k < n; ++k) {
                            rows[j * n + k] = buf[k * L + r0 + j];
                        }
                    }
                }
            }
#endif
        } else {
            for (std::size_t l = 0; l < lanes; ++l) {
                SOut* row = out + lineStart(i0 + l);
                for (std::size_t k = 0; k < n; ++k) {
                    row[k * comps] = buf[k * L + l];
                }
            }
        }
    }
}

// ---- Lines with neighbouring lanes (Y, Z) --------------------------------------------
// Full blocks are filtered where they lie; a narrower last block of a group
// goes through a zero-padded buffer (its padding lanes are filtered, never
// copied back).

template <class Isa, unsigned int Order, class S>
NVF_ALWAYS_INLINE void columnsImpl(const S* in, S* out, std::size_t groups, std::size_t groupStride,
                                   std::size_t width, std::size_t sampleStride, std::size_t n,
                                   const RecursiveCoefficients& c, LaneScratch& scratch) {
    using VT = typename Isa::VT;
    constexpr std::size_t L = VT::W * VT::R;
    prepareKernelBuffers<VT>(scratch, n);
    double* w = scratch.w.data();
    double* fb = scratch.fb.data();
    const std::size_t full = width - width % L;
    S* buf = full < width ? laneBuffer<S>(scratch, n * L) : nullptr;
    for (std::size_t g = 0; g < groups; ++g) {
        const S* src = in + g * groupStride;
        S* dst = out + g * groupStride;
        for (std::size_t x0 = 0; x0 < full; x0 += L) {
            // While a block is filtered, the next block of the group (the
            // neighbouring lanes of the same rows) is brought in row by row.
            const SweepPrefetch next = x0 + L < full ? rowsPrefetch(src + x0 + L, sampleStride, L, n) : SweepPrefetch{};
            Isa::template lanes<Order, false>(src + x0, sampleStride, dst + x0, sampleStride, n, c, w, fb, 1.0f,
                                              next);
        }
        if (full < width) {
            const std::size_t lanes = width - full;
            std::fill(buf, buf + n * L, S());
            for (std::size_t k = 0; k < n; ++k) {
                const S* line = src + full + k * sampleStride;
                std::copy(line, line + lanes, buf + k * L);
            }
            Isa::template lanes<Order, false>(buf, L, buf, L, n, c, w, fb, 1.0f);
            for (std::size_t k = 0; k < n; ++k) {
                const S* block = buf + k * L;
                std::copy(block, block + lanes, dst + full + k * sampleStride);
            }
        }
    }
}

// ---- The gradient's Z pass, in place -------------------------------------------------
// For each block of L neighbouring voxels of a row, the three components of its
// Z lines are gathered into three lane-major buffers, filtered there (scaled),
// and put back.

template <class Isa>
NVF_ALWAYS_INLINE void gradientZImpl(float* dst, std::size_t width, std::size_t rows, std::size_t rowStride,
                                     std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& smooth,
                                     const RecursiveCoefficients& derivative, const float* scale,
                                     LaneScratch& scratch) {
    using VT = typename Isa::VT;
    constexpr std::size_t L = VT::W * VT::R;
    prepareKernelBuffers<VT>(scratch, n);
    double* w = scratch.w.data();
    double* fb = scratch.fb.data();
    if (scratch.gradient.size() < 3 * n * L) {
        scratch.gradient.resize(3 * n * L);
    }
    float* const planes[3] = {scratch.gradient.data(), scratch.gradient.data() + n * L,
                              scratch.gradient.data() + 2 * n * L};
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t x0 = 0; x0 < width; x0 += L) {
            const std::size_t lanes = std::min(L, width - x0);
            float* block = dst + r * rowStride + 3 * x0;
            if (lanes < L) {
                std::fill(scratch.gradient.begin(), scratch.gradient.begin() + static_cast<std::ptrdiff_t>(3 * n * L),
                          0.0f);
            }
            for (std::size_t k = 0; k < n; ++k) {
                const float* v = block + k * sampleStride;
                for (std::size_t l = 0; l < lanes; ++l) {
                    planes[0][k * L + l] = v[3 * l];
                    planes[1][k * L + l] = v[3 * l + 1];
                    planes[2][k * L + l] = v[3 * l + 2];
                }
            }
            Isa::template lanes<0, true>(planes[0], L, planes[0], L, n, smooth, w, fb, scale[0]);
            Isa::template lanes<0, true>(planes[1], L, planes[1], L, n, smooth, w, fb, scale[1]);
            Isa::template lanes<1, true>(planes[2], L, planes[2], L, n, derivative, w, fb, scale[2]);
            for (std::size_t k = 0; k < n; ++k) {
                float* v = block + k * sampleStride;
                for (std::size_t l = 0; l < lanes; ++l) {
                    v[3 * l] = planes[0][k * L + l];
                    v[3 * l + 1] = planes[1][k * L + l];
                    v[3 * l + 2] = planes[2][k * L + l];
                }
            }
        }
    }
}

// The table of one instruction set. Isa names its vector shape VT and has
// static lanes<Order, Scaled> (filterLanes), rows<SIn, SOut, Order>,
// columns<S, Order> and gradientZ, all compiled for that instruction set; the
// passes call lanes rather than inlining filterLanes at every call site, so
// each kernel body is compiled once per order and type.
template <class Isa>
constexpr KernelTable makeKernelTable() {
    return KernelTable{{&Isa::template rows<unsigned char, float, 0>, &Isa::template rows<unsigned char, float, 1>,
                        &Isa::template rows<unsigned char, float, 2>},
                       {&Isa::template rows<unsigned short, float, 0>, &Isa::template rows<unsigned short, float, 1>,
                        &Isa::template rows<unsigned short, float, 2>},
                       {&Isa::template rows<short, float, 0>, &Isa::template rows<short, float, 1>,
                        &Isa::template rows<short, float, 2>},
                       {&Isa::template rows<float, float, 0>, &Isa::template rows<float, float, 1>,
                        &Isa::template rows<float, float, 2>},
                       {&Isa::template rows<double, double, 0>, &Isa::template rows<double, double, 1>,
                        &Isa::template rows<double, double, 2>},
                       {&Isa::template columns<float, 0>, &Isa::template columns<float, 1>,
                        &Isa::template columns<float, 2>},
                       {&Isa::template columns<double, 0>, &Isa::template columns<double, 1>,
                        &Isa::template columns<double, 2>},
                       &Isa::gradientZ};
}

// One instruction set's kernels: a struct Name whose members compile the
// shared pass bodies for the vector shape Lanes under the function attribute
// Target (empty for the base instruction set). A macro because a target
// attribute cannot be a template parameter; each RecursiveKernels*.cpp expands
// it once through NVF_RECURSIVE_KERNEL_TABLE, which also defines the function
// that returns the set's table.
#define NVF_RECURSIVE_KERNEL_SET(Name, Lanes, Target)                                                              \
    struct Name {                                                                                                  \
        using VT = Lanes;                                                                                          \
        template <unsigned int Order, bool Scaled, class In, class Out>                                           \
        Target static void lanes(const In* x, std::size_t xs, Out* y, std::size_t ys, std::size_t n,              \
                                 const RecursiveCoefficients& c, double* w, double* fb, float scale,              \
                                 const SweepPrefetch& ahead = {}, const SweepPrefetch& behind = {}) {             \
            filterLanes<VT, Order, Scaled>(x, xs, y, ys, n, c, w, fb, scale, ahead, behind);                      \
        }                                                                                                          \
        template <class SIn, class SOut, unsigned int Order>                                                      \
        Target static void rows(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,    \
                                const RecursiveCoefficients& c, LaneScratch& scratch) {                           \
            rowsImpl<Name, Order>(in, out, lines, n, comps, c, scratch);                                          \
        }                                                                                                          \
        template <class S, unsigned int Order>                                                                    \
        Target static void columns(const S* in, S* out, std::size_t groups, std::size_t groupStride,             \
                                   std::size_t width, std::size_t sampleStride, std::size_t n,                   \
                                   const RecursiveCoefficients& c, LaneScratch& scratch) {                        \
            columnsImpl<Name, Order>(in, out, groups, groupStride, width, sampleStride, n, c, scratch);           \
        }                                                                                                          \
        Target static void gradientZ(float* dst, std::size_t width, std::size_t rows, std::size_t rowStride,     \
                                     std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& smooth, \
                                     const RecursiveCoefficients& derivative, const float* scale,                  \
                                     LaneScratch& scratch) {                                                       \
            gradientZImpl<Name>(dst, width, rows, rowStride, sampleStride, n, smooth, derivative, scale, scratch); \
        }                                                                                                          \
    }


#define NVF_RECURSIVE_KERNEL_TABLE(function, Name, Lanes, Target)      \
    namespace {                                                      \
    NVF_RECURSIVE_KERNEL_SET(Name, Lanes, Target);                   \
    }                                                                \
    const KernelTable& function() {                                  \
        static constexpr KernelTable table = makeKernelTable<Name>(); \
        return table;                                                \
    }

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
