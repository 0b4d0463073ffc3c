#pragma once
// Host stand-in for the PCM port on a real sound card: its capture stream gives inputs 1 and 2, its playback
// stream takes the output, both 2 channels at 48 kHz. The driver paces the audio thread (it sleeps in the
// blocking transfers); a device that does not (ALSA's "null") is held to the frame clock. A card without
// capture plays the output with silent inputs. A stream that fails is reported once and reopened after
// waits that grow to two seconds, quietly, until it works again.
#include <string>

#include "audio/AlsaStream.h"
#include "audio/CodecInterface.h"
#include "audio/dsp/Frame.h"
#include "audio/FramePacer.h"
#include "audio/RetryBackoff.h"

class AlsaCodec : public CodecInterface {
public:
    explicit AlsaCodec(std::string device);

    const char* getName() const override { return "AlsaCodec"; }
    bool initialize() override;
    bool start() override;
    bool read(float (*frame)[Frame::kSamples]) override;
    bool write(float (*frame)[Frame::kSamples]) override;
    void setInputGain(float gainDb) override;

private:
    bool openStreams(const char* tag);
    void failed(const AlsaStream& stream);
    bool reopen();

    const std::string device;
    AlsaStream capture;
    AlsaStream playback;
    bool hasCapture = false;
    FramePacer pacer;
    RetryBackoff backoff;
    float inputGain = 1.0f;
    float interleaved[Frame::kSamples * Frame::kChannels] = {};
};
