// The line and plane passes of the FFT filters, driven by their arguments alone:
// the one-dimensional filter runs one batch of lines, the two-dimensional one a
// plane (rows, then columns), the three-dimensional one every slice as a plane
// and then the z-lines. Tables come from FftTables, built once per length and
// engine and kept by the filter between calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <nvfiltering/fft/detail/FftEngine.h>
#include <nvfiltering/framework/CnExecutor.h>

namespace com::norvane::filtering::detail {

// The twiddle table of one engine for length n: the math library's 3n values
// for the power-of-two engine, gpfaTable's 2n values for the GPFA.
template <class T>
void buildFftTable(FftEngine engine, std::int32_t n, std::vector<T>& table);

// Tables kept for the lengths a filter used last: a call of the same shape
// builds nothing. A table's pointer stays valid while fewer than kSlots other
// tables are asked for (the least recently used slot is the one rebuilt).
template <class T>
class FftTables {
public:
    static constexpr std::size_t kSlots = 4;

    // The table of `engine` for the legal length n.
    const T* get(FftEngine engine, std::int32_t n);
    // Tables built so far (by this object).
    std::size_t builds() const { return m_builds; }

private:
    struct Slot {
        FftEngine engine = FftEngine::Gpfa;
        std::int32_t length = 0;  // 0: empty
        std::uint64_t lastUse = 0;
        std::vector<T> values;
    };
    std::array<Slot, kSlots> m_slots{};
    std::uint64_t m_clock = 0;
    std::size_t m_builds = 0;
};

// `count` vectors of length n: vector v holds the elements v * vectorJump +
// k * dataJump of each array. The first n * count input values are copied to the
// output (unless the arrays are the same), then transformed there in place.
template <class T>
struct FftLines {
    const T* realIn;
    const T* imagIn;
    T* realOut;
    T* imagOut;
    std::int32_t n;
    std::ptrdiff_t vectorJump;
    std::ptrdiff_t dataJump;
    std::int32_t count;
    std::int32_t direction;
};

// Runs the batch with `table` (the table of `engine` for n), the engine being the
// one chooseFftEngine picks for the batch's length and data jump. Arguments are
// checked by the caller.
template <class T>
void transformLines(const FftLines<T>& lines, FftEngine engine, const T* table, CnExecutor* executor);

// The tables one plane of n1 rows of n2 adjacent values needs, and the engines
// they belong to: the rows with the given data jump, the columns n2 apart.
template <class T>
struct PlaneTables {
    bool powerOfTwo;  // both sizes powers of two: the power-of-two plane path
    FftEngine rowEngine;
    FftEngine columnEngine;
    const T* rows;
    const T* columns;
};

template <class T>
PlaneTables<T> planeTables(FftTables<T>& tables, std::int32_t n1, std::int32_t n2, std::int32_t dataJump,
                           bool gpfaOnly);

// The two-dimensional transform of n1 rows of n2 adjacent values (rows read from
// the input with `dataJump` between their elements), from the input into the
// output: the power-of-two engine's row and column passes when both sizes are
// powers of two, otherwise a pass of lines along the rows and one along the columns.
template <class T>
void transformPlane(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::int32_t n1, std::int32_t n2,
                    std::int32_t dataJump, std::int32_t direction, const PlaneTables<T>& tables,
                    CnExecutor* executor);

// The z-lines of an nx x ny x nz volume whose slices are transformed, in place:
// bands of adjacent lines at a time, spread over the executor, with the table of
// the power-of-two engine or the GPFA for nz.
template <class T>
void transformZLines(T* re, T* im, std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t direction,
                     const T* table, CnExecutor* executor);

// The same numbers the defining way: every z-line gathered into a transposed
// scratch copy and transformed by its own one-dimensional transform. The
// reference of transformZLines.
template <class T>
void transformZLinesOneByOne(T* re, T* im, std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t direction);

}  // namespace com::norvane::filtering::detail
