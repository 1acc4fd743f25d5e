// Multi-versioning of hot loops. A function marked NVF_MULTIVERSION is compiled
// for AVX2 as well as for the baseline instruction set, and the loader picks the
// variant the processor runs; NVF_MULTIVERSION_FLAT also inlines every call it
// makes into each variant. Floating-point contraction is off for the whole
// library (CMakeLists.txt), so no variant fuses a multiplication and an addition
// and every variant computes the same numbers. Elsewhere the marks do nothing,
// and under ThreadSanitizer too: its runtime is not ready when the loader runs
// the variant selection, which then crashes.
//
// NVF_TARGET_AVX2 and NVF_TARGET_AVX512 compile one function for that
// instruction set only; such functions are called only after a run-time check
// of the processor (the recursive filter's kernel versions), so they are
// defined wherever the compiler takes x86 target attributes, sanitizers or not.
//
// A build with NVF_BASELINE_KERNELS (CMake: NVFILTERING_BASELINE_KERNELS) runs
// the baseline instruction set everywhere: no variants, and the run-time check
// reports no wider kernel, so that a test run exercises the baseline code.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NVF_TARGET_AVX2 __attribute__((target("avx2")))
#define NVF_TARGET_AVX512 __attribute__((target("avx512f")))
#endif

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__) && !defined(NVF_BASELINE_KERNELS)
#define NVF_MULTIVERSION __attribute__((target_clones("avx2", "default")))
#define NVF_MULTIVERSION_FLAT __attribute__((target_clones("avx2", "default"), flatten))
#else
#define NVF_MULTIVERSION
#define NVF_MULTIVERSION_FLAT
#endif
