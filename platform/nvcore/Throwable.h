// Base of every failure the library reports: a message plus the slash-separated
// name of the class that stands for the failure ("java/lang/Throwable", ...).
#pragma once

#include <exception>
#include <string>

#include <nvcore/nvcore_export.h>

namespace com {
namespace norvane {

class NVCORE_EXPORT Throwable : public std::exception {
public:
    Throwable(std::string message, const char* classPath);
    Throwable(const Throwable& other);
    Throwable& operator=(const Throwable& other);
    ~Throwable() override;

    const char* what() const noexcept override;
    std::string getMessage() const;
    std::string getClassPath() const;

private:
    std::string m_message;
    std::string m_classPath;
};

}  // namespace norvane
}  // namespace com
