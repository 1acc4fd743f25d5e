// An outside program, built against the installed package, that derives a class
// from every exported class of the library and names and calls every member that
// callers and derived classes rely on: constructors, copies, setters, getters,
// execute / executeWith, the protected work functions and the protected routines
// of the FFT filters. A member that is dropped, renamed, made private or left out
// of the exports breaks the build or the link of this program; a member that
// changes its behaviour fails one of the small checks made through it.
#include <nvfiltering/nvfiltering.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace nvf = com::norvane::filtering;
namespace img = com::norvane::imaging;
namespace nvm = com::norvane::math;

using com::norvane::Exception;
using com::norvane::Throwable;
using Vec3f = nvm::CnVector3D<float>;
using Mul = std::multiplies<float>;
using Add = std::plus<float>;

namespace {

const std::string kThrowablePath = "java/lang/Throwable";
const std::string kFftMessage = "FFT dimensions must be a power of 2, 3 or 5";
const std::string kFftPath = "com/norvane/filtering/FftDimensionNotImplementedException";
const std::string kEightPointMessage = "8-point connectivity in 3D (really 27-point) is not currently implemented";
const std::string kEightPointPath = "com/norvane/david/EightPointConnectivityIn3DException";

int failures = 0;
int checks = 0;

void check(bool ok, const std::string& what) {
    ++checks;
    if (!ok) {
        std::cerr << "conformance: " << what << " failed\n";
        ++failures;
    }
}

bool near(double a, double b, double tolerance) {
    return std::abs(a - b) <= tolerance;
}

// Runs fn and expects a com::norvane::Throwable with that message and class path.
template <class Fn>
void expectThrowable(Fn&& fn, const std::string& message, const std::string& classPath, const std::string& what) {
    try {
        fn();
        check(false, what + ": nothing thrown");
    } catch (const Throwable& e) {
        check(e.getMessage() == message, what + ": message \"" + e.getMessage() + "\"");
        check(e.getClassPath() == classPath, what + ": class path \"" + e.getClassPath() + "\"");
        check(std::string(e.what()) == message, what + ": what()");
    } catch (...) {
        check(false, what + ": not a com::norvane::Throwable");
    }
}

// The library's own exceptions are not exported: callers catch them as
// com::norvane::Exception and tell them apart by their class path.
template <class Fn>
void expectException(Fn&& fn, const std::string& message, const std::string& classPath, const std::string& what) {
    try {
        fn();
        check(false, what + ": nothing thrown");
    } catch (const Exception& e) {
        check(e.getMessage() == message, what + ": message \"" + e.getMessage() + "\"");
        check(e.getClassPath() == classPath, what + ": class path \"" + e.getClassPath() + "\"");
    } catch (const Throwable& e) {
        check(false, what + ": a Throwable that is not a com::norvane::Exception (" + e.getClassPath() + ")");
    } catch (...) {
        check(false, what + ": not a com::norvane::Exception");
    }
}

// --- Sample values for every voxel type ----------------------------------------

template <class T>
T sampleValue(int k) {
    return static_cast<T>(3 * k + 1);
}
template <>
Vec3f sampleValue<Vec3f>(int k) {
    return Vec3f(static_cast<float>(k), static_cast<float>(2 * k + 1), static_cast<float>(-k));
}

template <class T>
double component(const T& v, int) {
    return static_cast<double>(v);
}
double component(const Vec3f& v, int c) {
    return c == 0 ? v.x : (c == 1 ? v.y : v.z);
}

template <class A, class B>
bool sameValue(const A& a, const B& b, double tolerance = 0.0) {
    for (int c = 0; c < 3; ++c) {
        if (!near(component(a, c), component(b, c), tolerance)) {
            return false;
        }
    }
    return true;
}

template <class T>
void fillSamples(img::Image<T>& image) {
    for (std::size_t i = 0; i < image.getNumberOfVoxels(); ++i) {
        image[i] = sampleValue<T>(static_cast<int>(i % 40));
    }
}

// ================================================================================
// Filter base classes
// ================================================================================

// An image filter that records what execute() handed to its work function.
template <class In, class Out>
class ProbeImageFilter : public nvf::CnFilter<In, Out> {
public:
    ProbeImageFilter() = default;  // the protected base constructor: no images

    // Stores the images through the protected setters and runs the work function.
    void runThroughSetters(const img::Image<In>* input, img::Image<Out>* output) {
        this->setInputImage(input);
        this->setOutputImage(output);
        this->v_execute();
    }

    const img::Image<In>* seenInput = nullptr;
    img::Image<Out>* seenOutput = nullptr;
    int runs = 0;
    bool failNext = false;

protected:
    void v_execute() override {
        ++runs;
        seenInput = this->getInputImage();
        seenOutput = this->getOutputImage();
        if (failNext) {
            failNext = false;
            throw Throwable("probe failure", kThrowablePath.c_str());
        }
    }
};

template <class In, class Out>
void imageFilterBase(const std::string& name) {
    const std::string what = "CnFilter<" + name + ">";
    img::Image<In> in1(2, 2, 1), in2(3, 1, 1);
    img::Image<Out> out1(2, 2, 1), out2(3, 1, 1);
    ProbeImageFilter<In, Out> probe;
    check(probe.runs == 0, what + ": nothing runs on construction");
    nvf::CnFilter<In, Out>& filter = probe;
    filter.execute(in1, out1);
    check(probe.runs == 1 && probe.seenInput == &in1 && probe.seenOutput == &out1, what + ": execute stores both images");
    filter.execute(in2, out2);
    check(probe.runs == 2 && probe.seenInput == &in2 && probe.seenOutput == &out2,
          what + ": a second execute uses the second pair");
    probe.failNext = true;
    expectThrowable([&] { filter.execute(in1, out1); }, "probe failure", kThrowablePath,
                    what + ": an exception of v_execute reaches the caller");
    check(probe.seenInput == &in1 && probe.seenOutput == &out1, what + ": the pointers stay set after a failure");
    filter.execute(in2, out1);
    check(probe.runs == 4 && probe.seenInput == &in2 && probe.seenOutput == &out1, what + ": usable after a failure");
    probe.runThroughSetters(&in1, &out2);
    check(probe.runs == 5 && probe.seenInput == &in1 && probe.seenOutput == &out2,
          what + ": setInputImage / setOutputImage");
    std::unique_ptr<nvf::CnFilter<In, Out>> owned(new ProbeImageFilter<In, Out>());
    owned.reset();  // the public virtual destructor
}

// A line filter that counts its runs.
template <class In, class Out, class InIt, class OutIt>
class ProbeLineFilter : public nvf::Cn1dFilter<In, Out, InIt, OutIt> {
public:
    using Base = nvf::Cn1dFilter<In, Out, InIt, OutIt>;
    ProbeLineFilter() = default;  // the protected base constructor: no line
    ProbeLineFilter(const ProbeLineFilter& other) : Base(other), runs(other.runs) {}
    ProbeLineFilter& operator=(const ProbeLineFilter& other) {
        Base::operator=(other);
        runs = other.runs;
        return *this;
    }
    ~ProbeLineFilter() override = default;

    void execute() override { ++runs; }

