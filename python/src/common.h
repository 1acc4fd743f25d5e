// What every binding shares: array <-> image conversion (C order, last axis = X),
// arrays that own a filter's result image, and the per-call executor. The Python
// layer has already checked dtypes, shapes and layouts; these helpers only move
// data, so they can run with the GIL released.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/framework/detail/HugePages.h>
#include <nvimage/Image.h>
#include <nvimage/Volume.h>

namespace nvfpy {

namespace nb = nanobind;
namespace img = com::norvane::imaging;
namespace flt = com::norvane::filtering;

// A read-only C-contiguous CPU array of T, taken without any conversion.
template <class T>
using In = nb::ndarray<const T, nb::c_contig, nb::device::cpu>;
// A writable C-contiguous CPU array of T (an output= argument).
template <class T>
using Out = nb::ndarray<T, nb::c_contig, nb::device::cpu>;
// What the bindings return: a NumPy array.
template <class T>
using Result = nb::ndarray<nb::numpy, T>;

// Library sizes of an array of 1 to 3 dimensions: x is the last axis.
struct Dims {
    unsigned int x = 1, y = 1, z = 1;
    std::size_t count() const { return static_cast<std::size_t>(x) * y * z; }
};

template <class A>
Dims dimsOf(const A& a) {
    Dims d;
    const std::size_t n = a.ndim();
    unsigned int* lib[3] = {&d.x, &d.y, &d.z};
    for (std::size_t i = 0; i < n && i < 3; ++i) {
        *lib[i] = static_cast<unsigned int>(a.shape(n - 1 - i));
    }
    return d;
}

template <class A>
std::vector<std::size_t> shapeOf(const A& a) {
    std::vector<std::size_t> s(a.ndim());
    for (std::size_t i = 0; i < s.size(); ++i) {
        s[i] = a.shape(i);
    }
    return s;
}

// An image (or volume) of the array's dimensions viewing its values: nothing
// is copied. The library only reads it: it must be a filter's input, never an
// output (the caller's array is read-only to us).
template <class I, class T>
std::unique_ptr<I> viewOf(const T* data, const Dims& d) {
    auto image = std::make_unique<I>();
    image->borrow(const_cast<T*>(data), d.x, d.y, d.z);
    return image;
}

// Whether two byte ranges share any byte.
inline bool overlaps(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
    const auto pa = reinterpret_cast<std::uintptr_t>(a), pb = reinterpret_cast<std::uintptr_t>(b);
    return aBytes != 0 && bBytes != 0 && pa < pb + bBytes && pb < pa + aBytes;
}

// Zero-filled storage for `count` values of T that a NumPy array will own
// (free it with std::free). calloc takes large blocks from fresh pages, which
// the system hands out zeroed, so unlike an image's own storage nothing
// writes the zeros in a pass before the filter does; and blocks of 4 MiB or
// more are advised for transparent huge pages, as NumPy advises its own
// arrays: the filter's first writes then fault once per 2 MiB instead of once
// per 4 KiB page.
template <class T>
T* freshBlock(std::size_t count) {
    void* block = std::calloc(count == 0 ? 1 : count, sizeof(T));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    flt::detail::adviseHugePages(block, count * sizeof(T));
    return static_cast<T*>(block);
}

// An image (or volume: I = img::Volume) viewing a freshBlock of its
// dimensions, which it frees: the result of a call without `output`, handed
// over to NumPy by adopt().
template <class T, template <class> class I = img::Image>
class FreshImage final : public I<T> {
public:
    explicit FreshImage(const Dims& d) : m_block(freshBlock<T>(d.count())) {
        this->borrow(m_block, d.x, d.y, d.z);
    }
    FreshImage(const FreshImage&) = delete;
    FreshImage& operator=(const FreshImage&) = delete;
    ~FreshImage() override { std::free(m_block); }

private:
    T* m_block;
};

// The image a filter writes its result into: a view of `output` when the
// caller gave one that shares no byte with the input (the result lands there
// with no copy), an image of our own otherwise (a FreshImage to hand over
// without `output`; with an `output` that overlaps the input, a temporary that
// deliver copies into it).
template <class O, class T>
std::unique_ptr<img::Image<O>> resultImage(std::optional<Out<O>>& output, const Dims& d, const T* input,
                                           std::size_t inputCount) {
    if (!output) {
        return std::make_unique<FreshImage<O>>(d);
    }
    auto image = std::make_unique<img::Image<O>>();
    if (!overlaps(output->data(), d.count() * sizeof(O), input, inputCount * sizeof(T))) {
        image->borrow(output->data(), d.x, d.y, d.z);
    } else {
        image->setDimension(d.x, d.y, d.z);
    }
    return image;
}

// An image (or volume) of the array's dimensions holding a copy of its values.
template <class I, class T>
std::unique_ptr<I> imageFrom(const T* data, const Dims& d) {
    auto image = std::make_unique<I>(d.x, d.y, d.z);
    if (d.count() != 0) {
        std::memcpy(image->data(), data, d.count() * sizeof(T));
    }
    return image;
}

// A NumPy array of the given shape that owns `holder` and shows `data`
// (which lives inside it): the result is handed over without a copy.
template <class T, class H>
Result<T> adopt(std::unique_ptr<H> holder, T* data, const std::vector<std::size_t>& shape) {
    H* raw = holder.release();
    nb::capsule owner(raw, [](void* p) noexcept { delete static_cast<H*>(p); });
    return Result<T>(data, shape.size(), shape.data(), owner);
}

// A fresh NumPy array of the given shape (a freshBlock: zero-filled).
template <class T>
Result<T> allocate(const std::vector<std::size_t>& shape) {
    std::size_t n = 1;
    for (std::size_t s : shape) {
        n *= s;
    }
    T* data = freshBlock<T>(n);
    nb::capsule owner(data, [](void* p) noexcept { std::free(p); });
    return Result<T>(data, shape.size(), shape.data(), owner);
}

// The filter's result image as the call's return value: copied into `output`
// when the caller gave one and the result is not already there (a view of
// it: resultImage), adopted otherwise.
template <class T, class I>
nb::object deliver(std::unique_ptr<I> image, std::optional<Out<T>>& output, const std::vector<std::size_t>& shape) {
    if (output) {
        if (image->getNumberOfVoxels() != 0 && image->data() != output->data()) {
            nb::gil_scoped_release release;
            std::memcpy(output->data(), image->data(), image->getNumberOfVoxels() * sizeof(T));
        }
        return nb::cast(*output);
    }
    T* data = reinterpret_cast<T*>(image->data());
    return nb::cast(adopt<T>(std::move(image), data, shape));
}

// The executor of one call: `workers` threads (the caller's included), none for 1.
class Workers {
public:
    explicit Workers(int workers) {
        if (workers > 1) {
            m_pool = std::make_unique<flt::CnThreadPoolExecutor>(static_cast<unsigned>(workers));
        }
    }
    flt::CnExecutor* get() const { return m_pool.get(); }

private:
    std::unique_ptr<flt::CnThreadPoolExecutor> m_pool;
};

void bindRecursive(nb::module_& m);
void bindConvolution(nb::module_& m);
void bindMorphology(nb::module_& m);
void bindFft(nb::module_& m);

}  // namespace nvfpy
