// What every fuzz target shares: reading sizes, parameters and voxels from the
// input, the memory cap, invariant checks that abort with a message, and
// "a rejected call leaves its outputs as they were".
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include <nvfiltering/nvfiltering.h>

namespace nvf_fuzz {

namespace img = com::norvane::imaging;
namespace flt = com::norvane::filtering;
using Vec3f = com::norvane::math::CnVector3D<float>;

// Builds with NVF_FUZZ_RELAX_KNOWN_FAULTS defined skip the checks of faults
// already reported and being fixed, so that a long run can search past them:
// huge sigmas accepted, an empty FFT batch of a non-power-of-two length with
// null arrays, and
// the not-a-number Z component of a single-slice gradient whose inverse Z voxel
// size overflows float.
#ifdef NVF_FUZZ_RELAX_KNOWN_FAULTS
constexpr bool kRelaxKnownFaults = true;
#else
constexpr bool kRelaxKnownFaults = false;
#endif

// No single input may make the target allocate more than this.
constexpr std::size_t kMaxBytes = std::size_t(64) << 20;

[[noreturn]] inline void fail(const char* file, int line, const char* what, const char* detail) {
    std::fprintf(stderr, "%s:%d: invariant violated: %s%s%s\n", file, line, what, detail[0] ? " - " : "", detail);
    std::fflush(stderr);
    std::abort();
}

}  // namespace nvf_fuzz

#define NVF_FUZZ_CHECK(cond) ((cond) ? (void)0 : ::nvf_fuzz::fail(__FILE__, __LINE__, #cond, ""))
#define NVF_FUZZ_CHECK_MSG(cond, detail) ((cond) ? (void)0 : ::nvf_fuzz::fail(__FILE__, __LINE__, #cond, detail))

