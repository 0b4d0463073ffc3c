#pragma once
// Counts the heap allocations a test program makes while a CountingScope is alive. Without AddressSanitizer
// the malloc family itself is replaced (forwarding to the C library's allocator), so the count covers Eigen's
// matrices as well as operator new; under AddressSanitizer, which owns malloc, only operator new is counted.
//
// Defines the replacement functions: include it in exactly one source file of a test program.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace allocationcounter {

inline std::atomic<bool> counting{false};
inline std::atomic<long> allocations{0};
inline std::atomic<long long> bytes{0};

inline void note(std::size_t size) noexcept
{
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add((long long)size, std::memory_order_relaxed);
    }
}

class CountingScope {
public:
    CountingScope()
    {
        allocations = 0;
        bytes = 0;
        counting = true;
    }
    ~CountingScope() { counting = false; }
    CountingScope(const CountingScope&) = delete;
    CountingScope& operator=(const CountingScope&) = delete;

    long Allocations() const { return allocations.load(); }
    long long Bytes() const { return bytes.load(); }
};

}  // namespace allocationcounter

#if defined(__SANITIZE_ADDRESS__)

// Kept out of line so the compiler does not pair the malloc here with a free it sees inlined into a delete
// expression.
[[gnu::noinline]] static void* countedAllocation(std::size_t size)
{
    allocationcounter::note(size);
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] static void countedRelease(void* pointer) noexcept
{
    std::free(pointer);
}

void* operator new(std::size_t size)
{
    if (void* pointer = countedAllocation(size)) {
        return pointer;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void* pointer) noexcept
{
    countedRelease(pointer);
}
void operator delete[](void* pointer) noexcept
{
    countedRelease(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept
{
    countedRelease(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept
{
    countedRelease(pointer);
}

#else

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) noexcept
{
    allocationcounter::note(size);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept
{
    allocationcounter::note(count * size);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) noexcept
{
    allocationcounter::note(size);
    return __libc_realloc(pointer, size);
}
void free(void* pointer) noexcept
{
    __libc_free(pointer);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    allocationcounter::note(size);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    allocationcounter::note(size);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    allocationcounter::note(size);
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}
}

#endif
