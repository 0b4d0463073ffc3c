#pragma once
#include "nnet/NnetExport.h"

#include <vector>

namespace nnet {

// Every model reads its weights front to back from one flat list through one shared iterator.
using weights_it = std::vector<float>::iterator;

// A mono model: a block of input samples in, as many output samples out. It knows the sample rate it was
// trained for and, when the model file says so, its loudness and calibrated input and output levels.
class NNET_API DSP {
public:
    struct Level {
        bool known = false;
        float dbu = 0.0f;
    };

    explicit DSP(double expectedSampleRate);
    virtual ~DSP();

    // Runs PrewarmSamples() samples of silence so that the model's history settles; allocates, so never
    // on an audio thread.
    virtual void prewarm();
    virtual void process(float* input, float* output, int numFrames);
    virtual void Reset(double sampleRate, int maxBufferSize);
    virtual int PrewarmSamples();

    double GetLoudness() const;
    void SetLoudness(double loudness);

    // Plain fields: the loader writes the metadata of the model file straight into them.
    bool hasLoudness = false;
    double loudness = 0.0;
    double expectedSampleRate;
    bool haveExternalSampleRate = false;
    double externalSampleRate = -1.0;
    int maxBufferSize = 512;
    Level inputLevel;
    Level outputLevel;
};

} // namespace nnet
