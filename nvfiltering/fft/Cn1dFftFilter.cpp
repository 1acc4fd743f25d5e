// The one-dimensional FFT filter: its settings, its argument checks and its
// dispatch of a batch to the engine and driver that fit the layout. The engines
// themselves live under detail/ (Gpfa, GpfaDrivers, PowerOfTwoFft).
#include <nvfiltering/fft/Cn1dFftFilter.h>

#include <algorithm>
#include <cstddef>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/FftEngine.h>
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/fft/detail/GpfaDrivers.h>
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvmath/CnFft.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// The size of one array from which the columns of a row-major array go a band at
// a time even in the caller's thread: smaller arrays stay in cache as a whole.
constexpr std::size_t kGpfaBandFrom = std::size_t(1) << 20;

enum TableKind : std::int32_t { kNoTable = 0, kGpfaTable = 1, kPowerOfTwoTable = 2 };

// The value behind one of the GPFA routines' integer arguments.
std::int32_t argument(const std::int32_t* p) {
    if (p == nullptr) {
        throwThrowable(messages::kFftNullArgument);
    }
    return *p;
}

template <class T>
int factorPasses(std::int32_t factor, T* a, T* b, const T* trigs, const std::int32_t* inc, const std::int32_t* jump,
                 const std::int32_t* n, const std::int32_t* mm, const std::int32_t* lot, const std::int32_t* isign) {
    detail::gpfaFactorPasses(factor, a, b, trigs, argument(inc), argument(jump), argument(n), argument(mm),
                             argument(lot), argument(isign));
    return 0;
}

}  // namespace

template <class T>
Cn1dFftFilter<T>::Cn1dFftFilter()
    : m_direction(1),
      m_vectorJump(1),
      m_dataJump(1),
      m_realInput(nullptr),
      m_realOutput(nullptr),
      m_imagInput(nullptr),
      m_imagOutput(nullptr),
      m_length(0),
      m_vectorCount(0),
      m_trigsLength(0),
      m_trigsKind(kNoTable),
      m_gpfaOnly(false) {}

template <class T>
Cn1dFftFilter<T>::Cn1dFftFilter(const Cn1dFftFilter& other)
    : m_direction(other.m_direction),
      m_vectorJump(other.m_vectorJump),
      m_dataJump(other.m_dataJump),
      m_realInput(other.m_realInput),
      m_realOutput(other.m_realOutput),
      m_imagInput(other.m_imagInput),
      m_imagOutput(other.m_imagOutput),
      m_length(other.m_length),
      m_vectorCount(other.m_vectorCount),
      m_trigsLength(0),
      m_trigsKind(kNoTable),
      m_gpfaOnly(other.m_gpfaOnly) {}

template <class T>
Cn1dFftFilter<T>& Cn1dFftFilter<T>::operator=(const Cn1dFftFilter& other) {
    if (this != &other) {
        m_direction = other.m_direction;
        m_vectorJump = other.m_vectorJump;
        m_dataJump = other.m_dataJump;
        m_realInput = other.m_realInput;
        m_realOutput = other.m_realOutput;
        m_imagInput = other.m_imagInput;
        m_imagOutput = other.m_imagOutput;
        m_length = other.m_length;
        m_vectorCount = other.m_vectorCount;
        m_gpfaOnly = other.m_gpfaOnly;
        m_trigs = std::vector<T>();
        m_trigsLength = 0;
        m_trigsKind = kNoTable;
    }
    return *this;
}

template <class T>
Cn1dFftFilter<T>::~Cn1dFftFilter() = default;

template <class T>
void Cn1dFftFilter<T>::SetDirection(std::int32_t value) {
    m_direction = value;
}

template <class T>
void Cn1dFftFilter<T>::SetVectorJump(std::int32_t value) {
    m_vectorJump = value;
}

template <class T>
void Cn1dFftFilter<T>::SetDataJump(std::int32_t value) {
    m_dataJump = value;
}

template <class T>
void Cn1dFftFilter<T>::executeWith(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::int32_t len,
                                   std::int32_t count, int dir) {
    m_realInput = realIn;
    m_imagInput = imagIn;
    m_realOutput = realOut;
    m_imagOutput = imagOut;
    m_length = len;
    m_vectorCount = count;
    m_vectorJump = len;
    m_dataJump = 1;
    m_direction = dir;
    execute();
}

