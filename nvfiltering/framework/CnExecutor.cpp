#include <nvfiltering/framework/CnExecutor.h>

namespace com {
namespace norvane {
namespace filtering {

CnExecutor::~CnExecutor() = default;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
