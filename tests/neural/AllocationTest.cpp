// The audio path allocates nothing, and a load that fails frees what it allocated. This binary counts every
// heap block: through the C library's allocator, which operator new and Eigen's own matrices both use, or,
// under AddressSanitizer, which owns that allocator, through operator new alone.
#include "ModelFiles.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations{0};
std::atomic<long> liveBlocks{0};

void noteAllocation(const void* block)
{
    if (block != nullptr) {
        allocations.fetch_add(1, std::memory_order_relaxed);
        liveBlocks.fetch_add(1, std::memory_order_relaxed);
    }
}

void noteRelease(const void* block)
{
    if (block != nullptr) {
        liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    }
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)

namespace {

// Out of line, so the compiler does not pair a malloc here with a free it sees inlined elsewhere.
[[gnu::noinline]] void* countedAllocation(std::size_t size, std::size_t alignment)
{
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size == 0 ? 1 : size);
    } else if (posix_memalign(&block, alignment, size == 0 ? 1 : size) != 0) {
        block = nullptr;
    }
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    noteAllocation(block);
    return block;
}

[[gnu::noinline]] void countedRelease(void* block) noexcept
{
    noteRelease(block);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size)
{
    return countedAllocation(size, 0);
}
void* operator new[](std::size_t size)
{
    return countedAllocation(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return countedAllocation(size, std::size_t(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return countedAllocation(size, std::size_t(alignment));
}
void operator delete(void* block) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block) noexcept
{
    countedRelease(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    countedRelease(block);
}
void operator delete(void* block, std::align_val_t) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block, std::align_val_t) noexcept
{
    countedRelease(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept
{
    countedRelease(block);
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
    void* block = __libc_malloc(size);
    noteAllocation(block);
    return block;
}
void* calloc(std::size_t count, std::size_t size) noexcept
{
    void* block = __libc_calloc(count, size);
    noteAllocation(block);
    return block;
}
void* realloc(void* block, std::size_t size) noexcept
{
    void* moved = __libc_realloc(block, size);
    if (block == nullptr) {
        noteAllocation(moved);
    } else if (size == 0) {
        noteRelease(block);
    } else if (moved != nullptr) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return moved;
}
void free(void* block) noexcept
{
    noteRelease(block);
    __libc_free(block);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    void* block = __libc_memalign(alignment, size);
    noteAllocation(block);
    return block;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    return memalign(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    void* block = memalign(alignment, size);
    if (block == nullptr) {
        return ENOMEM;
    }
    *result = block;
    return 0;
}
}

#endif

using namespace neuraltest;

template <class S>
class Allocation : public testing::Test {};
TYPED_TEST_SUITE(Allocation, Shapes, ShapeNames);

TYPED_TEST(Allocation, ProcessAndPrewarmAllocateNothing)
{
    auto model = modelFromText(readText(modelPath(TypeParam::channels, TypeParam::headSize)));
    ASSERT_NE(model, nullptr);
    typename TypeParam::Model withoutNetwork;
    std::vector<float> input = testSignal();
    std::vector<float> output(input.size());

    const long probeBefore = allocations.load();
    auto probe = std::make_unique<float>(1.0f);
    ASSERT_EQ(allocations.load(), probeBefore + 1) << "the counting allocator is not in place";

    const long before = allocations.load();
    for (std::size_t done = 0; done + 16 <= 16 * 100; done += 16) {
        model->Process(input.data() + done, output.data() + done, 16);
    }
    model->Prewarm();
    model->Process(input.data(), output.data(), 1);
    model->Process(input.data(), output.data(), 7);
    model->Process(input.data(), input.data(), 40);
    model->Prewarm();
    withoutNetwork.Process(input.data(), output.data(), 16);
    withoutNetwork.Prewarm();
    const long during = allocations.load() - before;
    EXPECT_EQ(during, 0);
}

// Whatever stage a load fails at, every block it allocated is freed again.
TEST(Allocation, FailedLoadsFreeEverything)
{
    const nlohmann::json document = readDocument(16, 8);
    nlohmann::json shortList = document;
    shortList["weights"].erase(shortList["weights"].size() - 1);
    nlohmann::json textWeight = document;
    textWeight["weights"][100] = "x";
    nlohmann::json noConfig = document;
    noConfig.erase("config");
    const std::string file = readText(modelPath(16, 8));
    const std::string texts[] = {shortList.dump(), textWeight.dump(), noConfig.dump(),
                                 file.substr(0, file.size() - 2)};
    for (const std::string& text : texts) {
        // The first attempt may leave the library's one-time state behind; the second must leave nothing.
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::istringstream stream(text);
            const long before = liveBlocks.load();
            try {
                RuveroRidev::NeuralModel::CreateFromStream(stream, "broken.nam");
                ADD_FAILURE() << "loaded";
            } catch (const std::exception&) {
            }
            if (attempt == 1) {
                EXPECT_EQ(liveBlocks.load(), before) << text.substr(text.size() - 40);
            }
        }
    }
}
