// Bindings of the morphology filters: bitwise dilation and erosion with the
// cross (repeated), grey dilation, erosion, opening and closing with the cross,
// connected components ranked by size, and the regional maxima mask of an image
// or a volume.
#include "common.h"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnGreyClosingFilter.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/morphology/CnGreyErosionFilter.h>
#include <nvfiltering/morphology/CnGreyOpeningFilter.h>
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
        // The first pass reads the caller's array itself; the passes after it
        // alternate between the result and one image of our own, so that the
        // last one lands in the result (a view of `output` where possible).
        const auto view = viewOf<img::Image<T>>(src, d);
        result = resultImage<T>(output, d, src, d.count());
        std::unique_ptr<img::Image<T>> spare;
        if (iterations > 1) {
            spare = std::make_unique<img::Image<T>>(d.x, d.y, d.z);
        }
        F filter;
        filter.setExecutor(pool.get());
        for (unsigned int i = 0; i < iterations; ++i) {
            // Pass i writes the result when as many passes follow it as make
            // the last one write the result too.
            img::Image<T>& target = (iterations - 1 - i) % 2 == 0 ? *result : *spare;
            const img::Image<T>& source = i == 0 ? *view : ((iterations - i) % 2 == 0 ? *result : *spare);
            filter.execute(source, target);
        }
    }
    return deliver<T>(std::move(result), output, shape);
}

// The grey filter F with `iterations` passes from the caller's array (read in
// place) into the result (the filter runs its passes there).
template <class F, class T>
nb::object grey(In<T> input, unsigned int iterations, std::optional<Out<T>> output, int workers) {
    const Dims d = dimsOf(input);
    const std::vector<std::size_t> shape = shapeOf(input);
    const T* src = input.data();
    std::unique_ptr<img::Image<T>> result;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto view = viewOf<img::Image<T>>(src, d);
        result = resultImage<T>(output, d, src, d.count());
        F filter;
        filter.setIterations(iterations);
        filter.setExecutor(pool.get());
        filter.execute(*view, *result);
    }
    return deliver<T>(std::move(result), output, shape);
}

// The labels of `input` and the number of kept components; with `sizes` and
// `first` also each kept component's number of voxels and the raster index of
// its first voxel, in the order of the labels.
template <class T>
std::pair<nb::object, std::int32_t> labelled(In<T> input, T classValue, int connectivity, std::uint32_t minSize,
                                             std::uint32_t keep, int workers, std::vector<std::uint64_t>* sizes,
                                             std::vector<std::uint64_t>* first) {
    const Dims d = dimsOf(input);
    const std::vector<std::size_t> shape = shapeOf(input);
    const T* src = input.data();
    std::unique_ptr<img::Image<std::uint32_t>> result;
    std::int32_t count = 0;
    {
        nb::gil_scoped_release release;
        Workers pool(workers);
        const auto image = viewOf<img::Image<T>>(src, d);
        result = std::make_unique<FreshImage<std::uint32_t>>(d);  // zeroed, as the filter needs
        flt::CnConnectedComponentFilter<T> filter;
        filter.SetClassNumber(classValue);
        filter.SetMinimumComponentSize(minSize);
        filter.SetComponentNumber(keep);
        // A neighbour count (4, 6, 8, 18 or 26); the filter refuses any other.
        filter.setConnectivity(static_cast<flt::CnConnectivity>(connectivity));
        filter.setExecutor(pool.get());
        filter.execute(*image, *result);
        count = filter.GetNumberOfComponents();
        if (sizes != nullptr) {
            *sizes = filter.getComponentSizes();
            *first = filter.getFirstVoxels();
        }
    }
    std::optional<Out<std::uint32_t>> none;
    return {deliver<std::uint32_t>(std::move(result), none, shape), count};
}

template <class T>
std::pair<nb::object, std::int32_t> label(In<T> input, T classValue, int connectivity, std::uint32_t minSize,
                                          std::uint32_t keep, int workers) {
    return labelled<T>(input, classValue, connectivity, minSize, keep, workers, nullptr, nullptr);
}

// The values as a fresh one-dimensional int64 array (every value is below 2^63:
// sizes and raster indices of an image).
Result<std::int64_t> int64Array(const std::vector<std::uint64_t>& values) {
    Result<std::int64_t> out = allocate<std::int64_t>({values.size()});
    std::int64_t* data = out.data();
    for (std::size_t i = 0; i < values.size(); ++i) {
        data[i] = static_cast<std::int64_t>(values[i]);
    }
    return out;
}

// label() with the kept components' sizes and first voxels (raster indices of
// the input, the last axis fastest).
template <class T>
nb::tuple labelSummary(In<T> input, T classValue, int connectivity, std::uint32_t minSize, std::uint32_t keep,
                       int workers) {
    std::vector<std::uint64_t> sizes, first;
    std::pair<nb::object, std::int32_t> result =
        labelled<T>(input, classValue, connectivity, minSize, keep, workers, &sizes, &first);
    return nb::make_tuple(result.first, result.second, int64Array(sizes), int64Array(first));
}

