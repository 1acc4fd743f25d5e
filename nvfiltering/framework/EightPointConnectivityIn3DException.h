// Thrown by the connected-component filter when 8-point connectivity is asked
// for on an image with more than one slice. Not exported: catch it as
// com::norvane::Exception (or Throwable) and read its class path,
// "com/norvane/david/EightPointConnectivityIn3DException".
#pragma once

#include <string>
#include <utility>

#include <nvcore/Exception.h>

namespace com {
namespace norvane {
namespace filtering {

class EightPointConnectivityIn3DException : public Exception {
public:
    EightPointConnectivityIn3DException(std::string message, const char* classPath)
        : Exception(std::move(message), classPath) {}
    EightPointConnectivityIn3DException(const EightPointConnectivityIn3DException& other) = default;
    ~EightPointConnectivityIn3DException() override = default;
};

}  // namespace filtering
}  // namespace norvane
}  // namespace com
