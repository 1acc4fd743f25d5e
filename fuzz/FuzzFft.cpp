// The 1-D, 2-D and 3-D FFT filters in float and double: legal and illegal
// lengths and counts (0, negative, prime factors above 5), directions, null
// arrays, in place, separate outputs and one array serving as both real and
// imaginary input, a filter reused across lengths. Checks: the documented
// rejections with nothing written; in place equals out of place bit for bit; a
// vector's result does not depend on its batch; the forward transform matches a
// long-double DFT and forward then inverse returns the input, both within the
// documented accuracy.
#include <FuzzSupport.h>

#include <algorithm>
#include <cmath>

using namespace nvf_fuzz;

namespace {

std::vector<std::int32_t> legalLengths() {
    std::vector<std::int32_t> lengths;
    for (std::int64_t a = 1; a <= 100000; a *= 2) {
        for (std::int64_t b = a; b <= 100000; b *= 3) {
            for (std::int64_t c = b; c <= 100000; c *= 5) {
                lengths.push_back(static_cast<std::int32_t>(c));
            }
        }
    }
    std::sort(lengths.begin(), lengths.end());
    return lengths;
}

bool legal(std::int64_t n) {
    if (n < 1) {
        return false;
    }
    for (std::int64_t p : {2, 3, 5}) {
        while (n % p == 0) {
            n /= p;
        }
    }
    return n == 1;
}

// A length: mostly legal and small, sometimes illegal or arbitrary.
std::int32_t length(FuzzedDataProvider& in, std::int32_t smallLimit) {
    static const std::vector<std::int32_t> lengths = legalLengths();
    const unsigned int kind = in.ConsumeIntegralInRange<unsigned int>(0, 15);
    if (kind < 10) {
        std::size_t limit = 0;
        while (limit + 1 < lengths.size() && lengths[limit + 1] <= smallLimit) {
            ++limit;
        }
        return lengths[in.ConsumeIntegralInRange<std::size_t>(0, limit)];
    }
    if (kind < 12) {
        return lengths[in.ConsumeIntegralInRange<std::size_t>(0, lengths.size() - 1)];
    }
    static const std::int32_t odd[] = {0, -1, -6, 7, 11, 14, 49, 97, 2 * 3 * 5 * 7, INT32_MIN, INT32_MAX, 1 << 30};
    if (kind < 15) {
        return odd[in.ConsumeIntegralInRange<std::size_t>(0, sizeof odd / sizeof odd[0] - 1)];
    }
    return in.ConsumeIntegral<std::int32_t>();
}

double log2Size(double n) { return std::max(1.0, std::log2(n)); }

// The radix-3 and radix-5 passes use their constants to 15 significant digits
// (sin 60 degrees is 1.6e-15 off, relatively): in double a vector whose values
// go through those constants can lose up to that much per factor 3 or 5 of its
// length, beyond the bound for random data. (In float the digits are enough.)
template <class T>
double constantsError(std::size_t n) {
    if (std::is_same_v<T, float>) {
        return 0.0;
    }
    int factors = 0;
    for (std::size_t f : {3u, 5u}) {
        for (std::size_t m = n; m > 0 && m % f == 0; m /= f) {
            ++factors;
        }
    }
    return 1.7e-15 * factors;
}

template <class T>
double accuracy() {
    return std::is_same_v<T, float> ? 5e-7 : 1e-15;
}

template <class T>
struct Arrays {
    std::vector<T> re, im;
};

// Checks that forward then inverse returns x, relative RMS within the bound,
// over `vectors` vectors of `n` values each (one vector: the whole array).
template <class T>
void checkRoundTrip(const Arrays<T>& x, const Arrays<T>& back, std::size_t n, std::size_t vectors, double bound) {
    for (std::size_t v = 0; v < vectors; ++v) {
        long double err = 0, norm = 0;
        for (std::size_t k = v * n; k < (v + 1) * n; ++k) {
            const long double dr = (long double)back.re[k] - x.re[k], di = (long double)back.im[k] - x.im[k];
            err += dr * dr + di * di;
            norm += (long double)x.re[k] * x.re[k] + (long double)x.im[k] * x.im[k];
        }
        NVF_FUZZ_CHECK_MSG(err <= (long double)bound * bound * norm, "forward then inverse does not return the input");
    }
}

template <class T>
void checkAgainstDft(const Arrays<T>& x, const Arrays<T>& y, std::size_t n, std::size_t vectors) {
    const long double pi = 3.141592653589793238462643383279502884L;
    for (std::size_t v = 0; v < vectors; ++v) {
        long double err = 0, norm = 0;
        for (std::size_t j = 0; j < n; ++j) {
            long double sr = 0, si = 0;
            for (std::size_t k = 0; k < n; ++k) {
                const long double a = -2 * pi * (long double)((j * k) % n) / (long double)n;
                const long double c = std::cos(a), s = std::sin(a);
                sr += x.re[v * n + k] * c - x.im[v * n + k] * s;
                si += x.re[v * n + k] * s + x.im[v * n + k] * c;
            }
            const long double dr = y.re[v * n + j] - sr, di = y.im[v * n + j] - si;
            err += dr * dr + di * di;
            norm += sr * sr + si * si;
        }
        const long double bound = accuracy<T>() * log2Size(static_cast<double>(n)) + constantsError<T>(n);
        NVF_FUZZ_CHECK_MSG(err <= bound * bound * norm, "forward transform less accurate than documented");
    }
}

template <class T>
struct Filters {
    flt::Cn1dFftFilter<T> line;
    flt::Cn2dFftFilter<T> plane;
    flt::Cn3dFftFilter<T> volume;
};

enum class Layout { Separate, InPlace, SharedInput, NullArrays };

template <class T>
void run(FuzzedDataProvider& in) {
    const unsigned int dims = in.ConsumeIntegralInRange<unsigned int>(1, 3);
    std::int32_t sizes[3] = {1, 1, 1};
    const std::int32_t smallLimit = dims == 1 ? 720 : dims == 2 ? 96 : 30;
    for (unsigned int d = 0; d < 3; ++d) {
        sizes[d] = length(in, smallLimit);
    }
    // 1-D: sizes[0] is the length and sizes[1] the count (0 and negative too).
    if (dims == 1) {
        const unsigned int kind = in.ConsumeIntegralInRange<unsigned int>(0, 9);
        sizes[1] = kind < 7 ? in.ConsumeIntegralInRange<std::int32_t>(0, 9)
                   : kind < 9 ? -in.ConsumeIntegralInRange<std::int32_t>(1, 3)
                              : in.ConsumeIntegral<std::int32_t>();
    }
    const std::int32_t dirChoice = in.ConsumeIntegralInRange<std::int32_t>(0, 9);
    const int dir = dirChoice < 4 ? 1 : dirChoice < 8 ? -1 : dirChoice == 8 ? 0 : in.ConsumeIntegral<std::int32_t>();
    const unsigned int layoutChoice = in.ConsumeIntegralInRange<unsigned int>(0, 9);
    const Layout layout = layoutChoice < 4   ? Layout::Separate
                          : layoutChoice < 7 ? Layout::InPlace
                          : layoutChoice < 9 ? Layout::SharedInput
                                             : Layout::NullArrays;
    const std::int32_t warmUp = in.ConsumeBool() ? length(in, 64) : 0;
    const Encoding enc = encoding(in);
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();

    // Elements the call describes; no array when a size is illegal.
    const std::int64_t count = dims == 1 ? sizes[1] : 1;
    std::int64_t elements = 1;
    bool sizesValid = true;
    for (unsigned int d = 0; d < (dims == 1 ? 1 : dims); ++d) {
        sizesValid = sizesValid && legal(sizes[d]);
        elements *= std::max<std::int64_t>(sizes[d], 0);
        if (elements > (1 << 20)) {
            return;
        }
    }
    const bool countValid = count >= 0;
    elements *= std::max<std::int64_t>(count, 0);
    if (elements > (1 << 20)) {
        return;
    }
    // An empty batch still prepares the table for its length: keep that small too.
    if (sizesValid && sizes[0] > (1 << 20)) {
        return;
    }
    const bool hasData = sizesValid && countValid && elements > 0;
    const bool shouldThrow = !sizesValid || !countValid || (dir != 1 && dir != -1) ||
                             (layout == Layout::NullArrays && hasData);

    const std::size_t total = static_cast<std::size_t>(elements);
    Arrays<T> x{std::vector<T>(total), std::vector<T>(total)};
    fill(x.re.data(), total, pool, enc, false);
    for (std::size_t i = 0; i < total; ++i) {
        x.im[i] = ValueOf<T>::make(pool, total + i, enc);
    }
    if (layout == Layout::SharedInput) {
        x.im = x.re;
    }
    Arrays<T> out{std::vector<T>(total), std::vector<T>(total)};
    fill(out.re.data(), total, pool, Encoding::Raw, false);
    fill(out.im.data(), total, pool, Encoding::Raw, true);
    Arrays<T> work = x;  // the arrays handed over (in place: also the outputs)
    const Arrays<T> outBefore = out;

    Filters<T> filter;
    auto call = [&](Filters<T>& f, const T* ri, const T* ii, T* ro, T* io, int d) {
        if (dims == 3) {
            f.volume.executeWith(ri, ii, ro, io, sizes[0], sizes[1], sizes[2], d);
        } else if (dims == 2) {
            f.plane.executeWith(ri, ii, ro, io, sizes[0], sizes[1], d);
        } else {
            f.line.executeWith(ri, ii, ro, io, sizes[0], static_cast<std::int32_t>(count), d);
        }
    };
    if (warmUp > 0 && warmUp <= (1 << 16) && legal(warmUp)) {
        std::vector<T> a(static_cast<std::size_t>(warmUp), T(1)), b(a.size(), T(0));
        if (dims == 1) {
            filter.line.executeWith(a.data(), b.data(), a.data(), b.data(), warmUp, 1, 1);
        } else {
            filter.plane.executeWith(a.data(), b.data(), a.data(), b.data(), warmUp, 1, 1);
        }
    }

    const T* realIn = work.re.data();
    const T* imagIn = layout == Layout::SharedInput ? work.re.data() : work.im.data();
    T* realOut = layout == Layout::InPlace ? work.re.data() : out.re.data();
    T* imagOut = layout == Layout::InPlace ? work.im.data() : out.im.data();
    if (kRelaxKnownFaults && total == 0 && sizesValid && (sizes[0] & (sizes[0] - 1)) != 0) {
        return;
    }
    if (layout == Layout::NullArrays || total == 0) {
        realIn = imagIn = nullptr;
        realOut = imagOut = nullptr;
    }
    bool threw = false;
    try {
        call(filter, realIn, imagIn, realOut, imagOut, dir);
    } catch (const com::norvane::Throwable&) {
        threw = true;
    }
    NVF_FUZZ_CHECK_MSG(threw == shouldThrow, "rejected exactly the documented cases");
    if (layout != Layout::InPlace || threw) {
        NVF_FUZZ_CHECK_MSG(sameBytes(work.re.data(), x.re.data(), total) && sameBytes(work.im.data(), x.im.data(), total),
                           "the input arrays are not written");
    }
    if (threw || layout == Layout::NullArrays || total == 0) {
        NVF_FUZZ_CHECK_MSG(sameBytes(out.re.data(), outBefore.re.data(), total) &&
                               sameBytes(out.im.data(), outBefore.im.data(), total),
                           "a rejected or empty call wrote an output");
        return;
    }
    const Arrays<T>& y = layout == Layout::InPlace ? work : out;

    // The other layout, with a fresh filter: the same bits.
    Arrays<T> other = x;
    Filters<T> fresh;
    if (layout == Layout::InPlace) {
        Arrays<T> sep{std::vector<T>(total), std::vector<T>(total)};
        call(fresh, other.re.data(), other.im.data(), sep.re.data(), sep.im.data(), dir);
        other = sep;
    } else {
        call(fresh, other.re.data(), other.im.data(), other.re.data(), other.im.data(), dir);
    }
    NVF_FUZZ_CHECK_MSG(sameValues(other.re.data(), y.re.data(), total) && sameValues(other.im.data(), y.im.data(), total),
                       "in place and out of place differ (or a reused filter differs from a fresh one)");

    const std::size_t n = static_cast<std::size_t>(sizes[0]);
    if (dims == 1 && count > 1) {
        // One vector alone gives the bits it gets in the batch.
        const std::size_t v = static_cast<std::size_t>(pool.empty() ? 0 : pool[0]) % static_cast<std::size_t>(count);
        Arrays<T> one{std::vector<T>(x.re.begin() + v * n, x.re.begin() + (v + 1) * n),
                      std::vector<T>(x.im.begin() + v * n, x.im.begin() + (v + 1) * n)};
        fresh.line.executeWith(one.re.data(), one.im.data(), one.re.data(), one.im.data(),
                               static_cast<std::int32_t>(n), 1, dir);
        NVF_FUZZ_CHECK_MSG(sameValues(one.re.data(), y.re.data() + v * n, n) &&
                               sameValues(one.im.data(), y.im.data() + v * n, n),
                           "a vector's result depends on its batch");
    }

    // Relative accuracy holds for values of moderate size; subnormal values
    // carry too few bits for it.
    const T smallest = std::is_same_v<T, float> ? T(1e-20) : T(1e-200);
    auto moderateValue = [&](T v) { return v == T(0) || (std::fabs(v) <= T(1e15) && std::fabs(v) >= smallest); };
    bool moderate = true;
    for (std::size_t i = 0; i < total; ++i) {
        moderate = moderate && moderateValue(x.re[i]) && moderateValue(x.im[i]);
    }
    if (!moderate) {
        return;
    }
    const std::size_t vectors = dims == 1 ? static_cast<std::size_t>(count) : 1;
    const std::size_t perVector = dims == 1 ? n : total;
    if (dir == 1 && dims == 1 && n <= 64 && count <= 4) {
        checkAgainstDft(x, y, n, vectors);
    }
    Arrays<T> back = y;
    call(fresh, back.re.data(), back.im.data(), back.re.data(), back.im.data(), -dir);
    checkRoundTrip(x, back, perVector, vectors,
                   2 * (accuracy<T>() * log2Size(static_cast<double>(perVector)) + constantsError<T>(perVector)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        run<float>(in);
    } else {
        run<double>(in);
    }
    return 0;
}
