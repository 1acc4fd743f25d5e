// The FFT filters' passes (see FftPasses.h): which driver runs a batch of lines,
// the plane of the two-dimensional filter, the z-lines of the three-dimensional
// one, and the tables they share.
#include <nvfiltering/fft/detail/FftPasses.h>

#include <algorithm>
#include <limits>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/fft/detail/GpfaDrivers.h>
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
#include <nvmath/CnFft.h>

namespace com::norvane::filtering::detail {

namespace {

// The size of one array from which the columns of a row-major array go a band at
// a time even in the caller's thread: smaller arrays stay in cache as a whole.
constexpr std::size_t kGpfaBandFrom = std::size_t(1) << 20;

bool isPowerOfTwo(std::int32_t n) {
    return n > 0 && (n & (n - 1)) == 0;
}

template <class T>
void copyInput(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::size_t m) {
    if (realIn != realOut) {
        std::copy(realIn, realIn + m, realOut);
    }
    if (imagIn != imagOut) {
        std::copy(imagIn, imagIn + m, imagOut);
    }
}

}  // namespace

template <class T>
void buildFftTable(FftEngine engine, std::int32_t n, std::vector<T>& table) {
    const std::size_t length = static_cast<std::size_t>(n > 0 ? n : 0);
    if (engine == FftEngine::PowerOfTwo) {
        table.assign(3 * length, T(0));
        const math::CnFft<T> fft;
        fft.Call1dMklFftRoutine(nullptr, nullptr, n, 0, table.data());
    } else {
        table.assign(2 * length, T(0));
        gpfaTable(table.data(), n);
    }
}

template <class T>
const T* FftTables<T>::get(FftEngine engine, std::int32_t n) {
    ++m_clock;
    Slot* victim = &m_slots[0];
    for (Slot& slot : m_slots) {
        if (slot.length == n && slot.engine == engine) {
            slot.lastUse = m_clock;
            return slot.values.data();
        }
        if (slot.lastUse < victim->lastUse) {
            victim = &slot;
        }
    }
    victim->length = 0;  // empty until the new table is complete
    buildFftTable(engine, n, victim->values);
    victim->engine = engine;
    victim->length = n;
    victim->lastUse = m_clock;
    ++m_builds;
    return victim->values.data();
}

template <class T>
void transformLines(const FftLines<T>& lines, FftEngine engine, const T* table, CnExecutor* executor) {
    const std::int32_t n = lines.n;
    const std::size_t m = static_cast<std::size_t>(n) * static_cast<std::size_t>(lines.count);
    if (m == 0) {
        return;
    }
    copyInput(lines.realIn, lines.imagIn, lines.realOut, lines.imagOut, m);
    T* const re = lines.realOut;
    T* const im = lines.imagOut;
    if (engine == FftEngine::PowerOfTwo) {
        if (lines.vectorJump >= n) {
            // Vectors that do not overlap, each with the numbers of its own call.
            const bool inverse = lines.direction < 0;
            const Pow2Ends<T> ends{inverse, inverse, inverse ? T(1) / static_cast<T>(n) : T(1)};
            pow2Contiguous(re, im, n, lines.vectorJump, lines.count, table, ends, executor);
            return;
        }
        // Overlapping vectors: one call after another, in order. The routine
        // only reads the table on a transform.
        const math::CnFft<T> fft;
        for (std::int32_t v = 0; v < lines.count; ++v) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(v) * lines.vectorJump;
            fft.Call1dMklFftRoutine(re + o, im + o, n, lines.direction, const_cast<T*>(table));
        }
        return;
    }
    if (lines.dataJump == 1 && lines.vectorJump == n && lines.count > 1 && n > 1) {
        gpfaContiguous(re, im, table, n, lines.count, lines.direction, executor);
    } else if (lines.vectorJump == 1 && lines.dataJump == lines.count && n > 1 &&
               (executor != nullptr || m * sizeof(T) > kGpfaBandFrom)) {
        gpfaColumns(re, im, table, n, lines.dataJump, lines.count, lines.direction, executor);
    } else {
        gpfaStrided(re, im, table, n, lines.dataJump, lines.vectorJump, lines.count, lines.direction);
    }
}

template <class T>
PlaneTables<T> planeTables(FftTables<T>& tables, std::int32_t n1, std::int32_t n2, std::int32_t dataJump,
                           bool gpfaOnly) {
    PlaneTables<T> t{};
    t.powerOfTwo = isPowerOfTwo(n1) && isPowerOfTwo(n2);
    if (t.powerOfTwo) {
        t.rowEngine = FftEngine::PowerOfTwo;
        t.columnEngine = FftEngine::PowerOfTwo;
    } else {
        t.rowEngine = chooseFftEngine(n2, dataJump, gpfaOnly);
        t.columnEngine = chooseFftEngine(n1, n2, gpfaOnly);
    }
    t.rows = tables.get(t.rowEngine, n2);
    t.columns = tables.get(t.columnEngine, n1);
    return t;
}

