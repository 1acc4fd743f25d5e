// The same passes for AVX-512 (eight doubles per vector), in a translation unit
// of their own so that no file compiles every instruction set; chosen at run
// time where the processor has it.
#include <nvfiltering/recursive/detail/RecursivePassKernels.h>

#ifdef NVF_RECURSIVE_X86
namespace com::norvane::filtering::detail {
NVF_RECURSIVE_KERNEL_TABLE(avx512KernelTable, Avx512Kernels, Lanes8x8, NVF_TARGET_AVX512)
}  // namespace com::norvane::filtering::detail
#endif