namespace nvf_fuzz {

// One byte per dimension: 0 ... 199 as they are, then steps of 37 up to 2235,
// so that hand-written inputs can state small sizes directly.
inline unsigned int dimension(FuzzedDataProvider& in) {
    const unsigned int b = in.ConsumeIntegral<std::uint8_t>();
    return b < 200 ? b : 200 + (b - 200) * 37;
}

// A sigma from one selector byte (plus a payload for some kinds): zero, tiny,
// not-a-number, infinities, huge, negative, denormal, raw bit patterns, ordinary
// values and the neighbourhood of the convergence limit.
inline double sigma(FuzzedDataProvider& in) {
    const unsigned int kind = in.ConsumeIntegral<std::uint8_t>() % 16;
    switch (kind) {
        case 0: return 0.0;
        case 1: return 1e-300;
        case 2: return std::numeric_limits<double>::quiet_NaN();
        case 3: return std::numeric_limits<double>::infinity();
        case 4: return -std::numeric_limits<double>::infinity();
        case 5: return 1e6;
        case 6: return 1e9;
        case 7: return -1.5;
        case 8: return std::numeric_limits<double>::denorm_min();
        case 9: {
            const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
        case 10: return in.ConsumeIntegral<std::uint8_t>() / 8.0;
        case 11: return 100.0 + in.ConsumeIntegral<std::uint8_t>() / 4.0;
        case 12: return 7.5e5 * (1.0 + in.ConsumeIntegral<std::uint8_t>() / 16.0);
        case 13: return in.ConsumeIntegral<std::uint16_t>() / 256.0;
        case 14: return 1e-3 * in.ConsumeIntegral<std::uint8_t>();
        default: return 1.0 + in.ConsumeIntegral<std::uint8_t>() / 32.0;
    }
}

// How the voxel bytes become values.
enum class Encoding { Raw, Unsigned, Signed, Special };

inline Encoding encoding(FuzzedDataProvider& in) {
    return static_cast<Encoding>(in.ConsumeIntegral<std::uint8_t>() % 4);
}

// The values a Special byte selects (for integer types only those that fit).
inline double specialValue(std::uint8_t b) {
    static const double table[16] = {0.0,    1.0,   -1.0,   std::numeric_limits<double>::quiet_NaN(),
                                     HUGE_VAL, -HUGE_VAL, 1e30, -1e30,
                                     255.0,  0.5,   1e-40,  std::numeric_limits<double>::denorm_min(),
                                     65535.0, 32767.0, -32768.0, 2.0};
    return table[b % 16];
}

template <class T>
struct ValueOf {
    static T make(const std::vector<std::uint8_t>& pool, std::size_t index, Encoding enc) {
        const std::size_t n = pool.size();
        if (n == 0) {
            return T();
        }
        if (enc == Encoding::Raw) {
            unsigned char bytes[sizeof(T)];
            for (std::size_t j = 0; j < sizeof(T); ++j) {
                bytes[j] = pool[(index * sizeof(T) + j) % n];
            }
            T v;
            std::memcpy(&v, bytes, sizeof v);
            return v;
        }
        const std::uint8_t b = pool[index % n];
        double v = enc == Encoding::Unsigned ? b : enc == Encoding::Signed ? b - 128.0 : specialValue(b);
        if constexpr (std::numeric_limits<T>::is_integer) {
            if (!(v >= static_cast<double>(std::numeric_limits<T>::lowest()) &&
                  v <= static_cast<double>(std::numeric_limits<T>::max()))) {
                v = 0.0;
            }
            return static_cast<T>(std::trunc(v));
        } else {
            return static_cast<T>(v);
        }
    }
};

template <>
struct ValueOf<Vec3f> {
    static Vec3f make(const std::vector<std::uint8_t>& pool, std::size_t index, Encoding enc) {
        return Vec3f(ValueOf<float>::make(pool, 3 * index, enc), ValueOf<float>::make(pool, 3 * index + 1, enc),
                     ValueOf<float>::make(pool, 3 * index + 2, enc));
    }
};

// Fills count values from the pool (repeated as needed); constant: every value
// is the first.
template <class T>
void fill(T* data, std::size_t count, const std::vector<std::uint8_t>& pool, Encoding enc, bool constant) {
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = ValueOf<T>::make(pool, constant ? 0 : i, enc);
    }
}

template <class T>
void fill(img::Image<T>& image, const std::vector<std::uint8_t>& pool, Encoding enc, bool constant) {
    fill(image.data(), image.getNumberOfVoxels(), pool, enc, constant);
}

// Voxel count of x * y * z if it and bytesPerVoxel of it stay within the cap.
inline bool fits(std::size_t x, std::size_t y, std::size_t z, std::size_t bytesPerVoxel) {
    const std::size_t voxels = x * y * z;  // each factor is at most 2235
    return bytesPerVoxel == 0 || voxels <= kMaxBytes / bytesPerVoxel;
}

template <class T>
bool sameBytes(const T* a, const T* b, std::size_t count) {
    return count == 0 || std::memcmp(a, b, count * sizeof(T)) == 0;
}

// Equal bit for bit, except that any not-a-number equals any other: which
// payload and sign an operation on a not-a-number gives is the compiler's and
// the processor's choice, not the library's.
inline bool sameValue(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }
inline bool sameValue(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }
inline bool sameValue(const Vec3f& a, const Vec3f& b) {
    return sameValue(a.x, b.x) && sameValue(a.y, b.y) && sameValue(a.z, b.z);
}
template <class T>
bool sameValue(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class T>
bool sameValues(const T* a, const T* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!sameValue(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

// Same dimensions and the same values (not-a-numbers alike).
template <class T>
bool sameResult(const img::Image<T>& a, const img::Image<T>& b) {
    return a.hasSameDimensions(b) && a.getNumberOfVoxels() == b.getNumberOfVoxels() &&
           sameValues(a.data(), b.data(), a.getNumberOfVoxels());
}

template <class T>
bool sameImage(const img::Image<T>& a, const img::Image<T>& b) {
    return a.hasSameDimensions(b) && a.getNumberOfVoxels() == b.getNumberOfVoxels() &&
           sameBytes(a.data(), b.data(), a.getNumberOfVoxels());
}

// Runs call(); returns true if it threw com::norvane::Throwable (any other
// exception escapes and is a finding).
template <class F>
bool throws(F&& call) {
    try {
        call();
    } catch (const com::norvane::Throwable&) {
        return true;
    }
    return false;
}

// Runs call() and, if it throws, checks that every image in outputs is byte
// for byte as it was before. Returns whether it threw.
template <class F, class... Images>
bool throwsLeavingUntouched(F&& call, const Images&... outputs) {
    const auto before = std::make_tuple(Images(outputs)...);
    const bool threw = throws(call);
    if (threw) {
        const bool untouched = std::apply(
            [&](const auto&... saved) { return (sameImage(saved, outputs) && ...); }, before);
        NVF_FUZZ_CHECK_MSG(untouched, "a rejected call changed its output");
    }
    return threw;
}

inline bool finiteValue(float v) { return std::isfinite(v); }
inline bool finiteValue(double v) { return std::isfinite(v); }
inline bool finiteValue(const Vec3f& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
template <class T>
bool finiteValue(T) {
    return true;
}

}  // namespace nvf_fuzz
