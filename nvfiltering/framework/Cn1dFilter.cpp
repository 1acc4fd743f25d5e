#include <nvfiltering/framework/Cn1dFilter.h>

#include <nvfiltering/framework/detail/LineFilterTypes.h>

namespace com {
namespace norvane {
namespace filtering {

template <class In, class Out, class InIt, class OutIt>
Cn1dFilter<In, Out, InIt, OutIt>::Cn1dFilter()
    : m_inputStart(), m_inputLength(0), m_inputStride(0), m_outputStart(), m_outputLength(0), m_outputStride(0) {}

template <class In, class Out, class InIt, class OutIt>
Cn1dFilter<In, Out, InIt, OutIt>::Cn1dFilter(const Cn1dFilter& other) = default;

template <class In, class Out, class InIt, class OutIt>
Cn1dFilter<In, Out, InIt, OutIt>& Cn1dFilter<In, Out, InIt, OutIt>::operator=(const Cn1dFilter& other) = default;

template <class In, class Out, class InIt, class OutIt>
Cn1dFilter<In, Out, InIt, OutIt>::~Cn1dFilter() = default;

template <class In, class Out, class InIt, class OutIt>
void Cn1dFilter<In, Out, InIt, OutIt>::setInputData(InIt start, unsigned int length, unsigned int stride) {
    m_inputStart = start;
    m_inputLength = length;
    m_inputStride = stride;
}

template <class In, class Out, class InIt, class OutIt>
void Cn1dFilter<In, Out, InIt, OutIt>::setOutputData(OutIt start, unsigned int length, unsigned int stride) {
    m_outputStart = start;
    m_outputLength = length;
    m_outputStride = stride;
}

template class Cn1dFilter<unsigned char, unsigned char, ImageConstIt<unsigned char>, ImageIt<unsigned char>>;
template class Cn1dFilter<float, unsigned char, ImageConstIt<float>, ImageIt<unsigned char>>;
#define NVF_INSTANTIATE(In, Out, InIt, OutIt) template class Cn1dFilter<In, Out, InIt, OutIt>;
NVF_LINE_FILTER_TYPES(NVF_INSTANTIATE)
#undef NVF_INSTANTIATE

}  // namespace filtering
}  // namespace norvane
}  // namespace com
