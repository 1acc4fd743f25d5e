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
    if (input.ndim() < 1 || input.ndim() > 3 || output.size() != 2 * input.size()) {
        throw nb::value_error("real_forward_full: 1 to 3 dimensions and one complex output value per input value");
    }
    std::size_t shape[3] = {1, 1, 1};
    const int ndim = static_cast<int>(input.ndim());
    for (int d = 0; d < ndim; ++d) shape[d] = input.shape(static_cast<std::size_t>(d));
    const T* in = input.data();
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeForwardFull(in, out, shape, ndim, rank, conjugate);
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

// The number of values of `shape` (1 to 3 dimensions) when the array holds
// exactly `elements` values of T, `perValue` of them per value (2 for the
// interleaved view of a complex array); the binding `what` refuses anything else.
inline std::size_t valuesOf(const std::vector<std::size_t>& shape, std::size_t elements, std::size_t perValue,
                            const char* what) {
    if (shape.empty() || shape.size() > 3) throw nb::value_error((std::string(what) + ": 1 to 3 dimensions").c_str());
    const std::string mismatch = std::string(what) + ": the arrays do not hold the given shape";
    std::size_t count = 1;
    for (std::size_t d : shape) {
        // More values than the array holds (checked before the product can wrap).
        if (d != 0 && count > elements / d) throw nb::value_error(mismatch.c_str());
        count *= d;
    }
    if (count > elements / perValue || count * perValue != elements) throw nb::value_error(mismatch.c_str());
    return count;
}

// The complex transform along `axes` of an array of `shape` (its own, 1 to 3
// dimensions), in that order, the first axis reading `input` and the others
// working in place in `output` (which may be `input`): two axes within the
// slabs of a volume run slab by slab while the slab is in cache, with the same
// operations on every line as passes over the whole array.
template <class T>
void complexAxes(In<T> input, Out<T> output, std::vector<std::size_t> shape, std::vector<int> axes, int direction,
                 int norm, int workers) {
    valuesOf(shape, input.size(), 2, "complex_axes");
    valuesOf(shape, output.size(), 2, "complex_axes");
    const std::complex<T>* in = complexIn<T>(input);
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnComplexFftFilter<T> filter;
    prepare(filter, pool, norm);
    filter.executeAxes(in, out, shape.data(), static_cast<int>(shape.size()), axes.data(),
                       static_cast<int>(axes.size()), direction);
}

// The spectrum's shape of a real array of `shape`: n / 2 + 1 along the last axis.
inline std::vector<std::size_t> halfShape(std::vector<std::size_t> shape) {
    if (!shape.empty()) shape.back() = shape.back() / 2 + 1;
    return shape;
}

// The forward real transform over the last `rank` axes of a real array of
// `shape` (1 to 3 dimensions) into its half spectrum (slab by slab for a volume).
template <class T>
void realForwardRank(In<T> input, Out<T> output, std::vector<std::size_t> shape, int rank, int norm, int workers) {
    valuesOf(shape, input.size(), 1, "real_forward_rank");
    valuesOf(halfShape(shape), output.size(), 2, "real_forward_rank");
    const T* in = input.data();
    std::complex<T>* out = complexOut<T>(output);
    nb::gil_scoped_release release;
    Workers pool(workers);
    flt::CnRealFftFilter<T> real;
    prepare(real, pool, norm);
    real.executeForward(in, out, shape.data(), static_cast<int>(shape.size()), rank);
}

// The inverse: the half spectrum (only read) to the real array of `shape`.
template <class T>
void realInverseRank(In<T> spectrum, Out<T> output, std::vector<std::size_t> shape, int rank, int norm, int workers) {
    valuesOf(halfShape(shape), spectrum.size(), 2, "real_inverse_rank");
    valuesOf(shape, output.size(), 1, "real_inverse_rank");
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
    m.def("complex_axes", &complexAxes<T>, "input"_a.noconvert(), "output"_a.noconvert(), "shape"_a, "axes"_a,
          "direction"_a, "norm"_a, "workers"_a);
    m.def("real_forward_rank", &realForwardRank<T>, "input"_a.noconvert(), "output"_a.noconvert(), "shape"_a,
          "rank"_a, "norm"_a, "workers"_a);
    m.def("real_inverse_rank", &realInverseRank<T>, "spectrum"_a.noconvert(), "output"_a.noconvert(), "shape"_a,
          "rank"_a, "norm"_a, "workers"_a);
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
