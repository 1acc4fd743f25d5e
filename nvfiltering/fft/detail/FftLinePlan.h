// The plan of one transform length for the interleaved complex and real
// transforms: the factorisation, the twiddle factors of every pass and, for
// lengths with a prime factor above 13, the chirp and the transformed kernel of
// the chirp-z (Bluestein) path. A plan is immutable once built, so any number of
// threads may run it at once.
//
// A plan transforms a block of `lanes` lines held split and interleaved by lane:
// element k of lane l at re[k * pitch(lanes) + l], im[k * pitch(lanes) + l]. The
// pitch is one more than the lanes (for more than one lane) and the arrays of a
// block are planeSize() elements apart, so that the power-of-two distances
// between the values a butterfly reads do not map them all to the same cache
// sets. Every lane goes through exactly the same operations whatever the number
// of lanes, so results do not depend on how lines are grouped into blocks.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace com::norvane::filtering::detail {

template <class T>
class FftLinePlan {
public:
    // Largest prime radix done directly; lengths with a larger prime factor take
    // the chirp-z path.
    static constexpr std::size_t kLargestDirectRadix = 13;
    // Elements between the real and the imaginary array of a block.
    static constexpr std::size_t kPlanePad = 24;

    explicit FftLinePlan(std::size_t n);

    std::size_t length() const { return m_n; }
    // Whether the chirp-z path is taken, and its inner length (0 when not).
    bool usesChirp() const { return m_inner != nullptr; }
    std::size_t chirpLength() const { return m_inner ? m_inner->length() : 0; }
    // Elements from one value of a lane to the next, and the elements of T that
    // hold one array (real or imaginary parts) of a block of n values per lane.
    static std::size_t pitch(std::size_t lanes) { return lanes > 1 ? lanes + 1 : 1; }
    static std::size_t planeSize(std::size_t n, std::size_t lanes) { return n * pitch(lanes) + kPlanePad; }

    // Elements of T the scratch of forward() needs for `lanes` lanes.
    std::size_t scratchSize(std::size_t lanes) const;

    // The unscaled forward transform X(j) = sum_k x(k) exp(-2 pi i jk/n) of every
    // lane, in place in re / im. scratch holds scratchSize(lanes) elements.
    void forward(T* re, T* im, std::size_t lanes, T* scratch) const;
    // The same transform, but the result may be left in the scratch instead (the
    // real parts at scratch, the imaginary parts at scratch + planeSize(n, lanes),
    // same pitch): returns whether it was, which saves a copy of the block.
    bool forwardLeavingInScratch(T* re, T* im, std::size_t lanes, T* scratch) const;

    // exp(-pi i j / n) for j = 0 .. n: the twiddles that turn this transform of
    // length n into the real transform of length 2n (real, imaginary parts).
    const T* halfShiftRe() const { return m_shiftRe.data(); }
    const T* halfShiftIm() const { return m_shiftIm.data(); }

    // Whether n has only prime factors the direct passes handle.
    static bool directLength(std::size_t n);
    // The smallest length >= n whose only prime factors are 2, 3 and 5.
    static std::size_t smooth235AtLeast(std::size_t n);

private:
    struct Pass {
        std::size_t radix;
        std::size_t span;    // product of the radices of the earlier passes
        std::size_t twiddle; // offset of this pass's twiddles (span * (radix - 1) pairs)
    };

    bool forwardDirect(T* re, T* im, std::size_t lanes, T* scratch) const;
    void forwardChirp(T* re, T* im, std::size_t lanes, T* scratch) const;

    std::size_t m_n;
    std::vector<Pass> m_passes;
    std::vector<T> m_twRe, m_twIm;
    std::vector<T> m_shiftRe, m_shiftIm;
    // cos / sin of 2 pi q / p for the generic odd radices (indexed per radix).
    std::vector<T> m_radixCos, m_radixSin;
    std::vector<std::size_t> m_radixOffset;  // by radix value, into m_radixCos
    // Chirp-z: the chirp exp(-pi i k^2 / n) and the inner plan's transform of the
    // conjugate chirp, scaled by 1 / inner length.
    std::unique_ptr<FftLinePlan<T>> m_inner;
    std::vector<T> m_chirpRe, m_chirpIm;
    std::vector<T> m_kernelRe, m_kernelIm;
};

extern template class FftLinePlan<float>;
extern template class FftLinePlan<double>;

}  // namespace com::norvane::filtering::detail
