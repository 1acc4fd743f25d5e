// Complex discrete Fourier transforms of a batch of equally long vectors held as
// split real / imaginary arrays.
//
// Convention: direction +1 is the unscaled forward transform
//   X(j) = sum_k x(k) exp(-2 pi i jk/n),
// direction -1 the inverse x(k) = (1/n) sum_j X(j) exp(+2 pi i jk/n). A forward
// run followed by an inverse run returns the input up to rounding.
//
// Lengths of the form 2^p 3^q 5^r are accepted. Power-of-two lengths on vectors
// with adjacent elements go to the power-of-two engine (the numbers of the math
// library's FFT); every other case runs the generalised prime factor FFT (GPFA).
// Both engines follow the same convention.
//
// Failures (all thrown before any array is read or written):
//   - a length below 1, a negative vector count, a direction other than +1 and -1,
//     a length times count whose bytes do not fit the address space, or a null
//     array pointer while there is data to transform: com::norvane::Throwable
//     ("java/lang/Throwable");
//   - a length with a prime factor other than 2, 3 and 5:
//     FftDimensionNotImplementedException (catch it as com::norvane::Exception).
// A vector count of 0 is an empty batch: no array is touched, but the twiddle
// table is still prepared and an illegal length still throws.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

namespace detail {
template <class T>
class FftTables;
}  // namespace detail

// Declared with the export mark of their definitions: a first declaration
// without it would leave them hidden under some compilers.
template <class T>
class NVFILTERING_EXPORT Cn2dFftFilter;
template <class T>
class NVFILTERING_EXPORT Cn3dFftFilter;

template <class T>
class NVFILTERING_EXPORT Cn1dFftFilter {
public:
    // direction +1, both jumps 1, imaginary pointers null, no table.
    Cn1dFftFilter();
    // Copies every setting (direction, jumps, array pointers, length, count, gpfaOnly);
    // the copy starts without a table and builds its own on its first run.
    Cn1dFftFilter(const Cn1dFftFilter& other);
    Cn1dFftFilter& operator=(const Cn1dFftFilter& other);
    virtual ~Cn1dFftFilter();

    void SetDirection(std::int32_t value);
    void SetVectorJump(std::int32_t value);
    void SetDataJump(std::int32_t value);

    // Where the transforms run their independent pieces of work; null (the
    // default, and after a copy) runs everything in the caller's thread. The
    // filter does not own the executor; an assignment keeps the target's.
    // Results do not depend on it.
    void setExecutor(CnExecutor* executor) { m_executor.set(executor); }
    CnExecutor* getExecutor() const { return m_executor.get(); }

    // Transforms the batch described by the fields: vector v holds the elements
    // v * vectorJump + k * dataJump (k < length) of each array. The copy, the
    // conjugations and the scaling treat the first length * vectorCount elements of
    // each array as the data, so the jumps must describe vectors that cover exactly
    // those elements. Output arrays may equal the input arrays (in place) or must
    // not overlap them.
    virtual void execute();

    // Transforms `count` vectors of `len` adjacent elements stored one after another
    // (dataJump 1, vectorJump len, overriding the setters), from the input arrays
    // into the output arrays, in the given direction.
    virtual void executeWith(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::int32_t len,
                             std::int32_t count, int dir);

protected:
    // The math library's transform of one vector (direction 0 fills the table).
    void CallMklFftRoutine(T* re, T* im, int n, int dir);
    // Prepares m_trigs for length n and the engine chooseFftEngine picks; keeps
    // the table when it is already the right one.
    void ComputeTwiddleFactors(std::int32_t n);
    // True when exactly one bit of x is set (0 is not a power of two).
    bool IsPowerOf2(unsigned int x);

    // The generalised prime factor FFT on its own, for derived filters. Integers
    // come by address, as the routines' callers have always passed them.
    //
    // Fills trigs with the twiddle table of length *n (2 * (2^p + 3^q + 5^r)
    // values at most, never more than 2n); returns 0, and writes nothing when *n
    // is not of the form 2^p 3^q 5^r.
    int setgpfa(T* trigs, std::int32_t* n);
    // X(j) = sum_k x(k) exp(+isign 2 pi i jk/n) for *lot vectors, in place,
    // unscaled, in natural order: element k of vector v at a / b + v * jump + k * inc.
    // Runs gpfa2f, gpfa3f and gpfa5f in this order on their blocks of the table.
    // Returns 0; an illegal length throws FftDimensionNotImplementedException (a
    // length below 1 Throwable) before any array is touched; *lot <= 0 does nothing.
    int gpfa(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n, std::int32_t* lot,
             std::int32_t* isign);
    // x^e: wraps on overflow for e > 0; 1 for e = 0 or x = 1; for e < 0 the real
    // power truncated toward zero (0 for |x| >= 2, +-1 for x = -1). Zero to a
    // negative power throws Throwable.
    std::int32_t pow_ii(std::int32_t* x, std::int32_t* e);
    // Every pass of the factor 2^mm, 3^mm or 5^mm of the length over the whole lot,
    // with trigs at that factor's block of the table; return 0. A power that does
    // not divide *n, a negative exponent or a length below 1 throws Throwable
    // before any array is touched.
    int gpfa2f(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n, std::int32_t* mm,
               std::int32_t* lot, std::int32_t* isign);
    int gpfa3f(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n, std::int32_t* mm,
               std::int32_t* lot, std::int32_t* isign);
    int gpfa5f(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n, std::int32_t* mm,
               std::int32_t* lot, std::int32_t* isign);

    std::int32_t m_direction;
    std::int32_t m_vectorJump;
    std::int32_t m_dataJump;
    const T* m_realInput;
    T* m_realOutput;
    const T* m_imagInput;
    T* m_imagOutput;
    std::int32_t m_length;
    std::int32_t m_vectorCount;
    std::vector<T> m_trigs;
    std::int32_t m_trigsLength;
    std::int32_t m_trigsKind;
    bool m_gpfaOnly;

private:
    friend class Cn2dFftFilter<T>;
    friend class Cn3dFftFilter<T>;

    // The tables of the two- and three-dimensional passes, kept for the lengths
    // used last (created on first use; a copy starts without them).
    detail::FftTables<T>& planeTables();

    CnExecutorSlot m_executor;
    std::unique_ptr<detail::FftTables<T>> m_planeTables;
};

extern template class Cn1dFftFilter<float>;
extern template class Cn1dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
