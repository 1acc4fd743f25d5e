// The thread pool executor: every index once, errors after the started tasks,
// nested and concurrent calls; and how filters hold an executor.
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/nvfiltering.h>

namespace nf = com::norvane::filtering;

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

TEST(FilterExecutor, DefaultsToNoneAndIsNotCarriedByCopies) {
    nf::CnThreadPoolExecutor executor(2), other(2);

    nf::CnDilationFilter<unsigned char> dilation;
    EXPECT_EQ(dilation.getExecutor(), nullptr);
    dilation.setExecutor(&executor);
    EXPECT_EQ(dilation.getExecutor(), &executor);
    nf::CnDilationFilter<unsigned char> dilationCopy(dilation);
    EXPECT_EQ(dilationCopy.getExecutor(), nullptr);
    dilationCopy.setExecutor(&other);
    dilationCopy = dilation;
    EXPECT_EQ(dilationCopy.getExecutor(), &other);

    nf::Cn3dFftFilter<double> fft;
    EXPECT_EQ(fft.getExecutor(), nullptr);
    fft.setExecutor(&executor);
    nf::Cn3dFftFilter<double> fftCopy(fft);
    EXPECT_EQ(fftCopy.getExecutor(), nullptr);

    nf::Cn1dRecursiveFilter<double, double, double*, double*> line;
    EXPECT_EQ(line.getExecutor(), nullptr);
    line.setExecutor(&executor);
    nf::Cn1dRecursiveFilter<double, double, double*, double*> lineCopy(line);
    EXPECT_EQ(lineCopy.getExecutor(), nullptr);
    line.setExecutor(nullptr);
    EXPECT_EQ(line.getExecutor(), nullptr);
}

}  // namespace
