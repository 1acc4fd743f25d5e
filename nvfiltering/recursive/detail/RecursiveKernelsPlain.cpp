// The blocked passes compiled for the base instruction set (two doubles per
// vector): the version every processor runs, and the reference the wider
// versions are tested against.
#include <nvfiltering/recursive/detail/RecursivePassKernels.h>

namespace com::norvane::filtering::detail {
NVF_RECURSIVE_KERNEL_TABLE(plainKernelTable, PlainKernels, Lanes2x8, )
}  // namespace com::norvane::filtering::detail
