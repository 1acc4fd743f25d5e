// Which version of the blocked passes a run uses: the one it asks for, or the
// widest this processor runs. The choice is a parameter of each run; nothing
// is kept between runs.
#include <nvfiltering/recursive/detail/RecursivePasses.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

RecursiveKernel widestRecursiveKernel() {
#if defined(__GNUC__) && defined(__x86_64__) && !defined(NVF_BASELINE_KERNELS)
    if (__builtin_cpu_supports("avx512f")) {
        return RecursiveKernel::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return RecursiveKernel::Avx2;
    }
#endif
    return RecursiveKernel::Plain;
}

bool recursiveKernelSupported(RecursiveKernel kernel) {
    const int k = static_cast<int>(kernel);
    return k >= static_cast<int>(RecursiveKernel::Automatic) && k <= static_cast<int>(widestRecursiveKernel());
}

const KernelTable& kernelTable(RecursiveKernel kernel) {
    if (kernel == RecursiveKernel::Automatic || !recursiveKernelSupported(kernel)) {
        kernel = widestRecursiveKernel();
    }
#if defined(__GNUC__) && defined(__x86_64__)
    switch (kernel) {
        case RecursiveKernel::Avx512:
            return avx512KernelTable();
        case RecursiveKernel::Avx2:
            return avx2KernelTable();
        default:
            break;
    }
#endif
    return plainKernelTable();
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
