// The interleaved complex and real transforms (CnComplexFftFilter,
// CnRealFftFilter) in float and double: explicit lines with sizes, strides and
// array sizes from the input (legal or not), one to three axes of row-major
// arrays in place or not, real transforms over the last axes, every
// normalisation. Checks: a rejected call writes nothing, and an accepted explicit
// layout is one whose every element lies inside the array and belongs to one line
// only (found by enumerating them); elements outside the lines are untouched;
// every transform matches a long-double direct DFT per axis within the documented
// bound; forward then inverse returns the input; the real forward transform is the
// first half of the complex one.
#include <FuzzSupport.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

using namespace nvf_fuzz;

namespace {

using LComplex = std::complex<long double>;
constexpr long double kPi = 3.141592653589793238462643383279502884L;

template <class T>
constexpr double kEps = sizeof(T) == 4 ? 1.19e-7 : 2.22e-16;

// The documented bound of one axis of length n, with room for the sizes here.
template <class T>
double axisBound(std::size_t n) {
    return 4.0 * kEps<T> * std::max(1.0, std::log2(static_cast<double>(n)));
}

flt::CnFftNorm normOf(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 1: return flt::CnFftNorm::Ortho;
        case 2: return flt::CnFftNorm::Forward;
        default: return flt::CnFftNorm::Backward;
    }
}

long double scaleOf(flt::CnFftNorm norm, std::size_t n, bool inverse) {
    const long double ln = static_cast<long double>(n);
    if (norm == flt::CnFftNorm::Ortho) return 1.0L / std::sqrt(ln);
    if (norm == flt::CnFftNorm::Forward) return inverse ? 1.0L : 1.0L / ln;
    return inverse ? 1.0L / ln : 1.0L;
}

// Direct DFT of the elements start + k * stride (k < n) of `data`.
template <class C>
void directLine(std::vector<C>& data, std::size_t start, std::size_t stride, std::size_t n, bool inverse,
                long double scale) {
    std::vector<C> line(n);
    for (std::size_t j = 0; j < n; ++j) {
        C s = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const long double a = (inverse ? 2.0L : -2.0L) * kPi * static_cast<long double>((j * k) % n) / n;
            s += data[start + k * stride] * C(std::cos(a), std::sin(a));
        }
        line[j] = s * scale;
    }
    for (std::size_t j = 0; j < n; ++j) data[start + j * stride] = line[j];
}

template <class T>
double rms(const std::vector<std::complex<T>>& got, const std::vector<LComplex>& want) {
    long double e = 0, r = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        e += std::norm(LComplex(got[i].real(), got[i].imag()) - want[i]);
        r += std::norm(want[i]);
    }
    return static_cast<double>(std::sqrt(e / std::max(r, 1e-30L)));
}

template <class T>
std::vector<std::complex<T>> values(FuzzedDataProvider& in, std::size_t count) {
    std::vector<std::complex<T>> out(count);
    for (auto& v : out) {
        v = {static_cast<T>(in.ConsumeIntegralInRange<int>(-128, 127)) / T(64),
             static_cast<T>(in.ConsumeIntegralInRange<int>(-128, 127)) / T(64)};
    }
    return out;
}

std::size_t small(FuzzedDataProvider& in, std::size_t limit) { return in.ConsumeIntegralInRange<std::size_t>(0, limit); }