    int runs = 0;
};

template <class F, class InIt, class OutIt>
bool lineIs(const F& f, InIt inStart, unsigned int inLength, unsigned int inStride, OutIt outStart,
            unsigned int outLength, unsigned int outStride) {
    return f.getInputStart() == inStart && f.getInputLength() == inLength && f.getInputStride() == inStride &&
           f.getOutputStart() == outStart && f.getOutputLength() == outLength && f.getOutputStride() == outStride;
}

template <class In, class Out, class InIt, class OutIt>
void lineFilterBase(const std::string& name, InIt inStart, OutIt outStart) {
    const std::string what = "Cn1dFilter<" + name + ">";
    using Probe = ProbeLineFilter<In, Out, InIt, OutIt>;
    Probe probe;
    check(lineIs(probe, InIt(), 0, 0, OutIt(), 0, 0), what + ": no line after construction");
    probe.setInputData(inStart, 4, 1);
    probe.setOutputData(outStart, 2, 2);  // another output length is legal at this level
    check(lineIs(probe, inStart, 4, 1, outStart, 2, 2), what + ": setInputData / setOutputData");
    nvf::Cn1dFilter<In, Out, InIt, OutIt>& base = probe;
    base.execute();
    check(probe.runs == 1, what + ": execute is virtual");
    Probe copy(probe);
    check(lineIs(copy, inStart, 4, 1, outStart, 2, 2), what + ": the copy constructor copies the line");
    Probe target;
    target = probe;
    check(lineIs(target, inStart, 4, 1, outStart, 2, 2), what + ": assignment copies the line");
    std::unique_ptr<nvf::Cn1dFilter<In, Out, InIt, OutIt>> owned(new Probe());
    owned.reset();
}

template <class In, class Out>
void imageLineFilterBase(const std::string& name) {
    const img::Image<In> in(4, 1, 1);
    img::Image<Out> out(4, 1, 1);
    lineFilterBase<In, Out, typename img::Image<In>::const_iterator, typename img::Image<Out>::iterator>(
        name, in.begin() + 0, out.begin() + 0);
}

// The library's two exception classes, with a class of our own derived from each.
class ProbeFftException : public nvf::FftDimensionNotImplementedException {
public:
    ProbeFftException(std::string message, const char* classPath)
        : nvf::FftDimensionNotImplementedException(std::move(message), classPath) {}
    ProbeFftException(const ProbeFftException& other) : nvf::FftDimensionNotImplementedException(other) {}
};

class ProbeEightPointException : public nvf::EightPointConnectivityIn3DException {
public:
    ProbeEightPointException(std::string message, const char* classPath)
        : nvf::EightPointConnectivityIn3DException(std::move(message), classPath) {}
    ProbeEightPointException(const ProbeEightPointException& other)
        : nvf::EightPointConnectivityIn3DException(other) {}
};

void exceptions() {
    static_assert(std::is_base_of<Exception, nvf::FftDimensionNotImplementedException>::value,
                  "the FFT exception derives from com::norvane::Exception");
    static_assert(std::is_base_of<Exception, nvf::EightPointConnectivityIn3DException>::value,
                  "the 3-D connectivity exception derives from com::norvane::Exception");
    static_assert(std::is_base_of<Throwable, Exception>::value, "Exception derives from Throwable");
    static_assert(std::is_base_of<std::exception, Throwable>::value, "Throwable derives from std::exception");

    const nvf::FftDimensionNotImplementedException fft(kFftMessage, kFftPath.c_str());
    const nvf::FftDimensionNotImplementedException fftCopy(fft);
    check(fftCopy.getMessage() == kFftMessage && fftCopy.getClassPath() == kFftPath, "FFT exception copy");
    expectException([&] { throw fftCopy; }, kFftMessage, kFftPath, "FFT exception thrown by value");
    const ProbeFftException derivedFft(kFftMessage, kFftPath.c_str());
    expectException([&] { throw ProbeFftException(derivedFft); }, kFftMessage, kFftPath, "derived FFT exception");

    const nvf::EightPointConnectivityIn3DException eight(kEightPointMessage, kEightPointPath.c_str());
    const nvf::EightPointConnectivityIn3DException eightCopy(eight);
    check(eightCopy.getMessage() == kEightPointMessage && eightCopy.getClassPath() == kEightPointPath,
          "3-D connectivity exception copy");
    expectException([&] { throw eightCopy; }, kEightPointMessage, kEightPointPath,
                    "3-D connectivity exception thrown by value");
    const ProbeEightPointException derivedEight(kEightPointMessage, kEightPointPath.c_str());
    expectException([&] { throw ProbeEightPointException(derivedEight); }, kEightPointMessage, kEightPointPath,
                    "derived 3-D connectivity exception");
    try {
        throw nvf::FftDimensionNotImplementedException(kFftMessage, kFftPath.c_str());
    } catch (const std::exception& e) {
        check(std::string(e.what()) == kFftMessage, "FFT exception caught as std::exception");
    }
}

void framework() {
    imageFilterBase<unsigned char, unsigned char>("unsigned char, unsigned char");
    imageFilterBase<unsigned char, float>("unsigned char, float");
    imageFilterBase<unsigned char, std::uint32_t>("unsigned char, uint32");
    imageFilterBase<short, short>("short, short");
    imageFilterBase<short, unsigned char>("short, unsigned char");
    imageFilterBase<short, std::uint32_t>("short, uint32");
    imageFilterBase<std::uint32_t, std::uint32_t>("uint32, uint32");
    imageFilterBase<float, float>("float, float");
    imageFilterBase<float, unsigned char>("float, unsigned char");
    imageFilterBase<double, double>("double, double");
    imageFilterBase<double, unsigned char>("double, unsigned char");
    imageFilterBase<Vec3f, Vec3f>("vector, vector");

    imageLineFilterBase<unsigned char, unsigned char>("unsigned char, unsigned char");
    imageLineFilterBase<unsigned char, float>("unsigned char, float");
    imageLineFilterBase<float, unsigned char>("float, unsigned char");
    imageLineFilterBase<float, float>("float, float");
    imageLineFilterBase<double, double>("double, double");
    imageLineFilterBase<Vec3f, Vec3f>("vector, vector");
    std::vector<double> in(4), out(4);
    lineFilterBase<double, double, double*, double*>("double*, double*", in.data(), out.data());

    exceptions();
}

// ================================================================================
// Kernels and the kernel factory
// ================================================================================

class ProbeKernel : public nvf::CnKernel<float> {
public:
    using Base = nvf::CnKernel<float>;
    ProbeKernel() : Base() {}
    explicit ProbeKernel(std::vector<float> values) : Base(std::move(values)) {}
    ProbeKernel(const float* values, unsigned int count) : Base(values, count) {}
    ProbeKernel(const ProbeKernel& other) : Base(other) {}
    ProbeKernel& operator=(const ProbeKernel& other) {
        Base::operator=(other);
        return *this;
    }
    ~ProbeKernel() = default;
};

class ProbeKernelFactory : public nvf::CnKernelFactory<float> {
public:
    using Base = nvf::CnKernelFactory<float>;
    ProbeKernelFactory() = default;
    ProbeKernelFactory(const ProbeKernelFactory& other) : Base(other) {}
    ProbeKernelFactory& operator=(const ProbeKernelFactory& other) {
        const Base& result = Base::operator=(other);
        check(&result == this, "CnKernelFactory::operator= returns the object");
        return *this;
    }
};

bool kernelIs(const nvf::CnKernel<float>& k, const std::vector<float>& values, unsigned int center) {
    if (k.size() != values.size() || k.getCenter() != center) {
        return false;
    }
    const float* p = k.begin();
    for (float v : values) {
        if (*p++ != v) {
            return false;
        }
    }
    return p == k.end();
}

void kernels() {
    ProbeKernel empty;
    check(empty.size() == 0 && empty.getCenter() == 0, "CnKernel(): no values, centre 0");
    check(empty.begin() == nullptr && empty.end() == nullptr, "CnKernel(): begin and end null");
    empty.setCenter(3);
    check(empty.getCenter() == 0, "setCenter on an empty kernel leaves 0");

    ProbeKernel five(std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f, 5.0f});
    check(kernelIs(five, {1.0f, 2.0f, 3.0f, 4.0f, 5.0f}, 0), "CnKernel(std::vector): values, centre 0");
    five.setCenter(4);
    check(five.getCenter() == 4, "setCenter(4) on five values");
    five.setCenter(5);
    check(five.getCenter() == 0, "setCenter(5) on five values gives 0");
    five.setCenter(2);
    check(five[-2] == 1.0f && five[0] == 3.0f && five[2] == 5.0f, "operator[] relative to the centre");
    five[1] = 7.0f;
    const nvf::CnKernel<float>& constFive = five;
    check(constFive[1] == 7.0f && *(constFive.begin() + 3) == 7.0f && constFive.end() - constFive.begin() == 5,
          "const operator[], begin and end");
    float* first = five.begin();
    *first = 9.0f;
    check(five[-2] == 9.0f && five.end() == first + 5, "non-const begin and end");

    const float raw[3] = {0.5f, 1.5f, 2.5f};
    ProbeKernel fromArray(raw, 3);
    check(kernelIs(fromArray, {0.5f, 1.5f, 2.5f}, 0), "CnKernel(const float*, count)");
    ProbeKernel fromNone(raw, 0);
    check(fromNone.size() == 0 && fromNone.getCenter() == 0, "CnKernel(array, 0) is empty");
    ProbeKernel copy(five);
    check(kernelIs(copy, {9.0f, 2.0f, 3.0f, 7.0f, 5.0f}, 2), "CnKernel copy constructor");
    ProbeKernel assigned;
    assigned = fromArray;
    check(kernelIs(assigned, {0.5f, 1.5f, 2.5f}, 0), "CnKernel assignment");

    ProbeKernelFactory factory, other;
    factory = other;
    check(kernelIs(ProbeKernelFactory::id(), {1.0f}, 0), "CnKernelFactory::id");
    check(ProbeKernelFactory::pyrfilt(0.375f) == std::vector<float>({0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f}),
          "pyrfilt(0.375)");
    check(ProbeKernelFactory::pyrfilt(0.0f) == std::vector<float>(5, 0.0f), "pyrfilt(0)");
    const float c1 = 0.6666667f;
    const float d1 = c1 - 0.5f;
    check(ProbeKernelFactory::pyrfilt(1.0f) == std::vector<float>({d1, c1, 1.0f, c1, d1}), "pyrfilt(1)");
    const nvf::CnKernel<float> smooth = ProbeKernelFactory::smooth(0.375f);
    check(kernelIs(smooth, {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f}, 2), "smooth(0.375): five values, centre 2");
    check(smooth[-2] == 0.0625f, "smooth(a)[-2] is the first value");

    std::ostringstream idText;
    idText << ProbeKernelFactory::id();
    check(idText.str() == "Kernel:  size:1, center:0\nValues: 1 ", "operator<< of the identity kernel");
    std::ostringstream smoothText;
    std::ostream& returned = smoothText << ProbeKernelFactory::smooth(0.4f);
    check(&returned == &smoothText, "operator<< returns the stream");
    check(smoothText.str() == "Kernel:  size:5, center:2\nValues: 0.0666667 0.266667 0.4 0.266667 0.0666667 ",
          "operator<< of smooth(0.4)");
}

// ================================================================================
// One-dimensional spatial filter and separable filter
// ================================================================================

template <class In, class Out, class Acc>
class ProbeSpatialFilter
    : public nvf::Cn1dSpatialFilter<In, Out, float, Acc, Mul, Add, typename img::Image<In>::const_iterator,
                                    typename img::Image<Out>::iterator> {
public:
    ProbeSpatialFilter() = default;
};

// With the default (identity) kernel a line is copied, converted to Out.
template <class In, class Out, class Acc>
void spatialIdentity(const std::string& name) {
    const std::string what = "Cn1dSpatialFilter<" + name + ">";
    img::Image<In> in(4, 2, 1);
    img::Image<Out> out(4, 2, 1);
    fillSamples(in);
    ProbeSpatialFilter<In, Out, Acc> f;
    check(kernelIs(f.getKernel(), {1.0f}, 0), what + ": the identity kernel by default");
    expectThrowable([&] { f.execute(); }, "Filter not initialized.", kThrowablePath, what + ": no line set");
    const img::Image<In>& constIn = in;
    f.setInputData(constIn.begin() + 4, 4, 1);  // the second row
    f.setOutputData(out.begin() + 4, 4, 1);
    f.execute();
    bool same = true;
    for (std::size_t x = 0; x < 4; ++x) {
        same = same && sameValue(out[4 + x], in[4 + x]) && sameValue(out[x], Out());
    }
    check(same, what + ": the identity kernel copies the line");
    f.setKernel(ProbeKernelFactory::smooth(0.375f));
    check(kernelIs(f.getKernel(), {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f}, 2), what + ": setKernel / getKernel");
    expectThrowable([&] { f.execute(); }, "Data smaller than kernel.", kThrowablePath,
                    what + ": four samples with five taps");
}

