// Voxel container of the image library: X x Y x Z voxels stored contiguously,
// X fastest, so the voxel (x, y, z) has the linear index x + X (y + Y z) and
// lives at data()[index]. An image owns its voxels, or borrows a caller's
// buffer (borrow()): a view that neither copies nor frees them.
#pragma once

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

// Header-only: the types are visible by default so that filters instantiated
// over them (and over their iterators) can be exported from shared libraries.
#if defined(__GNUC__) || defined(__clang__)
#define NVIMAGE_API __attribute__((visibility("default")))
#else
#define NVIMAGE_API
#endif

namespace com {
namespace norvane {
namespace imaging {

template <class T>
class NVIMAGE_API Image {
public:
    using value_type = T;

    // An (image, linear index) pair. Adding n moves the index by n; it[n] is the
    // voxel at index + n. No bounds check. Default-constructed: no image, index 0.
    class NVIMAGE_API const_iterator {
    public:
        const_iterator() = default;
        const_iterator(const Image* image, std::size_t index) : m_image(image), m_index(index) {}

        const T& operator[](std::size_t n) const { return m_image->m_data[m_index + n]; }
        const T& operator*() const { return m_image->m_data[m_index]; }
        const_iterator operator+(std::size_t n) const { return const_iterator(m_image, m_index + n); }
        const_iterator& operator+=(std::size_t n) {
            m_index += n;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return m_image == o.m_image && m_index == o.m_index; }
        bool operator!=(const const_iterator& o) const { return !(*this == o); }
        explicit operator bool() const { return m_image != nullptr; }

        const Image* image() const { return m_image; }
        std::size_t index() const { return m_index; }
        // Address of the designated voxel (null for a default-constructed iterator).
        const T* get() const { return m_image != nullptr ? m_image->m_data + m_index : nullptr; }

    private:
        const Image* m_image = nullptr;
        std::size_t m_index = 0;
    };

    class NVIMAGE_API iterator {
    public:
        iterator() = default;
        iterator(Image* image, std::size_t index) : m_image(image), m_index(index) {}

        T& operator[](std::size_t n) const { return m_image->m_data[m_index + n]; }
        T& operator*() const { return m_image->m_data[m_index]; }
        iterator operator+(std::size_t n) const { return iterator(m_image, m_index + n); }
        iterator& operator+=(std::size_t n) {
            m_index += n;
            return *this;
        }
        bool operator==(const iterator& o) const { return m_image == o.m_image && m_index == o.m_index; }
        bool operator!=(const iterator& o) const { return !(*this == o); }
        explicit operator bool() const { return m_image != nullptr; }
        operator const_iterator() const { return const_iterator(m_image, m_index); }

        Image* image() const { return m_image; }
        std::size_t index() const { return m_index; }
        T* get() const { return m_image != nullptr ? m_image->m_data + m_index : nullptr; }

    private:
        Image* m_image = nullptr;
        std::size_t m_index = 0;
    };

    Image() = default;
    Image(unsigned int x, unsigned int y, unsigned int z) { setDimension(x, y, z); }
    // A copy owns a copy of the voxels, also of a view.
    Image(const Image& o)
        : m_sizeX(o.m_sizeX), m_sizeY(o.m_sizeY), m_sizeZ(o.m_sizeZ), m_owned(o.m_data, o.m_data + o.m_count) {
        m_data = m_owned.data();
        m_count = o.m_count;
    }
    // A move takes the storage over (a view stays a view of the same buffer);
    // the source is left empty.
    Image(Image&& o) noexcept { take(o); }
    Image& operator=(const Image& o) {
        if (this != &o) {
            std::vector<T> voxels(o.m_data, o.m_data + o.m_count);
            m_owned.swap(voxels);
            m_data = m_owned.data();
            m_count = o.m_count;
            m_borrowed = false;
            m_sizeX = o.m_sizeX;
            m_sizeY = o.m_sizeY;
            m_sizeZ = o.m_sizeZ;
        }
        return *this;
    }
    Image& operator=(Image&& o) noexcept {
        if (this != &o) {
            take(o);
        }
        return *this;
    }
    virtual ~Image() = default;

