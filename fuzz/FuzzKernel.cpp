// Kernels and the kernel factory: construction from any values, centres in and
// out of range, copies, the standard kernels and the print format.
#include <FuzzSupport.h>

#include <cmath>
#include <ios>
#include <sstream>
#include <string>

using namespace nvf_fuzz;
using flt::CnKernel;
using flt::CnKernelFactory;

namespace {

void checkKernel(const CnKernel<float>& k, const std::vector<float>& values, unsigned int center) {
    NVF_FUZZ_CHECK(k.size() == values.size());
    NVF_FUZZ_CHECK(k.getCenter() == center);
    NVF_FUZZ_CHECK((k.begin() == nullptr) == values.empty());
    NVF_FUZZ_CHECK(k.end() - k.begin() == static_cast<std::ptrdiff_t>(values.size()));
    NVF_FUZZ_CHECK(sameBytes(k.begin(), values.data(), values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int offset = static_cast<int>(i) - static_cast<int>(center);
        NVF_FUZZ_CHECK(std::memcmp(&k[offset], &values[i], sizeof(float)) == 0);
    }
}

// The documented print format, with the stream's float settings.
std::string expectedText(const std::vector<float>& values, unsigned int center, const std::ostringstream& format) {
    std::ostringstream os;
    os.copyfmt(format);
    os << "Kernel:  size:" << values.size() << ", center:" << center << "\nValues: ";
    for (float v : values) {
        os << v << " ";
    }
    return os.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned int count = in.ConsumeIntegralInRange<unsigned int>(0, 64);
    const unsigned int center = in.ConsumeIntegral<std::uint8_t>();
    const bool fromArray = in.ConsumeBool();
    const unsigned int precision = in.ConsumeIntegralInRange<unsigned int>(0, 20);
    const unsigned int floatFormat = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    const Encoding enc = encoding(in);
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();

    std::vector<float> values(count);
    fill(values.data(), count, pool, enc, false);
    CnKernel<float> k = fromArray ? CnKernel<float>(values.empty() ? nullptr : values.data(), count)
                                  : CnKernel<float>(values);
    checkKernel(k, values, 0);
    k.setCenter(center);
    const unsigned int expectedCenter = center < count ? center : 0;
    checkKernel(k, values, expectedCenter);

    const CnKernel<float> copy(k);
    checkKernel(copy, values, expectedCenter);
    CnKernel<float> assigned(std::vector<float>(3, 2.0f));
    assigned.setCenter(2);
    assigned = k;
    checkKernel(assigned, values, expectedCenter);
    const CnKernel<float>& self = assigned;
    assigned = self;  // self-assignment keeps everything
    checkKernel(assigned, values, expectedCenter);

    std::ostringstream os;
    os.precision(precision);
    if (floatFormat == 1) {
        os.setf(std::ios::fixed, std::ios::floatfield);
    } else if (floatFormat == 2) {
        os.setf(std::ios::scientific, std::ios::floatfield);
    } else if (floatFormat == 3) {
        os.setf(std::ios::showpos);
    }
    const std::string expected = expectedText(values, expectedCenter, os);
    os << k;
    NVF_FUZZ_CHECK_MSG(os.str() == expected, "print format");

    // The standard kernels, for the first value as parameter a.
    const float a = values.empty() ? 0.375f : values[0];
    const CnKernel<float> id = CnKernelFactory<float>::id();
    checkKernel(id, std::vector<float>{1.0f}, 0);
    const float c = a * 0.6666667f;
    const float d = c - a * 0.5f;
    const std::vector<float> five{d, c, a, c, d};
    const std::vector<float> pyr = CnKernelFactory<float>::pyrfilt(a);
    NVF_FUZZ_CHECK(pyr.size() == 5 && sameBytes(pyr.data(), five.data(), 5));
    checkKernel(CnKernelFactory<float>::smooth(a), five, 2);
    return 0;
}
