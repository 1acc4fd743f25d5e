// Bindings of the FFT filters on split real / imaginary arrays, in place: a
// batch of vectors (1-D), a batch of planes (2-D) and one volume (3-D).
#include "common.h"

#include <nanobind/stl/array.h>

#include <array>
#include <cstdint>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>

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

// The NumPy form: `input` holds `count` values, complex (interleaved real and
// imaginary parts) or real; they are split into the two scratch arrays (NumPy's:
// its large blocks sit on huge pages, which the strided passes need), transformed
// there (kind 1: shape[0] = length, shape[1] = vector count; kind 2: n1, n2,
// batch; kind 3: nz, ny, nx) and interleaved into `output`.
template <class T>
void transform(In<T> input, bool complexInput, Out<T> output, Out<T> realScratch, Out<T> imagScratch, int kind,
               std::array<std::int64_t, 3> shape, int direction, int workers) {
    const T* in = input.data();
    T* out = output.data();
    T* re = realScratch.data();
    T* im = imagScratch.data();
    const std::size_t count = output.size() / 2;
    nb::gil_scoped_release release;
    for (std::size_t k = 0; k < count; ++k) {
        re[k] = complexInput ? in[2 * k] : in[k];
        im[k] = complexInput ? in[2 * k + 1] : T(0);
    }
    Workers pool(workers);
    if (kind == 1) {
        flt::Cn1dFftFilter<T> filter;
        filter.setExecutor(pool.get());
        filter.executeWith(re, im, re, im, static_cast<std::int32_t>(shape[0]),
                           static_cast<std::int32_t>(shape[1]), direction);
    } else if (kind == 2) {
        flt::Cn2dFftFilter<T> filter;
        filter.setExecutor(pool.get());
        const std::size_t plane = static_cast<std::size_t>(shape[0] * shape[1]);
        for (std::int64_t b = 0; b < shape[2]; ++b) {
            T* r = re + b * plane;
            T* i = im + b * plane;
            filter.executeWith(r, i, r, i, static_cast<std::int32_t>(shape[0]), static_cast<std::int32_t>(shape[1]),
                               direction);
        }
    } else {
        flt::Cn3dFftFilter<T> filter;
        filter.setExecutor(pool.get());
        filter.executeWith(re, im, re, im, static_cast<int>(shape[2]),
                           static_cast<int>(shape[1]), static_cast<int>(shape[0]), direction);
    }
    for (std::size_t k = 0; k < count; ++k) {
        out[2 * k] = re[k];
        out[2 * k + 1] = im[k];
    }
}

template <class T>
void bindType(nb::module_& m) {
    m.def("transform", &transform<T>, "input"_a.noconvert(), "complex_input"_a, "output"_a.noconvert(),
          "real_scratch"_a.noconvert(), "imag_scratch"_a.noconvert(), "kind"_a,
          "shape"_a, "direction"_a, "workers"_a);
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
