#include "nnet/Buffer.h"

#include <algorithm>
#include <stdexcept>

namespace nnet {

Buffer::Buffer(int receptiveField, double expectedSampleRate) : DSP(expectedSampleRate) {
    _set_receptive_field(receptiveField);
}

Buffer::~Buffer() = default;

void Buffer::_set_receptive_field(int receptiveField) {
    // Room for about 31 receptive fields of input between rewinds; 64-bit so a large field cannot wrap.
    _set_receptive_field(receptiveField, 32L * receptiveField);
}

void Buffer::_set_receptive_field(int receptiveField, long inputBufferSize) {
    if (receptiveField < 0)
        throw std::runtime_error("Receptive field must not be negative: " + std::to_string(receptiveField));
    if (inputBufferSize < 0)
        throw std::runtime_error("Input buffer size must not be negative: " + std::to_string(inputBufferSize));
    this->receptiveField = receptiveField;
    inputBuffer.assign(inputBufferSize, 0.0f);
    _reset_input_buffer();
}

void Buffer::_reset_input_buffer() { inputBufferOffset = receptiveField; }

void Buffer::_advance_input_buffer_(int numFrames) { inputBufferOffset += numFrames; }

void Buffer::_update_buffers_(float* input, int numFrames) {
    const long minimumSize = receptiveField + 32L * numFrames;
    if (static_cast<long>(inputBuffer.size()) < minimumSize) {
        // Growing loses the history: the new buffer starts silent at the same offset.
        long newSize = 2;
        while (newSize < minimumSize) newSize *= 2;
        inputBuffer.assign(newSize, 0.0f);
    }
    if (inputBufferOffset + numFrames > static_cast<long>(inputBuffer.size())) _rewind_buffers_();
    std::copy_n(input, std::max(numFrames, 0), inputBuffer.begin() + inputBufferOffset);
    outputBuffer.assign(std::max(numFrames, 0), 0.0f);
}

void Buffer::_rewind_buffers_() {
    // The source lies behind the destination, so a forward copy is safe.
    if (inputBufferOffset != receptiveField)
        std::copy_n(inputBuffer.begin() + (inputBufferOffset - receptiveField), receptiveField, inputBuffer.begin());
    inputBufferOffset = receptiveField;
}

} // namespace nnet
