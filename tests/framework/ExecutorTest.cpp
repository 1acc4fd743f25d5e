// The thread pool executor: every index once, errors after the started tasks,
// nested and concurrent calls; and how filters and their copies hold an
// executor. (Every filter on every thread count: FilterThreadsTest.cpp.)
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/nvfiltering.h>

#include "support/TestExecutors.h"
#include "support/TestImages.h"

namespace nf = com::norvane::filtering;
using com::norvane::imaging::Image;

namespace {

class ExecutorThreads : public ::testing::TestWithParam<unsigned> {};

TEST_P(ExecutorThreads, RunsEveryIndexExactlyOnce) {
    nf::CnThreadPoolExecutor executor(GetParam());
    EXPECT_EQ(executor.getThreadCount(), GetParam() < 2 ? 1u : GetParam());
    for (std::size_t count : {0u, 1u, 2u, 7u, 1000u}) {
        std::vector<std::atomic<int>> hits(count);
        executor.parallelFor(count, [&](std::size_t i) { hits[i].fetch_add(1); });
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(hits[i].load(), 1) << "count " << count << " index " << i;
    }
}

TEST_P(ExecutorThreads, RethrowsTheFirstErrorAfterStartedTasksEnd) {
    nf::CnThreadPoolExecutor executor(GetParam());
    std::atomic<int> running{0};
    std::atomic<int> maxRunningAtReturn{-1};
    try {
        executor.parallelFor(200, [&](std::size_t i) {
            running.fetch_add(1);
            if (i % 17 == 3) {
                running.fetch_sub(1);
                throw std::runtime_error("task failed");
            }
            std::this_thread::yield();
            running.fetch_sub(1);
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "task failed");
        maxRunningAtReturn = running.load();
    }
    EXPECT_EQ(maxRunningAtReturn.load(), 0);
    // The executor is still usable after a failed call.
    std::atomic<std::size_t> sum{0};
    executor.parallelFor(100, [&](std::size_t i) { sum.fetch_add(i); });
    EXPECT_EQ(sum.load(), 4950u);
}

TEST_P(ExecutorThreads, NestedCallsFromInsideTasksComplete) {
    nf::CnThreadPoolExecutor executor(GetParam());
    std::vector<std::atomic<int>> hits(16 * 16);
    executor.parallelFor(16, [&](std::size_t i) {
        executor.parallelFor(16, [&](std::size_t j) { hits[i * 16 + j].fetch_add(1); });
    });
    for (auto& h : hits) EXPECT_EQ(h.load(), 1);
}

TEST_P(ExecutorThreads, CallsFromSeveralThreadsAtOnce) {
    nf::CnThreadPoolExecutor executor(GetParam());
    constexpr std::size_t kCallers = 4, kCount = 500;
    std::vector<std::vector<std::atomic<int>>> hits(kCallers);
    for (auto& h : hits) h = std::vector<std::atomic<int>>(kCount);
    std::vector<std::thread> callers;
    for (std::size_t c = 0; c < kCallers; ++c) {
        callers.emplace_back([&, c] {
            for (int round = 0; round < 5; ++round)
                executor.parallelFor(kCount, [&](std::size_t i) { hits[c][i].fetch_add(1); });
        });
    }
    for (auto& t : callers) t.join();
    for (auto& h : hits)
        for (auto& x : h) EXPECT_EQ(x.load(), 5);
}

INSTANTIATE_TEST_SUITE_P(Threads, ExecutorThreads, ::testing::Values(0u, 1u, 2u, 3u, 7u),
                         [](const ::testing::TestParamInfo<unsigned>& p) {
                             return "threads" + std::to_string(p.param);
                         });

TEST(ExecutorInCallerThread, ZeroAndOneThreadRunInOrderInTheCaller) {
    for (unsigned threads : {0u, 1u}) {
        nf::CnThreadPoolExecutor executor(threads);
        std::vector<std::size_t> order;
        const auto caller = std::this_thread::get_id();
        executor.parallelFor(10, [&](std::size_t i) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            order.push_back(i);
        });
        ASSERT_EQ(order.size(), 10u);
        for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(order[i], i);
    }
}

// A line filter of this test: copies its line a piece per task on its executor.
class PiecewiseCopyLine : public nf::Cn1dFilter<float, float, nf::ImageConstIt<float>, nf::ImageIt<float>> {
public:
    void execute() override {
        const auto piece = [this](std::size_t p) {
            for (std::size_t k = 16 * p; k < 16 * (p + 1) && k < m_inputLength; ++k) {
                m_outputStart[k * m_outputStride] = m_inputStart[k * m_inputStride];
            }
        };
        const std::size_t pieces = (m_inputLength + 15) / 16;
        if (getExecutor() == nullptr) {
            for (std::size_t p = 0; p < pieces; ++p) {
                piece(p);
            }
        } else {
            getExecutor()->parallelFor(pieces, piece);
        }
    }
};

// A filter starts without an executor. A copy runs in the caller's thread
// whatever its source had, an assignment keeps the executor of its target, and
// a filter told to drop its executor does: seen through the work each executor
// is given. run(filter) runs the filter once on input large enough to be cut
// into tasks.
template <class Filter, class Run>
void expectExecutorsFollowTheFilters(Run run) {
    nvftest::CountingExecutor given, kept;
    Filter filter;
    EXPECT_EQ(filter.getExecutor(), nullptr);
    filter.setExecutor(&given);
    run(filter);
    const std::size_t calls = given.calls();
    EXPECT_GT(calls, 0u) << "the filter does not use its executor";
    Filter copy(filter);
    run(copy);
    EXPECT_EQ(given.calls(), calls) << "the copy ran on the executor of its source";
    Filter assigned;
    assigned.setExecutor(&kept);
    assigned = filter;
    run(assigned);
    EXPECT_EQ(given.calls(), calls) << "the assigned filter ran on the executor of its source";
    EXPECT_GT(kept.calls(), 0u) << "the assigned filter dropped its own executor";
    filter.setExecutor(nullptr);
    run(filter);
    EXPECT_EQ(given.calls(), calls) << "the filter kept the executor it was told to drop";
}

TEST(FilterExecutor, CopiesRunWithoutItAndAssignmentsKeepTheirOwn) {
    const Image<unsigned char> mask = nvftest::randomImage<unsigned char>({301, 257, 1}, 1);
    expectExecutorsFollowTheFilters<nf::CnDilationFilter<unsigned char>>([&](nf::CnDilationFilter<unsigned char>& f) {
        Image<unsigned char> out(301, 257, 1);
        f.execute(mask, out);
    });
    const std::vector<double> re = nvftest::randomArray<double>(16 * 16 * 16, 2, -1.0, 1.0);
    expectExecutorsFollowTheFilters<nf::Cn3dFftFilter<double>>([&](nf::Cn3dFftFilter<double>& f) {
        std::vector<double> a = re, b(re.size());
        f.executeWith(a.data(), b.data(), a.data(), b.data(), 16, 16, 16, 1);
    });
    const Image<float> line = nvftest::randomImage<float>({1000, 1, 1}, 3);
    expectExecutorsFollowTheFilters<PiecewiseCopyLine>([&](PiecewiseCopyLine& f) {
        Image<float> out(1000, 1, 1);
        f.setInputData(line.begin(), 1000, 1);
        f.setOutputData(out.begin(), 1000, 1);
        f.execute();
        EXPECT_TRUE(nvftest::sameBits(out, line));
    });
}

}  // namespace
