// Bindings of the recursive Gaussian filters: smoothing and one derivative per
// call (gaussian), and the gradient in physical units (gradient). Sigmas,
// spacings and derivative codes arrive in library axis order (x, y, z).
#include "common.h"

#include <nanobind/stl/array.h>
#include <nanobind/stl/optional.h>

#include <array>
#include <cstdint>

#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvmath/CnVector3D.h>

namespace nvfpy {
namespace {

using Vec3 = com::norvane::math::CnVector3D<float>;

template <class I, class O>
nb::object gaussian(In<I> input, std::array<double, 3> sigma, int derivative, int mode, double cval,
                    std::optional<Out<O>> output, int workers) {
    const Dims d = dimsOf(input);
    const std::vector<std::size_t> shape = shapeOf(input);
    const I* src = input.data();
    std::unique_ptr<img::Image<O>> result;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto image = viewOf<img::Image<I>>(src, d);
        result = resultImage<O>(output, d, src, d.count());
        flt::CnRecursiveFilter<I, O> filter;
        filter.setSigma(sigma[0], sigma[1], sigma[2]);
        filter.setDerivative(static_cast<typename flt::CnRecursiveFilter<I, O>::EnDerivativeType>(derivative));
        filter.setBorderMode(static_cast<typename flt::CnRecursiveFilter<I, O>::EnBorderMode>(mode), cval);
        filter.setExecutor(pool.get());
        filter.execute(*image, *result);
    }
    return deliver<O>(std::move(result), output, shape);
}

// Component c of the library's (x, y, z) order goes to out[..., ndim - 1 - c].
template <class O, class Get>
void scatterComponents(O* out, std::size_t count, std::size_t ndim, Get get) {
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t c = 0; c < ndim; ++c) {
            out[i * ndim + (ndim - 1 - c)] = get(i, c);
        }
    }
}

template <class O>
O* gradientTarget(std::optional<Out<O>>& output, Result<O>& fresh, const std::vector<std::size_t>& shape) {
    if (output) {
        return output->data();
    }
    fresh = allocate<O>(shape);
    return fresh.data();
}

// The library's gradient of an integer (8- or 16-bit) image or volume (arrays
// of 2 or 3 dimensions). Without `output` the components are put into array order inside
// the library's own result, which is then handed over: no second volume.
template <class T>
nb::object gradientInteger(In<T> input, double sigma, std::array<double, 3> spacing,
                      std::optional<Out<float>> output, int workers) {
    const Dims d = dimsOf(input);
    const std::size_t ndim = input.ndim();
    std::vector<std::size_t> shape = shapeOf(input);
    shape.push_back(ndim);
    const T* src = input.data();
    float* target = output ? output->data() : nullptr;
    std::unique_ptr<img::Volume<Vec3>> vectors = std::make_unique<FreshImage<Vec3, img::Volume>>(d);
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto volume = viewOf<img::Volume<T>>(src, d);
        volume->setVoxelSize(typename img::Volume<T>::Vector(spacing[0], spacing[1], spacing[2]));
        flt::CnImageGradient<T> gradient;
        gradient.setSigma(sigma);
        gradient.setExecutor(pool.get());
        gradient.execute(*volume, *vectors);
        Vec3* v = vectors->data();
        if (target != nullptr) {
            scatterComponents(target, d.count(), ndim, [v](std::size_t i, std::size_t c) {
                return c == 0 ? v[i].x : (c == 1 ? v[i].y : v[i].z);
            });
        } else {
            // In place, front to back: voxel i's values are read before
            // anything at or after them is written.
            float* f = reinterpret_cast<float*>(v);
            for (std::size_t i = 0; i < d.count(); ++i) {
                const float x = f[3 * i], y = f[3 * i + 1], z = f[3 * i + 2];
                if (ndim == 3) {
                    f[3 * i] = z;
                    f[3 * i + 2] = x;
                } else {
                    f[2 * i] = y;
                    f[2 * i + 1] = x;
                }
            }
        }
    }
    if (output) {
        return nb::cast(*output);
    }
    float* data = reinterpret_cast<float*>(vectors->data());
    return nb::cast(adopt<float>(std::move(vectors), data, shape));
}

