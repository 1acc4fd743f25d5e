// The blocked passes compiled for AVX2 (four doubles per vector), in a
// translation unit of their own; chosen at run time where the processor has it.
// (The wrappers repeat the base version's: a target attribute is no parameter.)
#include <nvfiltering/recursive/detail/RecursivePassKernels.h>

#ifdef NVF_RECURSIVE_X86

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

struct Avx2Kernels {
    using VT = Lanes4x8;
    template <unsigned int Order, bool Scaled, class In, class Out>
    __attribute__((target("avx2"))) static void lanes(const In* x, std::size_t xs, Out* y, std::size_t ys, std::size_t n,
                      const RecursiveCoefficients& c, double* w, double* fb, float scale) {
        filterLanes<VT, Order, Scaled>(x, xs, y, ys, n, c, w, fb, scale);
    }
    template <class SIn, class SOut, unsigned int Order>
    __attribute__((target("avx2"))) static void rows(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                     const RecursiveCoefficients& c, LaneScratch& scratch) {
        rowsImpl<Avx2Kernels, Order>(in, out, lines, n, comps, c, scratch);
    }
    template <class S, unsigned int Order>
    __attribute__((target("avx2"))) static void columns(const S* in, S* out, std::size_t groups, std::size_t groupStride, std::size_t width,
                        std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& c,
                        LaneScratch& scratch) {
        columnsImpl<Avx2Kernels, Order>(in, out, groups, groupStride, width, sampleStride, n, c, scratch);
    }
    __attribute__((target("avx2"))) static void gradientZ(float* dst, std::size_t width, std::size_t rows, std::size_t rowStride,
                          std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& smooth,
                          const RecursiveCoefficients& derivative, const float* scale, LaneScratch& scratch) {
        gradientZImpl<Avx2Kernels>(dst, width, rows, rowStride, sampleStride, n, smooth, derivative, scale, scratch);
    }
};

}  // namespace

const KernelTable& avx2KernelTable() {
    static constexpr KernelTable table = makeKernelTable<Avx2Kernels>();
    return table;
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com

#endif  // NVF_RECURSIVE_X86