template <class T>
void transformPlane(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::int32_t n1, std::int32_t n2,
                    std::int32_t dataJump, std::int32_t direction, const PlaneTables<T>& tables,
                    CnExecutor* executor) {
    if (tables.powerOfTwo) {
        // The numbers of the math library's two-dimensional routine: the imaginary
        // parts negated (inverse), the rows, the columns, then the scaling by
        // 1 / (n1 n2) (inverse); the rows in one pass, the bands of columns in the next.
        copyInput(realIn, imagIn, realOut, imagOut, static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2));
        const bool inverse = direction < 0;
        const T r = inverse ? static_cast<T>(1.0 / (static_cast<double>(n1) * static_cast<double>(n2))) : T(1);
        pow2Contiguous(realOut, imagOut, n2, n2, n1, tables.rows, Pow2Ends<T>{inverse, false, T(1)}, executor);
        pow2Interleaved(realOut, imagOut, n1, n2, n2, tables.columns, Pow2Ends<T>{false, inverse, r}, executor);
        return;
    }
    // Rows: n1 vectors of n2 values, from the input into the output; then the
    // columns: n2 vectors of n1 values n2 apart, in place in the output.
    transformLines(FftLines<T>{realIn, imagIn, realOut, imagOut, n2, n2, dataJump, n1, direction}, tables.rowEngine,
                   tables.rows, executor);
    transformLines(FftLines<T>{realOut, imagOut, realOut, imagOut, n1, 1, n2, n2, direction}, tables.columnEngine,
                   tables.columns, executor);
}

template <class T>
void transformZLines(T* re, T* im, std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t direction,
                     const T* table, CnExecutor* executor) {
    // Every z-line gets exactly the arithmetic of its one-dimensional transform
    // (same engine, table, butterflies, conjugations and scaling); only the order in
    // which the lines are visited differs: bands of adjacent lines are done
    // together, in place, without the transposed copy, and spread over the executor.
    if (nz == 1) {
        return;  // a transform of length 1 leaves every value as it is
    }
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(nx) * static_cast<std::ptrdiff_t>(ny);
    if (chooseFftEngine(nz, 1, false) == FftEngine::PowerOfTwo) {
        const bool inverse = direction < 0;
        const Pow2Ends<T> ends{inverse, inverse, inverse ? T(1) / static_cast<T>(nz) : T(1)};
        pow2Interleaved(re, im, nz, plane, plane, table, ends, executor);
        return;
    }
    gpfaColumns(re, im, table, nz, plane, plane, direction, executor);
}

template <class T>
void transformZLinesOneByOne(T* re, T* im, std::int32_t nx, std::int32_t ny, std::int32_t nz,
                             std::int32_t direction) {
    const std::size_t X = static_cast<std::size_t>(nx);
    const std::size_t Y = static_cast<std::size_t>(ny);
    const std::size_t Z = static_cast<std::size_t>(nz);
    std::vector<T> realScratch(X * Y * Z);
    std::vector<T> imagScratch(X * Y * Z);
    for (std::size_t x = 0; x < X; ++x) {
        for (std::size_t y = 0; y < Y; ++y) {
            for (std::size_t z = 0; z < Z; ++z) {
                realScratch[(x * Y + y) * Z + z] = re[x + X * (y + Y * z)];
                imagScratch[(x * Y + y) * Z + z] = im[x + X * (y + Y * z)];
            }
        }
    }
    Cn1dFftFilter<T> line;
    for (std::size_t k = 0; k < X * Y; ++k) {
        T* r = realScratch.data() + k * Z;
        T* i = imagScratch.data() + k * Z;
        line.executeWith(r, i, r, i, nz, 1, direction);
    }
    for (std::size_t x = 0; x < X; ++x) {
        for (std::size_t y = 0; y < Y; ++y) {
            for (std::size_t z = 0; z < Z; ++z) {
                re[x + X * (y + Y * z)] = realScratch[(x * Y + y) * Z + z];
                im[x + X * (y + Y * z)] = imagScratch[(x * Y + y) * Z + z];
            }
        }
    }
}

#define NVF_FFT_PASSES(T)                                                                                          \
    template void buildFftTable<T>(FftEngine, std::int32_t, std::vector<T>&);                                     \
    template class FftTables<T>;                                                                                   \
    template void transformLines<T>(const FftLines<T>&, FftEngine, const T*, CnExecutor*);                        \
    template PlaneTables<T> planeTables<T>(FftTables<T>&, std::int32_t, std::int32_t, std::int32_t, bool);        \
    template void transformPlane<T>(const T*, const T*, T*, T*, std::int32_t, std::int32_t, std::int32_t,         \
                                    std::int32_t, const PlaneTables<T>&, CnExecutor*);                            \
    template void transformZLines<T>(T*, T*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const T*,    \
                                     CnExecutor*);                                                                 \
    template void transformZLinesOneByOne<T>(T*, T*, std::int32_t, std::int32_t, std::int32_t, std::int32_t);
NVF_FFT_PASSES(float)
NVF_FFT_PASSES(double)
#undef NVF_FFT_PASSES

}  // namespace com::norvane::filtering::detail
