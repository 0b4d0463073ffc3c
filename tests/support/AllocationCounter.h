#pragma once
// Counts the heap blocks a test program allocates while a CountingScope is alive, to prove that real-time code
// allocates nothing. Linking AllocationCounter.cpp into a test program replaces every form of the global
// operator new and delete; without AddressSanitizer it also replaces the C library's malloc family, so the
// count can cover what libraries allocate behind operator new's back (Eigen's matrices, for one). Under
// AddressSanitizer, which owns malloc, only operator new is seen.
#include <utility>

namespace allocationcounter {

// Whose allocations a window counts: every thread's, or only those of the thread that opened it.
enum class Threads { All, Current };
// Which allocators a window counts: operator new alone, or the malloc family too where it can be replaced.
enum class Source { OperatorNew, AnyAllocator };

// One counting window at a time; the counts start at zero when it opens.
class CountingScope {
public:
    explicit CountingScope(Threads threads = Threads::All, Source source = Source::AnyAllocator);
    ~CountingScope();
    CountingScope(const CountingScope&) = delete;
    CountingScope& operator=(const CountingScope&) = delete;

    long Allocations() const;
    long long Bytes() const;
};

// Blocks allocated and not yet released, counted at all times and on every thread.
long liveBlocks();

template <class Function>
long allocationsDuring(Function&& function, Threads threads = Threads::All, Source source = Source::AnyAllocator) {
    CountingScope scope(threads, source);
    std::forward<Function>(function)();
    return scope.Allocations();
}

} // namespace allocationcounter
