// Executors for tests: the thread counts every parallel filter is checked
// with, one pool per count shared by the whole test program, an executor that
// records how the work was handed out, and one whose task fails.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>

namespace nvftest {

namespace nvf = com::norvane::filtering;

inline const std::vector<unsigned>& threadCounts() {
    static const std::vector<unsigned> counts = {1u, 2u, 3u, 7u};
    return counts;
}

// A pool of `threads` threads that lives as long as the program, so that every
// test that asks for the same count runs its filters on the same pool.
inline nvf::CnThreadPoolExecutor& sharedPool(unsigned threads) {
    static std::mutex mutex;
    static std::vector<std::unique_ptr<nvf::CnThreadPoolExecutor>> pools(8);
    const std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<nvf::CnThreadPoolExecutor>& pool = pools.at(threads);
    if (!pool) {
        pool = std::make_unique<nvf::CnThreadPoolExecutor>(threads);
    }
    return *pool;
}

// Hands every call on to `inner` (null: runs the tasks in order in the
// caller's thread) and records the calls and the widest of them.
class CountingExecutor : public nvf::CnExecutor {
public:
    explicit CountingExecutor(nvf::CnExecutor* inner = nullptr) : m_inner(inner) {}

    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) override {
        ++m_calls;
        std::size_t widest = m_widest.load();
        while (count > widest && !m_widest.compare_exchange_weak(widest, count)) {
        }
        if (m_inner != nullptr) {
            m_inner->parallelFor(count, task);
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            task(i);
        }
    }

    std::size_t calls() const { return m_calls.load(); }
    // The most tasks one call was given.
    std::size_t widest() const { return m_widest.load(); }

private:
    nvf::CnExecutor* m_inner;
    std::atomic<std::size_t> m_calls{0};
    std::atomic<std::size_t> m_widest{0};
};

// Hands the tasks to `inner` (null: the caller's thread); the failAt-th task
// over all calls (1-based) throws std::runtime_error instead of running.
class FailingExecutor : public nvf::CnExecutor {
public:
    FailingExecutor(nvf::CnExecutor* inner, std::size_t failAt) : m_inner(inner), m_failAt(failAt) {}

    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) override {
        const std::size_t base = m_started.fetch_add(count);
        const std::function<void(std::size_t)> wrapped = [&](std::size_t i) {
            if (base + i + 1 == m_failAt) {
                throw std::runtime_error("task failed");
            }
            task(i);
        };
        if (m_inner == nullptr) {
            for (std::size_t i = 0; i < count; ++i) {
                wrapped(i);
            }
        } else {
            m_inner->parallelFor(count, wrapped);
        }
    }

private:
    nvf::CnExecutor* m_inner;
    std::size_t m_failAt;
    std::atomic<std::size_t> m_started{0};
};

}  // namespace nvftest
