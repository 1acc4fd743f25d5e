// The volume filter's three passes (X, Y, Z) over an image, on the caller's
// executor: each pass blocked or line by line as the plan says, one parallel
// loop per pass, so the results do not depend on the executor.
#include <nvfiltering/recursive/detail/RecursiveVolume.h>

#include <cstddef>
#include <exception>
#include <limits>
#include <type_traits>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursiveBorders.h>
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>
#include <nvfiltering/recursive/detail/RecursivePlan.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

std::size_t checkedVoxelCount(std::size_t x, std::size_t y, std::size_t z, std::size_t scalars, std::size_t bytes) {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    const bool fits = (x == 0 || y <= kMax / x) && (x * y == 0 || z <= kMax / (x * y)) &&
                      (x * y * z == 0 || scalars <= kMax / (x * y * z)) &&
                      (x * y * z * scalars == 0 || bytes <= kMax / (x * y * z * scalars));
    if (!fits) {
        throwThrowable(messages::kRecursiveVolumeTooLarge);
    }
    return x * y * z;
}

namespace {

struct AxisOrders {
    unsigned int x;
    unsigned int y;
    unsigned int z;
};

// Derivative order per axis for each EnDerivativeType value; false if invalid.
bool lookUpOrders(std::int32_t derivative, AxisOrders& orders) {
    static const AxisOrders table[7] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                        {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    if (derivative < 0 || derivative > 6) {
        return false;
    }
    orders = table[derivative];
    return true;
}

// Configures a line filter for one pass: coefficients and boundary matrix for
// sigma and order, and the matching line filter type. Returns the coefficients
// for the blocked kernels.
template <class LineFilter>
PassCoefficients configurePass(LineFilter& filter, double sigma, unsigned int order, math::CnMatrix<double>& M) {
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    recursiveCoefficients(sigma, order, B, a1, a2, a3, M);
    filter.setParameters(B, a1, a2, a3, &M);
    filter.setType(static_cast<typename LineFilter::EnRecursiveFilterType>(order + 1));
    return PassCoefficients{order, makeCoefficients(B, a1, a2, a3, M)};
}

// Vector voxels are filtered as three float lanes each.
template <class T>
struct ScalarOf {
    using type = T;
    static constexpr std::size_t components = 1;
};
template <>
struct ScalarOf<math::CnVector3D<float>> {
    using type = float;
    static constexpr std::size_t components = 3;
};
static_assert(sizeof(math::CnVector3D<float>) == 3 * sizeof(float), "vector voxels are three packed floats");

template <class T>
const typename ScalarOf<T>::type* scalars(const imaging::Image<T>& image) {
    return reinterpret_cast<const typename ScalarOf<T>::type*>(image.data());
}
template <class T>
typename ScalarOf<T>::type* scalars(imaging::Image<T>& image) {
    return reinterpret_cast<typename ScalarOf<T>::type*>(image.data());
}

// A pass line by line: `count` lines of `length` samples, line i starting at
// voxel start(i) of in and out, `stride` voxels between samples. Each task
// works with its own copy of the configured line filter.
template <class LineFilter, class InImage, class OutImage, class Start>
void passLines(CnExecutor* executor, const LineFilter& configured, const InImage& in, OutImage& out,
               std::size_t count, unsigned int length, unsigned int stride, Start start) {
    parallelRanges(executor, count, grainFor(length), [&](std::size_t begin, std::size_t end) {
        LineFilter line(configured);
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t s = start(i);
            line.setInputData(in.begin() + s, length, stride);
            line.setOutputData(out.begin() + s, length, stride);
            line.execute();
        }
    });
}

}  // namespace

