// Multi-versioning of hot row loops: a function marked NVF_ROW_CLONES is
// compiled for AVX2 as well as for the baseline instruction set, and the loader
// picks the variant the processor supports. Elsewhere the mark does nothing.
// Internal to the library; not part of its interface.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) && defined(__linux__)
#define NVF_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define NVF_ROW_CLONES
#endif
