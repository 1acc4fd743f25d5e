// Base of every filter that maps a whole input image to a whole output image.
// execute() stores both images and runs the derived class's v_execute().
#pragma once

#include <cstdint>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {

template <class In, class Out>
class NVFILTERING_EXPORT CnFilter {
public:
    virtual ~CnFilter();

    // Stores the input, then the output image, then runs v_execute(). Exceptions
    // from v_execute() reach the caller unchanged; both pointers stay set.
    void execute(const imaging::Image<In>& input, imaging::Image<Out>& output);

    // Where execute() runs its independent pieces of work; null (the default,
    // and after a copy) runs everything in the caller's thread. The filter does
    // not own the executor. Results do not depend on it.
    void setExecutor(CnExecutor* executor) { m_executor.set(executor); }
    CnExecutor* getExecutor() const { return m_executor.get(); }

protected:
    CnFilter();
    CnFilter(const CnFilter&) = default;
    CnFilter& operator=(const CnFilter&) = default;

    void setInputImage(const imaging::Image<In>* image);
    void setOutputImage(imaging::Image<Out>* image);
    const imaging::Image<In>* getInputImage() const { return m_input; }
    imaging::Image<Out>* getOutputImage() const { return m_output; }

    virtual void v_execute() = 0;

    const imaging::Image<In>* m_input;
    imaging::Image<Out>* m_output;

private:
    CnExecutorSlot m_executor;
};

extern template class CnFilter<unsigned char, unsigned char>;
extern template class CnFilter<unsigned char, float>;
extern template class CnFilter<unsigned char, std::uint32_t>;
extern template class CnFilter<short, short>;
extern template class CnFilter<short, float>;
extern template class CnFilter<short, unsigned char>;
extern template class CnFilter<short, std::uint32_t>;
extern template class CnFilter<unsigned short, unsigned short>;
extern template class CnFilter<unsigned short, float>;
extern template class CnFilter<unsigned short, unsigned char>;
extern template class CnFilter<unsigned short, std::uint32_t>;
extern template class CnFilter<std::uint32_t, std::uint32_t>;
extern template class CnFilter<float, float>;
extern template class CnFilter<float, unsigned char>;
extern template class CnFilter<double, double>;
extern template class CnFilter<double, unsigned char>;
extern template class CnFilter<math::CnVector3D<float>, math::CnVector3D<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
