#include <nvfiltering/convolution/CnSeparableFilter.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include <nvfiltering/convolution/Cn1dSpatialFilter.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/detail/CnConvolutionLine.h>
#include <nvfiltering/framework/CnMessages.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

using imaging::Image;

// Voxel type of the intermediate volumes: float for scalar data, the vector
// itself for vector data.
template <class In>
struct Intermediate {
    using type = float;
};
template <>
struct Intermediate<math::CnVector3D<float>> {
    using type = math::CnVector3D<float>;
};

// One axis pass run line by line through Cn1dSpatialFilter: the line filter is
// created once per pass and re-pointed at every line.
template <class Src, class Dst, class Acc, class Mul, class Add>
class LinePass {
public:
    LinePass(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst) : m_src(src), m_dst(dst) {
        m_filter.setKernel(kernel);
    }

    void line(std::size_t srcStart, unsigned int n, unsigned int srcStride, std::size_t dstStart, unsigned int m,
              unsigned int dstStride) {
        m_filter.setInputData(m_src.begin() + srcStart, n, srcStride);
        m_filter.setOutputData(m_dst.begin() + dstStart, m, dstStride);
        m_filter.execute();
    }

private:
    Cn1dSpatialFilter<Src, Dst, float, Acc, Mul, Add, ImageConstIt<Src>, ImageIt<Dst>> m_filter;
    const Image<Src>& m_src;
    Image<Dst>& m_dst;
};

// Lengths of one separable run: input (iX, iY, iZ), output (oX, oY, oZ).
struct Dims {
    std::size_t iX, iY, iZ, oX, oY, oZ;
};

// X pass: every row of the input, length iX, into rows of length oX.
template <class Acc, class Mul, class Add, class Src, class Dst>
void passXByLines(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
    LinePass<Src, Dst, Acc, Mul, Add> pass(kernel, src, dst);
    for (std::size_t z = 0; z < d.iZ; ++z) {
        for (std::size_t y = 0; y < d.iY; ++y) {
            pass.line(z * d.iY * d.iX + y * d.iX, static_cast<unsigned int>(d.iX), 1u, z * d.iY * d.oX + y * d.oX,
                      static_cast<unsigned int>(d.oX), 1u);
        }
    }
}

// Y pass: every column of every slice (stride oX), length iY, into length oY.
template <class Acc, class Mul, class Add, class Src, class Dst>
void passYByLines(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
    LinePass<Src, Dst, Acc, Mul, Add> pass(kernel, src, dst);
    const unsigned int stride = static_cast<unsigned int>(d.oX);
    for (std::size_t z = 0; z < d.iZ; ++z) {
        for (std::size_t x = 0; x < d.oX; ++x) {
            pass.line(z * d.oX * d.iY + x, static_cast<unsigned int>(d.iY), stride, z * d.oX * d.oY + x,
                      static_cast<unsigned int>(d.oY), stride);
        }
    }
}

// Z pass: every line across the slices (stride oX * oY), length iZ, into length oZ.
template <class Acc, class Mul, class Add, class Src, class Dst>
void passZByLines(const CnKernel<float>& kernel, const Image<Src>& src, Image<Dst>& dst, const Dims& d) {
    LinePass<Src, Dst, Acc, Mul, Add> pass(kernel, src, dst);
    const unsigned int stride = static_cast<unsigned int>(d.oX * d.oY);
    for (std::size_t y = 0; y < d.oY; ++y) {
        for (std::size_t x = 0; x < d.oX; ++x) {
            pass.line(y * d.oX + x, static_cast<unsigned int>(d.iZ), stride, y * d.oX + x,
                      static_cast<unsigned int>(d.oZ), stride);
        }
    }
}

