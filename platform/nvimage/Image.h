// Voxel container of the image library: X x Y x Z voxels stored contiguously,
// X fastest, so the voxel (x, y, z) has the linear index x + X (y + Y z) and
// lives at data()[index].
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

        const T& operator[](std::size_t n) const { return m_image->m_voxels[m_index + n]; }
        const T& operator*() const { return m_image->m_voxels[m_index]; }
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
        const T* get() const { return m_image != nullptr ? m_image->m_voxels.data() + m_index : nullptr; }

    private:
        const Image* m_image = nullptr;
        std::size_t m_index = 0;
    };

    class NVIMAGE_API iterator {
    public:
        iterator() = default;
        iterator(Image* image, std::size_t index) : m_image(image), m_index(index) {}

        T& operator[](std::size_t n) const { return m_image->m_voxels[m_index + n]; }
        T& operator*() const { return m_image->m_voxels[m_index]; }
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
        T* get() const { return m_image != nullptr ? m_image->m_voxels.data() + m_index : nullptr; }

    private:
        Image* m_image = nullptr;
        std::size_t m_index = 0;
    };

    Image() = default;
    Image(unsigned int x, unsigned int y, unsigned int z) { setDimension(x, y, z); }
    Image(const Image&) = default;
    Image(Image&&) noexcept = default;
    Image& operator=(const Image&) = default;
    Image& operator=(Image&&) noexcept = default;
    virtual ~Image() = default;

    // New dimensions and storage; every voxel value-initialised. Dimensions whose
    // voxel count does not fit std::size_t throw std::length_error, as a vector
    // of that many voxels would (the count must not wrap round to a small one).
    void setDimension(unsigned int x, unsigned int y, unsigned int z) {
        const std::size_t xy = static_cast<std::size_t>(x) * y;
        if (z != 0 && xy > std::numeric_limits<std::size_t>::max() / z) {
            throw std::length_error("Image: the voxel count of these dimensions does not fit std::size_t");
        }
        std::vector<T> voxels(xy * z, T());
        m_voxels.swap(voxels);
        m_sizeX = x;
        m_sizeY = y;
        m_sizeZ = z;
    }

    unsigned int getSizeX() const { return m_sizeX; }
    unsigned int getSizeY() const { return m_sizeY; }
    unsigned int getSizeZ() const { return m_sizeZ; }
    std::size_t getNumberOfVoxels() const { return m_voxels.size(); }
    bool hasSameDimensions(const Image& o) const {
        return m_sizeX == o.m_sizeX && m_sizeY == o.m_sizeY && m_sizeZ == o.m_sizeZ;
    }
    template <class U>
    bool hasSameDimensions(const Image<U>& o) const {
        return m_sizeX == o.getSizeX() && m_sizeY == o.getSizeY() && m_sizeZ == o.getSizeZ();
    }

    T& operator[](std::size_t i) { return m_voxels[i]; }
    const T& operator[](std::size_t i) const { return m_voxels[i]; }
    T& operator()(unsigned int x, unsigned int y, unsigned int z) { return m_voxels[linearIndex(x, y, z)]; }
    const T& operator()(unsigned int x, unsigned int y, unsigned int z) const {
        return m_voxels[linearIndex(x, y, z)];
    }
    std::size_t linearIndex(unsigned int x, unsigned int y, unsigned int z) const {
        return x + static_cast<std::size_t>(m_sizeX) * (y + static_cast<std::size_t>(m_sizeY) * z);
    }

    T* data() { return m_voxels.data(); }
    const T* data() const { return m_voxels.data(); }

    iterator begin() { return iterator(this, 0); }
    const_iterator begin() const { return const_iterator(this, 0); }

    // Sets every voxel to value.
    void fill(const T& value) {
        for (T& v : m_voxels) {
            v = value;
        }
    }

private:
    unsigned int m_sizeX = 0;
    unsigned int m_sizeY = 0;
    unsigned int m_sizeZ = 0;
    std::vector<T> m_voxels;
};

}  // namespace imaging
}  // namespace norvane
}  // namespace com