void spatialFilter() {
    spatialIdentity<unsigned char, unsigned char, float>("unsigned char, unsigned char");
    spatialIdentity<unsigned char, float, float>("unsigned char, float");
    spatialIdentity<float, unsigned char, float>("float, unsigned char");
    spatialIdentity<float, float, float>("float, float");
    spatialIdentity<Vec3f, Vec3f, Vec3f>("vector, vector");

    // Mirrored ends; tap K / 2 meets the output sample whatever the centre says.
    {
        img::Image<unsigned char> in(5, 1, 1);
        img::Image<float> out(5, 1, 1);
        for (unsigned int x = 0; x < 5; ++x) in[x] = static_cast<unsigned char>(10 * (x + 1));
        ProbeSpatialFilter<unsigned char, float, float> f;
        ProbeKernel k(std::vector<float>{1.0f, 2.0f, 3.0f});
        k.setCenter(0);
        f.setKernel(k);
        const img::Image<unsigned char>& constIn = in;
        f.setInputData(constIn.begin(), 5, 1);
        f.setOutputData(out.begin(), 5, 1);
        f.execute();
        check(out[0] == 100.0f && out[1] == 140.0f && out[2] == 200.0f && out[3] == 260.0f && out[4] == 260.0f,
              "Cn1dSpatialFilter: kernel [1, 2, 3] on 10 ... 50");
        f.setOutputData(out.begin(), 5, 0);
        expectThrowable([&] { f.execute(); }, "Filter not initialized.", kThrowablePath,
                        "Cn1dSpatialFilter: zero output stride");
        f.setInputData(constIn.begin(), 2, 1);
        f.setOutputData(out.begin(), 2, 1);
        expectThrowable([&] { f.execute(); }, "Data smaller than kernel.", kThrowablePath,
                        "Cn1dSpatialFilter: N = K - 1");
        f.setInputData(constIn.begin(), 3, 1);
        f.setOutputData(out.begin(), 3, 1);
        f.execute();  // N = K filters normally
        check(out[0] == 1.0f * 20 + 2.0f * 10 + 3.0f * 20, "Cn1dSpatialFilter: N = K");
    }
    // 8-bit results are clamped and rounded half up.
    {
        img::Image<float> in(3, 1, 1);
        img::Image<unsigned char> out(3, 1, 1);
        in[0] = 254.5f;
        in[1] = -0.2f;
        in[2] = 300.0f;
        ProbeSpatialFilter<float, unsigned char, float> f;
        const img::Image<float>& constIn = in;
        f.setInputData(constIn.begin(), 3, 1);
        f.setOutputData(out.begin(), 3, 1);
        f.execute();
        check(out[0] == 255 && out[1] == 0 && out[2] == 255, "Cn1dSpatialFilter: 254.5, -0.2 and 300 to 8 bits");
    }
    // Up-sampling by 2 and down-sampling by 2 keep a constant line constant.
    {
        img::Image<float> in(8, 1, 1), up(16, 1, 1), down(4, 1, 1);
        in.fill(10.0f);
        ProbeSpatialFilter<float, float, float> f;
        f.setKernel(ProbeKernelFactory::smooth(0.375f));
        const img::Image<float>& constIn = in;
        f.setInputData(constIn.begin(), 8, 1);
        f.setOutputData(up.begin(), 16, 1);
        f.execute();
        f.setOutputData(down.begin(), 4, 1);
        f.execute();
        bool constant = true;
        for (std::size_t i = 0; i < 16; ++i) constant = constant && near(up[i], 10.0, 1e-5);
        for (std::size_t i = 0; i < 4; ++i) constant = constant && near(down[i], 10.0, 1e-5);
        check(constant, "Cn1dSpatialFilter: M = 2N and M = N / 2 on a constant line");
    }
    // Vector samples: each component filtered with the same kernel.
    {
        img::Image<Vec3f> in(5, 1, 1), out(5, 1, 1);
        for (unsigned int x = 0; x < 5; ++x) {
            const float v = static_cast<float>(10 * (x + 1));
            in[x] = Vec3f(v, 2 * v, -v);
        }
        ProbeSpatialFilter<Vec3f, Vec3f, Vec3f> f;
        f.setKernel(ProbeKernel(std::vector<float>{1.0f, 2.0f, 3.0f}));
        const img::Image<Vec3f>& constIn = in;
        f.setInputData(constIn.begin(), 5, 1);
        f.setOutputData(out.begin(), 5, 1);
        f.execute();
        check(out[0] == Vec3f(100.0f, 200.0f, -100.0f) && out[4] == Vec3f(260.0f, 520.0f, -260.0f),
              "Cn1dSpatialFilter: vector components");
    }
}

template <class In, class Out, class Acc>
class ProbeSeparableFilter : public nvf::CnSeparableFilter<In, Out, float, Acc, Mul, Add> {
public:
    ProbeSeparableFilter() = default;

    void runThroughSetters(const img::Image<In>& input, img::Image<Out>& output) {
        this->setInputImage(&input);
        this->setOutputImage(&output);
        this->v_execute();
    }
};

template <class In, class Out, class Acc>
void separableFilter(const std::string& name) {
    const std::string what = "CnSeparableFilter<" + name + ">";
    using Axis = nvf::CnCoord::Axis;
    ProbeSeparableFilter<In, Out, Acc> f;
    img::Image<In> in(6, 5, 4);
    img::Image<Out> out(6, 5, 4), direct(6, 5, 4);
    fillSamples(in);
    f.execute(in, out);
    f.runThroughSetters(in, direct);
    bool same = true;
    for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
        same = same && sameValue(out[i], in[i]) && sameValue(direct[i], in[i]);
    }
    check(same, what + ": identity kernels copy the volume (execute and v_execute)");

    check(kernelIs(f.getKernel(nvf::CnCoord::X), {1.0f}, 0) && kernelIs(f.getKernel(nvf::CnCoord::Y), {1.0f}, 0) &&
              kernelIs(f.getKernel(nvf::CnCoord::Z), {1.0f}, 0),
          what + ": identity kernels by default");
    f.setKernel(ProbeKernelFactory::smooth(0.375f), static_cast<Axis>(3));
    check(f.getKernel(nvf::CnCoord::X).size() == 5 && f.getKernel(nvf::CnCoord::Y).size() == 5 &&
              f.getKernel(nvf::CnCoord::Z).size() == 1,
          what + ": setKernel(k, 3) sets X and Y only");
    check(&f.getKernel(static_cast<Axis>(3)) == &f.getKernel(nvf::CnCoord::X), what + ": getKernel(3) is the X kernel");
    f.setKernel(ProbeKernelFactory::id(), static_cast<Axis>(8));
    check(f.getKernel(nvf::CnCoord::X).size() == 5, what + ": an axis without X, Y or Z bits changes nothing");
    expectThrowable([&] { f.getKernel(static_cast<Axis>(8)); }, "Unknown axis (getKernel).", kThrowablePath,
                    what + ": getKernel(8)");

    // One level of a pyramid of a constant 2-D image.
    img::Image<In> flat(8, 8, 1);
    flat.fill(sampleValue<In>(33));
    img::Image<Out> half(4, 4, 1);
    f.setKernel(ProbeKernelFactory::smooth(0.375f), static_cast<Axis>(7));
    f.execute(flat, half);
    same = true;
    for (std::size_t i = 0; i < half.getNumberOfVoxels(); ++i) same = same && sameValue(half[i], flat[0], 1e-4);
    check(same, what + ": halving a constant image with smooth(0.375)");

    img::Image<In> narrow(4, 8, 1);
    img::Image<Out> narrowOut(4, 8, 1);
    expectThrowable([&] { f.execute(narrow, narrowOut); }, "Data smaller than kernel.", kThrowablePath,
                    what + ": X dimension 4 with a five-value kernel");
}

// ================================================================================
// Recursive filters
// ================================================================================

template <class In, class Out, class InIt, class OutIt>
class ProbeRecursiveLine : public nvf::Cn1dRecursiveFilter<In, Out, InIt, OutIt> {
public:
    using Base = nvf::Cn1dRecursiveFilter<In, Out, InIt, OutIt>;
    ProbeRecursiveLine() = default;
    ProbeRecursiveLine(const ProbeRecursiveLine& other) : Base(other) {}
    ProbeRecursiveLine& operator=(const ProbeRecursiveLine& other) {
        Base::operator=(other);
        return *this;
    }
    ~ProbeRecursiveLine() override = default;
};

struct Coefficients {
    double B = 99.0;
    double a1 = 99.0;
    double a2 = 99.0;
    double a3 = 99.0;
};

bool matrixIs(const nvm::CnMatrix<double>& m, const double (&expected)[3][3], double tolerance) {
    if (m.getRows() != 3 || m.getCols() != 3) {
        return false;
    }
    for (unsigned int r = 0; r < 3; ++r) {
        for (unsigned int c = 0; c < 3; ++c) {
            if (!near(m(r, c), expected[r][c], tolerance)) {
                return false;
            }
        }
    }
    return true;
}

// Members every instantiation has, checked on an image line.
template <class In, class Out>
void recursiveLine(const std::string& name) {
    const std::string what = "Cn1dRecursiveFilter<" + name + ">";
    using Probe =
        ProbeRecursiveLine<In, Out, typename img::Image<In>::const_iterator, typename img::Image<Out>::iterator>;
    using Base = typename Probe::Base;
    Probe f;
    check(f.getType() == Base::Smooth && Base::Smooth == 1 && Base::FirstDerivative == 2 &&
              Base::SecondDerivative == 3,
          what + ": type Smooth after construction");
    Coefficients c;
    nvm::CnMatrix<double> m(0, 0);
    f.computeFilterParameters(0.0, c.B, c.a1, c.a2, c.a3, m, 0);
    const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    check(c.B == 1.0 && c.a1 == 0.0 && c.a2 == 0.0 && c.a3 == 0.0 && matrixIs(m, identity, 1e-12),
          what + ": sigma 0 is the identity filter");
    f.setParameters(c.B, c.a1, c.a2, c.a3, &m);

    img::Image<In> in(6, 1, 1);
    img::Image<Out> out(6, 1, 1);
    fillSamples(in);
    const img::Image<In>& constIn = in;
    f.setInputData(constIn.begin(), 6, 1);
    f.setOutputData(out.begin(), 6, 1);
    f.execute();
    bool same = true;
    for (std::size_t i = 0; i < 6; ++i) same = same && sameValue(out[i], in[i], 1e-6);
    check(same, what + ": sigma 0 copies the line");

    Probe copy(f);
    Probe assigned;
    assigned = f;
    check(copy.getType() == Base::Smooth && assigned.getType() == Base::Smooth, what + ": copies keep the type");
    img::Image<Out> copyOut(6, 1, 1);
    copy.setOutputData(copyOut.begin(), 6, 1);
    copy.execute();  // the copy shares the source's coefficients and matrix
    same = true;
    for (std::size_t i = 0; i < 6; ++i) same = same && sameValue(copyOut[i], out[i]);
    check(same, what + ": a copy runs with the source's parameters");

    f.setType(static_cast<typename Base::EnRecursiveFilterType>(7));
    check(f.getType() == 7, what + ": setType stores any value");
    expectThrowable([&] { f.execute(); }, "Unknown recursive filter algorithm.", kThrowablePath,
                    what + ": an unknown type");
    f.setType(Base::FirstDerivative);
    check(f.getType() == Base::FirstDerivative, what + ": setType(FirstDerivative)");
}

