#include "tests/support/AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace allocationcounter {
namespace {

enum class Kind { OperatorNew, CLibrary };

std::atomic<bool> windowOpen{false};
std::atomic<bool> everyThread{false};
std::atomic<bool> cLibraryToo{false};
// Read only while a window is open, so the allocators never touch it before the program's threads exist.
thread_local bool openingThread = false;

std::atomic<long> allocations{0};
std::atomic<long long> bytes{0};
std::atomic<long> live{0};

bool counted(Kind kind) {
    if (!windowOpen.load(std::memory_order_relaxed)) {
        return false;
    }
    if (kind == Kind::CLibrary && !cLibraryToo.load(std::memory_order_relaxed)) {
        return false;
    }
    return everyThread.load(std::memory_order_relaxed) || openingThread;
}

// A realloc that moves or resizes a block counts as an allocation but leaves the number of live blocks alone.
void noteAllocation(const void* block, std::size_t size, Kind kind, bool newBlock = true) {
    if (block == nullptr) {
        return;
    }
    if (newBlock) {
        live.fetch_add(1, std::memory_order_relaxed);
    }
    if (counted(kind)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add((long long)size, std::memory_order_relaxed);
    }
}

void noteRelease(const void* block) {
    if (block != nullptr) {
        live.fetch_sub(1, std::memory_order_relaxed);
    }
}

} // namespace

CountingScope::CountingScope(Threads threads, Source source) {
    allocations = 0;
    bytes = 0;
    everyThread = threads == Threads::All;
    cLibraryToo = source == Source::AnyAllocator;
    openingThread = true;
    windowOpen = true;
}

CountingScope::~CountingScope() {
    windowOpen = false;
    openingThread = false;
}

long CountingScope::Allocations() const { return allocations.load(); }

long long CountingScope::Bytes() const { return bytes.load(); }

long liveBlocks() { return live.load(); }

} // namespace allocationcounter

using allocationcounter::Kind;
using allocationcounter::noteAllocation;
using allocationcounter::noteRelease;

#if defined(__SANITIZE_ADDRESS__)

namespace {

void* heapAllocate(std::size_t size, std::size_t alignment) {
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size);
    } else if (posix_memalign(&block, alignment, size) != 0) {
        block = nullptr;
    }
    return block;
}

void heapRelease(void* block) noexcept { std::free(block); }

} // namespace

#else

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

// Straight to the C library, so a block from operator new is not counted a second time by malloc below.
void* heapAllocate(std::size_t size, std::size_t alignment) {
    return alignment <= alignof(std::max_align_t) ? __libc_malloc(size) : __libc_memalign(alignment, size);
}

void heapRelease(void* block) noexcept { __libc_free(block); }

} // namespace

extern "C" {

void* malloc(std::size_t size) noexcept {
    void* block = __libc_malloc(size);
    noteAllocation(block, size, Kind::CLibrary);
    return block;
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    void* block = __libc_calloc(count, size);
    noteAllocation(block, count * size, Kind::CLibrary);
    return block;
}

void* realloc(void* block, std::size_t size) noexcept {
    void* moved = __libc_realloc(block, size);
    if (block == nullptr) {
        noteAllocation(moved, size, Kind::CLibrary);
    } else if (size == 0) {
        noteRelease(block);
    } else {
        noteAllocation(moved, size, Kind::CLibrary, false);
    }
    return moved;
}

void free(void* block) noexcept {
    noteRelease(block);
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    void* block = __libc_memalign(alignment, size);
    noteAllocation(block, size, Kind::CLibrary);
    return block;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept { return memalign(alignment, size); }

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept {
    void* block = memalign(alignment, size);
    if (block == nullptr) {
        return ENOMEM;
    }
    *result = block;
    return 0;
}

} // extern "C"

#endif

namespace {

// Out of line: inlined into a delete-expression, GCC would pair the free() here with the replaced operator new
// and warn about a mismatch that the replacement makes correct.
[[gnu::noinline]] void* countedNew(std::size_t size, std::size_t alignment) {
    void* block = heapAllocate(size == 0 ? 1 : size, alignment);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    noteAllocation(block, size, Kind::OperatorNew);
    return block;
}

[[gnu::noinline]] void countedDelete(void* block) noexcept {
    noteRelease(block);
    heapRelease(block);
}

// The nothrow forms give null where the throwing ones throw.
[[gnu::noinline]] void* countedNewOrNull(std::size_t size, std::size_t alignment) noexcept {
    try {
        return countedNew(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

// Every replaceable form of the global operators, each counted.
void* operator new(std::size_t size) { return countedNew(size, 0); }
void* operator new[](std::size_t size) { return countedNew(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) { return countedNew(size, std::size_t(alignment)); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return countedNew(size, std::size_t(alignment)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedNewOrNull(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedNewOrNull(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return countedNewOrNull(size, std::size_t(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return countedNewOrNull(size, std::size_t(alignment));
}
void operator delete(void* block) noexcept { countedDelete(block); }
void operator delete[](void* block) noexcept { countedDelete(block); }
void operator delete(void* block, std::size_t) noexcept { countedDelete(block); }
void operator delete[](void* block, std::size_t) noexcept { countedDelete(block); }
void operator delete(void* block, std::align_val_t) noexcept { countedDelete(block); }
void operator delete[](void* block, std::align_val_t) noexcept { countedDelete(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { countedDelete(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { countedDelete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { countedDelete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { countedDelete(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { countedDelete(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { countedDelete(block); }
