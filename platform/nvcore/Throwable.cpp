#include <nvcore/Exception.h>
#include <nvcore/Throwable.h>
#include <nvcore/floor.h>

#include <climits>
#include <cmath>
#include <utility>

namespace com {
namespace norvane {

Throwable::Throwable(std::string message, const char* classPath)
    : m_message(std::move(message)), m_classPath(classPath != nullptr ? classPath : "") {}

Throwable::Throwable(const Throwable& other) = default;
Throwable& Throwable::operator=(const Throwable& other) = default;
Throwable::~Throwable() = default;

const char* Throwable::what() const noexcept { return m_message.c_str(); }
std::string Throwable::getMessage() const { return m_message; }
std::string Throwable::getClassPath() const { return m_classPath; }

Exception::Exception(std::string message, const char* classPath)
    : Throwable(std::move(message), classPath) {}
Exception::Exception(const Exception& other) = default;
Exception& Exception::operator=(const Exception& other) = default;
Exception::~Exception() = default;

int floor(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    const double f = std::floor(x);
    if (f <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    if (f >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(f);
}

}  // namespace norvane
}  // namespace com
