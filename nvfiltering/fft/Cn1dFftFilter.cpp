// The one-dimensional FFT filter: its settings, its argument checks, its table
// and its batch of lines (detail/FftPasses.h picks the engine's driver for the
// layout); the GPFA routines derived filters call forward to detail/Gpfa.
#include <nvfiltering/fft/Cn1dFftFilter.h>

#include <cstddef>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/FftEngine.h>
#include <nvfiltering/fft/detail/FftPasses.h>
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvmath/CnFft.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

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
    const detail::FftEngine engine = detail::chooseFftEngine(m_length, m_dataJump, m_gpfaOnly);
    detail::transformLines(detail::FftLines<T>{m_realInput, m_imagInput, m_realOutput, m_imagOutput, m_length,
                                               m_vectorJump, m_dataJump, m_vectorCount, m_direction},
                           engine, m_trigs.data(), getExecutor());
}

template <class T>
detail::FftTables<T>& Cn1dFftFilter<T>::planeTables() {
    if (!m_planeTables) {
        m_planeTables = std::make_unique<detail::FftTables<T>>();
    }
    return *m_planeTables;
}

template <class T>
void Cn1dFftFilter<T>::CallMklFftRoutine(T* re, T* im, int n, int dir) {
    const math::CnFft<T> fft;
    fft.Call1dMklFftRoutine(re, im, n, dir, m_trigs.data());
}

template <class T>
void Cn1dFftFilter<T>::ComputeTwiddleFactors(std::int32_t n) {
    const detail::FftEngine engine = detail::chooseFftEngine(n, m_dataJump, m_gpfaOnly);
    const std::int32_t kind = engine == detail::FftEngine::PowerOfTwo ? kPowerOfTwoTable : kGpfaTable;
    if (m_trigsKind == kind && m_trigsLength == n) {
        return;
    }
    // No table while the new one is built: a failed allocation leaves none.
    m_trigsKind = kNoTable;
    m_trigsLength = 0;
    detail::buildFftTable(engine, n, m_trigs);
    m_trigsKind = kind;
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
