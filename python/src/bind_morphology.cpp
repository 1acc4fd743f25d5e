// Bindings of the morphology filters: dilation and erosion with the cross
// (repeated), connected components ranked by size, and the regional maxima mask.
#include "common.h"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>

#include <cstdint>
#include <utility>

#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>

namespace nvfpy {
namespace {

// `iterations` runs of the filter F, alternating between two images.
template <class F, class T>
nb::object cross(In<T> input, unsigned int iterations, std::optional<Out<T>> output, int workers) {
    const Dims d = dimsOf(input);
    const std::vector<std::size_t> shape = shapeOf(input);
    const T* src = input.data();
    std::unique_ptr<img::Image<T>> result;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        auto current = imageFrom<img::Image<T>>(src, d);
        auto next = std::make_unique<img::Image<T>>(d.x, d.y, d.z);
        F filter;
        filter.setExecutor(pool.get());
        for (unsigned int i = 0; i < iterations; ++i) {
            filter.execute(*current, *next);
            std::swap(current, next);
        }
        result = std::move(current);
    }
    return deliver<T>(std::move(result), output, shape);
}

template <class T>
std::pair<nb::object, std::int32_t> label(In<T> input, T classValue, bool eightPoint, std::uint32_t minSize,
                                          std::uint32_t keep, int workers) {
    const Dims d = dimsOf(input);
    const std::vector<std::size_t> shape = shapeOf(input);
    const T* src = input.data();
    std::unique_ptr<img::Image<std::uint32_t>> result;
    std::int32_t count = 0;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto image = imageFrom<img::Image<T>>(src, d);
        result = std::make_unique<img::Image<std::uint32_t>>(d.x, d.y, d.z);
        flt::CnConnectedComponentFilter<T> filter;
        filter.SetClassNumber(classValue);
        filter.SetMinimumComponentSize(minSize);
        filter.SetComponentNumber(keep);
        if (eightPoint) {
            filter.Set8PointConnectivity();
        }
        filter.setExecutor(pool.get());
        filter.execute(*image, *result);
        count = filter.GetNumberOfComponents();
    }
    std::optional<Out<std::uint32_t>> none;
    return {deliver<std::uint32_t>(std::move(result), none, shape), count};
}

template <class T>
nb::object regionalMaxima(In<T> input, std::optional<Out<std::uint8_t>> output, int workers) {
    const Dims d = dimsOf(input);
    const std::vector<std::size_t> shape = shapeOf(input);
    const T* src = input.data();
    std::unique_ptr<img::Image<std::uint8_t>> result;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto image = imageFrom<img::Image<T>>(src, d);
        result = std::make_unique<img::Image<std::uint8_t>>(d.x, d.y, d.z);
        flt::CnRegionalMaximumFilter<T> filter;
        filter.setExecutor(pool.get());
        filter.execute(*image, *result);
    }
    return deliver<std::uint8_t>(std::move(result), output, shape);
}

template <class T>
void bindCross(nb::module_& m) {
    using namespace nb::literals;
    m.def("dilate", &cross<flt::CnDilationFilter<T>, T>, "input"_a.noconvert(), "iterations"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("erode", &cross<flt::CnErosionFilter<T>, T>, "input"_a.noconvert(), "iterations"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("label", &label<T>, "input"_a.noconvert(), "class_value"_a, "eight"_a, "min_size"_a, "keep"_a,
          "workers"_a);
}

}  // namespace

void bindMorphology(nb::module_& m) {
    using namespace nb::literals;
    bindCross<std::uint8_t>(m);
    bindCross<std::int16_t>(m);
    bindCross<std::uint32_t>(m);
    m.def("regional_maxima", &regionalMaxima<std::int16_t>, "input"_a.noconvert(), "output"_a.noconvert().none(),
          "workers"_a);
    m.def("regional_maxima", &regionalMaxima<float>, "input"_a.noconvert(), "output"_a.noconvert().none(),
          "workers"_a);
    m.def("regional_maxima", &regionalMaxima<double>, "input"_a.noconvert(), "output"_a.noconvert().none(),
          "workers"_a);
}

}  // namespace nvfpy
