// Blocked passes of the recursive filters, compiled for several instruction sets.
//
// The versions must give the same bits: every one evaluates the same IEEE
// double operations in the same order, so the compiler must not fuse a
// multiplication and an addition into one instruction anywhere in this file
// (AVX-512 has fused multiply-add instructions).
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#include <nvfiltering/recursive/detail/RecursivePasses.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include <nvfiltering/recursive/detail/RecursiveBlock.h>

#if defined(__GNUC__) && defined(__x86_64__)
#define NVF_RECURSIVE_X86 1
#include <immintrin.h>
#endif

#ifdef NVF_RECURSIVE_X86
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

// ---- Kernel selection -------------------------------------------------------

RecursiveKernel widestSupported() {
#ifdef NVF_RECURSIVE_X86
    if (__builtin_cpu_supports("avx512f")) {
        return RecursiveKernel::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return RecursiveKernel::Avx2;
    }
#endif
    return RecursiveKernel::Plain;
}

std::atomic<int>& forcedKernel() {
    static std::atomic<int> forced(static_cast<int>(RecursiveKernel::Automatic));
    return forced;
}

RecursiveKernel currentKernel() {
    const auto forced = static_cast<RecursiveKernel>(forcedKernel().load(std::memory_order_relaxed));
    if (forced != RecursiveKernel::Automatic) {
        return forced;
    }
    static const RecursiveKernel widest = widestSupported();
    return widest;
}

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
#define NVF_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