void recursiveLineFilter() {
    recursiveLine<unsigned char, float>("unsigned char, float");
    recursiveLine<float, float>("float, float");
    recursiveLine<double, double>("double, double");
    recursiveLine<Vec3f, Vec3f>("vector, vector");

    // The vector instantiation smooths only.
    {
        using Probe = ProbeRecursiveLine<Vec3f, Vec3f, img::Image<Vec3f>::const_iterator, img::Image<Vec3f>::iterator>;
        Probe f;
        nvm::CnMatrix<double> m1(0, 0), m2(0, 0);
        Coefficients c;
        f.computeFilterParameters(1.0, c.B, c.a1, c.a2, c.a3, m1, 1);
        f.setParameters(c.B, c.a1, c.a2, c.a3, &m1);
        f.setType(Probe::FirstDerivative);
        img::Image<Vec3f> line(8, 1, 1), out(8, 1, 1);
        const img::Image<Vec3f>& constLine = line;
        f.setInputData(constLine.begin(), 8, 1);
        f.setOutputData(out.begin(), 8, 1);
        expectThrowable([&] { f.execute(); }, "No first derivative filter for images of CnVectors.", kThrowablePath,
                        "Cn1dRecursiveFilter<vector>: first derivative");
        f.computeFilterParameters(1.0, c.B, c.a1, c.a2, c.a3, m2, 2);
        f.setParameters(c.B, c.a1, c.a2, c.a3, &m2);
        f.setType(Probe::SecondDerivative);
        expectThrowable([&] { f.execute(); }, "No second derivative filter for images of CnVectors.", kThrowablePath,
                        "Cn1dRecursiveFilter<vector>: second derivative");
    }

    // Coefficients, boundary matrices and lines through plain pointers.
    using Probe = ProbeRecursiveLine<double, double, double*, double*>;
    Probe f;
    nvm::CnMatrix<double> m(0, 0);
    Coefficients c;
    struct Reference {
        double sigma, B, a1, a2, a3;
    };
    const Reference references[] = {{1.0, 0.541422, 0.570436, -0.123131, 0.011274},
                                    {2.5, 0.159011, 1.456358, -0.760221, 0.144852},
                                    {5.0, 0.026183, 2.225551, -1.690706, 0.438972}};
    for (const Reference& r : references) {
        f.computeFilterParameters(r.sigma, c.B, c.a1, c.a2, c.a3, m, 0);
        check(near(c.B, r.B, 1e-6) && near(c.a1, r.a1, 1e-6) && near(c.a2, r.a2, 1e-6) && near(c.a3, r.a3, 1e-6),
              "computeFilterParameters: coefficients for sigma " + std::to_string(r.sigma));
        check(near(c.B + c.a1 + c.a2 + c.a3, 1.0, 1e-12), "computeFilterParameters: unit gain");
    }
    nvm::CnMatrix<double> m0(0, 0), m1(0, 0), m2(0, 0);
    f.computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, m0, 0);
    f.computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, m1, 1);
    f.computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, m2, 2);
    check(m0 == m1 && m0 != m2, "computeFilterParameters: orders 0 and 1 share a matrix, order 2 differs");
    f.computeFilterParameters(0.0, c.B, c.a1, c.a2, c.a3, m2, 2);
    const double second[3][3] = {{-1, 1, 0}, {0, -1, 1}, {0, 0, -1}};
    check(matrixIs(m2, second, 1e-12), "computeFilterParameters: sigma 0, order 2");
    f.computeFilterParameters(100.0, c.B, c.a1, c.a2, c.a3, m, 0);  // converges
    check(m.getRows() == 3 && m.getCols() == 3, "computeFilterParameters: sigma 100 converges");

    Coefficients unset;
    nvm::CnMatrix<double> untouched(0, 0);
    expectThrowable([&] { f.computeFilterParameters(0.0, unset.B, unset.a1, unset.a2, unset.a3, untouched, 3); },
                    "invalid filter order", kThrowablePath, "computeFilterParameters: order 3");
    check(unset.B == 1.0 && unset.a1 == 0.0 && untouched.getRows() == 0,
          "computeFilterParameters: order 3 writes the coefficients, not the matrix");
    expectThrowable([&] { f.computeFilterParameters(110.0, c.B, c.a1, c.a2, c.a3, m, 0); },
                    "Recursive initialization can't converge after 1000 iterations (sigma = 110.000000)",
                    kThrowablePath, "computeFilterParameters: sigma 110");

    // Derivatives in the middle of a long line.
    const unsigned int n = 101;
    std::vector<double> ramp(n), square(n), out(n);
    for (unsigned int k = 0; k < n; ++k) {
        ramp[k] = k;
        square[k] = static_cast<double>(k) * k;
    }
    f.computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, m1, 1);
    f.setParameters(c.B, c.a1, c.a2, c.a3, &m1);
    f.setType(Probe::FirstDerivative);
    f.setInputData(ramp.data(), n, 1);
    f.setOutputData(out.data(), n, 1);
    f.execute();
    check(near(out[50], 1.0, 1e-6), "Cn1dRecursiveFilter: first derivative of a ramp");
    f.computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, m2, 2);
    f.setParameters(c.B, c.a1, c.a2, c.a3, &m2);
    f.setType(Probe::SecondDerivative);
    f.setInputData(square.data(), n, 1);
    f.execute();
    check(near(out[50], 2.0, 1e-6), "Cn1dRecursiveFilter: second derivative of k^2");
    f.computeFilterParameters(2.0, c.B, c.a1, c.a2, c.a3, m0, 0);
    f.setParameters(c.B, c.a1, c.a2, c.a3, &m0);
    f.setType(Probe::Smooth);
    f.setInputData(out.data(), n, 1);  // in place
    std::vector<double> separate(n);
    Probe g(f);
    g.setOutputData(separate.data(), n, 1);
    g.execute();
    f.execute();
    bool same = true;
    for (unsigned int k = 0; k < n; ++k) same = same && near(out[k], separate[k], 1e-12);
    check(same, "Cn1dRecursiveFilter: in place equals a separate line");
}

template <class In, class Out>
class ProbeRecursiveFilter : public nvf::CnRecursiveFilter<In, Out> {
public:
    ProbeRecursiveFilter() = default;

    void runThroughSetters(const img::Image<In>& input, img::Image<Out>& output) {
        this->setInputImage(&input);
        this->setOutputImage(&output);
        this->v_execute();
    }
};

template <class In, class Out>
void recursiveFilter(const std::string& name) {
    const std::string what = "CnRecursiveFilter<" + name + ">";
    using Probe = ProbeRecursiveFilter<In, Out>;
    Probe f;
    check(f.getSigmaX() == 1.0 && f.getSigmaY() == 1.0 && f.getSigmaZ() == 1.0, what + ": sigmas 1 by default");
    check(f.getDerivative() == Probe::NoDerivative && Probe::NoDerivative == 0 && Probe::FirstDerivativeX == 1 &&
              Probe::FirstDerivativeY == 2 && Probe::FirstDerivativeZ == 3 && Probe::SecondDerivativeX == 4 &&
              Probe::SecondDerivativeY == 5 && Probe::SecondDerivativeZ == 6,
          what + ": NoDerivative by default");
    f.setSigma(0.5, 1.5, 2.5);
    check(f.getSigmaX() == 0.5 && f.getSigmaY() == 1.5 && f.getSigmaZ() == 2.5, what + ": setSigma");

    img::Image<In> in(5, 4, 3);
    img::Image<Out> out(5, 4, 3), direct(5, 4, 3);
    fillSamples(in);
    f.setSigma(0.0, 0.0, 0.0);
    f.execute(in, out);
    f.runThroughSetters(in, direct);
    bool same = true;
    for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
        same = same && sameValue(out[i], in[i], 1e-5) && sameValue(direct[i], in[i], 1e-5);
    }
    check(same, what + ": sigma 0 copies the image (execute and v_execute)");

    f.setDerivative(static_cast<typename Probe::EnDerivativeType>(7));
    check(f.getDerivative() == 7, what + ": setDerivative stores any value");
    img::Image<Out> kept(5, 4, 3);
    kept.fill(sampleValue<Out>(5));
    expectThrowable([&] { f.execute(in, kept); }, "invalid derivative", kThrowablePath, what + ": derivative 7");
    same = true;
    for (std::size_t i = 0; i < kept.getNumberOfVoxels(); ++i) same = same && sameValue(kept[i], sampleValue<Out>(5));
    check(same, what + ": derivative 7 leaves the output untouched");
    f.setDerivative(Probe::SecondDerivativeZ);
    check(f.getDerivative() == Probe::SecondDerivativeZ, what + ": setDerivative");
}

void recursiveFilters() {
    recursiveFilter<unsigned char, float>("unsigned char, float");
    recursiveFilter<float, float>("float, float");
    recursiveFilter<double, double>("double, double");
    recursiveFilter<Vec3f, Vec3f>("vector, vector");

    {
        // Ten sigmas from every border the zero continuation no longer shows.
        img::Image<float> ramp(21, 30, 21), out(21, 30, 21);
        for (unsigned int z = 0; z < 21; ++z)
            for (unsigned int y = 0; y < 30; ++y)
                for (unsigned int x = 0; x < 21; ++x) ramp(x, y, z) = static_cast<float>(y);
        ProbeRecursiveFilter<float, float> f;
        f.setDerivative(ProbeRecursiveFilter<float, float>::FirstDerivativeY);
        f.execute(ramp, out);
        check(near(out(10, 15, 10), 1.0, 1e-4), "CnRecursiveFilter: FirstDerivativeY of a y ramp");
    }
    {
        img::Image<Vec3f> in(4, 4, 4), out(4, 4, 4);
        ProbeRecursiveFilter<Vec3f, Vec3f> f;
        f.setDerivative(ProbeRecursiveFilter<Vec3f, Vec3f>::FirstDerivativeX);
        expectThrowable([&] { f.execute(in, out); }, "No first derivative filter for images of CnVectors.",
                        kThrowablePath, "CnRecursiveFilter<vector>: a derivative");
    }
}

class ProbeGradient : public nvf::CnImageGradient<unsigned char> {
public:
    using Base = nvf::CnImageGradient<unsigned char>;
    ProbeGradient() = default;
    // The copy operations are protected: only derived classes can copy.
    ProbeGradient(const ProbeGradient& other) : Base(other) {}
    ProbeGradient& operator=(const ProbeGradient& other) {
        Base::operator=(other);
        return *this;
    }
    ~ProbeGradient() override = default;
};

void imageGradient() {
    ProbeGradient g;
    check(g.getSigma() == 0.0, "CnImageGradient: sigma 0 by default");
    g.setSigma(1.5);
    check(g.getSigma() == 1.5, "CnImageGradient: setSigma");
    ProbeGradient copy(g);
    ProbeGradient assigned;
    assigned = g;
    check(copy.getSigma() == 1.5 && assigned.getSigma() == 1.5, "CnImageGradient: protected copy operations");

    ProbeGradient f;
    img::Volume<unsigned char> src(5, 5, 5);
    for (unsigned int z = 0; z < 5; ++z)
        for (unsigned int y = 0; y < 5; ++y)
            for (unsigned int x = 0; x < 5; ++x) src(x, y, z) = static_cast<unsigned char>(x);
    src.setVoxelSize(nvm::CnVector3D<double>(2.0, 1.0, 1.0));
    img::Volume<Vec3f> dst(5, 5, 5);
    f.execute(src, dst);
    bool ok = true;
    for (unsigned int z = 1; z <= 3; ++z)
        for (unsigned int y = 1; y <= 3; ++y)
            for (unsigned int x = 1; x <= 3; ++x) {
                const Vec3f v = dst(x, y, z);
                ok = ok && near(v.x, 0.5, 1e-6) && near(v.y, 0.0, 1e-6) && near(v.z, 0.0, 1e-6);
            }
    check(ok, "CnImageGradient: ramp with voxel size (2, 1, 1)");

    img::Volume<unsigned char> flat(5, 5, 5);
    flat.fill(10);
    f.execute(flat, dst);
    check(near(dst(0, 2, 2).x, 5.0, 1e-6) && near(dst(4, 2, 2).x, -5.0, 1e-6) && near(dst(2, 2, 2).x, 0.0, 1e-6),
          "CnImageGradient: constant source, borders");

    img::Volume<Vec3f> empty;
    expectThrowable([&] { f.execute(src, empty); }, "dst has no elements", kThrowablePath,
                    "CnImageGradient: empty destination");
    std::unique_ptr<ProbeGradient::Base> owned(new ProbeGradient());
    owned.reset();
}

