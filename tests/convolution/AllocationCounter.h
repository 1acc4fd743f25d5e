// Counts the heap memory that operator new hands out while a scope is open, to
// check how much scratch storage a filter run holds and that it is all released.
#pragma once

#include <cstddef>

namespace alloccount {

class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    // Bytes allocated and not yet freed since the scope opened (frees of older
    // blocks count negative), and the highest value that reached.
    long long liveBytes() const;
    long long peakBytes() const;
};

}  // namespace alloccount