    // Makes this image a view of x * y * z voxels at `data` (X fastest), which
    // the caller owns and keeps alive, and which nothing else changes, while
    // the image (or an iterator into it) is used; the image's own storage is
    // released. Nothing is copied or allocated. A view of memory the caller may
    // not write must only be read (used as a filter's input). Dimensions whose
    // voxel count does not fit std::size_t throw std::length_error, and a null
    // `data` with voxels std::invalid_argument; the image is then unchanged.
    void borrow(T* data, unsigned int x, unsigned int y, unsigned int z) {
        const std::size_t count = checkedCount(x, y, z);
        if (data == nullptr && count != 0) {
            throw std::invalid_argument("Image: a view of voxels needs their address");
        }
        std::vector<T>().swap(m_owned);
        m_data = data;
        m_count = count;
        m_borrowed = true;
        m_sizeX = x;
        m_sizeY = y;
        m_sizeZ = z;
    }
    // Whether the voxels are a caller's buffer (borrow()) rather than the image's own.
    bool isBorrowed() const { return m_borrowed; }

    // New dimensions and storage; every voxel value-initialised. Dimensions whose
    // voxel count does not fit std::size_t throw std::length_error, as a vector
    // of that many voxels would (the count must not wrap round to a small one).
    // A view gets storage of its own (the borrowed buffer is left as it is).
    void setDimension(unsigned int x, unsigned int y, unsigned int z) {
        const std::size_t count = checkedCount(x, y, z);
        std::vector<T> voxels(count, T());
        m_owned.swap(voxels);
        m_data = m_owned.data();
        m_count = count;
        m_borrowed = false;
        m_sizeX = x;
        m_sizeY = y;
        m_sizeZ = z;
    }

    unsigned int getSizeX() const { return m_sizeX; }
    unsigned int getSizeY() const { return m_sizeY; }
    unsigned int getSizeZ() const { return m_sizeZ; }
    std::size_t getNumberOfVoxels() const { return m_count; }
    bool hasSameDimensions(const Image& o) const {
        return m_sizeX == o.m_sizeX && m_sizeY == o.m_sizeY && m_sizeZ == o.m_sizeZ;
    }
    template <class U>
    bool hasSameDimensions(const Image<U>& o) const {
        return m_sizeX == o.getSizeX() && m_sizeY == o.getSizeY() && m_sizeZ == o.getSizeZ();
    }

    T& operator[](std::size_t i) { return m_data[i]; }
    const T& operator[](std::size_t i) const { return m_data[i]; }
    T& operator()(unsigned int x, unsigned int y, unsigned int z) { return m_data[linearIndex(x, y, z)]; }
    const T& operator()(unsigned int x, unsigned int y, unsigned int z) const {
        return m_data[linearIndex(x, y, z)];
    }
    std::size_t linearIndex(unsigned int x, unsigned int y, unsigned int z) const {
        return x + static_cast<std::size_t>(m_sizeX) * (y + static_cast<std::size_t>(m_sizeY) * z);
    }

    T* data() { return m_data; }
    const T* data() const { return m_data; }

    iterator begin() { return iterator(this, 0); }
    const_iterator begin() const { return const_iterator(this, 0); }

    // Sets every voxel to value.
    void fill(const T& value) {
        for (std::size_t i = 0; i < m_count; ++i) {
            m_data[i] = value;
        }
    }

private:
    static std::size_t checkedCount(unsigned int x, unsigned int y, unsigned int z) {
        const std::size_t xy = static_cast<std::size_t>(x) * y;
        if (z != 0 && xy > std::numeric_limits<std::size_t>::max() / z) {
            throw std::length_error("Image: the voxel count of these dimensions does not fit std::size_t");
        }
        return xy * z;
    }
    void take(Image& o) noexcept {
        m_owned = std::move(o.m_owned);
        m_data = o.m_borrowed ? o.m_data : m_owned.data();
        m_count = o.m_count;
        m_borrowed = o.m_borrowed;
        m_sizeX = o.m_sizeX;
        m_sizeY = o.m_sizeY;
        m_sizeZ = o.m_sizeZ;
        o.m_owned.clear();
        o.m_data = nullptr;
        o.m_count = 0;
        o.m_borrowed = false;
        o.m_sizeX = o.m_sizeY = o.m_sizeZ = 0;
    }

    unsigned int m_sizeX = 0;
    unsigned int m_sizeY = 0;
    unsigned int m_sizeZ = 0;
    std::vector<T> m_owned;  // the voxels of an image that owns them
    T* m_data = nullptr;     // the voxels: m_owned.data() or a borrowed buffer
    std::size_t m_count = 0;
    bool m_borrowed = false;
};

}  // namespace imaging
}  // namespace norvane
}  // namespace com
