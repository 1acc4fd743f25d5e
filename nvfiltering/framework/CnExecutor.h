// Where a filter runs its independent pieces of work. The library starts no
// threads of its own: a caller who wants several cores hands a filter an
// executor (for example CnThreadPoolExecutor) with setExecutor().
#pragma once

#include <cstddef>
#include <functional>

#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

class NVFILTERING_EXPORT CnExecutor {
public:
    virtual ~CnExecutor();

    // Runs task(i) for every i in [0, count), on any threads in any order, and
    // returns when all have finished. If tasks throw, the first exception is
    // rethrown once every started task has ended; tasks not yet started may be
    // skipped. count 0 runs nothing.
    virtual void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) = 0;

protected:
    CnExecutor() = default;
    CnExecutor(const CnExecutor&) = default;
    CnExecutor& operator=(const CnExecutor&) = default;
};

// How a filter holds the executor it was given: a copy of the filter starts
// without one, an assignment keeps the target's, so filters can keep their
// copy operations defaulted.
class CnExecutorSlot {
public:
    CnExecutorSlot() = default;
    CnExecutorSlot(const CnExecutorSlot&) noexcept {}
    CnExecutorSlot& operator=(const CnExecutorSlot&) noexcept { return *this; }

    void set(CnExecutor* executor) { m_executor = executor; }
    CnExecutor* get() const { return m_executor; }

private:
    CnExecutor* m_executor = nullptr;
};

}  // namespace filtering
}  // namespace norvane
}  // namespace com
