#include "audio/AudioBlock.h"

#include <atomic>
#include <cstdint>

#include "audio/dsp/Frame.h"
#include "porting/Log.h"

namespace {

const char* const TAG = "AudioBlock";

struct RingEntry {
    AudioBlock* block = nullptr;
    AudioBlock::Exec exec = nullptr;
};

// The ring is a circular array; its start and count are published together in one word, after the entry
// they reveal has been written, so a walk on another thread sees either the old or the new ring and never
// half an entry. Entries live in static storage that is never destroyed before the threads stop.
RingEntry ring[AudioBlock::kRingSize];
std::atomic<uint32_t> ringShape{0}; // start in the high half, count in the low half

uint32_t packShape(int start, int count) { return (uint32_t(start) << 16) | uint32_t(count); }
int shapeStart(uint32_t shape) { return int(shape >> 16); }
int shapeCount(uint32_t shape) { return int(shape & 0xFFFF); }
int slot(int start, int index) { return (start + index) % AudioBlock::kRingSize; }

void registerBlock(AudioBlock* block, AudioBlock::Exec exec, int position) {
    uint32_t shape = ringShape.load(std::memory_order_acquire);
    int start = shapeStart(shape);
    int count = shapeCount(shape);
    if (count >= AudioBlock::kRingSize) {
        LOGE(TAG, "Block ring full, %s not registered\n", block->getName());
        return;
    }
    if (position == AudioBlock::kFront) {
        start = (start + AudioBlock::kRingSize - 1) % AudioBlock::kRingSize;
        ring[start] = {block, exec};
    } else {
        ring[slot(start, count)] = {block, exec};
    }
    ringShape.store(packShape(start, count + 1), std::memory_order_release);
}

void unregisterBlock(AudioBlock* block) {
    uint32_t shape = ringShape.load(std::memory_order_acquire);
    int start = shapeStart(shape);
    int count = shapeCount(shape);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        RingEntry entry = ring[slot(start, i)];
        if (entry.block != block) ring[slot(start, kept++)] = entry;
    }
    ringShape.store(packShape(start, kept), std::memory_order_release);
}

}

AudioBlock::AudioBlock(const char* name, Node* folder, Exec exec, int position)
    : name(name ? name : ""), folder(folder), exec(exec) {
    if (exec) registerBlock(this, exec, position);
}

AudioBlock::~AudioBlock() { unregisterBlock(this); }

bool AudioBlock::isRegistered() const {
    for (int i = 0; i < ringCount(); ++i) {
        if (ringAt(i) == this) return true;
    }
    return false;
}

void* AudioBlock::operator new(std::size_t size) { return ::operator new(size, std::align_val_t(kAlignment)); }

void* AudioBlock::operator new(std::size_t size, std::align_val_t alignment) {
    std::size_t wanted = std::size_t(alignment) > kAlignment ? std::size_t(alignment) : kAlignment;
    return ::operator new(size, std::align_val_t(wanted));
}

void AudioBlock::operator delete(void* block) noexcept { ::operator delete(block, std::align_val_t(kAlignment)); }

void AudioBlock::operator delete(void* block, std::align_val_t alignment) noexcept {
    std::size_t used = std::size_t(alignment) > kAlignment ? std::size_t(alignment) : kAlignment;
    ::operator delete(block, std::align_val_t(used));
}

int AudioBlock::ringCount() { return shapeCount(ringShape.load(std::memory_order_acquire)); }

AudioBlock* AudioBlock::ringAt(int index) {
    uint32_t shape = ringShape.load(std::memory_order_acquire);
    if (index < 0 || index >= shapeCount(shape)) return nullptr;
    return ring[slot(shapeStart(shape), index)].block;
}

bool AudioBlock::runRing(float (*frame)[Frame::kSamples]) {
    uint32_t shape = ringShape.load(std::memory_order_acquire);
    int start = shapeStart(shape);
    int count = shapeCount(shape);
    for (int i = 0; i < count; ++i) {
        const RingEntry& entry = ring[slot(start, i)];
        if (entry.exec(entry.block, frame)) {
            for (int rest = i + 1; rest < count; ++rest) ring[slot(start, rest)].block->missedFrame();
            return true;
        }
    }
    return false;
}

bool AudioBlock::compileRing() {
    uint32_t shape = ringShape.load(std::memory_order_acquire);
    int start = shapeStart(shape);
    int count = shapeCount(shape);
    for (int i = 0; i < count; ++i) {
        if (ring[slot(start, i)].block->compile()) return true;
    }
    return false;
}
