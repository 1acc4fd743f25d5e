// An executor over a fixed pool of threads. The threads start in the
// constructor and end in the destructor; the thread that calls parallelFor()
// works on its own tasks too, so calls from several threads at once and calls
// from inside a task make progress without waiting for a free pool thread.
// An idle pool thread polls for new work for 100 microseconds before it
// sleeps, so that back-to-back calls (a filter's passes) find it awake.
#pragma once

#include <memory>

#include <nvfiltering/framework/CnExecutor.h>

namespace com {
namespace norvane {
namespace filtering {

class NVFILTERING_EXPORT CnThreadPoolExecutor : public CnExecutor {
public:
    // threads is the number of threads that work on a parallelFor(), the
    // caller's included: threads - 1 pool threads are started. 0 and 1 mean
    // "run every task in the caller's thread".
    explicit CnThreadPoolExecutor(unsigned threads);
    ~CnThreadPoolExecutor() override;

    CnThreadPoolExecutor(const CnThreadPoolExecutor&) = delete;
    CnThreadPoolExecutor& operator=(const CnThreadPoolExecutor&) = delete;

    // The number of threads that work on a call, the caller's included (>= 1).
    unsigned getThreadCount() const;

    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) override;

private:
    struct Pool;
    std::unique_ptr<Pool> m_pool;
};

}  // namespace filtering
}  // namespace norvane
}  // namespace com