void checkAxis(unsigned int n, unsigned int m, const CnKernel<float>& kernel, const char* tooLong) {
    const detail::LineGeometry g = detail::lineGeometry(n, m, kernel.size());
    if (g.inputLength < g.taps) {
        throwThrowable(messages::kDataSmallerThanKernel);
    }
    if (!g.windowFits()) {
        throwThrowable(tooLong);
    }
}

}  // namespace

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>::CnSeparableFilter()
    : CnFilter<In, Out>(),
      m_kernelX(CnKernelFactory<K>::id()),
      m_kernelY(CnKernelFactory<K>::id()),
      m_kernelZ(CnKernelFactory<K>::id()) {}

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>::CnSeparableFilter(const CnSeparableFilter& other)
    : CnFilter<In, Out>(), m_kernelX(other.m_kernelX), m_kernelY(other.m_kernelY), m_kernelZ(other.m_kernelZ) {}

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>& CnSeparableFilter<In, Out, K, Acc, Mul, Add>::operator=(
    const CnSeparableFilter& other) {
    m_kernelX = other.m_kernelX;
    m_kernelY = other.m_kernelY;
    m_kernelZ = other.m_kernelZ;
    return *this;
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
CnSeparableFilter<In, Out, K, Acc, Mul, Add>::~CnSeparableFilter() = default;

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::setKernel(const CnKernel<K>& kernel, CnCoord::Axis axis) {
    const std::int32_t bits = static_cast<std::int32_t>(axis);
    if ((bits & CnCoord::X) != 0) {
        m_kernelX = kernel;
    }
    if ((bits & CnCoord::Y) != 0) {
        m_kernelY = kernel;
    }
    if ((bits & CnCoord::Z) != 0) {
        m_kernelZ = kernel;
    }
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
const CnKernel<K>& CnSeparableFilter<In, Out, K, Acc, Mul, Add>::getKernel(CnCoord::Axis axis) const {
    const std::int32_t bits = static_cast<std::int32_t>(axis);
    if ((bits & CnCoord::X) != 0) {
        return m_kernelX;
    }
    if ((bits & CnCoord::Y) != 0) {
        return m_kernelY;
    }
    if ((bits & CnCoord::Z) != 0) {
        return m_kernelZ;
    }
    throwThrowable(messages::kUnknownAxisGetKernel);
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::v_execute() {
    checkDimensions();
    executeWithTmp();
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::checkDimensions() const {
    const Image<In>& input = *this->m_input;
    const Image<Out>& output = *this->m_output;
    if (input.getSizeX() == 0 || input.getSizeY() == 0 || input.getSizeZ() == 0) {
        throwThrowable(messages::kSeparableInputDimensionZero);
    }
    if (output.getSizeX() == 0 || output.getSizeY() == 0 || output.getSizeZ() == 0) {
        throwThrowable(messages::kSeparableOutputDimensionZero);
    }
    checkAxis(input.getSizeX(), output.getSizeX(), m_kernelX, messages::kSeparableOutputXTooLong);
    checkAxis(input.getSizeY(), output.getSizeY(), m_kernelY, messages::kSeparableOutputYTooLong);
    if (input.getSizeZ() > 1) {
        checkAxis(input.getSizeZ(), output.getSizeZ(), m_kernelZ, messages::kSeparableOutputZTooLong);
    }
}

template <class In, class Out, class K, class Acc, class Mul, class Add>
void CnSeparableFilter<In, Out, K, Acc, Mul, Add>::executeWithTmp() {
    using Tmp = typename Intermediate<In>::type;
    const Image<In>& input = *this->m_input;
    Image<Out>& output = *this->m_output;
    const Dims d{input.getSizeX(), input.getSizeY(), input.getSizeZ(),
                 output.getSizeX(), output.getSizeY(), output.getSizeZ()};
    const CnKernel<K> kernelX = getKernel(CnCoord::X);
    const CnKernel<K> kernelY = getKernel(CnCoord::Y);
    const CnKernel<K> kernelZ = getKernel(CnCoord::Z);

    // Temporaries are owned here so that they are released on every way out.
    std::unique_ptr<Image<Tmp>> t1(new Image<Tmp>(output.getSizeX(), input.getSizeY(), input.getSizeZ()));
    passXByLines<Acc, Mul, Add>(kernelX, input, *t1, d);
    if (d.iZ <= 1) {
        passYByLines<Acc, Mul, Add>(kernelY, *t1, output, d);
        return;
    }
    std::unique_ptr<Image<Tmp>> t2Owned;
    Image<Tmp>* t2 = t1.get();
    if (d.oY != d.iY) {
        t2Owned.reset(new Image<Tmp>(output.getSizeX(), output.getSizeY(), input.getSizeZ()));
        t2 = t2Owned.get();
    }
    passYByLines<Acc, Mul, Add>(kernelY, *t1, *t2, d);
    if (t2Owned) {
        t1.reset();
    }
    passZByLines<Acc, Mul, Add>(kernelZ, *t2, output, d);
}

template class CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;
template class CnSeparableFilter<math::CnVector3D<float>, math::CnVector3D<float>, float, math::CnVector3D<float>,
                                 std::multiplies<float>, std::plus<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
