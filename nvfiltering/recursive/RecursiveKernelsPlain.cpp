// The blocked passes compiled for the base instruction set (two doubles per
// vector): the version every processor runs, and the reference the wider
// versions are tested against.
#include <nvfiltering/recursive/detail/RecursivePassKernels.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

struct PlainKernels {
    using VT = Lanes2x8;
    template <unsigned int Order, bool Scaled, class In, class Out>
    static void lanes(const In* x, std::size_t xs, Out* y, std::size_t ys, std::size_t n,
                      const RecursiveCoefficients& c, double* w, double* fb, float scale) {
        filterLanes<VT, Order, Scaled>(x, xs, y, ys, n, c, w, fb, scale);
    }
    template <class SIn, class SOut, unsigned int Order>
    static void rows(const SIn* in, SOut* out, std::size_t lines, std::size_t n, std::size_t comps,
                     const RecursiveCoefficients& c, LaneScratch& scratch) {
        rowsImpl<PlainKernels, Order>(in, out, lines, n, comps, c, scratch);
    }
    template <class S, unsigned int Order>
    static void columns(const S* in, S* out, std::size_t groups, std::size_t groupStride, std::size_t width,
                        std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& c,
                        LaneScratch& scratch) {
        columnsImpl<PlainKernels, Order>(in, out, groups, groupStride, width, sampleStride, n, c, scratch);
    }
    static void gradientZ(float* dst, std::size_t width, std::size_t rows, std::size_t rowStride,
                          std::size_t sampleStride, std::size_t n, const RecursiveCoefficients& smooth,
                          const RecursiveCoefficients& derivative, const float* scale, LaneScratch& scratch) {
        gradientZImpl<PlainKernels>(dst, width, rows, rowStride, sampleStride, n, smooth, derivative, scale, scratch);
    }
};

}  // namespace

const KernelTable& plainKernelTable() {
    static constexpr KernelTable table = makeKernelTable<PlainKernels>();
    return table;
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