template <class T>
void explicitLines(FuzzedDataProvider& in) {
    using C = std::complex<T>;
    flt::CnFftLines lines;
    lines.length = small(in, 40);
    lines.stride = small(in, 12);
    lines.count0 = small(in, 6);
    lines.stride0 = small(in, 60);
    lines.count1 = small(in, 4);
    lines.stride1 = small(in, 300);
    const std::size_t size = small(in, 1200);
    const int direction = in.ConsumeBool() ? 1 : -1;
    const bool inPlace = in.ConsumeBool();
    flt::CnComplexFftFilter<T> filter;
    filter.setNormalization(normOf(in));
    const std::vector<C> x = values<T>(in, size);
    const C sentinel(T(1e3), T(-1e3));
    std::vector<C> out = inPlace ? x : std::vector<C>(size, sentinel);
    const std::vector<C> before = out;
    // Enumerate the elements: each inside the array and on one line only.
    std::vector<unsigned char> owner(size, 0);
    bool valid = lines.length > 0;
    for (std::size_t i1 = 0; valid && i1 < lines.count1; ++i1) {
        for (std::size_t i0 = 0; valid && i0 < lines.count0; ++i0) {
            for (std::size_t k = 0; k < lines.length; ++k) {
                const std::size_t at = i0 * lines.stride0 + i1 * lines.stride1 + k * lines.stride;
                if (at >= size || owner[at]) {
                    valid = false;
                    break;
                }
                owner[at] = 1;
            }
        }
    }
    try {
        filter.executeLines(inPlace ? out.data() : x.data(), out.data(), size, lines, direction);
    } catch (const com::norvane::Throwable&) {
        NVF_FUZZ_CHECK(out == before);
        return;
    }
    if (lines.count0 == 0 || lines.count1 == 0) {
        NVF_FUZZ_CHECK(out == before);
        return;
    }
    NVF_FUZZ_CHECK_MSG(valid, "accepted lines that leave the array or overlap");
    std::vector<LComplex> want(size);
    for (std::size_t i = 0; i < size; ++i) want[i] = {x[i].real(), x[i].imag()};
    const long double scale = scaleOf(filter.getNormalization(), lines.length, direction == -1);
    for (std::size_t i1 = 0; i1 < lines.count1; ++i1) {
        for (std::size_t i0 = 0; i0 < lines.count0; ++i0) {
            directLine(want, i0 * lines.stride0 + i1 * lines.stride1, lines.stride, lines.length, direction == -1,
                       scale);
        }
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (!owner[i]) {
            NVF_FUZZ_CHECK_MSG(out[i] == before[i], "an element outside the lines was written");
            want[i] = {out[i].real(), out[i].imag()};
        }
    }
    NVF_FUZZ_CHECK(rms(out, want) < axisBound<T>(lines.length));
}

template <class T>
void axes(FuzzedDataProvider& in) {
    using C = std::complex<T>;
    const int ndim = in.ConsumeIntegralInRange<int>(1, 3);
    std::size_t shape[3] = {1, 1, 1};
    std::size_t total = 1;
    for (int d = 0; d < ndim; ++d) {
        shape[d] = small(in, 24);
        total *= shape[d];
    }
    int axisList[3] = {0, 1, 2};
    const int count = in.ConsumeIntegralInRange<int>(1, ndim);
    for (int i = ndim - 1; i > 0; --i) std::swap(axisList[i], axisList[in.ConsumeIntegralInRange<int>(0, i)]);
    const bool inPlace = in.ConsumeBool();
    flt::CnComplexFftFilter<T> filter;
    filter.setNormalization(normOf(in));
    const std::vector<C> x = values<T>(in, total);
    std::vector<C> out = inPlace ? x : std::vector<C>(total);
    bool zeroLength = false;
    for (int i = 0; i < count; ++i) zeroLength = zeroLength || shape[axisList[i]] == 0;
    try {
        filter.executeAxes(inPlace ? out.data() : x.data(), out.data(), shape, ndim, axisList, count, 1);
    } catch (const com::norvane::Throwable&) {
        NVF_FUZZ_CHECK_MSG(zeroLength, "a legal call was rejected");
        return;
    }
    NVF_FUZZ_CHECK(!zeroLength || total == 0);
    if (total == 0) return;
    std::vector<LComplex> want(total);
    for (std::size_t i = 0; i < total; ++i) want[i] = {x[i].real(), x[i].imag()};
    double bound = 0;
    for (int i = 0; i < count; ++i) {
        const int a = axisList[i];
        std::size_t pre = 1, post = 1;
        for (int d = 0; d < a; ++d) pre *= shape[d];
        for (int d = a + 1; d < ndim; ++d) post *= shape[d];
        for (std::size_t p = 0; p < pre; ++p) {
            for (std::size_t q = 0; q < post; ++q) {
                directLine(want, p * shape[a] * post + q, post, shape[a], false,
                           scaleOf(filter.getNormalization(), shape[a], false));
            }
        }
        bound += axisBound<T>(shape[a]);
    }
    NVF_FUZZ_CHECK(rms(out, want) < bound);
    std::vector<C> back(total);
    filter.executeAxes(out.data(), back.data(), shape, ndim, axisList, count, -1);
    std::vector<LComplex> original(total);
    for (std::size_t i = 0; i < total; ++i) original[i] = {x[i].real(), x[i].imag()};
    NVF_FUZZ_CHECK(rms(back, original) < 2 * bound);
}

