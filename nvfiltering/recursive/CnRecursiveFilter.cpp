#include <nvfiltering/recursive/CnRecursiveFilter.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <type_traits>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {

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
detail::RecursiveCoefficients configurePass(LineFilter& filter, double sigma, unsigned int order,
                                            math::CnMatrix<double>& M) {
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    filter.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    filter.setParameters(B, a1, a2, a3, &M);
    filter.setType(static_cast<typename LineFilter::EnRecursiveFilterType>(order + 1));
    return detail::makeCoefficients(B, a1, a2, a3, M);
}

// ---- Blocked passes -----------------------------------------------------------
// The lines of a pass are filtered many at a time (detail/RecursivePasses.h),
// with the same arithmetic per line as the line filter, so the results are the
// same bit for bit. Vector voxels are filtered as three float lanes each. Only
// line and block buffers are allocated, never a temporary volume.

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

unsigned int minimumLength(unsigned int order) { return order == 1 ? 4u : 3u; }

}  // namespace

template <class In, class Out>
CnRecursiveFilter<In, Out>::CnRecursiveFilter()
    : CnFilter<In, Out>(), m_sigmaX(1.0), m_sigmaY(1.0), m_sigmaZ(1.0), m_derivative(NoDerivative) {}

template <class In, class Out>
CnRecursiveFilter<In, Out>::~CnRecursiveFilter() = default;

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setSigma(double sigmaX, double sigmaY, double sigmaZ) {
    m_sigmaX = sigmaX;
    m_sigmaY = sigmaY;
    m_sigmaZ = sigmaZ;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaX() const {
    return m_sigmaX;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaY() const {
    return m_sigmaY;
}

template <class In, class Out>
double CnRecursiveFilter<In, Out>::getSigmaZ() const {
    return m_sigmaZ;
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::setDerivative(EnDerivativeType derivative) {
    m_derivative = derivative;
}

template <class In, class Out>
int CnRecursiveFilter<In, Out>::getDerivative() const {
    return static_cast<int>(m_derivative);
}

template <class In, class Out>
void CnRecursiveFilter<In, Out>::v_execute() {
    const imaging::Image<In>& input = *this->m_input;
    imaging::Image<Out>& output = *this->m_output;
    const imaging::Image<Out>& outputRead = output;

    AxisOrders orders{0, 0, 0};
    if (!lookUpOrders(static_cast<std::int32_t>(m_derivative), orders)) {
        throwThrowable(messages::kInvalidDerivative);
    }
    if (!output.hasSameDimensions(input)) {
        throwThrowable(messages::kRecursiveOutputSizeDiffers);
    }

    const unsigned int sizeX = input.getSizeX();
    const unsigned int sizeY = input.getSizeY();
    const unsigned int sizeZ = input.getSizeZ();
    const std::size_t sliceSize = static_cast<std::size_t>(sizeX) * sizeY;

    if (output.getNumberOfVoxels() == 0) {
        return;
    }
    // A single slice does not vary along Z: its derivatives along Z vanish.
    if (sizeZ == 1 && orders.z != 0) {
        output.fill(Out());
        return;
    }

    math::CnMatrix<double> M(0, 0);
    constexpr bool vectors = std::is_same_v<Out, math::CnVector3D<float>>;
    constexpr std::size_t comps = ScalarOf<Out>::components;
    // A pass runs blocked when its lines are long enough for the exact kernels;
    // otherwise (short lines, and derivatives of vector voxels, which throw at
    // the first line) it runs line by line.
    auto blocked = [&](unsigned int order, unsigned int length) {
        return length >= minimumLength(order) && !(vectors && order != 0);
    };
    detail::LaneScratch scratch;
    const std::size_t rowScalars = static_cast<std::size_t>(sizeX) * comps;
    const std::size_t sliceScalars = sliceSize * comps;

    Cn1dRecursiveFilter<In, Out, ImageConstIt<In>, ImageIt<Out>> lineX;
    const detail::PassCoefficients px{orders.x, configurePass(lineX, m_sigmaX, orders.x, M)};
    Cn1dRecursiveFilter<Out, Out, ImageConstIt<Out>, ImageIt<Out>> lineYZ;

    // Both blocked: X then Y slice by slice, while the slice is in the cache
    // (the Y lines of a slice depend on nothing but its X lines). The Y
    // coefficients are needed first; if they cannot be computed the X pass
    // still runs over the whole image before the failure is reported.
    if (blocked(orders.x, sizeX) && blocked(orders.y, sizeY)) {
        detail::PassCoefficients py{orders.y, {}};
        std::exception_ptr yFailure;
        try {
            py.c = configurePass(lineYZ, m_sigmaY, orders.y, M);
        } catch (...) {
            yFailure = std::current_exception();
        }
        if (yFailure) {
            detail::filterRows(scalars(input), scalars(output), static_cast<std::size_t>(sizeY) * sizeZ * comps,
                               sizeX, comps, px, scratch);
            std::rethrow_exception(yFailure);
        }
        for (unsigned int z = 0; z < sizeZ; ++z) {
            const std::size_t s = z * sliceScalars;
            detail::filterRows(scalars(input) + s, scalars(output) + s, sizeY * comps, sizeX, comps, px, scratch);
            detail::filterColumns(scalars(output) + s, scalars(output) + s, 1, 0, rowScalars, rowScalars, sizeY, py,
                                  scratch);
        }
    } else {
        if (blocked(orders.x, sizeX)) {
            detail::filterRows(scalars(input), scalars(output), static_cast<std::size_t>(sizeY) * sizeZ * comps,
                               sizeX, comps, px, scratch);
        } else {
            for (unsigned int z = 0; z < sizeZ; ++z) {
                for (unsigned int y = 0; y < sizeY; ++y) {
                    const std::size_t s = z * sliceSize + static_cast<std::size_t>(y) * sizeX;
                    lineX.setInputData(input.begin() + s, sizeX, 1);
                    lineX.setOutputData(output.begin() + s, sizeX, 1);
                    lineX.execute();
                }
            }
        }
        const detail::PassCoefficients py{orders.y, configurePass(lineYZ, m_sigmaY, orders.y, M)};
        if (blocked(orders.y, sizeY)) {
            detail::filterColumns(scalars(output), scalars(output), sizeZ, sliceScalars, rowScalars, rowScalars,
                                  sizeY, py, scratch);
        } else {
            for (unsigned int z = 0; z < sizeZ; ++z) {
                for (unsigned int x = 0; x < sizeX; ++x) {
                    const std::size_t s = z * sliceSize + x;
                    lineYZ.setInputData(outputRead.begin() + s, sizeY, sizeX);
                    lineYZ.setOutputData(output.begin() + s, sizeY, sizeX);
                    lineYZ.execute();
                }
            }
        }
    }

    if (sizeZ > 1) {
        const detail::PassCoefficients pz{orders.z, configurePass(lineYZ, m_sigmaZ, orders.z, M)};
        if (blocked(orders.z, sizeZ)) {
            detail::filterColumns(scalars(output), scalars(output), sizeY, rowScalars, rowScalars, sliceScalars,
                                  sizeZ, pz, scratch);
        } else {
            const unsigned int strideZ = static_cast<unsigned int>(sliceSize);
            for (unsigned int y = 0; y < sizeY; ++y) {
                for (unsigned int x = 0; x < sizeX; ++x) {
                    const std::size_t s = static_cast<std::size_t>(y) * sizeX + x;
                    lineYZ.setInputData(outputRead.begin() + s, sizeZ, strideZ);
                    lineYZ.setOutputData(output.begin() + s, sizeZ, strideZ);
                    lineYZ.execute();
                }
            }
        }
    }
}

template class CnRecursiveFilter<unsigned char, float>;
template class CnRecursiveFilter<float, float>;
template class CnRecursiveFilter<double, double>;
template class CnRecursiveFilter<math::CnVector3D<float>, math::CnVector3D<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
