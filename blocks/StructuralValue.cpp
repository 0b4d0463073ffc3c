#include "blocks/StructuralValue.h"

#include "audio/AudioProcessor.h"

bool StructuralValue::latch(int wanted) {
    if (wanted == value.load(std::memory_order_relaxed)) return false;
    if (!AudioProcessor::isSilentPass()) {
        AudioProcessor::requestFade();
        return false;
    }
    value.store(wanted, std::memory_order_release);
    return true;
}
