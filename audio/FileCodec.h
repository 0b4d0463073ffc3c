#pragma once
// Host stand-in for the PCM port: reads the input frames from a WAV file and writes the output frames to
// another, at 48 kHz.
//
// Paced, frames come in real time on absolute deadlines (a late frame does not shift the ones after it; a
// stall of more than 100 ms starts a new time line instead of a burst). Unpaced, the input file is rendered
// as fast as the chain runs. Without an input file, or once it has ended, the input is silence in real
// time. The output file gets exactly the input's length and is closed when the input ends; without an input
// file it records for as long as the codec runs, its header kept current so a killed process leaves a valid
// file. Input 1 is the file's first channel, input 2 its second (silence for a mono file).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/CodecInterface.h"
#include "audio/dsp/Frame.h"

typedef struct sf_private_tag SNDFILE;

class FileCodec : public CodecInterface {
public:
    // Either path may be empty.
    FileCodec(std::string inputPath, std::string outputPath, bool paced);
    ~FileCodec() override;

    const char* getName() const override { return "FileCodec"; }
    // Opens the files; refuses an input that is not 48 kHz or cannot be read, and an output that cannot be
    // created.
    bool initialize() override;
    bool start() override;
    bool read(float (*frame)[Frame::kSamples]) override;
    bool write(float (*frame)[Frame::kSamples]) override;
    void setInputGain(float gainDb) override;
    bool isPaced() const override { return paced; }

    // True once the input file has been read to its end and the output file is complete.
    bool isFinished() const { return finished.load(std::memory_order_acquire); }

private:
    static constexpr int kBlockFrames = 4096; // samples per channel read or written at once

    void waitForDeadline();
    bool refillInput();
    void flushOutput();
    void closeOutput();

    const std::string inputPath;
    const std::string outputPath;
    const bool paced;
    SNDFILE* input = nullptr;
    SNDFILE* output = nullptr;
    int inputChannels = 0;
    bool inputEnded = false;
    std::atomic<bool> finished{false};
    float inputGain = 1.0f;

    std::vector<float> inputBlock; // interleaved, inputChannels per sample
    int inputAvailable = 0;        // samples per channel in inputBlock
    int inputPosition = 0;
    int lastValid = Frame::kSamples; // samples of the last frame read that came from the file
    std::vector<float> outputBlock;  // interleaved stereo
    int outputFill = 0;

    int64_t timelineStartNs = -1;
    int64_t framesOnTimeline = 0;
};
