#include <nvfiltering/framework/CnThreadPoolExecutor.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// How long an idle worker, and a caller waiting for the last tasks of its call,
// keep polling before they sleep on a condition variable. A filter runs its
// passes as back-to-back calls, often of a fraction of a millisecond each; waking
// a sleeping thread costs tens of microseconds on a virtual machine, which made
// the second thread miss most of a short call. Polling bridges those gaps and
// gives the core back soon after the filter is done.
constexpr std::chrono::microseconds kPollBeforeSleeping{100};

inline void relax() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Polls ready() for up to kPollBeforeSleeping; true as soon as it holds.
template <class Ready>
bool pollFor(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + kPollBeforeSleeping;
    do {
        for (int i = 0; i < 64; ++i) {
            if (ready()) return true;
            relax();
        }
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

// One parallelFor(): its tasks are claimed one index at a time by whoever works
// on it. Every claimed index below count is "resolved" by its claimer, run or,
// after a failure, skipped; the call returns when all count indices are.
struct Job {
    Job(std::size_t n, const std::function<void(std::size_t)>& f) : task(f), count(n) {}

    // Claims and resolves indices until none is left.
    void work() {
        std::size_t resolvedHere = 0;
        for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
            if (!failed.load(std::memory_order_acquire)) {
                try {
                    task(i);
                } catch (...) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!error) error = std::current_exception();
                    failed.store(true, std::memory_order_release);
                }
            }
            ++resolvedHere;
        }
        if (resolvedHere == 0) return;
        std::lock_guard<std::mutex> lock(mutex);
        if (resolved.fetch_add(resolvedHere) + resolvedHere == count) done.notify_all();
    }

    bool finished() const { return resolved.load() == count; }

    bool exhausted() const { return next.load() >= count; }

    const std::function<void(std::size_t)>& task;
    const std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<std::size_t> resolved{0};  // changed only under mutex
    std::exception_ptr error;
};

}  // namespace

struct CnThreadPoolExecutor::Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Job>> queue;
    std::atomic<std::size_t> queued{0};  // queue.size(), changed only under mutex
    std::atomic<bool> stopping{false};   // changed only under mutex
    std::vector<std::thread> threads;

    void remove(const std::shared_ptr<Job>& job) {
        auto it = std::find(queue.begin(), queue.end(), job);
        if (it != queue.end()) queue.erase(it);
        queued.store(queue.size());
    }

    void run() {
        for (;;) {
            std::shared_ptr<Job> job;
            pollFor([this] { return queued.load() != 0 || stopping.load(); });
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return stopping.load() || !queue.empty(); });
                if (queue.empty()) return;  // stopping, nothing left
                job = queue.front();
                if (job->exhausted()) {
                    queue.pop_front();
                    queued.store(queue.size());
                    continue;
                }
            }
            job->work();
            std::lock_guard<std::mutex> lock(mutex);
            remove(job);
        }
    }
};

CnThreadPoolExecutor::CnThreadPoolExecutor(unsigned threads) : m_pool(new Pool) {
    for (unsigned t = 1; t < threads; ++t) {
        try {
            m_pool->threads.emplace_back([pool = m_pool.get()] { pool->run(); });
        } catch (...) {
            // Not enough threads could be started: stop the ones that were.
            {
                std::lock_guard<std::mutex> lock(m_pool->mutex);
                m_pool->stopping = true;
            }
            m_pool->wake.notify_all();
            for (std::thread& thread : m_pool->threads) thread.join();
            throw;
        }
    }
}

CnThreadPoolExecutor::~CnThreadPoolExecutor() {
    {
        std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->stopping = true;
    }
    m_pool->wake.notify_all();
    for (std::thread& thread : m_pool->threads) thread.join();
}

unsigned CnThreadPoolExecutor::getThreadCount() const {
    return static_cast<unsigned>(m_pool->threads.size()) + 1u;
}

void CnThreadPoolExecutor::parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) return;
    if (count == 1 || m_pool->threads.empty()) {
        for (std::size_t i = 0; i < count; ++i) task(i);
        return;
    }
    auto job = std::make_shared<Job>(count, task);
    {
        std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->queue.push_back(job);
        m_pool->queued.store(m_pool->queue.size());
    }
    if (count - 1 >= m_pool->threads.size()) {
        m_pool->wake.notify_all();
    } else {
        for (std::size_t k = 1; k < count; ++k) m_pool->wake.notify_one();
    }
    job->work();
    {
        std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->remove(job);
    }
    pollFor([&job] { return job->finished(); });
    {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->done.wait(lock, [&job] { return job->finished(); });
    }
    if (job->error) std::rethrow_exception(job->error);
}

}  // namespace filtering
}  // namespace norvane
}  // namespace com
