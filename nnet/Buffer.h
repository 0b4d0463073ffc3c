#pragma once
#include "nnet/DSP.h"

#include <vector>

namespace nnet {

// A model with a linear history of past input samples, much longer than its receptive field: new blocks are
// appended at the offset, and the last receptive field of history is moved back to the front when a block
// would run past the end.
class NNET_API Buffer : public DSP {
public:
    Buffer(int receptiveField, double expectedSampleRate);
    ~Buffer() override;

    void _set_receptive_field(int receptiveField);
    void _set_receptive_field(int receptiveField, long inputBufferSize);
    void _reset_input_buffer();
    void _advance_input_buffer_(int numFrames);

    // Appends the block at the offset (growing or rewinding first when needed) and sizes the output buffer.
    virtual void _update_buffers_(float* input, int numFrames);
    virtual void _rewind_buffers_();

protected:
    int inputBufferChannels = 1;
    int receptiveField = 0;
    long inputBufferOffset = 0;
    std::vector<float> inputBuffer;
    std::vector<float> outputBuffer;
};

} // namespace nnet
