// Executors for the filter tests (also used by the morphology tests): one that
// counts the work it is given, one whose task fails, and the check that a
// filter gives the same bytes with every thread count as without an executor.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>

namespace exectest {

namespace nvf = com::norvane::filtering;

// Runs every task in the caller's thread and counts the calls and their tasks.
class CountingExecutor : public nvf::CnExecutor {
public:
    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) override {
        ++calls;
        widest = count > widest ? count : widest;
        for (std::size_t i = 0; i < count; ++i) {
            task(i);
        }
    }
    std::size_t calls = 0;
    std::size_t widest = 0;  // most tasks of one call
};

// Hands the tasks to `inner` (null: the caller's thread); the failAt-th task
// over all calls (1-based) throws std::runtime_error instead of running.
class FailingExecutor : public nvf::CnExecutor {
public:
    FailingExecutor(nvf::CnExecutor* inner, std::size_t failAt) : m_inner(inner), m_failAt(failAt) {}

    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) override {
        const std::size_t base = m_started;
        m_started += count;
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
    std::size_t m_started = 0;
};

inline std::vector<unsigned> threadCounts() { return {1u, 2u, 3u, 7u}; }

// run(executor) runs a filter on fixed inputs with the executor and returns its
// output as comparable values. Checks that every thread count gives exactly the
// result without an executor, that the work was split into several tasks when
// `split` is set, and that a failing task reaches the caller as the exception
// it threw, on its own thread and through a pool, and that a later run is whole.
template <class Result>
void expectSameOnEveryExecutor(const std::function<Result(nvf::CnExecutor*)>& run, bool split,
                               const std::string& what) {
    SCOPED_TRACE(what);
    const Result reference = run(nullptr);
    CountingExecutor counting;
    EXPECT_TRUE(run(&counting) == reference) << "counting executor";
    if (split) {
        EXPECT_GT(counting.widest, 1u) << "the work was not split";
    }
    for (const unsigned threads : threadCounts()) {
        nvf::CnThreadPoolExecutor pool(threads);
        EXPECT_TRUE(run(&pool) == reference) << threads << " threads";
    }
    if (counting.calls == 0) {
        return;
    }
    nvf::CnThreadPoolExecutor pool(3);
    for (nvf::CnExecutor* inner : {static_cast<nvf::CnExecutor*>(nullptr), static_cast<nvf::CnExecutor*>(&pool)}) {
        FailingExecutor failing(inner, 1);
        EXPECT_THROW(run(&failing), std::runtime_error) << (inner ? "through a pool" : "in the caller's thread");
    }
    EXPECT_TRUE(run(&pool) == reference) << "after a failed run";
}

}  // namespace exectest
