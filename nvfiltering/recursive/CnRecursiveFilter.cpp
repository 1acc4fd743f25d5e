#include <nvfiltering/recursive/CnRecursiveFilter.h>

#include <cstddef>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/Cn1dRecursiveFilter.h>
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
// sigma and order, and the matching line filter type.
template <class LineFilter>
void configurePass(LineFilter& filter, double sigma, unsigned int order, math::CnMatrix<double>& M) {
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    filter.computeFilterParameters(sigma, B, a1, a2, a3, M, order);
    filter.setParameters(B, a1, a2, a3, &M);
    filter.setType(static_cast<typename LineFilter::EnRecursiveFilterType>(order + 1));
}

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

    Cn1dRecursiveFilter<In, Out, ImageConstIt<In>, ImageIt<Out>> lineX;
    configurePass(lineX, m_sigmaX, orders.x, M);
    for (unsigned int z = 0; z < sizeZ; ++z) {
        for (unsigned int y = 0; y < sizeY; ++y) {
            const std::size_t s = z * sliceSize + static_cast<std::size_t>(y) * sizeX;
            lineX.setInputData(input.begin() + s, sizeX, 1);
            lineX.setOutputData(output.begin() + s, sizeX, 1);
            lineX.execute();
        }
    }

    Cn1dRecursiveFilter<Out, Out, ImageConstIt<Out>, ImageIt<Out>> lineYZ;
    configurePass(lineYZ, m_sigmaY, orders.y, M);
    for (unsigned int z = 0; z < sizeZ; ++z) {
        for (unsigned int x = 0; x < sizeX; ++x) {
            const std::size_t s = z * sliceSize + x;
            lineYZ.setInputData(outputRead.begin() + s, sizeY, sizeX);
            lineYZ.setOutputData(output.begin() + s, sizeY, sizeX);
            lineYZ.execute();
        }
    }

    if (sizeZ > 1) {
        configurePass(lineYZ, m_sigmaZ, orders.z, M);
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

template class CnRecursiveFilter<unsigned char, float>;
template class CnRecursiveFilter<float, float>;
template class CnRecursiveFilter<double, double>;
template class CnRecursiveFilter<math::CnVector3D<float>, math::CnVector3D<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
