// The blocked passes compiled for AVX2, four doubles per vector; chosen at run
// time where the processor has it.
#include <nvfiltering/recursive/detail/RecursivePassKernels.h>

#ifdef NVF_RECURSIVE_X86
namespace com::norvane::filtering::detail {
NVF_RECURSIVE_KERNEL_TABLE(avx2KernelTable, Avx2Kernels, Lanes4x8, NVF_TARGET_AVX2)
}  // namespace com::norvane::filtering::detail
#endif
