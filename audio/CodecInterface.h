#pragma once
// Base of the audio codec drivers. The audio thread owns the active codec once Codec::initialize has chosen
// it: read() waits for the next frame (sleeping or polling the hardware, never spinning on a clock), write()
// hands the processed frame back. Frames are float[2][16] at 48 kHz, channel 0 is input/output 1.
#include "audio/dsp/Frame.h"

class CodecInterface {
public:
    virtual ~CodecInterface() = default;

    // A short name for log lines.
    virtual const char* getName() const = 0;
    // Finds and sets up the device; false (with one log line) when there is none or it does not answer.
    virtual bool initialize() = 0;
    // Starts the streams; called once after a successful initialize().
    virtual bool start() = 0;
    // Waits for the next input frame and fills it; false when no frame came (the caller waits and retries).
    virtual bool read(float (*frame)[Frame::kSamples]) = 0;
    // Sends one output frame; false when the device refused it.
    virtual bool write(float (*frame)[Frame::kSamples]) = 0;
    // Input gain in dB applied to both inputs (0 dB leaves the samples untouched).
    virtual void setInputGain(float gainDb) = 0;
    // False for a codec that renders as fast as the chain runs (an offline render): nothing is late there,
    // so the chain waits for its helpers instead of giving frames up, and a render is the same every time.
    virtual bool isPaced() const { return true; }
};
