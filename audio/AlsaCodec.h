#pragma once
// Host stand-in for the PCM port on a real sound card: its capture stream gives inputs 1 and 2, its playback
// stream takes the output, both 2 channels at 48 kHz. The driver paces the audio thread (it sleeps in the
// blocking transfers). A card without capture plays the output with silent inputs.
#include <string>

#include "AlsaStream.h"
#include "CodecInterface.h"

class AlsaCodec : public CodecInterface {
public:
    explicit AlsaCodec(std::string device);

    const char* getName() const override { return "AlsaCodec"; }
    bool initialize() override;
    bool start() override;
    bool read(float (*frame)[16]) override;
    bool write(float (*frame)[16]) override;
    void setInputGain(float gainDb) override;

private:
    const std::string device;
    AlsaStream capture;
    AlsaStream playback;
    float inputGain = 1.0f;
    float interleaved[16 * 2] = {};
};
