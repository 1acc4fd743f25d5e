// Bindings of the separable convolution: the Kernel class (values and centre,
// printed in the library's format), the pyramid kernel, and the separable
// filter on 8-bit images and on images of float three-vectors.
#include "common.h"

#include <nanobind/stl/array.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <array>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>
#include <nvmath/CnVector3D.h>

namespace nvfpy {
namespace {

using Kernel = flt::CnKernel<float>;
using Vec3 = com::norvane::math::CnVector3D<float>;
template <class T>
using Separable = flt::CnSeparableFilter<T, T, float, float, std::multiplies<float>, std::plus<float>>;
using SeparableVec3 =
    flt::CnSeparableFilter<Vec3, Vec3, float, Vec3, std::multiplies<float>, std::plus<float>>;

// Runs the separable filter F over voxels of type V, stored as `scalars` values
// of type S each; the last `scalars == 3` array axis is the vector.
template <class F, class V, class S>
nb::object separable(In<S> input, const Kernel& kx, const Kernel& ky, const Kernel& kz,
                     std::vector<std::size_t> outShape, std::optional<Out<S>> output, int workers) {
    const std::size_t scalars = sizeof(V) / sizeof(S);
    const std::size_t ndim = outShape.size() - (scalars == 1 ? 0 : 1);
    Dims in, out;
    unsigned int* inLib[3] = {&in.x, &in.y, &in.z};
    unsigned int* outLib[3] = {&out.x, &out.y, &out.z};
    for (std::size_t i = 0; i < ndim; ++i) {
        *inLib[i] = static_cast<unsigned int>(input.shape(ndim - 1 - i));
        *outLib[i] = static_cast<unsigned int>(outShape[ndim - 1 - i]);
    }
    const V* src = reinterpret_cast<const V*>(input.data());
    std::unique_ptr<img::Image<V>> result;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto image = viewOf<img::Image<V>>(src, in);
        // The result goes straight into `output` when it shares no byte with the input.
        if (!output) {
            result = std::make_unique<FreshImage<V>>(out);
        } else if (!overlaps(output->data(), out.count() * sizeof(V), src, in.count() * sizeof(V))) {
            result = std::make_unique<img::Image<V>>();
            result->borrow(reinterpret_cast<V*>(output->data()), out.x, out.y, out.z);
        } else {
            result = std::make_unique<img::Image<V>>(out.x, out.y, out.z);
        }
        F filter;
        filter.setKernel(kx, flt::CnCoord::X);
        filter.setKernel(ky, flt::CnCoord::Y);
        filter.setKernel(kz, flt::CnCoord::Z);
        filter.setExecutor(pool.get());
        filter.execute(*image, *result);
    }
    if (output) {
        if (result->getNumberOfVoxels() != 0 && !result->isBorrowed()) {
            nb::gil_scoped_release release;
            std::memcpy(output->data(), result->data(), result->getNumberOfVoxels() * sizeof(V));
        }
        return nb::cast(*output);
    }
    S* data = reinterpret_cast<S*>(result->data());
    return nb::cast(adopt<S>(std::move(result), data, outShape));
}

std::string kernelRepr(const Kernel& k) {
    std::ostringstream os;
    os << k;
    return os.str();
}

template <class T>
void bindSeparable(nb::module_& m) {
    using namespace nb::literals;
    m.def("separable", &separable<Separable<T>, T, T>, "input"_a.noconvert(), "kx"_a, "ky"_a, "kz"_a,
          "out_shape"_a, "output"_a.noconvert().none(), "workers"_a);
}

}  // namespace

void bindConvolution(nb::module_& m) {
    using namespace nb::literals;
    nb::class_<Kernel>(m, "Kernel",
                       "A one-dimensional convolution kernel: Kernel(values, center=0).\n\n"
                       "values: at least one float (stored as float32); center: the index of the centre\n"
                       "tap, 0 <= center < len(values) (ValueError otherwise). repr() is the library's\n"
                       "print format. Used with separable_filter; pyramid_kernel() gives the pyramid's.")
        .def(
            "__init__",
            [](Kernel* self, const std::vector<float>& values, unsigned int center) {
                if (values.empty()) {
                    throw nb::value_error("values: a kernel needs at least one value");
                }
                if (center >= values.size()) {
                    throw nb::value_error("center: must index one of the values (0 <= center < len(values))");
                }
                new (self) Kernel(values);
                self->setCenter(center);
            },
            "values"_a, "center"_a = 0)
        .def_prop_ro("values", [](const Kernel& k) { return std::vector<float>(k.begin(), k.end()); })
        .def_prop_ro("center", &Kernel::getCenter)
        .def("__len__", &Kernel::size)
        .def("__repr__", &kernelRepr);
    m.def("pyramid_kernel", []() { return flt::CnKernelFactory<float>::smooth(0.375f); });
    bindSeparable<std::uint8_t>(m);
    bindSeparable<std::uint16_t>(m);
    bindSeparable<std::int16_t>(m);
    bindSeparable<float>(m);
    bindSeparable<double>(m);
    // Three-vectors of float32 take their own name: a float32 array is a
    // scalar image for "separable".
    m.def("separable_vectors", &separable<SeparableVec3, Vec3, float>, "input"_a.noconvert(), "kx"_a, "ky"_a,
          "kz"_a, "out_shape"_a, "output"_a.noconvert().none(), "workers"_a);
}

}  // namespace nvfpy
