// Bindings of the FFT filters: the interleaved complex and real transforms of
// any length that nvfiltering.fft uses, and the split real / imaginary filters
// in place (a batch of vectors, a batch of planes, one volume) behind fftn_split.
#include "common.h"

#include <nanobind/stl/array.h>
#include <nanobind/stl/vector.h>

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>
#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>

namespace nvfpy {
namespace {

using namespace nb::literals;

// `count` vectors of `length` adjacent elements.
template <class T>
void fft1(Out<T> re, Out<T> im, std::int32_t length, std::int32_t count, int direction, int workers) {
    T* r = re.data();
    T* i = im.data();
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::Cn1dFftFilter<T> filter;
    filter.setExecutor(pool.get());
    filter.executeWith(r, i, r, i, length, count, direction);
}

// `batch` planes of n1 rows of n2 adjacent elements, one after another.
template <class T>
void fft2(Out<T> re, Out<T> im, std::int32_t n1, std::int32_t n2, std::size_t batch, int direction, int workers) {
    T* r = re.data();
    T* i = im.data();
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::Cn2dFftFilter<T> filter;
    filter.setExecutor(pool.get());
    const std::size_t plane = static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2);
    for (std::size_t b = 0; b < batch; ++b) {
        filter.executeWith(r + b * plane, i + b * plane, r + b * plane, i + b * plane, n1, n2, direction);
    }
}

// One nz x ny x nx volume (x fastest).
template <class T>
void fft3(Out<T> re, Out<T> im, int nz, int ny, int nx, int direction, int workers) {
    T* r = re.data();
    T* i = im.data();
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::Cn3dFftFilter<T> filter;
    filter.setExecutor(pool.get());
    filter.executeWith(r, i, r, i, nx, ny, nz, direction);
}

// One axis of a C-contiguous array seen as pre x n x post.
using AxisPass = std::array<std::size_t, 3>;

flt::CnFftNorm normOf(int code) {
    return code == 1 ? flt::CnFftNorm::Ortho : (code == 2 ? flt::CnFftNorm::Forward : flt::CnFftNorm::Backward);
}

// A transform filter on the call's threads with the normalisation of `code`.
template <class Filter>
void prepare(Filter& filter, Workers& pool, int code) {
    filter.setExecutor(pool.get());
    filter.setNormalization(normOf(code));
}

// Complex arrays come as their interleaved real view (the Python layer checked
// the dtypes and layouts).
template <class T>
const std::complex<T>* complexIn(const In<T>& a) {
    return reinterpret_cast<const std::complex<T>*>(a.data());
}
template <class T>
std::complex<T>* complexOut(Out<T>& a) {
    return reinterpret_cast<std::complex<T>*>(a.data());
}

// The shape of the 1 to 3 dimensions of `a`, with the last halved when `a` is the
// interleaved view of a complex array; the binding `what` refuses other arrays.
template <class A>
std::vector<std::size_t> shapeOf(const A& a, bool interleaved, const char* what) {
    const std::size_t ndim = a.ndim();
    if (ndim < 1 || ndim > 3 || (interleaved && a.shape(ndim - 1) % 2 != 0)) {
        throw nb::value_error((std::string(what) + ": 1 to 3 dimensions of whole values").c_str());
    }
    std::vector<std::size_t> shape(ndim);
    for (std::size_t d = 0; d < ndim; ++d) shape[d] = a.shape(d);
    if (interleaved) shape.back() /= 2;
    return shape;
}

// Refuses an array of other than `elements` values of T for the binding `what`.
inline void checkSize(std::size_t size, std::size_t elements, const char* what) {
    if (size != elements) throw nb::value_error((std::string(what) + ": the arrays' sizes do not match").c_str());
}

// The elements of T of the half spectrum (interleaved) of a real array of `shape`.
inline std::size_t halfSpectrumElements(const std::vector<std::size_t>& shape) {
    std::size_t count = 2 * (shape.back() / 2 + 1);
    for (std::size_t d = 0; d + 1 < shape.size(); ++d) count *= shape[d];
    return count;
}

// The complex transform along each pass in turn: the first reads `input`, the
// others work in place in `output` (which may be `input`).
template <class T>
void complexPasses(In<T> input, Out<T> output, std::vector<AxisPass> passes, int direction, int norm, int workers) {
    const std::complex<T>* in = complexIn<T>(input);
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnComplexFftFilter<T> filter;
    prepare(filter, pool, norm);
    const std::complex<T>* source = in;
    for (const AxisPass& p : passes) {
        filter.executeAxis(source, out, p.data(), 3, 1, direction);
        source = out;
    }
}

// The real forward transform along `halved` (the real array as pre x n x post),
// then the complex passes in place in the spectrum.
template <class T>
void realForward(In<T> input, Out<T> output, AxisPass halved, std::vector<AxisPass> passes, int norm, int workers) {
    const T* in = input.data();
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeForwardAxis(in, out, halved.data(), 3, 1);
    flt::CnComplexFftFilter<T> filter;
    prepare(filter, pool, norm);
    for (const AxisPass& p : passes) {
        filter.executeAxis(out, out, p.data(), 3, 1, 1);
    }
}

// The forward real transform over the last `rank` axes of `input` (1 to 3
// dimensions) written as the complete spectrum into `output` (the interleaved
// view of a complex array of the input's shape), every value conjugated when
// asked.
template <class T>
void realForwardFull(In<T> input, Out<T> output, int rank, int norm, bool conjugate, int workers) {
    const std::vector<std::size_t> shape = shapeOf(input, false, "real_forward_full");
    checkSize(output.size(), 2 * input.size(), "real_forward_full");
    const T* in = input.data();
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeForwardFull(in, out, shape.data(), static_cast<int>(shape.size()), rank, conjugate);
}

// The real inverse along `halved` alone, straight from the caller's spectrum
// (which it only reads).
template <class T>
void realInverseLines(In<T> spectrum, Out<T> output, AxisPass halved, int norm, int workers) {
    const std::complex<T>* in = complexIn<T>(spectrum);
    T* out = output.data();
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeInverseAxis(in, out, halved.data(), 3, 1);
}

// The complex transform along `axes` of `input` (1 to 3 dimensions), in that
// order, the first axis reading `input` and the others working in place in
// `output` (which may be `input`): two axes within the slabs of a volume run
// slab by slab while the slab is in cache, with the same operations on every
// line as passes over the whole array.
template <class T>
void complexAxes(In<T> input, Out<T> output, std::vector<int> axes, int direction, int norm, int workers) {
    const std::vector<std::size_t> shape = shapeOf(input, true, "complex_axes");
    checkSize(output.size(), input.size(), "complex_axes");
    const std::complex<T>* in = complexIn<T>(input);
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnComplexFftFilter<T> filter;
    prepare(filter, pool, norm);
    filter.executeAxes(in, out, shape.data(), static_cast<int>(shape.size()), axes.data(),
                       static_cast<int>(axes.size()), direction);
}

// The forward real transform over the last `rank` axes of `input` (1 to 3
// dimensions) into its half spectrum (slab by slab for a volume).
template <class T>
void realForwardRank(In<T> input, Out<T> output, int rank, int norm, int workers) {
    const std::vector<std::size_t> shape = shapeOf(input, false, "real_forward_rank");
    checkSize(output.size(), halfSpectrumElements(shape), "real_forward_rank");
    const T* in = input.data();
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeForward(in, out, shape.data(), static_cast<int>(shape.size()), rank);
}

// The inverse: the half spectrum (only read) to the real array `output`.
template <class T>
void realInverseRank(In<T> spectrum, Out<T> output, int rank, int norm, int workers) {
    const std::vector<std::size_t> shape = shapeOf(output, false, "real_inverse_rank");
    checkSize(spectrum.size(), halfSpectrumElements(shape), "real_inverse_rank");
    const std::complex<T>* in = complexIn<T>(spectrum);
    T* out = output.data();
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeInverse(in, out, shape.data(), static_cast<int>(shape.size()), rank);
}

template <class T>
void bindType(nb::module_& m) {
    m.def("complex_passes", &complexPasses<T>, "input"_a.noconvert(), "output"_a.noconvert(), "passes"_a,
          "direction"_a, "norm"_a, "workers"_a);
    m.def("complex_axes", &complexAxes<T>, "input"_a.noconvert(), "output"_a.noconvert(), "axes"_a, "direction"_a,
          "norm"_a, "workers"_a);
    m.def("real_forward_rank", &realForwardRank<T>, "input"_a.noconvert(), "output"_a.noconvert(), "rank"_a,
          "norm"_a, "workers"_a);
    m.def("real_inverse_rank", &realInverseRank<T>, "spectrum"_a.noconvert(), "output"_a.noconvert(), "rank"_a,
          "norm"_a, "workers"_a);
    m.def("real_forward", &realForward<T>, "input"_a.noconvert(), "output"_a.noconvert(), "halved"_a, "passes"_a,
          "norm"_a, "workers"_a);
    m.def("real_forward_full", &realForwardFull<T>, "input"_a.noconvert(), "output"_a.noconvert(), "rank"_a,
          "norm"_a, "conjugate"_a, "workers"_a);
    m.def("real_inverse_lines", &realInverseLines<T>, "spectrum"_a.noconvert(), "output"_a.noconvert(), "halved"_a,
          "norm"_a, "workers"_a);
    m.def("fft1", &fft1<T>, "re"_a.noconvert(), "im"_a.noconvert(), "length"_a, "count"_a, "direction"_a,
          "workers"_a);
    m.def("fft2", &fft2<T>, "re"_a.noconvert(), "im"_a.noconvert(), "n1"_a, "n2"_a, "batch"_a, "direction"_a,
          "workers"_a);
    m.def("fft3", &fft3<T>, "re"_a.noconvert(), "im"_a.noconvert(), "nz"_a, "ny"_a, "nx"_a, "direction"_a,
          "workers"_a);
}

}  // namespace

void bindFft(nb::module_& m) {
    bindType<float>(m);
    bindType<double>(m);
}

}  // namespace nvfpy
