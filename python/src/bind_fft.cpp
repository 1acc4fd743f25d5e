// Bindings of the FFT filters on split real / imaginary arrays, in place: a
// batch of vectors (1-D), a batch of planes (2-D) and one volume (3-D).
#include "common.h"

#include <cstdint>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>

namespace nvfpy {
namespace {

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

template <class T>
void bindType(nb::module_& m) {
    using namespace nb::literals;
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