// The same computation as the library's gradient on the recursive filter of
// the input type: one first-derivative run per array axis, sigma / spacing in
// samples along every axis, each component divided by its spacing (in the
// output type; float like the library's gradient). Axes the array does not
// have get sigma 0 (the identity). Every run continues the borders as mode
// and cval say.
template <class I, class O>
nb::object gradientRecursive(In<I> input, double sigma, std::array<double, 3> spacing, int mode, double cval,
                             std::optional<Out<O>> output, int workers) {
    const Dims d = dimsOf(input);
    const std::size_t ndim = input.ndim();
    std::vector<std::size_t> shape = shapeOf(input);
    shape.push_back(ndim);
    Result<O> fresh;
    O* out = gradientTarget(output, fresh, shape);
    const I* src = input.data();
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        using Filter = flt::CnRecursiveFilter<I, O>;
        // The components are written one after the other while the input is
        // still read: an output that shares bytes with it gets a copy to read.
        const bool shared = overlaps(out, d.count() * ndim * sizeof(O), src, d.count() * sizeof(I));
        const auto image = shared ? imageFrom<img::Image<I>>(src, d) : viewOf<img::Image<I>>(src, d);
        double s[3];
        O scale[3];
        for (std::size_t c = 0; c < 3; ++c) {
            s[c] = c < ndim ? sigma / spacing[c] : 0.0;
            scale[c] = static_cast<O>(1.0 / spacing[c]);
        }
        Filter filter;
        filter.setSigma(s[0], s[1], s[2]);
        filter.setBorderMode(static_cast<typename Filter::EnBorderMode>(mode), cval);
        filter.setExecutor(pool.get());
        img::Image<O> component(d.x, d.y, d.z);
        for (std::size_t c = 0; c < ndim; ++c) {
            filter.setDerivative(static_cast<typename Filter::EnDerivativeType>(Filter::FirstDerivativeX + c));
            filter.execute(*image, component);
            const O* p = component.data();
            const std::size_t slot = ndim - 1 - c;
            for (std::size_t i = 0; i < d.count(); ++i) {
                out[i * ndim + slot] = p[i] * scale[c];
            }
        }
    }
    return output ? nb::cast(*output) : nb::cast(fresh);
}

}  // namespace

void bindRecursive(nb::module_& m) {
    using namespace nb::literals;
    m.def("gaussian", &gaussian<std::uint8_t, float>, "input"_a.noconvert(), "sigma"_a, "derivative"_a, "mode"_a,
          "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gaussian", &gaussian<std::uint16_t, float>, "input"_a.noconvert(), "sigma"_a, "derivative"_a, "mode"_a,
          "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gaussian", &gaussian<std::int16_t, float>, "input"_a.noconvert(), "sigma"_a, "derivative"_a, "mode"_a,
          "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gaussian", &gaussian<float, float>, "input"_a.noconvert(), "sigma"_a, "derivative"_a, "mode"_a,
          "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gaussian", &gaussian<double, double>, "input"_a.noconvert(), "sigma"_a, "derivative"_a, "mode"_a,
          "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient_integer", &gradientInteger<std::uint8_t>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient_integer", &gradientInteger<std::uint16_t>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient_integer", &gradientInteger<std::int16_t>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient", &gradientRecursive<std::uint16_t, float>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "mode"_a, "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient", &gradientRecursive<std::int16_t, float>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "mode"_a, "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient", &gradientRecursive<std::uint8_t, float>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "mode"_a, "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient", &gradientRecursive<float, float>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "mode"_a, "cval"_a, "output"_a.noconvert().none(), "workers"_a);
    m.def("gradient", &gradientRecursive<double, double>, "input"_a.noconvert(), "sigma"_a, "spacing"_a,
          "mode"_a, "cval"_a, "output"_a.noconvert().none(), "workers"_a);
}

}  // namespace nvfpy