template <class T>
void Cn1dFftFilter<T>::execute() {
    // Every check comes before the first array access, so that a rejected run
    // leaves the output (and in-place data) as it was.
    const std::size_t m = detail::checkFftCall({{m_length},
                                                messages::kFftLengthBelowOne,
                                                m_vectorCount,
                                                m_direction,
                                                {m_realInput, m_imagInput, m_realOutput, m_imagOutput},
                                                messages::kFftNullArray,
                                                sizeof(T)});
    if (m == 0) {
        return;  // an empty batch: no array is touched and no table built
    }
    ComputeTwiddleFactors(m_length);
    if (m_realInput != m_realOutput) {
        std::copy(m_realInput, m_realInput + m, m_realOutput);
    }
    if (m_imagInput != m_imagOutput) {
        std::copy(m_imagInput, m_imagInput + m, m_imagOutput);
    }

    CnExecutor* const executor = getExecutor();
    const std::int32_t n = m_length;
    if (detail::chooseFftEngine(n, m_dataJump, m_gpfaOnly) == detail::FftEngine::PowerOfTwo) {
        if (m_vectorJump >= n) {
            // Vectors that do not overlap, each with the numbers of its own call.
            const bool inverse = m_direction < 0;
            const detail::Pow2Ends<T> ends{inverse, inverse, inverse ? T(1) / static_cast<T>(n) : T(1)};
            detail::pow2Contiguous(m_realOutput, m_imagOutput, n, m_vectorJump, m_vectorCount, m_trigs.data(), ends,
                                   executor);
            return;
        }
        for (std::int32_t v = 0; v < m_vectorCount; ++v) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(v) * m_vectorJump;
            CallMklFftRoutine(m_realOutput + o, m_imagOutput + o, n, m_direction);
        }
        return;
    }
    if (m_dataJump == 1 && m_vectorJump == n && m_vectorCount > 1 && n > 1) {
        detail::gpfaContiguous(m_realOutput, m_imagOutput, m_trigs.data(), n, m_vectorCount, m_direction, executor);
    } else if (m_vectorJump == 1 && m_dataJump == m_vectorCount && n > 1 &&
               (executor != nullptr || m * sizeof(T) > kGpfaBandFrom)) {
        detail::gpfaColumns(m_realOutput, m_imagOutput, m_trigs.data(), n, m_dataJump, m_vectorCount, m_direction,
                            executor);
    } else {
        runGpfaDirect();
    }
}

template <class T>
void Cn1dFftFilter<T>::runGpfaDirect() {
    detail::gpfaStrided(m_realOutput, m_imagOutput, m_trigs.data(), m_length, m_dataJump, m_vectorJump,
                        m_vectorCount, m_direction);
}

template <class T>
void Cn1dFftFilter<T>::CallMklFftRoutine(T* re, T* im, int n, int dir) {
    const math::CnFft<T> fft;
    fft.Call1dMklFftRoutine(re, im, n, dir, m_trigs.data());
}

template <class T>
void Cn1dFftFilter<T>::ComputeTwiddleFactors(std::int32_t n) {
    const std::size_t length = static_cast<std::size_t>(n > 0 ? n : 0);
    if (detail::chooseFftEngine(n, m_dataJump, m_gpfaOnly) == detail::FftEngine::PowerOfTwo) {
        if (m_trigsKind == kPowerOfTwoTable && m_trigsLength == n) {
            return;
        }
        m_trigs.assign(3 * length, T(0));
        CallMklFftRoutine(nullptr, nullptr, n, 0);
        m_trigsKind = kPowerOfTwoTable;
    } else {
        if (m_trigsKind == kGpfaTable && m_trigsLength == n) {
            return;
        }
        m_trigs.assign(2 * length, T(0));
        detail::gpfaTable(m_trigs.data(), n);
        m_trigsKind = kGpfaTable;
    }
    m_trigsLength = n;
}

template <class T>
bool Cn1dFftFilter<T>::IsPowerOf2(unsigned int x) {
    return x != 0 && (x & (x - 1)) == 0;
}

template <class T>
int Cn1dFftFilter<T>::setgpfa(T* trigs, std::int32_t* n) {
    detail::gpfaTable(trigs, argument(n));
    return 0;
}

template <class T>
int Cn1dFftFilter<T>::gpfa(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                           std::int32_t* lot, std::int32_t* isign) {
    detail::gpfaTransform(a, b, trigs, argument(inc), argument(jump), argument(n), argument(lot), argument(isign));
    return 0;
}

template <class T>
std::int32_t Cn1dFftFilter<T>::pow_ii(std::int32_t* x, std::int32_t* e) {
    return detail::gpfaIntegerPower(argument(x), argument(e));
}

template <class T>
int Cn1dFftFilter<T>::gpfa2f(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                             std::int32_t* mm, std::int32_t* lot, std::int32_t* isign) {
    return factorPasses(2, a, b, trigs, inc, jump, n, mm, lot, isign);
}

template <class T>
int Cn1dFftFilter<T>::gpfa3f(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                             std::int32_t* mm, std::int32_t* lot, std::int32_t* isign) {
    return factorPasses(3, a, b, trigs, inc, jump, n, mm, lot, isign);
}

template <class T>
int Cn1dFftFilter<T>::gpfa5f(T* a, T* b, T* trigs, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                             std::int32_t* mm, std::int32_t* lot, std::int32_t* isign) {
    return factorPasses(5, a, b, trigs, inc, jump, n, mm, lot, isign);
}

template class Cn1dFftFilter<float>;
template class Cn1dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
