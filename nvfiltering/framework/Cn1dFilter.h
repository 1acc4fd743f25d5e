// Base of every filter that maps one line of samples to one line of samples.
// A line is a start iterator, a length and a stride: sample k is at start + k * stride.
// A null start, a zero length or a zero stride means "not initialised".
#pragma once

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

template <class In, class Out, class InIt, class OutIt>
class NVFILTERING_EXPORT Cn1dFilter {
public:
    using InputIterator = InIt;
    using OutputIterator = OutIt;

    Cn1dFilter(const Cn1dFilter& other);
    Cn1dFilter& operator=(const Cn1dFilter& other);
    virtual ~Cn1dFilter();

    void setInputData(InIt start, unsigned int length, unsigned int stride);
    void setOutputData(OutIt start, unsigned int length, unsigned int stride);

    InIt getInputStart() const { return m_inputStart; }
    unsigned int getInputLength() const { return m_inputLength; }
    unsigned int getInputStride() const { return m_inputStride; }
    OutIt getOutputStart() const { return m_outputStart; }
    unsigned int getOutputLength() const { return m_outputLength; }
    unsigned int getOutputStride() const { return m_outputStride; }

    // Filters the line last set.
    virtual void execute() = 0;

    // Where execute() runs its independent pieces of work; null (the default,
    // and after a copy) runs everything in the caller's thread. The filter does
    // not own the executor; an assignment keeps the target's. Results do not
    // depend on it.
    void setExecutor(CnExecutor* executor) { m_executor.set(executor); }
    CnExecutor* getExecutor() const { return m_executor.get(); }

protected:
    Cn1dFilter();

    InIt m_inputStart;
    unsigned int m_inputLength;
    unsigned int m_inputStride;
    OutIt m_outputStart;
    unsigned int m_outputLength;
    unsigned int m_outputStride;

private:
    CnExecutorSlot m_executor;
};

template <class T>
using ImageConstIt = typename imaging::Image<T>::const_iterator;
template <class T>
using ImageIt = typename imaging::Image<T>::iterator;

// The line filters are built for these element and iterator types: the
// recursive line filter for the last five sets (detail/LineFilterTypes.h lists
// them for the sources), this base also for the spatial filter's two lines with
// 8-bit output.
extern template class Cn1dFilter<unsigned char, unsigned char, ImageConstIt<unsigned char>, ImageIt<unsigned char>>;
extern template class Cn1dFilter<float, unsigned char, ImageConstIt<float>, ImageIt<unsigned char>>;
extern template class Cn1dFilter<unsigned char, float, ImageConstIt<unsigned char>, ImageIt<float>>;
extern template class Cn1dFilter<unsigned short, float, ImageConstIt<unsigned short>, ImageIt<float>>;
extern template class Cn1dFilter<short, float, ImageConstIt<short>, ImageIt<float>>;
extern template class Cn1dFilter<float, float, ImageConstIt<float>, ImageIt<float>>;
extern template class Cn1dFilter<double, double, ImageConstIt<double>, ImageIt<double>>;
extern template class Cn1dFilter<math::CnVector3D<float>, math::CnVector3D<float>, ImageConstIt<math::CnVector3D<float>>,
                                 ImageIt<math::CnVector3D<float>>>;
extern template class Cn1dFilter<double, double, double*, double*>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