// ================================================================================
// Fast Fourier transforms
// ================================================================================

using Complex = std::complex<double>;

// X(j) = sum_k x(k) exp(sign 2 pi i jk / n), straight from the definition.
std::vector<Complex> dft(const std::vector<Complex>& x, int sign) {
    const std::size_t n = x.size();
    const double twoPi = 8.0 * std::atan(1.0);
    std::vector<Complex> result(n);
    for (std::size_t j = 0; j < n; ++j) {
        Complex sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const double angle = sign * twoPi * static_cast<double>((j * k) % n) / static_cast<double>(n);
            sum += x[k] * Complex(std::cos(angle), std::sin(angle));
        }
        result[j] = sum;
    }
    return result;
}

// The transform of every axis of an array of sizes[0] x sizes[1] x ... (the last
// size varies fastest), by one-dimensional transforms from the definition.
std::vector<Complex> dftAxes(std::vector<Complex> data, const std::vector<std::size_t>& sizes, int sign) {
    std::size_t inner = 1;
    for (std::size_t axis = sizes.size(); axis-- > 0;) {
        const std::size_t n = sizes[axis];
        const std::size_t outer = data.size() / (n * inner);
        for (std::size_t o = 0; o < outer; ++o) {
            for (std::size_t i = 0; i < inner; ++i) {
                std::vector<Complex> line(n);
                for (std::size_t k = 0; k < n; ++k) line[k] = data[(o * n + k) * inner + i];
                line = dft(line, sign);
                for (std::size_t k = 0; k < n; ++k) data[(o * n + k) * inner + i] = line[k];
            }
        }
        inner *= n;
    }
    return data;
}

template <class T>
double fftTolerance() {
    return std::is_same<T, float>::value ? 2e-4 : 1e-10;
}

template <class T>
void fillSignal(std::vector<T>& re, std::vector<T>& im, int seed) {
    for (std::size_t i = 0; i < re.size(); ++i) {
        const double t = static_cast<double>(i) + 0.37 * seed;
        re[i] = static_cast<T>(std::sin(1.3 * t + 0.2));
        im[i] = static_cast<T>(std::cos(0.7 * t * t + 0.1) * 0.5);
    }
}

template <class T>
std::vector<Complex> toComplex(const std::vector<T>& re, const std::vector<T>& im) {
    std::vector<Complex> x(re.size());
    for (std::size_t i = 0; i < re.size(); ++i) x[i] = Complex(re[i], im[i]);
    return x;
}

template <class T>
bool matches(const std::vector<T>& re, const std::vector<T>& im, const std::vector<Complex>& expected,
             double tolerance) {
    if (re.size() != expected.size() || im.size() != expected.size()) {
        return false;
    }
    for (std::size_t i = 0; i < re.size(); ++i) {
        if (!near(re[i], expected[i].real(), tolerance) || !near(im[i], expected[i].imag(), tolerance)) {
            return false;
        }
    }
    return true;
}

template <class T>
bool close(const std::vector<T>& a, const std::vector<T>& b, double tolerance) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!near(a[i], b[i], tolerance)) {
            return false;
        }
    }
    return true;
}

// The one-dimensional filter with its protected routines and fields reached from
// a derived class, as the multi-dimensional filters reach them.
template <class T>
class ProbeFft1d : public nvf::Cn1dFftFilter<T> {
public:
    using Base = nvf::Cn1dFftFilter<T>;
    ProbeFft1d() = default;
    ProbeFft1d(const ProbeFft1d& other) : Base(other), what(other.what) {}
    ProbeFft1d& operator=(const ProbeFft1d& other) {
        Base::operator=(other);
        what = other.what;
        return *this;
    }
    ~ProbeFft1d() override = default;

    void run(const std::string& name) {
        what = "Cn1dFftFilter<" + name + ">";
        fields();
        powerOfTwoTest();
        integerPower();
        twiddleTable();
        driver();
        radixRoutines();
        twiddleCache();
        fieldDrivenExecute();
    }

    // Copies carry every setting; the table is never shared.
    bool sameSettings(const ProbeFft1d& other) const {
        return this->m_direction == other.m_direction && this->m_vectorJump == other.m_vectorJump &&
               this->m_dataJump == other.m_dataJump && this->m_realInput == other.m_realInput &&
               this->m_realOutput == other.m_realOutput && this->m_imagInput == other.m_imagInput &&
               this->m_imagOutput == other.m_imagOutput && this->m_length == other.m_length &&
               this->m_vectorCount == other.m_vectorCount && this->m_gpfaOnly == other.m_gpfaOnly &&
               (this->m_trigs.empty() || this->m_trigs.data() != other.m_trigs.data());
    }

    std::string what;

private:
    void fields() {
        check(this->m_direction == 1 && this->m_vectorJump == 1 && this->m_dataJump == 1, what + ": default settings");
        check(this->m_imagInput == nullptr && this->m_imagOutput == nullptr, what + ": imaginary pointers null");
        check(this->m_trigs.empty() && this->m_trigsLength == 0 && this->m_trigsKind == 0 && !this->m_gpfaOnly,
              what + ": no table, GPFA not forced");
        const T* realInput = this->m_realInput;
        T* realOutput = this->m_realOutput;
        const std::int32_t length = this->m_length;
        const std::int32_t count = this->m_vectorCount;
        static_cast<void>(realInput);
        static_cast<void>(realOutput);
        static_cast<void>(length);
        static_cast<void>(count);
        this->SetDirection(-1);
        this->SetVectorJump(5);
        this->SetDataJump(4);
        check(this->m_direction == -1 && this->m_vectorJump == 5 && this->m_dataJump == 4,
              what + ": SetDirection / SetVectorJump / SetDataJump");
        this->SetDirection(1);
        this->SetVectorJump(1);
        this->SetDataJump(1);
    }

    void powerOfTwoTest() {
        check(!this->IsPowerOf2(0) && this->IsPowerOf2(1) && !this->IsPowerOf2(6) && this->IsPowerOf2(1024) &&
                  this->IsPowerOf2(0x80000000u) && !this->IsPowerOf2(0xFFFFFFFFu),
              what + ": IsPowerOf2");
    }

    std::int32_t power(std::int32_t x, std::int32_t e) { return this->pow_ii(&x, &e); }

    void integerPower() {
        check(power(2, 10) == 1024, what + ": pow_ii(2, 10)");
        check(power(5, 0) == 1, what + ": pow_ii(5, 0)");
        check(power(1, -3) == 1, what + ": pow_ii(1, -3)");
        check(power(2, -1) == 0, what + ": pow_ii(2, -1)");
        check(power(-1, -3) == -1, what + ": pow_ii(-1, -3)");
        check(power(-1, -2) == 1 && power(3, 4) == 81 && power(-2, 3) == -8, what + ": pow_ii, further values");
        std::int32_t x = 7, e = 2;
        this->pow_ii(&x, &e);
        check(x == 7 && e == 2, what + ": pow_ii leaves its arguments");
    }

    // The table of setgpfa: for each factor power nf present, nf pairs
    // (cos, sin) of kk * 2 pi / nf with kk stepping by (n / nf) mod nf.
    std::vector<double> expectedTable(std::int32_t n) {
        const double twoPi = 4.0 * std::asin(1.0);
        std::vector<double> table;
        std::int32_t rest = n;
        for (std::int32_t f : {2, 3, 5}) {
            std::int32_t nf = 1;
            while (rest % f == 0) {
                rest /= f;
                nf *= f;
            }
            if (nf == 1) {
                continue;
            }
            double del = twoPi / nf;
            if (std::is_same<T, float>::value) {
                del = static_cast<float>(del);
            }
            const std::int32_t kink = (n / nf) % nf;
            std::int32_t kk = 0;
            for (std::int32_t k = 0; k < nf; ++k) {
                table.push_back(static_cast<T>(std::cos(kk * del)));
                table.push_back(static_cast<T>(std::sin(kk * del)));
                kk += kink;
                if (kk > nf) {
                    kk -= nf;
                }
            }
        }
        return table;
    }

    void tableCase(std::int32_t n, std::size_t values, const std::vector<int>& kks,
                   const std::vector<int>& factorPowers) {
        const T sentinel = T(-7);
        std::vector<T> trigs(static_cast<std::size_t>(2 * n), sentinel);
        std::int32_t length = n;
        check(this->setgpfa(trigs.data(), &length) == 0 && length == n, what + ": setgpfa returns 0");
        const std::vector<double> expected = expectedTable(n);
        check(expected.size() == values, what + ": the test's own table for n = " + std::to_string(n));
        // The angles the cases list, pair by pair.
        const double twoPi = 4.0 * std::asin(1.0);
        std::size_t pair = 0;
        bool anglesOk = true;
        for (std::size_t block = 0; block < factorPowers.size(); ++block) {
            const int nf = factorPowers[block];
            for (int k = 0; k < nf; ++k, ++pair) {
                const double angle = kks[pair] * twoPi / nf;
                anglesOk = anglesOk && near(trigs[2 * pair], std::cos(angle), 4 * std::numeric_limits<T>::epsilon()) &&
                           near(trigs[2 * pair + 1], std::sin(angle), 4 * std::numeric_limits<T>::epsilon());
            }
        }
        check(pair * 2 == values && anglesOk, what + ": setgpfa angles for n = " + std::to_string(n));
        bool tableOk = true;
        for (std::size_t i = 0; i < values; ++i) {
            tableOk = tableOk && near(trigs[i], expected[i], 2 * std::numeric_limits<T>::epsilon());
        }
        for (std::size_t i = values; i < trigs.size(); ++i) tableOk = tableOk && trigs[i] == sentinel;
        check(tableOk, what + ": setgpfa table for n = " + std::to_string(n) + " (" + std::to_string(values) +
                           " values, nothing beyond)");
    }

    void twiddleTable() {
        // n = 6: 2 pairs for 2 (angles 0 and pi), then 3 pairs for 3 with kk = 0, 2, 1.
        tableCase(6, 10, {0, 1, 0, 2, 1}, {2, 3});
        // n = 12: 4 pairs for 4 with kk = 0, 3, 2, 1, then 3 pairs for 3 with kk = 0, 1, 2.
        tableCase(12, 14, {0, 3, 2, 1, 0, 1, 2}, {4, 3});
        std::vector<T> trigs(14, T(-7));
        std::int32_t n = 7;
        check(this->setgpfa(trigs.data(), &n) == 0, what + ": setgpfa(7) returns 0");
        check(trigs == std::vector<T>(14, T(-7)), what + ": setgpfa(7) leaves the table untouched");
        std::vector<T> one(2, T(-7));
        n = 1;
        check(this->setgpfa(one.data(), &n) == 0 && one == std::vector<T>(2, T(-7)),
              what + ": setgpfa(1) writes an empty table");
    }

