#include <nvfiltering/framework/CnFilter.h>

namespace com {
namespace norvane {
namespace filtering {

template <class In, class Out>
CnFilter<In, Out>::CnFilter() : m_input(nullptr), m_output(nullptr) {}

template <class In, class Out>
CnFilter<In, Out>::~CnFilter() = default;

template <class In, class Out>
void CnFilter<In, Out>::execute(const imaging::Image<In>& input, imaging::Image<Out>& output) {
    setInputImage(&input);
    setOutputImage(&output);
    v_execute();
}

template <class In, class Out>
void CnFilter<In, Out>::setInputImage(const imaging::Image<In>* image) {
    m_input = image;
}

template <class In, class Out>
void CnFilter<In, Out>::setOutputImage(imaging::Image<Out>* image) {
    m_output = image;
}

template class CnFilter<unsigned char, unsigned char>;
template class CnFilter<unsigned char, float>;
template class CnFilter<unsigned char, std::uint32_t>;
template class CnFilter<short, short>;
template class CnFilter<short, float>;
template class CnFilter<short, unsigned char>;
template class CnFilter<short, std::uint32_t>;
template class CnFilter<unsigned short, unsigned short>;
template class CnFilter<unsigned short, float>;
template class CnFilter<unsigned short, unsigned char>;
template class CnFilter<unsigned short, std::uint32_t>;
template class CnFilter<std::uint32_t, std::uint32_t>;
template class CnFilter<float, float>;
template class CnFilter<float, unsigned char>;
template class CnFilter<double, double>;
template class CnFilter<double, unsigned char>;
template class CnFilter<math::CnVector3D<float>, math::CnVector3D<float>>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
