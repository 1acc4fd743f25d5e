// Instruction-set variants of hot code: one mechanism for the whole library.
//
// Hot code is compiled for the baseline instruction set and for wider ones, and
// the widest the processor runs is picked at run time, per call:
//  - a loop written once (the body of a function or a lambda) runs through
//    runWidest(fn): fn is inlined into a baseline variant and an AVX2 variant
//    (the `flatten` attribute inlines every call it makes into each), and
//    runsAvx2() chooses between them;
//  - kernels whose code differs per instruction set (the recursive filter's
//    blocked passes, with their own lane widths and intrinsics) are compiled once
//    per set with NVF_TARGET_AVX2 or NVF_TARGET_AVX512 and chosen from a table
//    after the same kind of run-time check.
// Both are plain functions with a target attribute, called after a check: no
// loader-resolved symbol (those would be exported whatever their visibility, and
// they cannot run under ThreadSanitizer), the same code under gcc and clang, and
// a baseline build (NVF_BASELINE_KERNELS, CMake NVFILTERING_BASELINE_KERNELS)
// that compiles no variant and reports no wider set, so that its tests run the
// baseline code. Floating-point contraction is off for the whole library
// (CMakeLists.txt), so no variant fuses a multiplication and an addition and
// every variant computes the same numbers.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NVF_TARGET_AVX2 __attribute__((target("avx2")))
#define NVF_TARGET_AVX512 __attribute__((target("avx512f")))
#endif

#if defined(__GNUC__) && defined(__x86_64__) && !defined(NVF_BASELINE_KERNELS)
#define NVF_ISA_VARIANTS 1
#endif

// The body of a hot function, inlined into every variant of its caller.
#define NVF_ISA_BODY inline __attribute__((always_inline))

namespace com::norvane::filtering::detail {

// Whether this processor runs AVX2 (never in a baseline build).
inline bool runsAvx2() {
#ifdef NVF_ISA_VARIANTS
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

#ifdef NVF_ISA_VARIANTS
template <class Fn>
NVF_TARGET_AVX2 __attribute__((flatten, noinline)) void runAvx2(const Fn& fn) {
    fn();
}
#endif

template <class Fn>
__attribute__((flatten)) void runBaseline(const Fn& fn) {
    fn();
}

// Runs fn() compiled for the widest instruction set this processor runs.
template <class Fn>
inline void runWidest(const Fn& fn) {
#ifdef NVF_ISA_VARIANTS
    if (runsAvx2()) {
        runAvx2(fn);
        return;
    }
#endif
    runBaseline(fn);
}

}  // namespace com::norvane::filtering::detail
