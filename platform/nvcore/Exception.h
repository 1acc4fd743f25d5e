// Checked failures of the core library; the library's own exception classes derive from it.
#pragma once

#include <string>

#include <nvcore/Throwable.h>

namespace com {
namespace norvane {

class NVCORE_EXPORT Exception : public Throwable {
public:
    Exception(std::string message, const char* classPath);
    Exception(const Exception& other);
    Exception& operator=(const Exception& other);
    ~Exception() override;
};

}  // namespace norvane
}  // namespace com