NVF_AVX2_INLINE __m256 loadEight(const float* p) { return _mm256_loadu_ps(p); }
NVF_AVX2_INLINE __m256 loadEight(const unsigned char* p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
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
__attribute__((target("avx2"))) void tileIn(const SIn* in, std::size_t rowStride, std::size_t k0, float* buf) {
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
__attribute__((target("avx2"))) void tileOut(const float* buf, std::size_t k0, float* out, std::size_t rowStride) {
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

template <class T>
void prefetchRange(const T* p, std::size_t count, bool write) {
#if defined(__GNUC__)
    const char* bytes = reinterpret_cast<const char*>(p);
    for (std::size_t b = 0; b < count * sizeof(T); b += 64) {
        if (write) {
            __builtin_prefetch(bytes + b, 1, 2);
        } else {
            __builtin_prefetch(bytes + b, 0, 2);
        }
    }
#else
    (void)p, (void)count, (void)write;
#endif
}

// ---- Lines along X ------------------------------------------------------------------
// A block of L lines goes through one lane-major buffer of SOut: the input
// transposed into it, filtered in place, transposed back into the output rows.

template <class VT, class SIn, class SOut>
NVF_ALWAYS_INLINE void rowsImpl(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                                const PassCoefficients& pass, LaneScratch& scratch) {
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
        if (comps == 1) {
            // While the block is filtered, the memory system brings in the
            // output rows it goes to and the input rows of the next block.
            prefetchRange(out + i0 * n, lanes * n, true);
            if (i0 + L < lines) {
                prefetchRange(in + (i0 + L) * n, std::min(L, lines - i0 - L) * n, false);
            }
        }
        filterLanes<VT>(pass.order, buf, L, buf, L, n, pass.c, scratch.w.data(), scratch.fb.data());
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

template <class VT, class S>
NVF_ALWAYS_INLINE void columnsImpl(const S* in, S* out, std::size_t groups, std::size_t groupStride,
                                   std::size_t width, std::size_t sampleStride, std::size_t n,
                                   const PassCoefficients& pass, LaneScratch& scratch) {
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
            filterLanes<VT>(pass.order, src + x0, sampleStride, dst + x0, sampleStride, n, pass.c, w, fb);
        }
        if (full < width) {
            const std::size_t lanes = width - full;
            std::fill(buf, buf + n * L, S());
            for (std::size_t k = 0; k < n; ++k) {
                const S* line = src + full + k * sampleStride;
                std::copy(line, line + lanes, buf + k * L);
            }
            filterLanes<VT>(pass.order, buf, L, buf, L, n, pass.c, w, fb);
            for (std::size_t k = 0; k < n; ++k) {
                const S* block = buf + k * L;
                std::copy(block, block + lanes, dst + full + k * sampleStride);
            }
        }
    }
}

// ---- The gradient's Z pass ---------------------------------------------------------------
// For each block of L neighbouring Z lines, the three components are filtered
// into three lane-major buffers (already scaled), then interleaved into dst.

template <class VT>
NVF_ALWAYS_INLINE void gradientZImpl(const float* gx, const float* gy, const float* gz, float* dst,
                                     std::size_t sizeX, std::size_t sizeY, std::size_t sizeZ,
                                     const PassCoefficients& smooth, const PassCoefficients& derivative,
                                     const float scale[3], LaneScratch& scratch) {
    constexpr std::size_t L = VT::W * VT::R;
    const std::size_t n = sizeZ;
    const std::size_t slice = sizeX * sizeY;
    prepareKernelBuffers<VT>(scratch, n);
    double* w = scratch.w.data();
    double* fb = scratch.fb.data();
    if (scratch.gradient.size() < 3 * n * L) {
        scratch.gradient.resize(3 * n * L);
    }
    float* planes[3] = {scratch.gradient.data(), scratch.gradient.data() + n * L,
                        scratch.gradient.data() + 2 * n * L};
    const float* sources[3] = {gx, gy, gz};
    const PassCoefficients* passes[3] = {&smooth, &smooth, &derivative};
    float* padded = (sizeX % L != 0) ? laneBuffer<float>(scratch, n * L) : nullptr;
    for (std::size_t y = 0; y < sizeY; ++y) {
        for (std::size_t x0 = 0; x0 < sizeX; x0 += L) {
            const std::size_t lanes = std::min(L, sizeX - x0);
            const std::size_t start = y * sizeX + x0;
            for (int c = 0; c < 3; ++c) {
                const PassCoefficients& p = *passes[c];
                if (lanes == L) {
                    filterLanes<VT, true>(p.order, sources[c] + start, slice, planes[c], L, n, p.c, w, fb, scale[c]);
                } else {
                    std::fill(padded, padded + n * L, 0.0f);
                    for (std::size_t k = 0; k < n; ++k) {
                        const float* line = sources[c] + start + k * slice;
                        std::copy(line, line + lanes, padded + k * L);
                    }
                    filterLanes<VT, true>(p.order, padded, L, planes[c], L, n, p.c, w, fb, scale[c]);
                }
            }
            for (std::size_t k = 0; k < n; ++k) {
                float* d = dst + 3 * (start + k * slice);
                const float* px = planes[0] + k * L;
                const float* py = planes[1] + k * L;
                const float* pz = planes[2] + k * L;
                for (std::size_t l = 0; l < lanes; ++l) {
                    d[3 * l] = px[l];
                    d[3 * l + 1] = py[l];
                    d[3 * l + 2] = pz[l];
                }
            }
        }
    }
}

// ---- One entry point per instruction set ----------------------------------------------------

template <class SIn, class SOut>
using RowsFn = void (*)(const SIn*, SOut*, std::size_t, std::size_t, std::size_t, const PassCoefficients&,
                        LaneScratch&);
template <class S>
using ColumnsFn = void (*)(const S*, S*, std::size_t, std::size_t, std::size_t, std::size_t, std::size_t,
                           const PassCoefficients&, LaneScratch&);
using GradientZFn = void (*)(const float*, const float*, const float*, float*, std::size_t, std::size_t,
                             std::size_t, const PassCoefficients&, const PassCoefficients&, const float*,
                             LaneScratch&);

template <class SIn, class SOut>
void rowsPlain(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
               const PassCoefficients& pass, LaneScratch& scratch) {
    rowsImpl<Lanes2x8>(in, out, lines, n, comps, pass, scratch);
}
template <class S>
void columnsPlain(const S* in, S* out, std::size_t groups, std::size_t groupStride, std::size_t width,
                  std::size_t sampleStride, std::size_t n, const PassCoefficients& pass, LaneScratch& scratch) {
    columnsImpl<Lanes2x8>(in, out, groups, groupStride, width, sampleStride, n, pass, scratch);
}
void gradientZPlain(const float* gx, const float* gy, const float* gz, float* dst, std::size_t sizeX,
                    std::size_t sizeY, std::size_t sizeZ, const PassCoefficients& smooth,
                    const PassCoefficients& derivative, const float* scale, LaneScratch& scratch) {
    gradientZImpl<Lanes2x8>(gx, gy, gz, dst, sizeX, sizeY, sizeZ, smooth, derivative, scale, scratch);
}

#ifdef NVF_RECURSIVE_X86
template <class SIn, class SOut>
__attribute__((target("avx2"))) void rowsAvx2(const SIn* in, SOut* out, std::size_t lines, std::size_t n,
                                              std::size_t comps, const PassCoefficients& pass,
                                              LaneScratch& scratch) {
    rowsImpl<Lanes4x8>(in, out, lines, n, comps, pass, scratch);
}
template <class S>
__attribute__((target("avx2"))) void columnsAvx2(const S* in, S* out, std::size_t groups, std::size_t groupStride,
                                                 std::size_t width, std::size_t sampleStride, std::size_t n,
                                                 const PassCoefficients& pass, LaneScratch& scratch) {
    columnsImpl<Lanes4x8>(in, out, groups, groupStride, width, sampleStride, n, pass, scratch);
}
__attribute__((target("avx2"))) void gradientZAvx2(const float* gx, const float* gy, const float* gz, float* dst,
                                                   std::size_t sizeX, std::size_t sizeY, std::size_t sizeZ,
                                                   const PassCoefficients& smooth,
                                                   const PassCoefficients& derivative, const float* scale,
                                                   LaneScratch& scratch) {
    gradientZImpl<Lanes4x8>(gx, gy, gz, dst, sizeX, sizeY, sizeZ, smooth, derivative, scale, scratch);
}

template <class SIn, class SOut>
__attribute__((target("avx512f"))) void rowsAvx512(const SIn* in, SOut* out, std::size_t lines, std::size_t n,
                                                   std::size_t comps, const PassCoefficients& pass,
                                                   LaneScratch& scratch) {
    rowsImpl<Lanes8x8>(in, out, lines, n, comps, pass, scratch);
}
template <class S>
__attribute__((target("avx512f"))) void columnsAvx512(const S* in, S* out, std::size_t groups,
                                                      std::size_t groupStride, std::size_t width,
                                                      std::size_t sampleStride, std::size_t n,
                                                      const PassCoefficients& pass, LaneScratch& scratch) {
    columnsImpl<Lanes8x8>(in, out, groups, groupStride, width, sampleStride, n, pass, scratch);
}
__attribute__((target("avx512f"))) void gradientZAvx512(const float* gx, const float* gy, const float* gz,
                                                        float* dst, std::size_t sizeX, std::size_t sizeY,
                                                        std::size_t sizeZ, const PassCoefficients& smooth,
                                                        const PassCoefficients& derivative, const float* scale,
                                                        LaneScratch& scratch) {
    gradientZImpl<Lanes8x8>(gx, gy, gz, dst, sizeX, sizeY, sizeZ, smooth, derivative, scale, scratch);
}
#endif

template <class F>
F pick(F plain, F avx2, F avx512) {
    switch (currentKernel()) {
        case RecursiveKernel::Avx512:
            return avx512 ? avx512 : plain;
        case RecursiveKernel::Avx2:
            return avx2 ? avx2 : plain;
        default:
            return plain;
    }
}

template <class SIn, class SOut>
RowsFn<SIn, SOut> rowsKernel() {
#ifdef NVF_RECURSIVE_X86
    return pick<RowsFn<SIn, SOut>>(&rowsPlain<SIn, SOut>, &rowsAvx2<SIn, SOut>, &rowsAvx512<SIn, SOut>);
#else
    return &rowsPlain<SIn, SOut>;
#endif
}

template <class S>
ColumnsFn<S> columnsKernel() {
#ifdef NVF_RECURSIVE_X86
    return pick<ColumnsFn<S>>(&columnsPlain<S>, &columnsAvx2<S>, &columnsAvx512<S>);
#else
    return &columnsPlain<S>;
#endif
}

GradientZFn gradientZKernel() {
#ifdef NVF_RECURSIVE_X86
    return pick<GradientZFn>(&gradientZPlain, &gradientZAvx2, &gradientZAvx512);
#else
    return &gradientZPlain;
#endif
}

}  // namespace

bool useRecursiveKernel(RecursiveKernel kernel) {
    if (static_cast<int>(kernel) > static_cast<int>(widestSupported()) ||
        static_cast<int>(kernel) < static_cast<int>(RecursiveKernel::Automatic)) {
        return false;
    }
    forcedKernel().store(static_cast<int>(kernel), std::memory_order_relaxed);
    return true;
}

RecursiveKernel recursiveKernelInUse() { return currentKernel(); }

template <class SIn, class SOut>
void filterRows(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                const PassCoefficients& pass, LaneScratch& scratch) {
    rowsKernel<SIn, SOut>()(in, out, lines, n, comps, pass, scratch);
}

template <class S>
void filterColumns(const S* in, S* out, std::size_t groups, std::size_t groupStride, std::size_t width,
                   std::size_t sampleStride, std::size_t n, const PassCoefficients& pass, LaneScratch& scratch) {
    columnsKernel<S>()(in, out, groups, groupStride, width, sampleStride, n, pass, scratch);
}

void filterGradientZ(const float* gx, const float* gy, const float* gz, float* dst, std::size_t sizeX,
                     std::size_t sizeY, std::size_t sizeZ, const PassCoefficients& smooth,
                     const PassCoefficients& derivative, const float scale[3], LaneScratch& scratch) {
    gradientZKernel()(gx, gy, gz, dst, sizeX, sizeY, sizeZ, smooth, derivative, scale, scratch);
}

template void filterRows<unsigned char, float>(const unsigned char*, float*, std::size_t, std::size_t, std::size_t,
                                               const PassCoefficients&, LaneScratch&);
template void filterRows<float, float>(const float*, float*, std::size_t, std::size_t, std::size_t,
                                       const PassCoefficients&, LaneScratch&);
template void filterRows<double, double>(const double*, double*, std::size_t, std::size_t, std::size_t,
                                         const PassCoefficients&, LaneScratch&);
template void filterColumns<float>(const float*, float*, std::size_t, std::size_t, std::size_t, std::size_t,
                                   std::size_t, const PassCoefficients&, LaneScratch&);
template void filterColumns<double>(const double*, double*, std::size_t, std::size_t, std::size_t, std::size_t,
                                    std::size_t, const PassCoefficients&, LaneScratch&);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