    // gpfa on lot vectors of length n (inc 1, jump n) with the table setgpfa builds.
    void gpfaBatch(std::vector<T>& re, std::vector<T>& im, std::int32_t n, std::int32_t lot, std::int32_t isign) {
        std::vector<T> trigs(static_cast<std::size_t>(2 * n));
        std::int32_t length = n, inc = 1, jump = n;
        this->setgpfa(trigs.data(), &length);
        check(this->gpfa(re.data(), im.data(), trigs.data(), &inc, &jump, &length, &lot, &isign) == 0,
              what + ": gpfa returns 0");
    }

    void driver() {
        const double tol = fftTolerance<T>();
        // An illegal length throws before any array is touched.
        {
            std::vector<T> re(7), im(7);
            fillSignal(re, im, 1);
            const std::vector<T> re0 = re, im0 = im;
            std::vector<T> trigs(14, T(0));
            std::int32_t n = 7, inc = 1, jump = 7, lot = 1, isign = 1;
            expectException([&] { this->gpfa(re.data(), im.data(), trigs.data(), &inc, &jump, &n, &lot, &isign); },
                            kFftMessage, kFftPath, what + ": gpfa(n = 7)");
            check(re == re0 && im == im0, what + ": gpfa(n = 7) leaves the arrays untouched");
        }
        // Sign +1 from the definition, then sign -1 returns n times the input.
        for (std::int32_t n : {6, 8, 30, 60}) {
            const std::int32_t lot = 3;
            std::vector<T> re(static_cast<std::size_t>(n * lot)), im(re.size());
            fillSignal(re, im, n);
            const std::vector<T> re0 = re, im0 = im;
            gpfaBatch(re, im, n, lot, 1);
            bool definition = true;
            for (std::int32_t v = 0; v < lot; ++v) {
                const auto first = static_cast<std::ptrdiff_t>(v * n);
                const std::vector<T> r0(re0.begin() + first, re0.begin() + first + n);
                const std::vector<T> i0(im0.begin() + first, im0.begin() + first + n);
                const std::vector<T> r(re.begin() + first, re.begin() + first + n);
                const std::vector<T> i(im.begin() + first, im.begin() + first + n);
                definition = definition && matches(r, i, dft(toComplex(r0, i0), +1), tol * n);
            }
            check(definition, what + ": gpfa(n = " + std::to_string(n) + ", isign +1) is the DFT with exp(+...)");
            gpfaBatch(re, im, n, lot, -1);
            bool back = true;
            for (std::size_t i = 0; i < re.size(); ++i) {
                back = back && near(re[i], n * static_cast<double>(re0[i]), tol * n) &&
                       near(im[i], n * static_cast<double>(im0[i]), tol * n);
            }
            check(back, what + ": gpfa +1 then -1 gives n times the input (n = " + std::to_string(n) + ")");
        }
        // Vectors interleaved element by element (inc = lot, jump = 1).
        {
            const std::int32_t n = 6, lot = 2;
            std::vector<T> re(12), im(12);
            fillSignal(re, im, 3);
            std::vector<T> reRows(12), imRows(12);
            for (std::int32_t v = 0; v < lot; ++v)
                for (std::int32_t k = 0; k < n; ++k) {
                    reRows[static_cast<std::size_t>(v * n + k)] = re[static_cast<std::size_t>(k * lot + v)];
                    imRows[static_cast<std::size_t>(v * n + k)] = im[static_cast<std::size_t>(k * lot + v)];
                }
            gpfaBatch(reRows, imRows, n, lot, 1);
            std::vector<T> trigs(12);
            std::int32_t length = n, inc = lot, jump = 1, count = lot, isign = 1;
            this->setgpfa(trigs.data(), &length);
            this->gpfa(re.data(), im.data(), trigs.data(), &inc, &jump, &length, &count, &isign);
            bool same = true;
            for (std::int32_t v = 0; v < lot; ++v)
                for (std::int32_t k = 0; k < n; ++k) {
                    same = same &&
                           near(re[static_cast<std::size_t>(k * lot + v)], reRows[static_cast<std::size_t>(v * n + k)],
                                fftTolerance<T>()) &&
                           near(im[static_cast<std::size_t>(k * lot + v)], imRows[static_cast<std::size_t>(v * n + k)],
                                fftTolerance<T>());
                }
            check(same, what + ": gpfa with inc > 1 and jump 1");
        }
    }

    void radixRoutines() {
        const double tol = fftTolerance<T>();
        // n = 6: gpfa2f, then gpfa3f on the 3-block of the table, is gpfa.
        {
            std::vector<T> re(12), im(12);
            fillSignal(re, im, 5);
            std::vector<T> reDriver = re, imDriver = im;
            gpfaBatch(reDriver, imDriver, 6, 2, 1);
            std::vector<T> trigs(12);
            std::int32_t n = 6, inc = 1, jump = 6, lot = 2, isign = 1, p = 1, q = 1;
            this->setgpfa(trigs.data(), &n);
            const int r2 = this->gpfa2f(re.data(), im.data(), trigs.data(), &inc, &jump, &n, &p, &lot, &isign);
            const int r3 = this->gpfa3f(re.data(), im.data(), trigs.data() + 4, &inc, &jump, &n, &q, &lot, &isign);
            check(r2 == 0 && r3 == 0, what + ": gpfa2f and gpfa3f return 0");
            check(close(re, reDriver, tol) && close(im, imDriver, tol), what + ": gpfa2f then gpfa3f equals gpfa (n = 6)");
        }
        // n = 30: the three routines, each on its block, are gpfa.
        {
            std::vector<T> re(30), im(30);
            fillSignal(re, im, 7);
            std::vector<T> reDriver = re, imDriver = im;
            gpfaBatch(reDriver, imDriver, 30, 1, -1);
            std::vector<T> trigs(60);
            std::int32_t n = 30, inc = 1, jump = 30, lot = 1, isign = -1, one = 1;
            this->setgpfa(trigs.data(), &n);
            this->gpfa2f(re.data(), im.data(), trigs.data(), &inc, &jump, &n, &one, &lot, &isign);
            this->gpfa3f(re.data(), im.data(), trigs.data() + 4, &inc, &jump, &n, &one, &lot, &isign);
            const int r5 = this->gpfa5f(re.data(), im.data(), trigs.data() + 10, &inc, &jump, &n, &one, &lot, &isign);
            check(r5 == 0, what + ": gpfa5f returns 0");
            check(close(re, reDriver, tol * 30) && close(im, imDriver, tol * 30),
                  what + ": gpfa2f, gpfa3f, gpfa5f equal gpfa (n = 30)");
        }
        // n = 5, 25, 9, 16: one routine alone is the transform.
        struct Single {
            std::int32_t n, factor, exponent;
        };
        for (const Single& s : {Single{5, 5, 1}, Single{25, 5, 2}, Single{9, 3, 2}, Single{16, 2, 4}, Single{8, 2, 3}}) {
            std::vector<T> re(static_cast<std::size_t>(s.n)), im(re.size());
            fillSignal(re, im, 11);
            const std::vector<Complex> expected = dft(toComplex(re, im), +1);
            std::vector<T> trigs(static_cast<std::size_t>(2 * s.n));
            std::int32_t n = s.n, inc = 1, jump = s.n, lot = 1, isign = 1, mm = s.exponent;
            this->setgpfa(trigs.data(), &n);
            if (s.factor == 2) {
                this->gpfa2f(re.data(), im.data(), trigs.data(), &inc, &jump, &n, &mm, &lot, &isign);
            } else if (s.factor == 3) {
                this->gpfa3f(re.data(), im.data(), trigs.data(), &inc, &jump, &n, &mm, &lot, &isign);
            } else {
                this->gpfa5f(re.data(), im.data(), trigs.data(), &inc, &jump, &n, &mm, &lot, &isign);
            }
            check(matches(re, im, expected, tol * s.n),
                  what + ": the radix-" + std::to_string(s.factor) + " routine alone, n = " + std::to_string(s.n));
        }
    }

    void twiddleCache() {
        // The prime factor table for a length that is not a power of two.
        this->m_dataJump = 1;
        this->ComputeTwiddleFactors(6);
        check(this->m_trigsKind == 1 && this->m_trigsLength == 6 && this->m_trigs.size() >= 10,
              what + ": ComputeTwiddleFactors(6) builds the prime factor table");
        std::vector<T> table(12);
        std::int32_t six = 6;
        this->setgpfa(table.data(), &six);
        check(std::vector<T>(this->m_trigs.begin(), this->m_trigs.begin() + 10) ==
                  std::vector<T>(table.begin(), table.begin() + 10),
              what + ": ComputeTwiddleFactors(6) holds the setgpfa table");
        // The math library's table for a power of two with adjacent elements.
        this->ComputeTwiddleFactors(8);
        check(this->m_trigsKind == 2 && this->m_trigsLength == 8 && this->m_trigs.size() == 24,
              what + ": ComputeTwiddleFactors(8) builds the math library's table of 3n values");
        std::vector<T> re(8), im(8);
        fillSignal(re, im, 13);
        const std::vector<T> re0 = re, im0 = im;
        this->CallMklFftRoutine(re.data(), im.data(), 8, 1);
        check(matches(re, im, dft(toComplex(re0, im0), -1), fftTolerance<T>() * 8),
              what + ": CallMklFftRoutine forward is the DFT with exp(-...)");
        this->CallMklFftRoutine(re.data(), im.data(), 8, -1);
        check(close(re, re0, fftTolerance<T>() * 8) && close(im, im0, fftTolerance<T>() * 8),
              what + ": CallMklFftRoutine inverse returns the input");
        this->m_dataJump = 2;
        this->ComputeTwiddleFactors(8);
        check(this->m_trigsKind == 1 && this->m_trigsLength == 8, what + ": data jump 2 takes the prime factor table");
        this->m_dataJump = 1;
        this->m_gpfaOnly = true;
        this->ComputeTwiddleFactors(16);
        check(this->m_trigsKind == 1 && this->m_trigsLength == 16, what + ": gpfaOnly takes the prime factor table");
        this->m_gpfaOnly = false;
        this->ComputeTwiddleFactors(7);
        check(this->m_trigsKind == 1 && this->m_trigsLength == 7,
              what + ": an illegal length records an unfilled prime factor table");
    }