template <class In, class Out>
void RecursiveVolume<In, Out>::run(const imaging::Image<In>& input, imaging::Image<Out>& output, double sigmaX,
                                   double sigmaY, double sigmaZ, std::int32_t derivative, CnExecutor* executor,
                                   RecursiveKernel kernel, std::int32_t borderMode, double borderValue) {
    const imaging::Image<Out>& outputRead = output;
    AxisOrders orders{0, 0, 0};
    if (!lookUpOrders(derivative, orders)) {
        throwThrowable(messages::kInvalidDerivative);
    }
    if (!isBorderMode(borderMode)) {
        throwThrowable(messages::kUnknownBorderMode);
    }
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kRecursiveOutputSizeDiffers);
    }
    using SIn = typename ScalarOf<In>::type;
    using SOut = typename ScalarOf<Out>::type;
    constexpr std::size_t comps = ScalarOf<Out>::components;
    constexpr bool vectors = comps == 3;
    const unsigned int sizeX = input.getSizeX();
    const unsigned int sizeY = input.getSizeY();
    const unsigned int sizeZ = input.getSizeZ();
    checkedVoxelCount(sizeX, sizeY, sizeZ, comps, sizeof(SOut));
    const std::size_t sliceSize = static_cast<std::size_t>(sizeX) * sizeY;
    const std::size_t rowScalars = static_cast<std::size_t>(sizeX) * comps;
    const std::size_t sliceScalars = sliceSize * comps;

    if (output.getNumberOfVoxels() == 0) {
        return;
    }
    // A single slice does not vary along Z: its derivatives along Z vanish.
    if (sizeZ == 1 && orders.z != 0) {
        output.fill(Out());
        return;
    }
    if (!isZeroContinuation(borderMode, borderValue)) {
        const double sigmas[3] = {sigmaX, sigmaY, sigmaZ};
        const unsigned int axisOrders[3] = {orders.x, orders.y, orders.z};
        borderVolume(input, output, sigmas, axisOrders, borderMode, borderValue, executor);
        return;
    }

    const RecursiveRun run{executor, kernelTable(kernel)};
    const SIn* in = scalars(input);
    SOut* out = scalars(output);
    math::CnMatrix<double> mx(0, 0), my(0, 0), mz(0, 0);
    Cn1dRecursiveFilter<In, Out, ImageConstIt<In>, ImageIt<Out>> lineX;
    Cn1dRecursiveFilter<Out, Out, ImageConstIt<Out>, ImageIt<Out>> lineY, lineZ;
    const PassCoefficients px = configurePass(lineX, sigmaX, orders.x, mx);
    const bool blockedX = runsBlocked(orders.x, sizeX, vectors);
    const bool blockedY = runsBlocked(orders.y, sizeY, vectors);

    if (blockedX && blockedY && sizeZ >= kMinFusedSlices) {
        // X then Y slice by slice, while the slice is in the cache (the Y
        // lines of a slice depend on nothing but its X lines). The Y
        // coefficients are needed first; if they cannot be computed the X pass
        // still runs over the whole image before the failure is reported.
        PassCoefficients py{orders.y, {}};
        std::exception_ptr yFailure;
        try {
            py = configurePass(lineY, sigmaY, orders.y, my);
        } catch (...) {
            yFailure = std::current_exception();
        }
        if (yFailure) {
            passRows(run, in, out, static_cast<std::size_t>(sizeY) * sizeZ, sizeX, comps, px);
            std::rethrow_exception(yFailure);
        }
        const RowsEntry<SIn, SOut> rows = run.kernels.rows<SIn, SOut>(px.order);
        const ColumnsEntry<SOut> columns = run.kernels.columns<SOut>(py.order);
        ScratchShelf<LaneScratch> shelf;
        parallelRanges(executor, sizeZ, grainFor(sliceScalars), [&](std::size_t begin, std::size_t end) {
            const auto loan = shelf.borrow();
            LaneScratch& scratch = *loan;
            for (std::size_t z = begin; z < end; ++z) {
                const std::size_t s = z * sliceScalars;
                rows(in + s, out + s, sizeY * comps, sizeX, comps, px.c, scratch);
                columns(out + s, out + s, 1, 0, rowScalars, rowScalars, sizeY, py.c, scratch);
            }
        });
    } else {
        if (blockedX) {
            passRows(run, in, out, static_cast<std::size_t>(sizeY) * sizeZ, sizeX, comps, px);
        } else {
            passLines(executor, lineX, input, output, static_cast<std::size_t>(sizeY) * sizeZ, sizeX, 1,
                      [&](std::size_t i) { return i * sizeX; });
        }
        const PassCoefficients py = configurePass(lineY, sigmaY, orders.y, my);
        if (blockedY) {
            passColumns(run, out, out, sizeZ, sliceScalars, rowScalars, rowScalars, sizeY, py);
        } else {
            passLines(executor, lineY, outputRead, output, static_cast<std::size_t>(sizeX) * sizeZ, sizeY, sizeX,
                      [&](std::size_t i) { return (i / sizeX) * sliceSize + i % sizeX; });
        }
    }

    if (sizeZ > 1) {
        const PassCoefficients pz = configurePass(lineZ, sigmaZ, orders.z, mz);
        if (runsBlocked(orders.z, sizeZ, vectors)) {
            passColumns(run, out, out, sizeY, rowScalars, rowScalars, sliceScalars, sizeZ, pz);
        } else {
            // The line filter takes its stride as unsigned int.
            if (sliceSize > std::numeric_limits<unsigned int>::max()) {
                throwThrowable(messages::kRecursiveVolumeTooLarge);
            }
            passLines(executor, lineZ, outputRead, output, sliceSize, sizeZ, static_cast<unsigned int>(sliceSize),
                      [](std::size_t i) { return i; });
        }
    }
}

#define NVF_INSTANTIATE(In, Out) template class RecursiveVolume<In, Out>;
NVF_RECURSIVE_VOLUME_TYPES(NVF_INSTANTIATE)
#undef NVF_INSTANTIATE

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
