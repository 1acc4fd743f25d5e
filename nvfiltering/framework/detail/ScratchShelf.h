// Scratch memory shared by the tasks of one parallel pass (private to the
// library).
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// Scratch that the tasks of one pass borrow and give back: a task takes what a
// finished task returned, so there are only as many as tasks ever ran at once
// and their memory is touched once per pass, not once per task (fresh blocks
// of a few hundred KiB per task cost page faults that made two threads little
// faster than one in the recursive passes).
template <class T>
class ScratchShelf {
public:
    // The scratch for one task; back on the shelf when the holder is destroyed.
    class Loan {
    public:
        Loan(ScratchShelf& shelf, std::unique_ptr<T> item) : m_shelf(shelf), m_item(std::move(item)) {}
        Loan(const Loan&) = delete;
        Loan& operator=(const Loan&) = delete;
        ~Loan() { m_shelf.giveBack(std::move(m_item)); }
        T& operator*() const { return *m_item; }
        T* operator->() const { return m_item.get(); }

    private:
        ScratchShelf& m_shelf;
        std::unique_ptr<T> m_item;
    };

    // A returned scratch, or make() when there is none.
    template <class Make>
    Loan borrow(Make make) {
        std::unique_ptr<T> item;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_idle.empty()) {
                item = std::move(m_idle.back());
                m_idle.pop_back();
            }
        }
        if (!item) {
            item = make();
        }
        return Loan(*this, std::move(item));
    }
    Loan borrow() {
        return borrow([] { return std::make_unique<T>(); });
    }

private:
    void giveBack(std::unique_ptr<T> item) noexcept {
        try {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_idle.push_back(std::move(item));
        } catch (...) {
            // Not kept: the next task makes its own.
        }
    }

    std::mutex m_mutex;
    std::vector<std::unique_ptr<T>> m_idle;
};

// Split complex scratch of n values: the real and the imaginary parts.
template <class T>
struct SplitScratch {
    explicit SplitScratch(std::size_t n) : re(n), im(n) {}
    std::vector<T> re, im;
};

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
