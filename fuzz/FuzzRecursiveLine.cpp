// The recursive line filter, all five instantiations: sigmas (tiny, huge, not a
// number, infinite, negative), every order and type (valid or not), missing or
// misshapen boundary matrices, lines of any length (1 and 2 included), strides,
// lines reaching outside their image, in place, every border mode and unknown
// ones. Checks: the documented rejections with nothing written; sigmas past
// the convergence limit rejected; the result equals the same samples in the
// middle of zeros (with a border mode: in the middle of a long continuation by
// the mode) and obeys the symmetry of the Gaussian; iterator and pointer
// instantiations agree bit for bit.
#include <FuzzSupport.h>

#include <algorithm>
#include <cmath>

using namespace nvf_fuzz;
using com::norvane::math::CnMatrix;
using flt::ImageConstIt;
using flt::ImageIt;

namespace {

using PointerLine = flt::Cn1dRecursiveFilter<double, double, double*, double*>;

// The line x filtered by the pointer instantiation with `pad` zeros on each side;
// returns the middle part.
std::vector<double> padded(const std::vector<double>& x, std::size_t pad, double B, double a1, double a2, double a3,
                           CnMatrix<double>& M, int type) {
    std::vector<double> line(x.size() + 2 * pad, 0.0);
    std::copy(x.begin(), x.end(), line.begin() + static_cast<std::ptrdiff_t>(pad));
    PointerLine f;
    f.setParameters(B, a1, a2, a3, &M);
    f.setType(static_cast<PointerLine::EnRecursiveFilterType>(type));
    f.setInputData(line.data(), static_cast<unsigned int>(line.size()), 1);
    f.setOutputData(line.data(), static_cast<unsigned int>(line.size()), 1);
    f.execute();
    return std::vector<double>(line.begin() + static_cast<std::ptrdiff_t>(pad),
                               line.begin() + static_cast<std::ptrdiff_t>(pad + x.size()));
}

// The line x continued by `pad` samples on each side as the border mode says
// (numbered as EnBorderMode), filtered by the pointer instantiation with the
// default border; returns the samples of the line itself.
std::vector<double> continuedLine(const std::vector<double>& x, std::size_t pad, int mode, double value, double B,
                                  double a1, double a2, double a3, CnMatrix<double>& M, int type) {
    const long n = static_cast<long>(x.size());
    std::vector<double> ext;
    for (long k = -static_cast<long>(pad); k < n + static_cast<long>(pad); ++k) {
        long j = k;
        double v = value;
        while (mode != 0 && (j < 0 || j >= n)) {
            if (mode == 1 || n == 1) {
                j = j < 0 ? 0 : n - 1;
            } else if (mode == 2) {
                j = j < 0 ? -j - 1 : 2 * n - 1 - j;
            } else if (mode == 3) {
                j = j < 0 ? -j : 2 * n - 2 - j;
            } else {
                j = ((j % n) + n) % n;
            }
        }
        if (j >= 0 && j < n) {
            v = x[static_cast<std::size_t>(j)];
        }
        ext.push_back(v);
    }
    const std::vector<double> y = padded(ext, 0, B, a1, a2, a3, M, type);
    return std::vector<double>(y.begin() + static_cast<std::ptrdiff_t>(pad),
                               y.begin() + static_cast<std::ptrdiff_t>(pad) + n);
}

template <class T>
double component(const T& v, int c) {
    if constexpr (std::is_same_v<T, Vec3f>) {
        return c == 0 ? v.x : c == 1 ? v.y : v.z;
    } else {
        (void)c;
        return static_cast<double>(v);
    }
}

template <class In, class Out, bool Pointers>
void run(FuzzedDataProvider& in) {
    using InIt = std::conditional_t<Pointers, double*, ImageConstIt<In>>;
    using OutIt = std::conditional_t<Pointers, double*, ImageIt<Out>>;
    using Line = flt::Cn1dRecursiveFilter<In, Out, InIt, OutIt>;
    constexpr bool vectors = std::is_same_v<In, Vec3f>;
    constexpr bool floatOut = std::is_same_v<Out, float> || vectors;

    const double sigma = nvf_fuzz::sigma(in);
    const unsigned int order = in.ConsumeIntegralInRange<unsigned int>(0, 8) == 8 ? in.ConsumeIntegral<unsigned int>()
                                                                                   : in.ConsumeIntegralInRange(0u, 2u);
    const int typeChoice = in.ConsumeIntegralInRange<int>(0, 9);
    const unsigned int matrixChoice = in.ConsumeIntegralInRange<unsigned int>(0, 9);
    const unsigned int n = dimension(in);
    const unsigned int stride = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    const unsigned int offset = in.ConsumeIntegralInRange<unsigned int>(0, 2);
    const int shortBy = in.ConsumeIntegralInRange<int>(0, 7) == 7 ? in.ConsumeIntegralInRange<int>(1, 3) : 0;
    const bool inPlace = in.ConsumeBool();
    const bool nullStart = in.ConsumeIntegralInRange<int>(0, 15) == 15;
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const unsigned int outLength = in.ConsumeIntegral<std::uint8_t>();
    const unsigned int outStride = in.ConsumeIntegral<std::uint8_t>();
    const std::size_t pad = 1 + in.ConsumeIntegralInRange<std::size_t>(0, 40);
    // Border: mostly the default, each mode, now and then any number.
    const int modeSelector = in.ConsumeIntegralInRange<int>(0, 8);
    const std::int32_t mode = modeSelector <= 4 ? modeSelector : modeSelector == 5 ? in.ConsumeIntegral<std::int32_t>() : 0;
    const double borderValue = modeSelector == 0 ? in.ConsumeIntegralInRange<int>(-600, 600) / 4.0 : 0.0;
    const bool withBorder = mode != 0 || borderValue != 0.0;
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();

    Line line;
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    CnMatrix<double> M(2, 5);
    M(1, 4) = 42.0;
    const bool rejectedParameters = throws([&] { line.computeFilterParameters(sigma, B, a1, a2, a3, M, order); });
    if (order > 2) {
        NVF_FUZZ_CHECK_MSG(rejectedParameters, "an order above 2 is rejected");
        NVF_FUZZ_CHECK_MSG(M.getRows() == 2 && M.getCols() == 5 && M(1, 4) == 42.0,
                           "a rejected order leaves the matrix alone");
        return;
    }
    NVF_FUZZ_CHECK(M.getRows() == 3 && M.getCols() == 3);
    if (!rejectedParameters) {
        NVF_FUZZ_CHECK_MSG(std::isfinite(sigma), "a sigma that is not finite is rejected");
        NVF_FUZZ_CHECK_MSG(!(sigma > 110.0) || kRelaxKnownFaults,
                           "a sigma past the convergence limit (about 107) is rejected");
    }
    if (rejectedParameters || !std::isfinite(B) || !std::isfinite(a1) || !std::isfinite(a2) || !std::isfinite(a3)) {
        return;
    }

    const int type = typeChoice < 8 ? static_cast<int>(order) + 1 : typeChoice == 8 ? 0 : 4;
    CnMatrix<double> wrong(3, 2);
    const bool matrixSet = matrixChoice != 9;
    if (matrixSet) {
        line.setParameters(B, a1, a2, a3, matrixChoice == 8 ? &wrong : &M);
    }
    line.setType(static_cast<typename Line::EnRecursiveFilterType>(type));
    line.setBorderMode(static_cast<typename Line::EnBorderMode>(mode), borderValue);

    const std::size_t needed = n == 0 ? 0 : std::size_t(n - 1) * std::max(stride, 1u) + 1;
    const std::size_t length = offset + (needed > std::size_t(shortBy) ? needed - std::size_t(shortBy) : 0);
    const bool outside = !Pointers && shortBy > 0 && needed > 0;
    if (Pointers && shortBy > 0) {
        return;  // a pointer line cannot be checked: the caller owns its length
    }
    img::Image<In> inputImage(static_cast<unsigned int>(length), 1, 1);
    img::Image<Out> outputImage(static_cast<unsigned int>(length), 1, 1);
    fill(inputImage, pool, enc, constant);
    fill(outputImage, pool, Encoding::Raw, false);
    const img::Image<Out> outputBefore(outputImage);

    const bool samePlace = inPlace && std::is_same_v<In, Out>;
    InIt inStart;
    OutIt outStart;
    if constexpr (Pointers) {
        inStart = inputImage.data() + offset;
        outStart = samePlace ? inputImage.data() + offset : outputImage.data() + offset;
    } else {
        inStart = InIt(&inputImage, offset);
        if constexpr (std::is_same_v<In, Out>) {
            outStart = samePlace ? OutIt(&inputImage, offset) : OutIt(&outputImage, offset);
        } else {
            outStart = OutIt(&outputImage, offset);
        }
    }
    if (nullStart) {
        inStart = InIt();
    }
    line.setInputData(inStart, n, stride);
    line.setOutputData(outStart, outLength, outStride);  // the input's length and stride serve

    const img::Image<In> inputBefore(inputImage);
    const bool shouldThrow = type < 1 || type > 3 || nullStart || n == 0 || stride == 0 || outside || !matrixSet ||
                             matrixChoice == 8 || (vectors && type != 1) || mode < 0 || mode > 4;
    const bool threw = throwsLeavingUntouched([&] { line.execute(); }, outputImage, inputImage);
    NVF_FUZZ_CHECK_MSG(threw == shouldThrow, "rejected exactly the documented cases");
    if (threw) {
        return;
    }
    if (!samePlace) {
        NVF_FUZZ_CHECK_MSG(sameImage(inputImage, inputBefore), "the input line is not written");
    }
    const Out* result = samePlace ? reinterpret_cast<const Out*>(inputImage.data()) : outputImage.data();
    for (std::size_t i = 0; i < length; ++i) {
        const bool onLine = i >= offset && (i - offset) % stride == 0 && (i - offset) / stride < n;
        if (!onLine && !samePlace) {
            NVF_FUZZ_CHECK_MSG(sameBytes(&outputImage[i], &outputBefore[i], 1), "a sample off the line changed");
        }
    }

    // Every component against the same samples in the middle of a run of zeros
    // (double precision, pointer instantiation), and against its mirror image.
    const bool moderate = sigma <= 110.0 && sigma >= 0.0;
    for (int c = 0; c < (vectors ? 3 : 1); ++c) {
        std::vector<double> x(n), y(n);
        double scaleIn = 0.0, scaleOut = 0.0;
        bool finite = true;
        for (unsigned int k = 0; k < n; ++k) {
            x[k] = component(inputBefore[offset + std::size_t(k) * stride], c);
            y[k] = component(result[offset + std::size_t(k) * stride], c);
            // With float output the stored feedback overflows for inputs near the
            // largest float (documented); the reference in double does not.
            finite = finite && std::isfinite(x[k]) && std::abs(x[k]) < (floatOut ? 5e36 : 1e100);
            scaleIn = std::max(scaleIn, std::abs(x[k]));
            scaleOut = std::max(scaleOut, std::abs(y[k]));
        }
        if (!finite || !moderate) {
            continue;
        }
        const double grow = (1.0 + sigma) * (1.0 + sigma);
        // Rounding grows with sigma; below the smallest normal number (float
        // feedback) there is no relative precision left at all.
        const double tolerance = (floatOut ? 1e-5 : 1e-11) * grow * (scaleIn + scaleOut) + (floatOut ? 1e-36 : 1e-300);
        if (withBorder) {
            // The boundary matrix of the reference's far end is summed to 1e-10
            // only; a long continuation leaves nothing of it at the line.
            const std::size_t reach = static_cast<std::size_t>(std::ceil(30.0 * sigma)) + 30;
            const std::vector<double> cont = continuedLine(x, reach, mode, borderValue, B, a1, a2, a3, M, type);
            // The modes' start states (the periodic system, the steady state of
            // a constant) lose precision as sigma nears the limit
            // (docs/recursive.md: within 1e-13 (1 + sigma)^4 of the largest
            // magnitude, the continuation value included, in double).
            const double periodic = 1e-13 * grow * grow * (scaleIn + scaleOut + std::abs(borderValue));
            const double scale =
                std::max(tolerance + (floatOut ? 1e-5 : 1e-11) * grow * std::abs(borderValue), periodic);
            for (unsigned int k = 0; k < n; ++k) {
                NVF_FUZZ_CHECK_MSG(std::abs(y[k] - cont[k]) <= scale, "differs from the line continued by the mode");
            }
            continue;
        }
        const std::vector<double> zeros = padded(x, pad, B, a1, a2, a3, M, type);
        std::vector<double> mirrored(x.rbegin(), x.rend());
        const std::vector<double> mirrorResult = padded(mirrored, 1, B, a1, a2, a3, M, type);
        const double sign = type == 2 ? -1.0 : 1.0;
        for (unsigned int k = 0; k < n; ++k) {
            NVF_FUZZ_CHECK_MSG(std::abs(y[k] - zeros[k]) <= tolerance, "differs from the zero-continued line");
            NVF_FUZZ_CHECK_MSG(std::abs(zeros[k] - sign * mirrorResult[n - 1 - k]) <= tolerance,
                               "the mirrored line does not give the mirrored result");
        }
        // A constant line: the constant (smoothing) or 0 (derivatives) where the
        // ends are far away.
        if (constant && n > 0) {
            const double reach = 12.0 * sigma + 12.0;
            for (unsigned int k = 0; k < n; ++k) {
                if (k >= reach && n - 1 - k >= reach) {
                    const double want = type == 1 ? x[0] : 0.0;
                    NVF_FUZZ_CHECK_MSG(std::abs(y[k] - want) <= 1e-4 * std::abs(x[0]) + tolerance,
                                       "a constant line is not kept away from its ends");
                }
            }
        }
        if constexpr (!floatOut && !Pointers) {
            // The iterator instantiation and the pointer one do the same arithmetic.
            std::vector<double> same(x);
            PointerLine p;
            p.setParameters(B, a1, a2, a3, &M);
            p.setType(static_cast<PointerLine::EnRecursiveFilterType>(type));
            p.setInputData(same.data(), n, 1);
            p.setOutputData(same.data(), n, 1);
            p.execute();
            NVF_FUZZ_CHECK_MSG(sameValues(same.data(), y.data(), n), "iterator and pointer lines differ");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 4)) {
        case 0: run<unsigned char, float, false>(in); break;
        case 1: run<float, float, false>(in); break;
        case 2: run<double, double, false>(in); break;
        case 3: run<Vec3f, Vec3f, false>(in); break;
        default: run<double, double, true>(in); break;
    }
    return 0;
}