    // execute() on the batch the fields describe: two vectors interleaved element
    // by element, then the same through executeWith.
    void fieldDrivenExecute() {
        const double tol = fftTolerance<T>();
        const std::int32_t n = 6, count = 2;
        std::vector<T> re(12), im(12), reOut(12), imOut(12);
        fillSignal(re, im, 17);
        this->m_realInput = re.data();
        this->m_imagInput = im.data();
        this->m_realOutput = reOut.data();
        this->m_imagOutput = imOut.data();
        this->m_length = n;
        this->m_vectorCount = count;
        this->m_vectorJump = 1;
        this->m_dataJump = count;
        this->m_direction = 1;
        this->execute();
        bool ok = true;
        for (std::int32_t v = 0; v < count; ++v) {
            std::vector<Complex> x(static_cast<std::size_t>(n)), y(static_cast<std::size_t>(n));
            for (std::int32_t k = 0; k < n; ++k) {
                const auto i = static_cast<std::size_t>(k * count + v);
                x[static_cast<std::size_t>(k)] = Complex(re[i], im[i]);
                y[static_cast<std::size_t>(k)] = Complex(reOut[i], imOut[i]);
            }
            const std::vector<Complex> expected = dft(x, -1);
            for (std::size_t k = 0; k < expected.size(); ++k) ok = ok && std::abs(expected[k] - y[k]) <= tol * n;
        }
        check(ok, what + ": execute() on interleaved vectors (data jump 2, vector jump 1)");

        std::vector<T> impulseRe(6, T(0)), impulseIm(6, T(0)), outRe(6), outIm(6);
        impulseRe[0] = T(1);
        this->SetDataJump(4);
        this->executeWith(impulseRe.data(), impulseIm.data(), outRe.data(), outIm.data(), 6, 1, 1);
        check(this->m_dataJump == 1 && this->m_vectorJump == 6 && this->m_length == 6 && this->m_vectorCount == 1 &&
                  this->m_direction == 1,
              what + ": executeWith sets data jump 1 and vector jump = length");
        check(close(outRe, std::vector<T>(6, T(1)), tol) && close(outIm, std::vector<T>(6, T(0)), tol),
              what + ": forward transform of an impulse is all ones");
        this->executeWith(outRe.data(), outIm.data(), outRe.data(), outIm.data(), 6, 1, -1);
        check(close(outRe, impulseRe, tol) && close(outIm, impulseIm, tol),
              what + ": inverse of all ones is the impulse (in place)");
        std::vector<T> r7(7), i7(7);
        expectException([&] { this->executeWith(r7.data(), i7.data(), r7.data(), i7.data(), 7, 1, 1); }, kFftMessage,
                        kFftPath, what + ": executeWith(length 7)");
    }
};

template <class T>
class ProbeFft2d : public nvf::Cn2dFftFilter<T> {
public:
    using Base = nvf::Cn2dFftFilter<T>;
    ProbeFft2d() = default;
    ProbeFft2d(const ProbeFft2d& other) : Base(other) {}
    ProbeFft2d& operator=(const ProbeFft2d& other) {
        Base::operator=(other);
        return *this;
    }
    ~ProbeFft2d() override = default;

    // execute() on the array the fields describe.
    void runFields(const T* re, const T* im, T* reOut, T* imOut, std::int32_t rows, std::int32_t rowLength, int dir) {
        this->m_realInput = re;
        this->m_imagInput = im;
        this->m_realOutput = reOut;
        this->m_imagOutput = imOut;
        this->m_length = rows;
        this->m_vectorCount = rowLength;
        this->m_vectorJump = rowLength;
        this->m_dataJump = 1;
        this->m_direction = dir;
        this->execute();
    }
};

template <class T>
class ProbeFft3d : public nvf::Cn3dFftFilter<T> {
public:
    using Base = nvf::Cn3dFftFilter<T>;
    ProbeFft3d() = default;
    ProbeFft3d(const ProbeFft3d& other) : Base(other) {}
    ProbeFft3d& operator=(const ProbeFft3d& other) {
        Base::operator=(other);
        return *this;
    }
    ~ProbeFft3d() override = default;

    bool fieldsAreDefaults() const {
        return this->m_direction == 1 && this->m_vectorJump == 1 && this->m_dataJump == 1 && this->m_trigsKind == 0;
    }
};

template <class T>
void fft(const std::string& name) {
    const double tol = fftTolerance<T>();
    {
        ProbeFft1d<T> probe;
        probe.run(name);
        ProbeFft1d<T> copy(probe);
        check(copy.what == probe.what && copy.sameSettings(probe), "Cn1dFftFilter<" + name + ">: copy constructor");
        ProbeFft1d<T> assigned;
        assigned = probe;
        check(assigned.sameSettings(probe), "Cn1dFftFilter<" + name + ">: copy assignment");
        // Copies carry every setting: use them through executeWith.
        std::vector<T> re(30), im(30), outRe(30), outIm(30);
        fillSignal(re, im, 19);
        nvf::Cn1dFftFilter<T>& base = assigned;
        base.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), 10, 3, 1);
        bool ok = true;
        for (std::size_t v = 0; v < 3; ++v) {
            const std::vector<T> r(re.begin() + static_cast<std::ptrdiff_t>(v * 10),
                                   re.begin() + static_cast<std::ptrdiff_t>(v * 10 + 10));
            const std::vector<T> i(im.begin() + static_cast<std::ptrdiff_t>(v * 10),
                                   im.begin() + static_cast<std::ptrdiff_t>(v * 10 + 10));
            const std::vector<T> ro(outRe.begin() + static_cast<std::ptrdiff_t>(v * 10),
                                    outRe.begin() + static_cast<std::ptrdiff_t>(v * 10 + 10));
            const std::vector<T> io(outIm.begin() + static_cast<std::ptrdiff_t>(v * 10),
                                    outIm.begin() + static_cast<std::ptrdiff_t>(v * 10 + 10));
            ok = ok && matches(ro, io, dft(toComplex(r, i), -1), tol * 10);
        }
        check(ok, "Cn1dFftFilter<" + name + ">: executeWith on a copy, 3 vectors of 10");
        std::unique_ptr<nvf::Cn1dFftFilter<T>> owned(new ProbeFft1d<T>());
        owned.reset();
    }
    {
        // n1 rows of n2 adjacent values; both the prime factor and the power-of-two path.
        struct Shape {
            std::int32_t rows, rowLength;
        };
        for (const Shape& s : {Shape{6, 4}, Shape{5, 3}, Shape{4, 8}}) {
            const std::string what = "Cn2dFftFilter<" + name + "> " + std::to_string(s.rows) + " x " +
                                     std::to_string(s.rowLength);
            const auto m = static_cast<std::size_t>(s.rows * s.rowLength);
            std::vector<T> re(m), im(m), outRe(m), outIm(m);
            fillSignal(re, im, s.rows);
            const std::vector<T> re0 = re, im0 = im;
            const std::vector<Complex> expected =
                dftAxes(toComplex(re, im), {static_cast<std::size_t>(s.rows), static_cast<std::size_t>(s.rowLength)}, -1);
            ProbeFft2d<T> f;
            nvf::Cn1dFftFilter<T>& base = f;
            base.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), s.rows, s.rowLength, 1);
            check(matches(outRe, outIm, expected, tol * static_cast<double>(m)), what + ": executeWith forward");
            check(re == re0 && im == im0, what + ": the input is left unchanged");
            ProbeFft2d<T> g(f);
            ProbeFft2d<T> h;
            h = g;
            h.runFields(outRe.data(), outIm.data(), outRe.data(), outIm.data(), s.rows, s.rowLength, -1);
            check(close(outRe, re0, tol * static_cast<double>(m)) && close(outIm, im0, tol * static_cast<double>(m)),
                  what + ": execute() inverse in place returns the input");
        }
        ProbeFft2d<T> f;
        std::vector<T> re(56), im(56);
        expectException([&] { f.executeWith(re.data(), im.data(), re.data(), im.data(), 7, 8, 1); }, kFftMessage,
                        kFftPath, "Cn2dFftFilter<" + name + ">: 7 rows");
    }
    {
        const std::string what = "Cn3dFftFilter<" + name + ">";
        constexpr int nx = 6, ny = 4, nz = 5;
        constexpr std::size_t m = nx * ny * nz;
        std::vector<T> re(m), im(m), outRe(m), outIm(m);
        fillSignal(re, im, 23);
        const std::vector<T> re0 = re, im0 = im;
        // x fastest: the axes from the slowest are z, y, x.
        const std::vector<Complex> expected = dftAxes(toComplex(re, im), {nz, ny, nx}, -1);
        ProbeFft3d<T> f;
        f.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), nx, ny, nz, 1);
        check(matches(outRe, outIm, expected, tol * static_cast<double>(m)), what + ": 6 x 4 x 5 forward");
        check(re == re0 && im == im0, what + ": the input is left unchanged");
        check(f.fieldsAreDefaults(), what + ": the filter's own fields are left unchanged");
        ProbeFft3d<T> copy(f);
        ProbeFft3d<T> assigned;
        assigned = copy;
        nvf::Cn3dFftFilter<T>& base = assigned;
        base.executeWith(outRe.data(), outIm.data(), outRe.data(), outIm.data(), nx, ny, nz, -1);
        check(close(outRe, re0, tol * static_cast<double>(m)) && close(outIm, im0, tol * static_cast<double>(m)),
              what + ": inverse in place returns the input");
        // The inherited executeWith is the two-dimensional transform.
        std::vector<T> slice(24), sliceIm(24), sliceRe(24), sliceOutIm(24);
        fillSignal(slice, sliceIm, 29);
        const std::vector<Complex> expected2d = dftAxes(toComplex(slice, sliceIm), {4, 6}, -1);
        base.executeWith(slice.data(), sliceIm.data(), sliceRe.data(), sliceOutIm.data(), 4, 6, 1);
        check(matches(sliceRe, sliceOutIm, expected2d, tol * 24), what + ": inherited executeWith (4 rows of 6)");
        std::vector<T> bad(7 * 8 * 8), badIm(7 * 8 * 8);
        expectException([&] { f.executeWith(bad.data(), badIm.data(), bad.data(), badIm.data(), 7, 8, 8, 1); },
                        kFftMessage, kFftPath, what + ": 7 x 8 x 8");
        expectException([&] { f.executeWith(bad.data(), badIm.data(), bad.data(), badIm.data(), 8, 8, 7, 1); },
                        kFftMessage, kFftPath, what + ": 8 x 8 x 7");
        std::unique_ptr<nvf::Cn2dFftFilter<T>> owned(new ProbeFft3d<T>());
        owned.reset();
    }
}

// ================================================================================
// Morphology and labelling
// ================================================================================

template <class T>
class ProbeDilation : public nvf::CnDilationFilter<T> {
public:
    ProbeDilation() = default;
    void runThroughSetters(const img::Image<T>& input, img::Image<T>& output) {
        this->setInputImage(&input);
        this->setOutputImage(&output);
        this->v_execute();
    }
};

template <class T>
class ProbeErosion : public nvf::CnErosionFilter<T> {
public:
    ProbeErosion() = default;
    void runThroughSetters(const img::Image<T>& input, img::Image<T>& output) {
        this->setInputImage(&input);
        this->setOutputImage(&output);
        this->v_execute();
    }
};

template <class T>
std::size_t countNonZero(const img::Image<T>& image) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < image.getNumberOfVoxels(); ++i) count += image[i] != T(0) ? 1 : 0;
    return count;
}