template <class T>
void real(FuzzedDataProvider& in) {
    using C = std::complex<T>;
    const int ndim = in.ConsumeIntegralInRange<int>(1, 3);
    const int rank = in.ConsumeIntegralInRange<int>(1, ndim);
    std::size_t shape[3] = {1, 1, 1};
    std::size_t total = 1;
    for (int d = 0; d < ndim; ++d) {
        shape[d] = 1 + small(in, 23);
        total *= shape[d];
    }
    const std::size_t n = shape[ndim - 1];
    const std::size_t half = n / 2 + 1;
    const std::size_t lines = total / n;
    flt::CnRealFftFilter<T> realFilter;
    flt::CnComplexFftFilter<T> complexFilter;
    const flt::CnFftNorm norm = normOf(in);
    realFilter.setNormalization(norm);
    complexFilter.setNormalization(norm);
    const std::vector<C> v = values<T>(in, total);
    std::vector<T> x(total);
    std::vector<C> asComplex(total), full(total);
    for (std::size_t i = 0; i < total; ++i) {
        x[i] = v[i].real();
        asComplex[i] = {x[i], T(0)};
    }
    std::vector<C> spectrum(lines * half);
    realFilter.executeForward(x.data(), spectrum.data(), shape, ndim, rank);
    int axisList[3];
    double bound = 0;
    for (int i = 0; i < rank; ++i) {
        axisList[i] = ndim - 1 - i;
        bound += axisBound<T>(shape[ndim - 1 - i]);
    }
    complexFilter.executeAxes(asComplex.data(), full.data(), shape, ndim, axisList, rank, 1);
    std::vector<LComplex> want(spectrum.size());
    for (std::size_t l = 0; l < lines; ++l) {
        for (std::size_t k = 0; k < half; ++k) want[l * half + k] = {full[l * n + k].real(), full[l * n + k].imag()};
    }
    NVF_FUZZ_CHECK(rms(spectrum, want) < 2 * bound);
    // The complete spectrum: its first n/2 + 1 values of every line are the half
    // spectrum's bits, and the whole is the complex transform within the bound.
    std::vector<C> whole(total);
    realFilter.executeForwardFull(x.data(), whole.data(), shape, ndim, rank);
    std::vector<LComplex> wantWhole(total);
    for (std::size_t l = 0; l < lines; ++l) {
        for (std::size_t k = 0; k < n; ++k) {
            if (k < half) {
                NVF_FUZZ_CHECK(std::memcmp(&whole[l * n + k], &spectrum[l * half + k], sizeof(C)) == 0);
            }
            wantWhole[l * n + k] = {full[l * n + k].real(), full[l * n + k].imag()};
        }
    }
    NVF_FUZZ_CHECK(rms(whole, wantWhole) < 2 * bound);
    const std::vector<C> kept = spectrum;
    std::vector<T> back(total);
    realFilter.executeInverse(spectrum.data(), back.data(), shape, ndim, rank);
    NVF_FUZZ_CHECK_MSG(spectrum == kept, "the inverse changed its input");
    long double e = 0, r = 0;
    for (std::size_t i = 0; i < total; ++i) {
        e += (static_cast<long double>(back[i]) - x[i]) * (static_cast<long double>(back[i]) - x[i]);
        r += static_cast<long double>(x[i]) * x[i];
    }
    NVF_FUZZ_CHECK(std::sqrt(static_cast<double>(e / std::max(r, 1e-30L))) < 4 * bound);
}

template <class T>
void run(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: explicitLines<T>(in); break;
        case 1: axes<T>(in); break;
        default: real<T>(in); break;
    }
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
