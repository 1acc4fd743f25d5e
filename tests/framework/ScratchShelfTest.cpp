// The scratch shelf of parallel passes: a returned scratch is lent again instead
// of a new one, and no two tasks that run at once ever hold the same scratch.
#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/framework/detail/ScratchShelf.h>

namespace nf = com::norvane::filtering;

namespace {

struct Scratch {
    std::atomic<int> holders{0};
    std::vector<int> data;
};

TEST(ScratchShelf, LendsWhatWasGivenBack) {
    nf::detail::ScratchShelf<Scratch> shelf;
    int made = 0;
    const auto make = [&made] {
        ++made;
        return std::make_unique<Scratch>();
    };
    Scratch* first = nullptr;
    {
        const auto loan = shelf.borrow(make);
        first = &*loan;
        loan->data.assign(3, 7);
    }
    {
        const auto again = shelf.borrow(make);
        EXPECT_EQ(&*again, first);
        EXPECT_EQ(again->data, std::vector<int>(3, 7));  // kept, not cleared
        const auto second = shelf.borrow(make);          // the first is still out
        EXPECT_NE(&*second, first);
    }
    EXPECT_EQ(made, 2);
}

// Tasks on a pool of four threads: every task holds its scratch alone, and the
// shelf never makes more scratch than tasks ran at once.
TEST(ScratchShelf, ThreadsOfAPoolNeverShareALoan) {
    nf::CnThreadPoolExecutor executor(4);
    nf::detail::ScratchShelf<Scratch> shelf;
    std::atomic<int> made{0}, shared{0};
    executor.parallelFor(2000, [&](std::size_t i) {
        const auto loan = shelf.borrow([&made] {
            made.fetch_add(1);
            return std::make_unique<Scratch>();
        });
        if (loan->holders.fetch_add(1) != 0) {
            shared.fetch_add(1);
        }
        loan->data.assign(64, static_cast<int>(i));
        std::this_thread::yield();
        for (int v : loan->data) {
            if (v != static_cast<int>(i)) {
                shared.fetch_add(1);
                break;
            }
        }
        loan->holders.fetch_sub(1);
    });
    EXPECT_EQ(shared.load(), 0);
    EXPECT_GE(made.load(), 1);
    EXPECT_LE(made.load(), 4);
}

}  // namespace