template <class T>
void morphology(const std::string& name) {
    const std::string what = "<" + name + ">";
    img::Image<T> dot(5, 5, 5), grown(5, 5, 5), direct(5, 5, 5);
    dot(2, 2, 2) = T(1);
    ProbeDilation<T> d;
    d.execute(dot, grown);
    d.runThroughSetters(dot, direct);
    check(countNonZero(grown) == 7 && grown(1, 2, 2) == T(1) && grown(2, 2, 3) == T(1) && grown(1, 1, 2) == T(0),
          "CnDilationFilter" + what + ": one voxel grows to the cross of seven");
    check(countNonZero(direct) == 7, "CnDilationFilter" + what + ": v_execute through the setters");

    img::Image<T> block(5, 5, 5), shrunk(5, 5, 5), shrunkDirect(5, 5, 5);
    for (unsigned int z = 1; z <= 3; ++z)
        for (unsigned int y = 1; y <= 3; ++y)
            for (unsigned int x = 1; x <= 3; ++x) block(x, y, z) = T(1);
    ProbeErosion<T> e;
    e.execute(block, shrunk);
    e.runThroughSetters(block, shrunkDirect);
    check(countNonZero(shrunk) == 1 && shrunk(2, 2, 2) == T(1) && countNonZero(shrunkDirect) == 1,
          "CnErosionFilter" + what + ": a 3 x 3 x 3 block erodes to its centre");
    img::Image<T> full(4, 3, 2), fullOut(4, 3, 2);
    full.fill(T(1));
    e.execute(full, fullOut);
    check(countNonZero(fullOut) == full.getNumberOfVoxels(), "CnErosionFilter" + what + ": the image border does not erode");
    img::Image<T> single(1, 1, 1), singleOut(1, 1, 1);
    single[0] = T(5);
    d.execute(single, singleOut);
    check(singleOut[0] == T(5), "CnDilationFilter" + what + ": a 1 x 1 x 1 image is copied");
    std::unique_ptr<nvf::CnFilter<T, T>> owned(new ProbeErosion<T>());
    owned.reset();
}

template <class T>
class ProbeLabels : public nvf::CnConnectedComponentFilter<T> {
public:
    ProbeLabels() = default;
    void runThroughSetters(const img::Image<T>& input, img::Image<std::uint32_t>& output) {
        this->setInputImage(&input);
        this->setOutputImage(&output);
        this->v_execute();
    }
};

template <class T>
void labelling(const std::string& name) {
    const std::string what = "CnConnectedComponentFilter<" + name + ">";
    // Components of 10, 5 and 5 voxels in rows 0, 2 and 4.
    img::Image<T> mask(12, 5, 1);
    for (unsigned int x = 0; x < 10; ++x) mask(x, 0, 0) = T(1);
    for (unsigned int x = 0; x < 5; ++x) {
        mask(x, 2, 0) = T(1);
        mask(x, 4, 0) = T(1);
    }
    ProbeLabels<T> f;
    check(f.GetNumberOfComponents() == 0, what + ": no components before a run");
    {
        img::Image<std::uint32_t> labels(12, 5, 1);
        f.execute(mask, labels);
        check(f.GetNumberOfComponents() == 3, what + ": three components");
        check(labels(0, 0, 0) == 1 && labels(9, 0, 0) == 1 && labels(10, 0, 0) == 0, what + ": the largest is 1");
        check((labels(0, 2, 0) == 2 && labels(0, 4, 0) == 3) || (labels(0, 2, 0) == 3 && labels(0, 4, 0) == 2),
              what + ": equal sizes get 2 and 3");
    }
    {
        ProbeLabels<T> g;
        g.SetMinimumComponentSize(6);
        img::Image<std::uint32_t> labels(12, 5, 1);
        g.runThroughSetters(mask, labels);
        check(g.GetNumberOfComponents() == 1 && countNonZero(labels) == 10, what + ": minimum size 6 keeps one");
    }
    {
        ProbeLabels<T> g;
        g.SetComponentNumber(2);
        img::Image<std::uint32_t> labels(12, 5, 1);
        g.execute(mask, labels);
        check(g.GetNumberOfComponents() == 3, what + ": component number 2 keeps all three (sizes 10, 5, 5)");
        g.SetComponentNumber(4);
        img::Image<std::uint32_t> again(12, 5, 1);
        expectThrowable([&] { g.execute(mask, again); },
                        "CnConnectedComponentFilter: component selected to keep does not exist.", kThrowablePath,
                        what + ": component number 4");
        check(g.GetNumberOfComponents() == 3, what + ": a failed run keeps the count");
    }
    {
        // Diagonal neighbours: separate with 4-point, joined with 8-point.
        img::Image<T> diagonal(3, 3, 1);
        diagonal(0, 0, 0) = T(2);
        diagonal(1, 1, 0) = T(2);
        ProbeLabels<T> g;
        g.SetClassNumber(T(2));
        img::Image<std::uint32_t> labels(3, 3, 1);
        g.execute(diagonal, labels);
        check(g.GetNumberOfComponents() == 2, what + ": class number 2, 4-point");
        g.Set8PointConnectivity();
        img::Image<std::uint32_t> joined(3, 3, 1);
        g.execute(diagonal, joined);
        check(g.GetNumberOfComponents() == 1 && joined(0, 0, 0) == 1 && joined(1, 1, 0) == 1,
              what + ": 8-point joins a diagonal");
        img::Image<T> volume(3, 3, 2);
        img::Image<std::uint32_t> volumeLabels(3, 3, 2);
        expectException([&] { g.execute(volume, volumeLabels); }, kEightPointMessage, kEightPointPath,
                        what + ": 8-point on two slices");
        // Other neighbours: a corner pair of a volume joins with 26, not with 6 or
        // 18; 4 on a volume and values that are no connectivity are refused.
        img::Image<T> corners(2, 2, 2);
        corners(0, 0, 0) = T(1);
        corners(1, 1, 1) = T(1);
        ProbeLabels<T> probe;
        check(probe.getConnectivity() == nvf::CnConnectivity::Six, what + ": 6 neighbours by default");
        for (const nvf::CnConnectivity c :
             {nvf::CnConnectivity::Six, nvf::CnConnectivity::Eighteen, nvf::CnConnectivity::TwentySix}) {
            probe.setConnectivity(c);
            img::Image<std::uint32_t> out(2, 2, 2);
            probe.execute(corners, out);
            check(probe.getConnectivity() == c, what + ": the connectivity set");
            check(probe.GetNumberOfComponents() == (c == nvf::CnConnectivity::TwentySix ? 1 : 2),
                  what + ": a corner pair joins with 26 neighbours only");
        }
        expectThrowable([&] { probe.setConnectivity(static_cast<nvf::CnConnectivity>(7)); },
                        "CnConnectedComponentFilter: connectivity must be 4, 6, 8, 18 or 26 neighbours.", kThrowablePath,
                        what + ": 7 neighbours");
        probe.setConnectivity(nvf::CnConnectivity::Four);
        img::Image<std::uint32_t> fourOut(2, 2, 2);
        expectThrowable([&] { probe.execute(corners, fourOut); },
                        "CnConnectedComponentFilter: 4-point connectivity needs an image of one slice; a volume takes "
                        "6, 18 or 26.",
                        kThrowablePath, what + ": 4-point on two slices");
        img::Image<T> background(3, 3, 1);
        img::Image<std::uint32_t> none(3, 3, 1);
        ProbeLabels<T> h;
        h.execute(background, none);
        check(h.GetNumberOfComponents() == 0 && countNonZero(none) == 0, what + ": no foreground");
    }
    std::unique_ptr<nvf::CnFilter<T, std::uint32_t>> owned(new ProbeLabels<T>());
    owned.reset();
}

template <class T>
class ProbeMaxima : public nvf::CnRegionalMaximumFilter<T> {
public:
    ProbeMaxima() = default;
    void runThroughSetters(const img::Image<T>& input, img::Image<unsigned char>& output) {
        this->setInputImage(&input);
        this->setOutputImage(&output);
        this->v_execute();
    }
};

template <class T>
void regionalMaximum(const std::string& name) {
    const std::string what = "CnRegionalMaximumFilter<" + name + ">";
    ProbeMaxima<T> f;
    img::Image<T> zeros(5, 7, 1), constant(7, 5, 1), peaks(5, 5, 1);
    img::Image<unsigned char> mask(5, 7, 1), allMarked(7, 5, 1), peakMask(5, 5, 1);
    f.execute(zeros, mask);
    check(countNonZero(mask) == 0, what + ": all zeros gives no maximum");
    constant.fill(T(3));
    f.runThroughSetters(constant, allMarked);
    check(countNonZero(allMarked) == 35, what + ": a constant positive image marks every pixel");
    peaks(0, 0, 0) = T(4);  // a corner
    peaks(2, 2, 0) = T(2);  // a plateau of two pixels with a higher neighbour on one side
    peaks(3, 2, 0) = T(2);
    peaks(4, 2, 0) = T(3);
    nvf::CnRegionalMaximumFilter<T>& base = f;
    base.execute(peaks, peakMask);
    base.v_execute();  // public in this class; runs again on the same images
    check(peakMask(0, 0, 0) == 1 && peakMask(2, 2, 0) == 1 && peakMask(3, 2, 0) == 0 && peakMask(4, 2, 0) == 1 &&
              countNonZero(peakMask) == 3,
          what + ": corner, plateau and higher neighbour");
}

void morphologyAndLabelling() {
    morphology<unsigned char>("unsigned char");
    morphology<short>("short");
    morphology<std::uint32_t>("uint32");
    {
        img::Image<unsigned char> bits(2, 1, 1), grown(2, 1, 1), shrunk(2, 1, 1);
        bits[0] = 0x0F;
        bits[1] = 0xF0;
        ProbeDilation<unsigned char> d;
        ProbeErosion<unsigned char> e;
        d.execute(bits, grown);
        e.execute(bits, shrunk);
        check(grown[0] == 0xFF && grown[1] == 0xFF && shrunk[0] == 0 && shrunk[1] == 0,
              "dilation and erosion are bitwise");
    }
    labelling<unsigned char>("unsigned char");
    labelling<short>("short");
    labelling<std::uint32_t>("uint32");
    regionalMaximum<short>("short");
    regionalMaximum<float>("float");
    regionalMaximum<double>("double");
    {
        img::Image<short> negative(4, 4, 1);
        negative.fill(-3);
        img::Image<unsigned char> mask(4, 4, 1);
        ProbeMaxima<short> f;
        f.execute(negative, mask);
        check(countNonZero(mask) == 0, "CnRegionalMaximumFilter<short>: negative values are no maxima");
    }
}

}  // namespace

int main() {
    try {
        framework();
        kernels();
        spatialFilter();
        separableFilter<unsigned char, unsigned char, float>("unsigned char, unsigned char");
        separableFilter<Vec3f, Vec3f, Vec3f>("vector, vector");
        recursiveLineFilter();
        recursiveFilters();
        imageGradient();
        fft<float>("float");
        fft<double>("double");
        morphologyAndLabelling();
    } catch (const Throwable& e) {
        std::cerr << "conformance: unexpected " << e.getClassPath() << ": " << e.getMessage() << "\n";
        ++failures;
    } catch (const std::exception& e) {
        std::cerr << "conformance: unexpected exception: " << e.what() << "\n";
        ++failures;
    }
    std::cout << "conformance: " << checks << " checks, " << failures << " failed" << std::endl;
    return failures == 0 ? 0 : 1;
}