// The largest of `count` labels, in blocks whose maxima are independent of
// one another (no chain of comparisons through every label).
std::uint32_t largestLabel(const std::uint32_t* labels, std::size_t count) {
    constexpr std::size_t kWays = 8;
    std::uint32_t top[kWays] = {};
    std::size_t i = 0;
    for (; i + kWays <= count; i += kWays) {
        for (std::size_t w = 0; w < kWays; ++w) {
            top[w] = std::max(top[w], labels[i + w]);
        }
    }
    for (; i < count; ++i) {
        top[0] = std::max(top[0], labels[i]);
    }
    return *std::max_element(top, top + kWays);
}

// labels[i] = table[labels[i]] for every i; the table never shares memory
// with the labels (see mapLabels).
void mapThrough(std::uint32_t* __restrict labels, std::size_t count, const std::uint32_t* __restrict table) {
    for (std::size_t i = 0; i < count; ++i) {
        labels[i] = table[labels[i]];
    }
}

// Every label of `labels` replaced, in place, by its entry in `table`: the
// chunked labelling's last step. A label with no entry is refused before
// anything is written.
void mapLabels(Out<std::uint32_t> labels, In<std::uint32_t> table) {
    std::uint32_t* data = labels.data();
    const std::size_t count = labels.size();
    const std::uint32_t* values = table.data();
    const std::size_t entries = table.size();
    // A table that shares memory with the labels is read from a copy: the
    // labels written first must not change the entries read after.
    std::vector<std::uint32_t> copy;
    if (overlaps(values, entries * sizeof(std::uint32_t), data, count * sizeof(std::uint32_t))) {
        copy.assign(values, values + entries);
        values = copy.data();
    }
    bool fits = true;
    {
        nb::gil_scoped_release release;
        fits = count == 0 || largestLabel(data, count) < entries;
        if (fits) {
            mapThrough(data, count, values);
        }
    }
    if (!fits) {
        throw nb::index_error("map_labels: a label has no entry in the table");
    }
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
        const auto image = viewOf<img::Image<T>>(src, d);
        result = resultImage<std::uint8_t>(output, d, src, d.count());
        flt::CnRegionalMaximumFilter<T> filter;
        // A 3-d array is tested as a volume (26 neighbours); an image keeps the
        // test of its one slice against 8.
        filter.setVolume(shape.size() == 3);
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
    m.def("label", &label<T>, "input"_a.noconvert(), "class_value"_a, "connectivity"_a, "min_size"_a, "keep"_a,
          "workers"_a);
    m.def("label_summary", &labelSummary<T>, "input"_a.noconvert(), "class_value"_a, "connectivity"_a, "min_size"_a,
          "keep"_a, "workers"_a);
}

template <class T>
void bindGrey(nb::module_& m) {
    using namespace nb::literals;
    m.def("grey_dilation", &grey<flt::CnGreyDilationFilter<T>, T>, "input"_a.noconvert(), "iterations"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("grey_erosion", &grey<flt::CnGreyErosionFilter<T>, T>, "input"_a.noconvert(), "iterations"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("grey_opening", &grey<flt::CnGreyOpeningFilter<T>, T>, "input"_a.noconvert(), "iterations"_a,
          "output"_a.noconvert().none(), "workers"_a);
    m.def("grey_closing", &grey<flt::CnGreyClosingFilter<T>, T>, "input"_a.noconvert(), "iterations"_a,
          "output"_a.noconvert().none(), "workers"_a);
}

template <class T>
void bindRegionalMaxima(nb::module_& m) {
    using namespace nb::literals;
    m.def("regional_maxima", &regionalMaxima<T>, "input"_a.noconvert(), "output"_a.noconvert().none(),
          "workers"_a);
}

}  // namespace

void bindMorphology(nb::module_& m) {
    using namespace nb::literals;
    m.def("map_labels", &mapLabels, "labels"_a.noconvert(), "table"_a.noconvert());
    bindCross<std::uint8_t>(m);
    bindCross<std::int16_t>(m);
    bindCross<std::uint32_t>(m);
    bindCross<std::uint16_t>(m);
    bindGrey<std::uint8_t>(m);
    bindGrey<std::uint16_t>(m);
    bindGrey<std::int16_t>(m);
    bindGrey<float>(m);
    bindGrey<double>(m);
    bindRegionalMaxima<std::uint8_t>(m);
    bindRegionalMaxima<std::uint16_t>(m);
    bindRegionalMaxima<std::int16_t>(m);
    bindRegionalMaxima<float>(m);
    bindRegionalMaxima<double>(m);
}

}  // namespace nvfpy
